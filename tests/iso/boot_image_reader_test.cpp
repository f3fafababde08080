// The El Torito boot image of real bootable images made by xorriso and genisoimage, and
// of patched variants.
#include "iso/boot_image_reader.h"

#include <gtest/gtest.h>

#include <functional>

#include "iso/byte_order.h"
#include "iso/iso_reader_fixture.h"
#include "iso/limits.h"
#include "iso/records.h"
#include "support/console_capture.h"
#include "support/fixture_image.h"
#include "support/test_files.h"

using namespace test_support;
using iso_bytes::putLe16;
using iso_bytes::putLe32;

namespace {

namespace rec = iso_record;
const size_t kBootRecord = iso_limits::kBootRecordOffset;
const size_t kEntry = rec::kCatalogEntrySize;

struct BootRun {
    int load = -1;
    int extract = -1;
    std::string output;
};

// Loads the boot image of `image` from memory and extracts it to `target`.
BootRun loadAndExtract(const std::vector<uint8_t>& image, const std::string& target) {
    ISOBootImageReader reader("memory.iso", memoryImageOpener(image.data(), image.size()));
    BootRun run;
    run.output = captureStdout([&] {
        run.load = reader.LoadBootImage();
        run.extract = reader.ExtractBootImage(target);
    });
    return run;
}

uint32_t catalogOffset(const std::vector<uint8_t>& image) {
    return iso_bytes::getLe32(image.data(), kBootRecord + rec::boot_record::kCatalogPointer) * 2048;
}

const std::string kLoaded = "load boot image ...\nload boot image succeeded\n";
const std::string kExtracted = "extract boot image ...\nextract boot image succeeded\n";
const std::string kInvalid = "load boot image ...\nload boot image failed - invalid boot CD\n";
const std::string kNotLoaded =
    "extract boot image ...\nextract boot image failed - image hasn't been loaded\n";

}  // namespace

TEST(BootImageReader, ExtractsTheBootImageOfXorrisoAndGenisoimageImages) {
    TempDir dir;
    const std::string boot = reader_fixture::sharedTree() + "/boot.bin";
    writeFile(dir / "tree/boot.bin", readBytes(boot));
    writeFile(dir / "tree/OTHER.TXT", "x");
    makeIsoWithGenisoimage(dir / "tree", dir / "geniso.iso", "boot.bin");
    for (const std::string& image : {reader_fixture::sharedImage(), dir / "geniso.iso"}) {
        ISOBootImageReader reader(image);
        ConsoleCapture capture;
        ASSERT_EQ(reader.LoadBootImage(), 0) << image;
        EXPECT_TRUE(reader.isBootCD());
        ASSERT_EQ(reader.ExtractBootImage(dir / "boot.out"), 0);
        EXPECT_EQ(capture.finish().out, kLoaded + kExtracted);
        // -boot-load-size 4: four 512-byte sectors, the whole 2048-byte boot.bin.
        EXPECT_EQ(readBytes(dir / "boot.out"), readBytes(boot)) << image;
    }
}

TEST(BootImageReader, ReadsSectorCountSectorsFromTheLoadRba) {
    std::vector<uint8_t> image = readBytes(reader_fixture::sharedImage());
    const size_t initial = catalogOffset(image) + kEntry;
    // Sector Count 3 at Load RBA 20: bytes 40960 to 42495.
    putLe16(image.data(), initial + rec::initial_entry::kSectorCount, 3);
    putLe32(image.data(), initial + rec::initial_entry::kLoadRba, 20);
    TempDir dir;
    const BootRun run = loadAndExtract(image, dir / "boot");
    ASSERT_EQ(run.load, 0) << run.output;
    ASSERT_EQ(run.extract, 0);
    EXPECT_EQ(readBytes(dir / "boot"),
              std::vector<uint8_t>(image.begin() + 40960, image.begin() + 40960 + 1536));

    putLe16(image.data(), initial + rec::initial_entry::kSectorCount, 0);
    const BootRun empty = loadAndExtract(image, dir / "empty");
    EXPECT_EQ(empty.load, 0);
    EXPECT_EQ(empty.extract, 0);
    EXPECT_TRUE(fileExists(dir / "empty"));
    EXPECT_TRUE(readBytes(dir / "empty").empty());
}

