// Modifying images made by xorriso and genisoimage, checked with third-party tools.
#include "iso/iso_modifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <functional>
#include <regex>
#include <string>

#include "iso/iso_writer_checks.h"
#include "support/fixture_image.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

using namespace writer_checks;
using namespace test_support;
namespace fs = boost::filesystem;

namespace {

class ModifierTest : public testing::Test {
  protected:
    void SetUp() override {
        source = temp / "source";
        writeFiles(source, {{"BOOT/BOOTFIX.BIN", patternText(3000, 1)},
                            {"I386/SYSTEM32/DRIVERS/OLD.SYS", patternText(70000, 2)},
                            {"I386/TXTSETUP.SIF", "[SourceDisksFiles]\r\n"},
                            {"NEW.TXT", "the old NEW.TXT\n"},
                            {"PROGRAMS/README", "programs\n"},
                            {"PROGRAMS/SECOND.BIN", patternText(5000, 4)}});
        makeBootImage(source + "/boot.bin");
        image = temp / "in.iso";
        makeIsoWithXorriso(source, image, "boot.bin",
                           {"-V", "WINPE_TEST", "-publisher", "MIRALDA PUBLISHING"});
        boot = temp / "boot.bin";
        fs::copy_file(source + "/boot.bin", boot);
        local = temp / "local";
        writeFile(local + "/new.txt", "the new new.txt\n");
        writeFile(local + "/tools/bin/tool.exe", patternBytes(5000, 3));
        writeFile(local + "/tools/tool.ini", "[tool]\r\n");
        fs::create_directories(local + "/tools/empty");
        fs::create_directories(local + "/emptydir");
    }

    // Packs with the boot image; returns the pack's result and keeps its lines.
    int packTo(ISOModifier& modifier, const std::string& output) {
        int result = -1;
        lines = captureStdout([&] { result = modifier.PackImage(output, boot); });
        return result;
    }

    // Makes `adds` on a modifier of `input` (the old image if empty) and packs it with the
    // boot image into temp / `name`, which it returns.
    std::string packedWith(const std::function<void(ISOModifier&)>& adds,
                           const std::string& name = "out.iso", const std::string& input = "") {
        const std::string output = temp / name;
        ISOModifier modifier(input.empty() ? image : input);
        captureStdout([&] { adds(modifier); });
        EXPECT_EQ(0, packTo(modifier, output)) << lines;
        return output;
    }

    // The old image unpacked by xorriso, for comparing against the new one.
    std::string expectedTree() {
        const std::string expected = temp / "expected";
        if (!fs::exists(expected)) {
            extractAll(image, expected);
            mustRun("chmod -R u+w " + shellQuote(expected));
        }
        return expected;
    }

    // Names of the root listing in the order isoinfo shows them.
    static std::vector<std::string> rootNames(const std::string& listing) {
        std::vector<std::string> names;
        const size_t end = listing.find("\nDirectory listing of /", 1);
        const std::string root = listing.substr(0, end);
        const std::regex entry("\\]\\s+(\\S[^\\n]*?)\\s*\\n");
        for (auto it = std::sregex_iterator(root.begin(), root.end(), entry);
             it != std::sregex_iterator(); ++it) {
            names.push_back((*it)[1]);
        }
        return names;
    }

    TempDir temp;
    std::string source, image, boot, local, lines;
};

}  // namespace

TEST_F(ModifierTest, AddedEntriesJoinTheOldTreeAndTheImageStillBoots) {
    const std::string output = packedWith([&](ISOModifier& modifier) {
        EXPECT_EQ(0,
                  modifier.AddSingleFile(local + "/new.txt", "\\I386\\SYSTEM32\\ADDED.TXT", true));
        EXPECT_EQ(0, modifier.AddSingleDirectory(local + "/tools/", "/PROGRAMS/TOOLS", true));
        EXPECT_EQ(0, modifier.AddSingleDirectory(local + "/emptydir", "\\EMPTY", true));
    });
    EXPECT_TRUE(contains(lines, "pack ISO image succeeded\n")) << lines;
    EXPECT_TRUE(contains(lines, "100%\n")) << lines;
    EXPECT_EQ("", isovfyErrors(output));

    const std::string expected = expectedTree();
    fs::copy_file(local + "/new.txt", expected + "/I386/SYSTEM32/ADDED.TXT");
    mustRun("cp -r " + shellQuote(local + "/tools") + " " +
            shellQuote(expected + "/PROGRAMS/TOOLS"));
    fs::create_directories(expected + "/EMPTY");
    extractAll(output, temp / "extracted");
    EXPECT_EQ("", treeDifferences(expected, temp / "extracted"));
    EXPECT_EQ(readFile(source + "/I386/SYSTEM32/DRIVERS/OLD.SYS"),
              isoReadFile(output, "/I386/SYSTEM32/DRIVERS/OLD.SYS"));

    const std::string listing = isoinfoListing(output);
    // Its two dot records, each with the Rock Ridge PX (44 bytes) and TF (26) of a
    // directory added to a Rock Ridge image.
    EXPECT_TRUE(std::regex_search(listing, std::regex(" 208 [^\\n]*\\]\\s+EMPTY\\s*\\n")))
        << listing;
    const std::string descriptor = isoinfoDescriptor(output);
    EXPECT_TRUE(contains(descriptor, "Volume id: WINPE_TEST\n")) << descriptor;
    EXPECT_TRUE(contains(descriptor, "Publisher id: MIRALDA PUBLISHING\n")) << descriptor;
    EXPECT_TRUE(std::regex_search(elToritoReport(output),
                                  std::regex("El Torito boot img :\\s+1\\s+BIOS\\s+y\\s+none\\s+"
                                             "0x0000\\s+0x00\\s+4\\s+\\d+")));
    EXPECT_TRUE(contains(bootInQemu(output), "WINPE-ISO BOOT OK"));
}

