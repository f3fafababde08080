// The System Area plan and its repatch on hand-made areas: which forms are kept, how the
// MBR and GPT follow the moved content, and which damaged or foreign forms are refused.
#include "iso/system_area.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "iso/byte_order.h"
#include "iso/records.h"
#include "support/test_files.h"

using iso_bytes::getLe32;
using iso_bytes::putLe32;
using test_support::contains;

namespace {

constexpr uint64_t kBootImage = 35 * 2048;  // where the old default boot image starts
constexpr uint64_t kEfiImage = 72 * 2048;
constexpr uint64_t kOldVolume = 8 * 1024 * 1024;  // bytes

void putLe64(uint8_t* at, uint64_t value) {
    putLe32(at, 0, static_cast<uint32_t>(value));
    putLe32(at, 4, static_cast<uint32_t>(value >> 32));
}
uint64_t getLe64(const uint8_t* at) {
    return uint64_t{getLe32(at, 0)} | uint64_t{getLe32(at, 4)} << 32;
}

system_area::CarriedStarts carried() {
    system_area::CarriedStarts starts;
    starts[kBootImage] = {system_area::Carried::Kind::defaultBootImage, 0, nullptr, true};
    starts[kEfiImage] = {system_area::Carried::Kind::sectionImage, 0, nullptr, true};
    return starts;
}

// Content moves 100 blocks on.
uint64_t moved(uint64_t old) {
    return old + 100 * 2048;
}

std::vector<uint8_t> mbrArea(uint64_t bootAddress) {
    std::vector<uint8_t> area(system_area::kAreaBytes, 0);
    area[0] = 0xEB;
    putLe64(&area[432], bootAddress);
    area[510] = 0x55;
    area[511] = 0xAA;
    return area;
}

void putPartition(std::vector<uint8_t>& area, size_t index, uint8_t type, uint32_t start,
                  uint32_t count) {
    uint8_t* entry = &area[446 + 16 * index];
    entry[4] = type;
    putLe32(entry, 8, start);
    putLe32(entry, 12, count);
}

// A GPT of 128 entries at sector 2: one spanning partition and one at the EFI image.
void putGpt(std::vector<uint8_t>& area) {
    uint8_t* header = &area[512];
    std::memcpy(header, "EFI PART", 8);
    putLe32(header, 8, 0x10000);
    putLe32(header, 12, 92);
    putLe64(header + 24, 1);
    putLe64(header + 32, kOldVolume / 512 - 1);
    putLe64(header + 40, 64);
    putLe64(header + 48, kOldVolume / 512 - 34);
    putLe64(header + 72, 2);
    putLe32(header, 80, 128);
    putLe32(header, 84, 128);
    uint8_t* entries = &area[1024];
    for (uint8_t* entry : {entries, entries + 128, entries + 256}) {
        std::memset(entry, 0xA2, 16);
    }
    putLe64(entries + 32, 0);
    putLe64(entries + 40, kOldVolume / 512 - 35);
    putLe64(entries + 128 + 32, kEfiImage / 512);
    putLe64(entries + 128 + 40, kEfiImage / 512 + 2879);
    putLe64(entries + 256 + 32, 5000);  // names nothing the new image has
    putLe64(entries + 256 + 40, 5999);
    putLe32(header, 88, system_area::crc32(entries, 128 * 128));
    putLe32(header, 16, system_area::crc32(header, 92));
}

uint32_t headerCrc(const uint8_t* header) {
    std::vector<uint8_t> copy(header, header + 92);
    putLe32(copy.data(), 16, 0);
    return system_area::crc32(copy.data(), copy.size());
}

}  // namespace

TEST(SystemArea, TheCrcIsUefis) {
    const char text[] = "123456789";
    EXPECT_EQ(system_area::crc32(reinterpret_cast<const uint8_t*>(text), 9), 0xCBF43926u);
}

