// The exact bytes of a pack. A fixed tree is packed, and the image then changed by the
// modifier, with the clock held still (faketime, TZ=UTC), so that every date the writer
// stamps is the same on every run. The digests were taken from the writer once it wrote
// every directory's records in identifier order; any change in the bytes it writes for
// the same input shows here. Both images are also checked with isovfy and xorriso, so a
// digest is never taken of an image those readers refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/test_files.h"
#include "support/tool_runner.h"

using test_support::patternBytes;
using test_support::runCommand;
using test_support::shellQuote;
using test_support::TempDir;
using test_support::writeFile;

namespace {

// The digests of the two images the test writes.
constexpr const char* kPackedDigest =
    "30a019517cc71fdb9b834c626ecefa9d0a6caaed2859497b5e1024fda255759b";
constexpr const char* kModifiedDigest =
    "7a52d313448fff75e94903af88bd026b44815169fb61bc42c5266a8cdb94a1a9";

const std::string kHelper = std::string(WINPE_BINARY_DIR) + "/tests/iso_writer_pack_helper";

// Runs the pack helper with the clock stopped at one instant: `faketime -f` with an
// absolute date stops it (without -f the clock starts there and goes on, and a slow pack
// would cross into the next second).
test_support::CommandResult runAtFixedTime(const std::string& arguments) {
    // The preloaded clock comes before a sanitizer's runtime in the library order.
    std::string asanOptions = "verify_asan_link_order=0";
    const char* given = std::getenv("ASAN_OPTIONS");
    if (given != nullptr && *given != '\0') {
        asanOptions = std::string(given) + ":" + asanOptions;
    }
    return runCommand("TZ=UTC ASAN_OPTIONS=" + shellQuote(asanOptions) +
                      " faketime -f '2021-03-04 05:06:07' " + shellQuote(kHelper) + " " +
                      arguments);
}

std::string digestOf(const std::string& path) {
    const test_support::CommandResult sum = runCommand("sha256sum " + shellQuote(path));
    EXPECT_EQ(0, sum.exitCode) << sum.output;
    return sum.output.substr(0, 64);
}

void expectReadable(const std::string& image) {
    const test_support::CommandResult vfy = runCommand("isovfy " + shellQuote(image));
    EXPECT_EQ(0, vfy.exitCode) << vfy.output;
    EXPECT_FALSE(test_support::contains(vfy.output, "Error")) << vfy.output;
    const test_support::CommandResult report =
        runCommand("xorriso -indev " + shellQuote(image) + " -report_el_torito plain 2>&1");
    EXPECT_EQ(0, report.exitCode) << report.output;
    EXPECT_TRUE(test_support::contains(report.output, "El Torito boot img :   1  BIOS  y"))
        << report.output;
}

// Sizes on both sides of block and copy-piece edges, names in both cases, three levels
// of directories, and an empty directory; made in the order given, or the other way round
// (so that a file system listing entries in the order they were made lists them otherwise).
enum class MadeInOrder { given, reversed };
void makeFixedTree(const std::string& tree, MadeInOrder order = MadeInOrder::given) {
    using test_support::patternText;
    std::vector<std::pair<std::string, std::string>> files = {
        {"README.TXT", "a fixed tree\n"},
        {"empty.dat", ""},
        {"Mixed.Case", patternText(2047, 1)},
        {"BLOCK.BIN", patternText(2048, 2)},
        {"over.bin", patternText(2049, 3)},
        {"Programs/Tool/TOOL.EXE", patternText(70000, 4)},
        {"Programs/Tool/conf/tool.ini", "[tool]\nmode=1\n"},
        {"Programs/big.cab", patternText(300000, 5)},
        {"i386/system32/drivers/disk.sys", patternText(5000, 6)}};
    const std::string makeEmptyDirectory = "mkdir -p " + shellQuote(tree + "/i386/empty");
    if (order == MadeInOrder::reversed) {
        std::reverse(files.begin(), files.end());
        runCommand(makeEmptyDirectory);
    }
    test_support::writeFiles(tree, files);
    runCommand(makeEmptyDirectory);  // no change when it was made first
}

// The fixed tree, the boot image and the file the change adds, and the two runs of the
// pack helper, in the helper's file or memory modes.
class PackBytes : public testing::Test {
  protected:
    void SetUp() override {
        if (!test_support::haveTool("faketime")) {
            GTEST_SKIP() << "faketime is not installed (scripts/setup installs it)";
        }
        makeFixedTree(temp / "tree");
        writeFile(bootImage(), patternBytes(4 * 2048, 7));
        writeFile(temp / "added.exe", patternBytes(6000, 8));
    }