TEST_F(ModifierTest, NewEntriesTakeTheirSortedPlaceAfterTheDotEntries) {
    const std::string output = packedWith([&](ISOModifier& modifier) {
        for (const char* name : {"\\ZZZ", "\\AAA", "\\I386A"}) {
            ASSERT_EQ(0, modifier.AddSingleFile(local + "/new.txt", name, true));
        }
    });
    const std::vector<std::string> expected = {".",    "..",       "AAA",     "BOOT",
                                               "I386", "I386A",    "NEW.TXT", "PROGRAMS",
                                               "ZZZ",  "boot.bin", "boot.cat"};
    EXPECT_EQ(expected, rootNames(isoinfoListing(output)));
}

TEST_F(ModifierTest, SameNameInAnotherCaseIsReplacedOnlyWithOverwrite) {
    const std::string kept = temp / "kept.iso";
    {
        ISOModifier modifier(image);
        const std::string printed = captureStdout(
            [&] { EXPECT_EQ(1, modifier.AddSingleFile(local + "/new.txt", "\\new.txt", false)); });
        EXPECT_FALSE(contains(printed, "ISOModifier"));
        ASSERT_EQ(0, packTo(modifier, kept)) << lines;
    }
    EXPECT_EQ("the old NEW.TXT\n", isoReadFile(kept, "/NEW.TXT"));

    const std::string replaced = packedWith(
        [&](ISOModifier& modifier) {
            EXPECT_EQ(0, modifier.AddSingleFile(local + "/new.txt", "\\new.txt", true));
        },
        "replaced.iso");
    const std::vector<std::string> names = rootNames(isoinfoListing(replaced));
    EXPECT_EQ(0, std::count(names.begin(), names.end(), "NEW.TXT"));
    EXPECT_EQ(1, std::count(names.begin(), names.end(), "new.txt"));
    EXPECT_EQ("the new new.txt\n", isoReadFile(replaced, "/new.txt"));
    EXPECT_EQ("", isovfyErrors(replaced));
}

TEST_F(ModifierTest, AFileReplacesADirectoryAndADirectoryAFile) {
    const std::string output = packedWith([&](ISOModifier& modifier) {
        EXPECT_EQ(0, modifier.AddSingleFile(local + "/new.txt", "\\I386", true));
        EXPECT_EQ(0, modifier.AddSingleDirectory(local + "/tools", "\\NEW.TXT", true));
        // The second of two adds to one place wins.
        EXPECT_EQ(0,
                  modifier.AddSingleFile(local + "/tools/tool.ini", "\\BOOT\\BOOTFIX.BIN", true));
        EXPECT_EQ(0, modifier.AddSingleFile(local + "/new.txt", "\\BOOT\\BOOTFIX.BIN", true));
    });
    EXPECT_EQ("", isovfyErrors(output));
    const std::string expected = expectedTree();
    fs::remove_all(expected + "/I386");
    fs::copy_file(local + "/new.txt", expected + "/I386");
    fs::remove(expected + "/NEW.TXT");
    mustRun("cp -r " + shellQuote(local + "/tools") + " " + shellQuote(expected + "/NEW.TXT"));
    fs::copy_file(local + "/new.txt", expected + "/BOOT/BOOTFIX.BIN",
                  fs::copy_option::overwrite_if_exists);
    extractAll(output, temp / "extracted");
    EXPECT_EQ("", treeDifferences(expected, temp / "extracted"));
}