// Byte 432 is isohybrid's sector of the boot image, GRUB's that sector + 4.
TEST(SystemArea, TheBootAddressNamesTheBootImagesNewSector) {
    for (const uint64_t delta : {0, 4}) {
        std::vector<uint8_t> area = mbrArea(kBootImage / 512 + delta);
        putPartition(area, 0, 0x17, 0, kOldVolume / 512);
        putPartition(area, 1, 0xEF, kEfiImage / 512, 2880);
        const system_area::Plan plan = system_area::makePlan(area.data(), kOldVolume, carried());
        ASSERT_TRUE(plan.keep) << delta;
        EXPECT_TRUE(plan.notKept.empty());
        const uint64_t newBytes = 9 * 1024 * 1024;
        const system_area::Written written = system_area::repatch(plan, newBytes, moved);
        EXPECT_EQ(getLe64(&written.area[432]), moved(kBootImage) / 512 + delta);
        EXPECT_EQ(getLe32(&written.area[446], 8), 0u);
        EXPECT_EQ(getLe32(&written.area[446], 12), newBytes / 512);
        EXPECT_EQ(getLe32(&written.area[462], 8), moved(kEfiImage) / 512);
        EXPECT_EQ(getLe32(&written.area[462], 12), 2880u);
        // The boot code is the old one.
        EXPECT_EQ(written.area[0], 0xEB);
        EXPECT_TRUE(written.tail.empty());
    }
}

// What the program cannot follow is zeroed, with the old warning.
TEST(SystemArea, FormsThatNameNothingKnownAreRefused) {
    struct Case {
        const char* what;
        std::vector<uint8_t> area;
    };
    auto withGpt = [](const std::function<void(std::vector<uint8_t>&)>& damage) {
        std::vector<uint8_t> area = mbrArea(0);
        putGpt(area);
        damage(area);
        return area;
    };
    std::vector<uint8_t> stray = mbrArea(0);
    putPartition(stray, 0, 0x83, 777, 10);
    std::vector<uint8_t> code(system_area::kAreaBytes, 0);
    code[100] = 1;
    const Case cases[] = {
        {"boot address at no boot image", mbrArea(kBootImage / 512 + 1)},
        {"no reference at all", mbrArea(0)},
        {"partition at nothing carried", stray},
        {"GPT header sum broken", withGpt([](auto& area) { area[512 + 40] ^= 1; })},
        {"GPT entries sum broken", withGpt([](auto& area) { area[1024 + 60] ^= 1; })},
        {"GPT entries past the System Area", withGpt([](auto& area) {
             putLe32(&area[512], 80, 1000);  // 1000 entries do not fit in the System Area
             putLe32(&area[512], 16, headerCrc(&area[512]));
         })},
        {"boot code or data", code},
    };
    for (const Case& c : cases) {
        const system_area::Plan plan = system_area::makePlan(c.area.data(), kOldVolume, carried());
        EXPECT_FALSE(plan.keep) << c.what;
        ASSERT_EQ(plan.notKept.size(), 1u) << c.what;
        EXPECT_TRUE(contains(plan.notKept[0], "the System Area of the old image ("));
    }
    EXPECT_TRUE(system_area::makePlan(std::vector<uint8_t>(system_area::kAreaBytes).data(),
                                      kOldVolume, carried())
                    .notKept.empty());
}

