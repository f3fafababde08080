// A file of 4.5 GiB in the image: xorriso stores it as two records with the Multi-Extent
// flag on the first. A run that changes something else keeps it as one file, which
// every independent reader lists once at its full size with its bytes unchanged. Built
// from a sparse file, and written sparse all the way (xorriso's image through a sparse
// copy, the program's pack leaving the holes of its source unwritten), so no 4.5 GiB of
// real data go to the disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_helpers.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;
using test_support::linesWith;
using test_support::shellQuote;

namespace {

constexpr uint64_t kHugeSize = 4608ull << 20;  // 4.5 GiB
// Room for both images should the file system keep no holes after all.
constexpr uint64_t kNeededSpace = 10ull << 30;

// The sizes of the records named HUGE.BIN, as isoinfo lists them.
std::vector<std::string> recordSizes(const std::string& image) {
    std::vector<std::string> sizes;
    for (const std::string& line :
         linesWith(e2e::mustRun("isoinfo -l -i " + shellQuote(image)), "HUGE.BIN")) {
        std::smatch size;
        if (std::regex_search(line, size, std::regex(" (\\d+) [A-Z][a-z][a-z] "))) {
            sizes.push_back(size[1]);
        }
    }
    return sizes;
}

uint64_t allocatedBytes(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? uint64_t(status.st_blocks) * 512 : UINT64_MAX;
}

// Pattern bytes at the start, on both sides of the 4 GiB - 2 KiB where xorriso ends the
// first record, and at the end; holes elsewhere.
void writeHugeFile(const std::string& path) {
    test_support::writeFile(path, "");
    fs::resize_file(path, kHugeSize);
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    const uint64_t places[] = {0, 0xFFFFF800ull - 2048, kHugeSize - 4096};
    uint32_t seed = 1;
    for (const uint64_t at : places) {
        const std::vector<uint8_t> bytes = test_support::patternBytes(4096, seed++);
        file.seekp(static_cast<std::streamoff>(at));
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
}

}  // namespace

TEST(MultiExtentLarge, AFileOfFourAndAHalfGibibytesIsKeptAsOneFile) {
    test_support::TempDir temp;
    struct statvfs space;
    if (::statvfs(temp.path().c_str(), &space) != 0 ||
        uint64_t(space.f_bavail) * space.f_frsize < kNeededSpace) {
        GTEST_SKIP() << "less than " << (kNeededSpace >> 30) << " GiB free below " << temp.path();
    }
    const std::string huge = temp / "extra/HUGE.BIN";
    writeHugeFile(huge);
    if (allocatedBytes(huge) > (64ull << 20)) {
        GTEST_SKIP() << "the file system below " << temp.path() << " keeps no holes";
    }
    // The sample CD with the file as \DATA\HUGE.BIN, its image copied sparse.
    const std::string image = temp / "cd.iso";
    e2e::mustRun("bash " +
                 shellQuote(std::string(WINPE_SOURCE_DIR) + "/tests/fixtures/make-sample-cd") +
                 " " + shellQuote(temp / "cd-tree") + " - " + shellQuote(temp / "extra") +
                 " | cp --sparse=always /dev/stdin " + shellQuote(image));
    const std::string source = temp / "cd-tree/DATA/HUGE.BIN";
    const std::vector<std::string> records = recordSizes(image);
    ASSERT_EQ(2u, records.size()) << "xorriso did not store the file in two records";

    test_support::writeFile(temp / "note.txt", "a note\n");
    fs::create_directories(temp / "tmp");
    const e2e::ProgramRun run = e2e::runProgram(temp.path(), {"-i", "cd.iso", "-Y", "note.txt"}, "",
                                                "", "TMPDIR=" + shellQuote(temp / "tmp"));
    ASSERT_EQ(0, run.exitCode) << run.out << run.err;
    EXPECT_LT(allocatedBytes(image), 256ull << 20) << "the pack wrote the holes out";

    // The same records as xorriso wrote, in order, with the flag on the first.
    EXPECT_EQ(records, recordSizes(image));
    const std::string size = std::to_string(kHugeSize);
    const std::string quoted = shellQuote(image);
    const std::vector<std::string> xorrisoLines = linesWith(
        e2e::mustRun("xorriso -indev " + quoted + " -lsl /DATA 2>/dev/null"), "'HUGE.BIN'");
    ASSERT_EQ(1u, xorrisoLines.size());
    EXPECT_NE(std::string::npos, xorrisoLines[0].find(" " + size + " ")) << xorrisoLines[0];
    const std::vector<std::string> sevenLines =
        linesWith(e2e::mustRun("7z l " + quoted), "HUGE.BIN");
    ASSERT_EQ(1u, sevenLines.size());
    EXPECT_NE(std::string::npos, sevenLines[0].find(" " + size + " ")) << sevenLines[0];
    // The bytes, streamed by 7z and extracted sparse by xorriso.
    EXPECT_EQ(0, test_support::runCommand("7z e -so " + quoted +
                                          " DATA/HUGE.BIN 2>/dev/null | "
                                          "cmp - " +
                                          shellQuote(source))
                     .exitCode);
    // isoinfo reads only the first 4 GiB of such a file, modulo 2^32 (xorriso's own
    // image too): it reads the same from the new image as from the old one.
    const auto isoinfoSum = [](const std::string& from) {
        return e2e::mustRun("isoinfo -i " + shellQuote(from) + " -x /DATA/HUGE.BIN | cksum");
    };
    EXPECT_EQ(isoinfoSum(image + ".bak"), isoinfoSum(image));
    const std::string extracted = temp / "extracted";
    e2e::mustRun("xorriso -osirrox on:sparse=1m -indev " + quoted + " -extract /DATA/HUGE.BIN " +
                 shellQuote(extracted) + " 2>/dev/null");
    EXPECT_EQ(0, test_support::runCommand("cmp " + shellQuote(extracted) + " " + shellQuote(source))
                     .exitCode);
    EXPECT_EQ("a note\n", e2e::readFromImage(image, "/note.txt"));
}