TEST_F(ModifierTest, FailedAddsReportAndLeaveNoHalfEntry) {
    ISOModifier modifier(image);
    std::string output = captureStdout([&] {
        EXPECT_EQ(1, modifier.AddSingleFile(local + "/new.txt", "\\NOPE\\A.TXT", true));
        EXPECT_EQ(1, modifier.AddSingleFile(local + "/new.txt", "\\NEW.TXT\\A.TXT", true));
        EXPECT_EQ(1, modifier.AddSingleDirectory(local + "/no-such-dir", "\\GHOST", true));
    });
    EXPECT_FALSE(contains(output, "ISOModifier")) << output;

    output = captureStdout([&] {
        // The old entry goes before the missing local file is noticed.
        EXPECT_EQ(1, modifier.AddSingleFile(local + "/no-such-file", "\\PROGRAMS\\README", true));
        EXPECT_EQ(1, modifier.AddSingleFile(local + "/new.txt", "\\I386\\bad:name", true));
        EXPECT_EQ(1, modifier.AddSingleFile(local + "/new.txt", "\\", true));
    });
    EXPECT_EQ(3, std::count(output.begin(), output.end(), '\n')) << output;
    EXPECT_EQ(0u, output.find("ISOModifier AddSingleFile exception: ")) << output;

    const std::string packed = temp / "out.iso";
    ASSERT_EQ(0, packTo(modifier, packed)) << lines;
    const std::string listing = isoinfoListing(packed);
    EXPECT_FALSE(contains(listing, "GHOST")) << listing;
    EXPECT_FALSE(contains(listing, "README")) << listing;
    EXPECT_EQ("", isovfyErrors(packed));
}

TEST_F(ModifierTest, ABadParentComponentFailsTheAddWithItsOwnLine) {
    ISOModifier modifier(image);
    const std::string output = captureStdout([&] {
        EXPECT_EQ(1, modifier.AddSingleFile(local + "/new.txt", "\\I386\\a:b\\X.TXT", true));
        EXPECT_EQ(1, modifier.AddSingleDirectory(local + "/tools", "\\BOOT\\a|b\\TOOLS", true));
    });
    EXPECT_EQ(
        "ISOModifier AddSingleFile exception: invalid name \"a:b\" in path \"I386\\a:b\"\n"
        "ISOModifier AddSingleDirectory exception: invalid name \"a|b\" in path "
        "\"BOOT\\a|b\"\n",
        output);
}

TEST_F(ModifierTest, ASubdirectorysEntriesAreWrittenBeforeTheNextEntryOfItsParent) {
    // Two files whose local data is gone by the pack: one in BOOT, the first directory of
    // the root, and one in the root after it. The one inside BOOT fails the pack.
    writeFile(temp / "inner.bin", "inner");
    writeFile(temp / "outer.bin", "outer");
    ISOModifier modifier(image);
    captureStdout([&] {
        EXPECT_EQ(0, modifier.AddSingleFile(temp / "inner.bin", "\\BOOT\\INNER.BIN", true));
        EXPECT_EQ(0, modifier.AddSingleFile(temp / "outer.bin", "\\OUTER.BIN", true));
    });
    fs::remove(temp / "inner.bin");
    fs::remove(temp / "outer.bin");
    EXPECT_EQ(1, packTo(modifier, temp / "out.iso"));
    EXPECT_TRUE(contains(lines, "inner.bin")) << lines;
    EXPECT_FALSE(contains(lines, "outer.bin")) << lines;
    EXPECT_TRUE(contains(lines, "  write directory record and file failed - IO error\n"));
}

