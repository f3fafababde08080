// System Use fields written back: what fits stays in the record, the rest goes into
// continuation areas chained by CE entries that readers follow; Rock Ridge entries made
// for added entries and kept for replacing ones.
#include "iso/system_use.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "iso/byte_order.h"
#include "iso/image_source.h"
#include "support/test_files.h"

using iso_bytes::getLe32;
using test_support::contains;

namespace {

// `count` NM-like entries of `length` bytes each, told apart by their last byte.
std::vector<uint8_t> entries(size_t count, uint8_t length) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < count; ++i) {
        const std::vector<uint8_t> entry(length, static_cast<uint8_t>(i));
        out.insert(out.end(), {'X', 'X', length, 1});
        out.insert(out.end(), entry.begin() + 4, entry.end());
    }
    return out;
}

// What a reader gathers from a record written with `split` into a 2048-byte-block image
// whose continuation areas start at block 10.
std::vector<uint8_t> readBack(system_use::Split split, size_t base) {
    std::vector<uint8_t> image(32 * 2048, 0);
    const size_t length = system_use::fieldLength(split, base);
    EXPECT_EQ((base + length) % 2, 0u);
    EXPECT_LE(base + length, system_use::kMaxRecordLength);
    std::vector<uint8_t> field(length);
    system_use::encode(split, 10, base, field.data());
    for (size_t i = 0; i < split.areas.size(); ++i) {
        EXPECT_LE(split.areas[i].size(), 2048u);
        std::copy(split.areas[i].begin(), split.areas[i].end(), image.begin() + (10 + i) * 2048);
    }
    MemoryImageSource source(image.data(), image.size());
    uint64_t budget = 0;
    return system_use::gather(source, field.data(), field.size(), true, 2048, budget, "test");
}

}  // namespace

TEST(SystemUse, FieldsOfAnySizeReadBackWhole) {
    struct Case {
        size_t count;
        uint8_t length;
        size_t base;
        size_t areas;
    };
    // Fits; just too long for the record; several blocks of entries; a record with a long
    // identifier leaving just room for the CE.
    const Case cases[] = {{3, 40, 40, 0}, {6, 40, 40, 1}, {120, 200, 34, 12}, {2, 100, 225, 1}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> all = entries(c.count, c.length);
        const system_use::Split split = system_use::split(all, c.base, 2048);
        EXPECT_EQ(split.areas.size(), c.areas) << c.count << " x " << int(c.length);
        EXPECT_EQ(readBack(split, c.base), all) << c.count << " x " << int(c.length);
    }
}

TEST(SystemUse, AddedEntriesGetPxNmAndTfAndReplacingOnesNewTimesAndName) {
    const std::vector<uint8_t> made = system_use::rockRidgeEntries(0100640, "Tool.exe", 86400);
    ASSERT_EQ(std::string(made.begin(), made.begin() + 2), "PX");
    EXPECT_EQ(getLe32(made.data(), 4), 0100640u);
    EXPECT_TRUE(system_use::hasRockRidge(made));
    const size_t nm = made[2];
    EXPECT_EQ(std::string(made.begin() + nm, made.begin() + nm + 2), "NM");
    EXPECT_EQ(std::string(made.begin() + nm + 5, made.begin() + nm + 13), "Tool.exe");
    const size_t tf = nm + made[nm + 2];
    EXPECT_EQ(std::string(made.begin() + tf, made.begin() + tf + 2), "TF");
    EXPECT_EQ(made[tf + 5], 70);  // 1970, day 2
    EXPECT_EQ(made[tf + 7], 2);

    const std::vector<uint8_t> renewed = system_use::withTimes(made, 0, "TOOL.EXE");
    EXPECT_EQ(renewed.size(), made.size());
    EXPECT_TRUE(contains(std::string(renewed.begin(), renewed.end()), "TOOL.EXE"));
    EXPECT_FALSE(contains(std::string(renewed.begin(), renewed.end()), "Tool.exe"));
    // The new TF (after the new NM and the old PX) says 1970-01-01.
    EXPECT_EQ(std::string(renewed.begin() + 57, renewed.begin() + 59), "TF");
    EXPECT_EQ(renewed[57 + 7], 1);
    // The mode is the old one.
    EXPECT_EQ(std::vector<uint8_t>(renewed.begin() + 13, renewed.begin() + 13 + 44),
              std::vector<uint8_t>(made.begin(), made.begin() + 44));
}

// CE, CL and PX numbers are written in both byte orders (readers take either half) and
// read back from the little-endian one.
TEST(SystemUse, EntryNumbersAreBothEndianAndReadBack) {
    namespace rec = iso_record;
    struct Case {
        const char* signature;
        std::vector<uint8_t> entry;
        std::vector<uint32_t> numbers;  // from byte 4 on, eight bytes each
        std::vector<uint32_t> decoded;
    };
    std::vector<uint8_t> ce(28, 0);
    rec::encodeContinuation({0x01020304, 0x0506, 0x0708}, ce.data());
    const rec::Continuation next = rec::decodeContinuation(ce.data());
    std::vector<uint8_t> cl = {'C', 'L', 12, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    rec::encodeDirectoryLink(0xA1B2C3D4, cl.data());
    std::vector<uint8_t> px;
    rec::encodePosixAttributes({0100755, 2, 1000, 100, 0x00FF00FF}, px);
    const Case cases[] = {
        {"CE", ce, {0x01020304, 0x0506, 0x0708}, {next.block, next.offset, next.length}},
        {"CL", cl, {0xA1B2C3D4}, {rec::decodeDirectoryLink(cl.data())}},
        {"PX", px, {0100755, 2, 1000, 100, 0x00FF00FF}, {}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.entry.size(), 4 + 8 * c.numbers.size()) << c.signature;
        EXPECT_EQ(std::string(c.entry.begin(), c.entry.begin() + 2), c.signature);
        EXPECT_EQ(c.entry[2], c.entry.size()) << c.signature;
        EXPECT_EQ(c.entry[3], 1) << c.signature;
        for (size_t i = 0; i < c.numbers.size(); ++i) {
            EXPECT_EQ(getLe32(c.entry.data(), 4 + 8 * i), c.numbers[i]) << c.signature << i;
            EXPECT_EQ(iso_bytes::getBe32(c.entry.data(), 8 + 8 * i), c.numbers[i])
                << c.signature << i;
        }
        if (!c.decoded.empty()) {
            EXPECT_EQ(c.decoded, c.numbers) << c.signature;
        }
    }
}