TEST(BootImageReader, RecordsThatAreNotBootableAreAnInvalidBootCd) {
    const std::vector<uint8_t> original = readBytes(reader_fixture::sharedImage());
    const size_t catalog = catalogOffset(original);
    const std::vector<std::pair<size_t, uint8_t>> patches = {
        {kBootRecord + rec::boot_record::kIndicator, 1},
        {kBootRecord + rec::boot_record::kVersion, 2},
        {kBootRecord + rec::boot_record::kStandardId + 2, 'X'},
        {kBootRecord + rec::boot_record::kBootSystemId + 22, 'X'},
        {catalog + rec::validation_entry::kHeaderId, 0},
        {catalog + rec::validation_entry::kKey55, 0xAA},
        {catalog + rec::validation_entry::kKeyAA, 0x55},
        {catalog + kEntry + rec::initial_entry::kBootIndicator, 0x00}};
    for (const auto& patch : patches) {
        std::vector<uint8_t> image = original;
        image[patch.first] = patch.second;
        if (patch.first == catalog + rec::validation_entry::kKey55) {
            image[catalog + rec::validation_entry::kKeyAA] = 0x55;  // key bytes swapped
        }
        TempDir dir;
        const BootRun run = loadAndExtract(image, dir / "boot");
        EXPECT_EQ(run.load, 1) << patch.first;
        EXPECT_EQ(run.extract, 1);
        EXPECT_EQ(run.output, kInvalid + kNotLoaded) << patch.first;
        EXPECT_TRUE(fileExists(dir / "boot"));
        EXPECT_TRUE(readBytes(dir / "boot").empty());
    }
    // A wrong checksum is not examined.
    std::vector<uint8_t> image = original;
    image[catalog + rec::validation_entry::kChecksum] ^= 0xFF;
    TempDir dir;
    EXPECT_EQ(loadAndExtract(image, dir / "boot").load, 0);
}

TEST(BootImageReader, PointersPastTheEndAreIoFailuresWithoutLargeAllocations) {
    const std::vector<uint8_t> original = readBytes(reader_fixture::sharedImage());
    const size_t initial = catalogOffset(original) + kEntry;
    const uint32_t lastBlock = static_cast<uint32_t>(original.size() / 2048 - 1);
    const struct {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> patch;
        std::string says;
    } cases[] = {
        {"catalog past the end",
         [](auto& image) {
             putLe32(image.data(), kBootRecord + rec::boot_record::kCatalogPointer, 0xFFFFFFFFu);
         },
         "load boot image ...\nload boot image failed, IO exception: reading 32 bytes at byte "
         "8796093020160"},
        // 65535 sectors (32 MiB) claimed at the last block: refused before allocating.
        {"32 MiB at the last block",
         [&](auto& image) {
             putLe16(image.data(), initial + rec::initial_entry::kSectorCount, 0xFFFF);
             putLe32(image.data(), initial + rec::initial_entry::kLoadRba, lastBlock);
         },
         "load boot image failed, IO exception: boot image of 65535 sectors (33553920 bytes) at "
         "Load RBA "},
        {"boot image past the end",
         [&](auto& image) {
             putLe32(image.data(), initial + rec::initial_entry::kLoadRba, 0x80000000u);
         },
         "(byte 4398046511104) runs past the end of the image"},
        {"too short for block 17", [](auto& image) { image.resize(kBootRecord + 100); },
         "load boot image failed, IO exception: reading 2048 bytes at byte 34816"},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> image = original;
        c.patch(image);
        TempDir dir;
        const BootRun run = loadAndExtract(image, dir / "boot");
        EXPECT_EQ(run.load, 1) << c.what;
        EXPECT_TRUE(contains(run.output, c.says)) << c.what << "\n" << run.output;
        EXPECT_TRUE(contains(run.output, kNotLoaded)) << c.what << "\n" << run.output;
    }
}

TEST(BootImageReader, ImageWithoutBootRecordFails) {
    TempDir dir;
    ISOBootImageReader missing(dir / "none.iso");
    const std::string out = captureStdout([&] {
        EXPECT_EQ(missing.LoadBootImage(), 1);
        EXPECT_EQ(missing.ExtractBootImage(dir / "boot"), 1);
    });
    EXPECT_EQ(out.find("load boot image ...\nload boot image failed, IO exception: "), 0u);
    EXPECT_TRUE(contains(out, kNotLoaded));

    // An image without El Torito: block 17 is the set terminator, whose bytes lead to a
    // catalog at block 0 and a zero boot indicator.
    ISOBootImageReader plain(reader_fixture::sharedImage(false));
    const std::string plainOut = captureStdout([&] {
        EXPECT_EQ(plain.LoadBootImage(), 1);
        EXPECT_FALSE(plain.isBootCD());
    });
    EXPECT_TRUE(plainOut == kInvalid ||
                plainOut.find("load boot image failed, IO exception: ") != std::string::npos)
        << plainOut;
}

TEST(BootImageReader, UnwritableTargetIsAnIoFailure) {
    ISOBootImageReader reader(reader_fixture::sharedImage());
    TempDir dir;
    ConsoleCapture capture;
    ASSERT_EQ(reader.LoadBootImage(), 0);
    EXPECT_EQ(reader.ExtractBootImage(dir / "no/such/dir/boot"), 1);
    const std::string out = capture.finish().out;
    EXPECT_TRUE(contains(out, "extract boot image failed - IO exception: cannot create ")) << out;
    // Loaded state survives: a later extract works.
    captureStdout([&] {
        EXPECT_EQ(reader.ExtractBootImage(dir / "boot"), 0);
        EXPECT_EQ(reader.ExtractBootImage(dir / "boot2"), 0);
    });
    EXPECT_EQ(readBytes(dir / "boot2").size(), 2048u);
}