TEST_F(ModifierTest, PackFailsSafely) {
    {
        // An image that cannot be loaded writes nothing.
        writeFile(temp / "broken.iso", std::string(40000, 'x'));
        ISOModifier modifier(temp / "broken.iso");
        EXPECT_EQ(1, packTo(modifier, temp / "never.iso"));
        EXPECT_FALSE(fs::exists(temp / "never.iso"));
    }
    {
        // Writing over the image being modified would destroy what is still to be copied.
        const std::string before = readFile(image);
        ISOModifier modifier(image);
        EXPECT_EQ(1, packTo(modifier, image));
        EXPECT_TRUE(contains(lines, "is the image being modified")) << lines;
        EXPECT_EQ(before, readFile(image));

        // A link to the image, or a second name of it, is removed as an entry and the
        // image read through its own name.
        fs::create_symlink(image, temp / "link.iso");
        fs::create_hard_link(image, temp / "second-name.iso");
        for (const char* output : {"link.iso", "second-name.iso"}) {
            ISOModifier again(image);
            EXPECT_EQ(0, packTo(again, temp / output)) << output << lines;
            EXPECT_EQ(before, readFile(image)) << output;
            EXPECT_FALSE(fs::is_symlink(temp / output));
        }
    }
    {
        // A local file that shrank after it was added.
        writeFile(temp / "shrinking", std::string(10000, 's'));
        ISOModifier modifier(image);
        captureStdout(
            [&] { EXPECT_EQ(0, modifier.AddSingleFile(temp / "shrinking", "\\SHRINK", true)); });
        writeFile(temp / "shrinking", std::string(100, 's'));
        EXPECT_EQ(1, packTo(modifier, temp / "shrunk.iso"));
        EXPECT_TRUE(contains(lines, "ends at byte 100")) << lines;
        EXPECT_TRUE(contains(lines, "  write directory record and file failed - IO error\n"));
        EXPECT_FALSE(contains(lines, "succeeded")) << lines;
    }
    {
        // The old primary volume descriptor is gone by the time the new one is made.
        const std::string copy = temp / "copy.iso";
        fs::copy_file(image, copy);
        ISOModifier modifier(copy);
        captureStdout(
            [&] { EXPECT_EQ(0, modifier.AddSingleFile(local + "/new.txt", "\\X.TXT", true)); });
        fs::resize_file(copy, 16 * 2048 + 100);
        EXPECT_EQ(1, packTo(modifier, temp / "nopvd.iso"));
        EXPECT_TRUE(contains(lines, "\nISOModifier CreateNewPVD exception: ")) << lines;
        EXPECT_TRUE(contains(lines, "\npack ISO image failed, exception: ")) << lines;
        EXPECT_FALSE(contains(lines, "succeeded")) << lines;
    }
}

TEST_F(ModifierTest, BytesAfterAFileInTheOldImageDoNotReachTheNewOne) {
    // Whatever the old image holds behind a file's data in its last block, the new image
    // has zeros there, also where the file and the next one are copied in one piece.
    const std::string listing = isoinfoListing(image);
    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(listing, match, std::regex("\\[\\s*(\\d+)\\s+\\d+\\]\\s+README")));
    const uint64_t tail = std::stoull(match[1]) * 2048 + 9;  // the file holds 9 bytes
    std::vector<uint8_t> bytes = readBytes(image);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(tail), 2048 - 9, 0xFF);
    writeFile(image, bytes);
    const std::string output = packedWith([](ISOModifier&) {});
    EXPECT_TRUE(contains(lines, "90%.........100%\n")) << lines;
    EXPECT_EQ("", isovfyErrors(output));
    const std::string newListing = isoinfoListing(output);
    ASSERT_TRUE(
        std::regex_search(newListing, match, std::regex("\\[\\s*(\\d+)\\s+\\d+\\]\\s+README")));
    EXPECT_EQ("programs\n" + std::string(2048 - 9, '\0'),
              readFile(output).substr(std::stoull(match[1]) * 2048, 2048));
    extractAll(output, temp / "extracted");
    EXPECT_EQ("", treeDifferences(expectedTree(), temp / "extracted"));
}

TEST_F(ModifierTest, GenisoimageImagesAreModifiedToo) {
    const std::string geniso = temp / "geniso.iso";
    makeIsoWithGenisoimage(source, geniso, "boot.bin");
    const std::string output = packedWith(
        [&](ISOModifier& modifier) {
            EXPECT_EQ(0, modifier.AddSingleDirectory(local + "/tools", "\\TOOLS", true));
        },
        "out.iso", geniso);
    EXPECT_EQ("", isovfyErrors(output));
    const std::string expected = temp / "expected-geniso";
    extractAll(geniso, expected);
    mustRun("chmod -R u+w " + shellQuote(expected) + " && cp -r " + shellQuote(local + "/tools") +
            " " + shellQuote(expected + "/TOOLS"));
    extractAll(output, temp / "extracted");
    EXPECT_EQ("", treeDifferences(expected, temp / "extracted"));
}

TEST_F(ModifierTest, ReplacedEntriesLeaveTheProgressCountSoItEndsAtOneHundred) {
    // Replacing a 70000-byte directory tree and a file by small local entries: if their old
    // sizes stayed counted, the marks would stop short and the next line would run on.
    const std::string output = packedWith([&](ISOModifier& modifier) {
        EXPECT_EQ(0, modifier.AddSingleDirectory(local + "/emptydir", "\\I386", true));
        EXPECT_EQ(0, modifier.AddSingleFile(local + "/new.txt", "\\NEW.TXT", true));
    });
    EXPECT_TRUE(contains(lines, "100%\n  write directory record and files done\n")) << lines;
}
