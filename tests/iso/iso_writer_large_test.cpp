// Images beyond 2 GiB: every byte position is 64-bit, so files that lie past 2 GiB are
// written where their records say. Built from sparse files; the images are removed at
// the end of each test.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <string>

#include "iso/iso_modifier.h"
#include "iso/iso_writer.h"
#include "iso/iso_writer_checks.h"
#include "support/fixture_image.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

using namespace writer_checks;
using namespace test_support;
namespace fs = boost::filesystem;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// A sparse file of `size` bytes with pattern bytes in its first and last 4 KiB.
void writeSparse(const std::string& path, uint64_t size, uint32_t seed) {
    writeFile(path, patternBytes(4096, seed));
    fs::resize_file(path, size);
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    const std::vector<uint8_t> tail = patternBytes(4096, seed + 1);
    file.seekp(static_cast<std::streamoff>(size - tail.size()));
    file.write(reinterpret_cast<const char*>(tail.data()),
               static_cast<std::streamsize>(tail.size()));
}

// Extracts one file with xorriso and compares it with `expected` using cmp.
std::string compareExtracted(const std::string& image, const std::string& isoPath,
                             const std::string& expected, const std::string& scratch) {
    const CommandResult result = runCommand(
        "xorriso -osirrox on -indev " + shellQuote(image) + " -extract " + shellQuote(isoPath) +
        " " + shellQuote(scratch) + " >/dev/null 2>&1 && cmp " + shellQuote(expected) + " " +
        shellQuote(scratch) + "; rm -f " + shellQuote(scratch));
    return result.exitCode == 0 ? "" : "differs: " + isoPath + "\n" + result.output;
}

class WriterLarge : public testing::Test {
  protected:
    void SetUp() override {
        tree = temp / "tree";
        writeSparse(tree + "/A_BIG.BIN", 1536 * kMiB, 1);
        writeSparse(tree + "/B_BIG.BIN", 700 * kMiB + 1, 3);
        writeFile(tree + "/Z/C.BIN", patternBytes(10000, 5));
    }

    TempDir temp;
    std::string tree;
};

}  // namespace

TEST_F(WriterLarge, PackedFilesBeyondTwoGibibytesAreWhereTheirRecordsSay) {
    const std::string image = temp / "large.iso";
    int result = -1;
    const std::string lines = captureStdout([&] {
        ISOWriter writer(tree, "");
        result = writer.PackImage(image, "");
    });
    ASSERT_EQ(0, result) << lines;
    EXPECT_GT(fs::file_size(image), 2236 * kMiB);
    EXPECT_EQ("", isovfyErrors(image));
    EXPECT_EQ(readFile(tree + "/Z/C.BIN"), isoReadFile(image, "/Z/C.BIN"));
    EXPECT_EQ("", compareExtracted(image, "/B_BIG.BIN", tree + "/B_BIG.BIN", temp / "b"));
}

TEST_F(WriterLarge, ModifiedImageBeyondTwoGibibytesKeepsEveryFile) {
    const std::string image = temp / "large-in.iso";
    makeIsoWithXorriso(tree, image);
    writeFile(temp / "new.bin", patternBytes(5000, 7));
    const std::string output = temp / "large-out.iso";
    int result = -1;
    const std::string lines = captureStdout([&] {
        ISOModifier modifier(image);
        if (modifier.AddSingleFile(temp / "new.bin", "\\Z\\NEW.BIN", true) == 0) {
            result = modifier.PackImage(output, "");
        }
    });
    fs::remove(image);
    ASSERT_EQ(0, result) << lines;
    EXPECT_EQ("", isovfyErrors(output));
    EXPECT_EQ(readFile(tree + "/Z/C.BIN"), isoReadFile(output, "/Z/C.BIN"));
    EXPECT_EQ(readFile(temp / "new.bin"), isoReadFile(output, "/Z/NEW.BIN"));
    EXPECT_EQ("", compareExtracted(output, "/B_BIG.BIN", tree + "/B_BIG.BIN", temp / "b"));
}