TEST(SystemArea, AGptFollowsItsPartitionsAndGetsABackupAtTheNewEnd) {
    std::vector<uint8_t> area = mbrArea(0);
    putPartition(area, 0, 0xEE, 1, kOldVolume / 512 - 1);
    putGpt(area);
    const system_area::Plan plan = system_area::makePlan(area.data(), kOldVolume, carried());
    ASSERT_TRUE(plan.keep);
    // The partition at nothing carried goes, named.
    ASSERT_EQ(plan.notKept.size(), 1u);
    EXPECT_TRUE(contains(plan.notKept[0], "partition 3"));
    EXPECT_EQ(plan.tailBlocks, 9u);  // 32 sectors of entries and the header

    const uint64_t newBytes = 11 * 1024 * 1024;
    const uint64_t sectors = newBytes / 512;
    const system_area::Written written = system_area::repatch(plan, newBytes, moved);
    const uint8_t* header = &written.area[512];
    EXPECT_EQ(getLe32(header, 16), headerCrc(header));
    EXPECT_EQ(getLe64(header + 32), sectors - 1);
    EXPECT_EQ(getLe64(header + 48), sectors - 34);
    const uint8_t* entries = &written.area[1024];
    EXPECT_EQ(getLe32(header, 88), system_area::crc32(entries, 128 * 128));
    EXPECT_EQ(getLe64(entries + 40), sectors - 35);  // one short of the last usable, as before
    EXPECT_EQ(getLe64(entries + 128 + 32), moved(kEfiImage) / 512);
    EXPECT_EQ(getLe64(entries + 128 + 40), moved(kEfiImage) / 512 + 2879);
    EXPECT_EQ(entries[256], 0);  // cleared
    EXPECT_EQ(getLe32(&written.area[446], 12), sectors - 1);
    // The backup: the entries, then the header in the last sector.
    ASSERT_EQ(written.tailOffset + written.tail.size(), newBytes);
    EXPECT_EQ(written.tailOffset, (sectors - 33) * 512);
    EXPECT_EQ(0, std::memcmp(written.tail.data(), entries, 128 * 128));
    const uint8_t* backup = written.tail.data() + written.tail.size() - 512;
    EXPECT_EQ(0, std::memcmp(backup, "EFI PART", 8));
    EXPECT_EQ(getLe64(backup + 24), sectors - 1);
    EXPECT_EQ(getLe64(backup + 32), 1u);
    EXPECT_EQ(getLe64(backup + 72), sectors - 33);
    EXPECT_EQ(getLe32(backup, 16), headerCrc(backup));
}

// The repatch decodes the MBR and GPT entries it changes and encodes them whole again, so
// decoding and encoding must keep every byte the records cover, CHS bits included.
TEST(SystemArea, DiskRecordsKeepEveryByteTheyCover) {
    using Ranges = std::vector<std::pair<size_t, size_t>>;
    struct Case {
        const char* what;
        size_t size;
        Ranges covered;
        std::function<void(const uint8_t*, uint8_t*)> roundTrip;
    };
    namespace rec = iso_record;
    const Case cases[] = {
        {"MBR",
         512,
         {{432, 440}, {446, 512}},
         [](const uint8_t* in, uint8_t* out) { rec::encodeMbr(rec::decodeMbr(in), out); }},
        {"GPT header",
         92,
         {{0, 92}},
         [](const uint8_t* in, uint8_t* out) {
             rec::encodeGptHeader(rec::decodeGptHeader(in), out);
         }},
        {"GPT entry",
         128,
         {{0, 128}},
         [](const uint8_t* in, uint8_t* out) {
             rec::encodeGptEntry(rec::decodeGptEntry(in), out);
         }},
    };
    for (const Case& c : cases) {
        for (const uint32_t seed : {1u, 77u, 0xFFFFu}) {
            std::vector<uint8_t> in = test_support::patternBytes(c.size, seed);
            if (c.size == 512) {
                in[510] = 0x55;
                in[511] = 0xAA;
            }
            std::vector<uint8_t> out(c.size, 0);
            c.roundTrip(in.data(), out.data());
            for (const auto& [from, to] : c.covered) {
                EXPECT_TRUE(std::equal(in.begin() + from, in.begin() + to, out.begin() + from))
                    << c.what << " " << seed;
            }
        }
    }
    // The last cylinder a CHS address holds: head 63, sector 32 with cylinder bits 8-9.
    std::vector<uint8_t> area(512, 0);
    rec::Mbr mbr;
    mbr.partitions[0].end = {1023, 63, 32};
    rec::encodeMbr(mbr, area.data());
    EXPECT_EQ(std::vector<uint8_t>(&area[451], &area[454]), (std::vector<uint8_t>{63, 0xE0, 0xFF}));
}
