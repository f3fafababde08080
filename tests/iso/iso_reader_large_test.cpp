// An image larger than 4 GiB (a sparse file) with a file, a directory and the boot
// image beyond 2 GiB, the directory beyond 4 GiB: offsets are 64-bit, so all are read.
#include <gtest/gtest.h>

#include <fstream>

#include "iso/boot_image_reader.h"
#include "iso/byte_order.h"
#include "iso/iso_reader.h"
#include "iso/iso_reader_fixture.h"
#include "iso/records.h"
#include "support/console_capture.h"
#include "support/test_files.h"

using namespace test_support;
using reader_fixture::MiniImage;

namespace {

constexpr uint32_t kFarFile = 1100000;       // byte 2,252,800,000
constexpr uint32_t kFarDirectory = 2100000;  // beyond 4 GiB: 32-bit offsets would wrap
constexpr uint32_t kFarInner = 2100010;
constexpr uint32_t kFarBoot = 1100030;
constexpr uint32_t kLastBlock = 2200000;  // about 4.2 GiB in all

void writeAt(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << "writing at " << offset;
}

class ReaderLarge : public testing::Test {
  protected:
    void SetUp() override {
        MiniImage mini(2048, 40);
        mini.descriptor(20);
        mini.directory(20, 20,
                       {{"NEAR.TXT", 21, 4, 0},
                        {"FAR.BIN", kFarFile, 3000, 0},
                        {"FARDIR", kFarDirectory, 2048, 2}});
        mini.data(21, {'n', 'e', 'a', 'r'});
        std::vector<uint8_t>& bytes = mini.bytes();
        iso_record::encodeBootRecord(30, bytes.data() + 17 * 2048);
        iso_record::encodeValidationEntry(bytes.data() + 30 * 2048);
        iso_record::encodeInitialEntry(0, 8, kFarBoot, bytes.data() + 30 * 2048 + 32);
        image = dir / "large.iso";
        writeFile(image, bytes);

        MiniImage far(2048, 1);
        far.directory(0, 20, {{"INNER.TXT", kFarInner, 5, 0}});
        std::vector<uint8_t> farDirectory(far.bytes().begin(), far.bytes().begin() + 2048);
        iso_bytes::putBoth32(farDirectory.data(), 2, kFarDirectory);

        farData = patternBytes(3000, 77);
        bootData = patternBytes(4096, 78);
        writeAt(image, uint64_t{kFarFile} * 2048, farData);
        writeAt(image, uint64_t{kFarDirectory} * 2048, farDirectory);
        writeAt(image, uint64_t{kFarInner} * 2048, {'i', 'n', 'n', 'e', 'r'});
        writeAt(image, uint64_t{kFarBoot} * 2048, bootData);
        writeAt(image, uint64_t{kLastBlock} * 2048 - 1, {0});
    }

    TempDir dir;
    std::string image;
    std::vector<uint8_t> farData;
    std::vector<uint8_t> bootData;
};

}  // namespace

TEST_F(ReaderLarge, ReadsFilesDirectoriesAndTheBootImageBeyondTwoGiB) {
    ISOReader reader(image);
    test_support::ConsoleCapture quiet;
    ASSERT_TRUE(reader.FileExists("\\FARDIR\\INNER.TXT"));
    ASSERT_EQ(reader.RetrieveFile("\\FAR.BIN", dir / "far.bin"), 0);
    ASSERT_EQ(reader.RetrieveFile("\\FARDIR\\INNER.TXT", dir / "inner.txt"), 0);
    ASSERT_EQ(reader.RetrieveFile("\\NEAR.TXT", dir / "near.txt"), 0);
    quiet.finish();
    EXPECT_EQ(readBytes(dir / "far.bin"), farData);
    EXPECT_EQ(readFile(dir / "inner.txt"), "inner");
    EXPECT_EQ(readFile(dir / "near.txt"), "near");

    ISOBootImageReader boot(image);
    {
        test_support::ConsoleCapture quietBoot;
        ASSERT_EQ(boot.LoadBootImage(), 0);
        ASSERT_EQ(boot.ExtractBootImage(dir / "boot.img"), 0);
    }
    EXPECT_EQ(readBytes(dir / "boot.img"), bootData);
}