    // Packs the fixed tree into `image` (`mode`: pack or pack-memory).
    test_support::CommandResult pack(const std::string& mode, const std::string& image) const {
        return runAtFixedTime(mode + " " + shellQuote(temp / "tree") + " " + shellQuote(image) +
                              " " + shellQuote(bootImage()));
    }

    // Adds the file to `image` and packs the result into `modified` (`mode`: modify or
    // modify-memory).
    test_support::CommandResult modify(const std::string& mode, const std::string& image,
                                       const std::string& modified) const {
        return runAtFixedTime(mode + " " + shellQuote(image) + " " +
                              shellQuote(temp / "added.exe") + " " +
                              shellQuote("\\Programs\\Tool\\ADDED.EXE") + " " +
                              shellQuote(modified) + " " + shellQuote(bootImage()));
    }

    std::string bootImage() const { return temp / "boot.bin"; }

    TempDir temp;
};

}  // namespace

TEST_F(PackBytes, AFixedTreeAndItsChangeGiveTheRecordedBytes) {
    const std::string packed = temp / "packed.iso";
    const test_support::CommandResult packing = pack("pack", packed);
    ASSERT_EQ(0, packing.exitCode) << packing.output;
    expectReadable(packed);
    EXPECT_EQ(kPackedDigest, digestOf(packed));

    // The added file's three blocks move the files after it by an odd number of blocks,
    // so that their old and new offsets no longer line up.
    const std::string modified = temp / "modified.iso";
    const test_support::CommandResult change = modify("modify", packed, modified);
    ASSERT_EQ(0, change.exitCode) << change.output;
    expectReadable(modified);
    EXPECT_EQ(kModifiedDigest, digestOf(modified));
}

TEST_F(PackBytes, PacksInMemoryGiveTheSameBytesAsPacksToAFile) {
    // The same two packs, the old image read from memory and the new one built in a
    // memory sink: the sink and the memory source must not change a byte.
    const std::string packed = temp / "packed.iso";
    const test_support::CommandResult packing = pack("pack-memory", packed);
    ASSERT_EQ(0, packing.exitCode) << packing.output;
    EXPECT_EQ(kPackedDigest, digestOf(packed));

    const std::string modified = temp / "modified.iso";
    const test_support::CommandResult change = modify("modify-memory", packed, modified);
    ASSERT_EQ(0, change.exitCode) << change.output;
    EXPECT_EQ(kModifiedDigest, digestOf(modified));
}

TEST_F(PackBytes, ATreeMadeInAnotherOrderGivesTheSameBytesWithEveryDirectoryInOrder) {
    makeFixedTree(temp / "other", MadeInOrder::reversed);
    const std::string packed = temp / "other.iso";
    const test_support::CommandResult packing =
        runAtFixedTime("pack " + shellQuote(temp / "other") + " " + shellQuote(packed) + " " +
                       shellQuote(bootImage()));
    ASSERT_EQ(0, packing.exitCode) << packing.output;
    EXPECT_EQ(kPackedDigest, digestOf(packed));

    // isoinfo lists each directory's records in their order on the disc.
    const test_support::CommandResult listing =
        runCommand("isoinfo -l -i " + shellQuote(packed) + " | sed -n 's/.*\\]  //p'");
    ASSERT_EQ(0, listing.exitCode) << listing.output;
    std::istringstream lines(listing.output);
    std::string previous;
    for (std::string line; std::getline(lines, line);) {
        if (line == ". " || line == ".. ") {
            previous.clear();  // a new directory's listing starts
            continue;
        }
        EXPECT_LT(previous, line) << listing.output;
        previous = line;
    }
}
