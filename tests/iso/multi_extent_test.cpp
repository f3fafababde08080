// Files an image stores in several records (the Multi-Extent flag on all but the last),
// kept as one file by the reader and written again as one file by the modifier. Small
// stand-ins: an xorriso image whose three files zbig.bia, zbig.bib and zbig.bic are
// patched into the three records of one zbig.bin, which xorriso and 7z then read as one
// file (the 4.5 GiB file xorriso itself splits is in the large end-to-end suite).
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "iso/iso_modifier.h"
#include "iso/iso_reader.h"
#include "iso/iso_reader_fixture.h"
#include "iso/iso_writer_checks.h"
#include "support/fixture_image.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

using namespace writer_checks;
using namespace test_support;
namespace fs = boost::filesystem;

namespace {

constexpr uint8_t kMultiExtent = 0x80;

class MultiExtentTest : public testing::Test {
  protected:
    void SetUp() override {
        source = temp / "source";
        fs::create_directories(source);
        makeBootImage(source + "/boot.bin");
        const size_t sizes[] = {4096, 6144, 1000};
        for (uint32_t i = 0; i < 3; ++i) {
            const std::vector<uint8_t> part = patternBytes(sizes[i], i + 11);
            writeFile(source + "/zbig.bi" + char('a' + i), part);
            whole.append(part.begin(), part.end());
        }
        writeFile(source + "/OTHER.TXT", "other\n");
        writeFile(source + "/Z/INNER.TXT", "inner\n");
        plain = temp / "plain.iso";
        makeIsoWithXorriso(source, plain, "boot.bin", {"--norock"});
        boot = temp / "boot.bin";
        fs::copy_file(source + "/boot.bin", boot);
    }

    // A copy of the plain image in which the three zbig.bi? records are renamed to
    // `names` (their last letters) and get the flags `flags` (Multi-Extent or 0).
    std::string patched(const std::string& names, const std::vector<uint8_t>& flags) {
        std::vector<uint8_t> bytes = readBytes(plain);
        for (size_t i = 0; i < 3; ++i) {
            const size_t record =
                reader_fixture::findRecord(bytes, "zbig.bi" + std::string(1, char('a' + i)));
            bytes[record + 33 + 7] = static_cast<uint8_t>(names.at(i));
            bytes[record + 25] = static_cast<uint8_t>(bytes[record + 25] | flags.at(i));
        }
        const std::string image = temp / ("patched-" + names + ".iso");
        writeFile(image, bytes);
        return image;
    }

    std::string multiExtentImage() { return patched("nnn", {kMultiExtent, kMultiExtent, 0}); }

    // Each independent reader sees one zbig.bin of the whole size with the whole bytes.
    void expectOneWholeFile(const std::string& image) {
        const std::string xorrisoList =
            mustRun("xorriso -indev " + shellQuote(image) + " -lsl / 2>/dev/null");
        const std::vector<std::string> xorrisoLines = linesWith(xorrisoList, "'zbig.bin'");
        ASSERT_EQ(1u, xorrisoLines.size()) << xorrisoList;
        EXPECT_TRUE(std::regex_search(xorrisoLines[0], std::regex(" 11240 "))) << xorrisoList;
        const std::string sevenList = mustRun("7z l " + shellQuote(image));
        const std::vector<std::string> sevenLines = linesWith(sevenList, " zbig.bin");
        ASSERT_EQ(1u, sevenLines.size()) << sevenList;
        EXPECT_TRUE(std::regex_search(sevenLines[0], std::regex(" 11240 +11240 +zbig\\.bin$")))
            << sevenList;
        const std::string quoted = shellQuote(image);
        EXPECT_EQ(whole, mustRun("7z e -so " + quoted + " zbig.bin 2>/dev/null"));
        EXPECT_EQ(whole, mustRun("isoinfo -i " + quoted + " -x /zbig.bin"));
        const std::string extracted = temp / "by-xorriso";
        mustRun("xorriso -osirrox on -indev " + quoted + " -extract /zbig.bin " +
                shellQuote(extracted) + " 2>/dev/null");
        EXPECT_EQ(whole, readFile(extracted));
        fs::remove(extracted);
        // isoinfo lists records, not files: the three records, in order, as xorriso's.
        EXPECT_EQ(recordSizes(multiExtentImage()), recordSizes(image));
    }

    // The sizes of the zbig.bin records as isoinfo lists them.
    static std::vector<std::string> recordSizes(const std::string& image) {
        std::vector<std::string> sizes;
        for (const std::string& line : linesWith(isoinfoListing(image), "zbig.bin")) {
            std::smatch size;
            if (std::regex_search(line, size, std::regex(" (\\d+) [A-Z][a-z][a-z] "))) {
                sizes.push_back(size[1]);
            }
        }
        return sizes;
    }

    TempDir temp;
    std::string source, plain, boot, whole;
};

}  // namespace

TEST_F(MultiExtentTest, StandInIsOneFileToEveryReaderBeforeThePack) {
    // The patched image is what the rest relies on: one file of three records.
    expectOneWholeFile(multiExtentImage());
    EXPECT_EQ((std::vector<std::string>{"4096", "6144", "1000"}), recordSizes(multiExtentImage()));
}

TEST_F(MultiExtentTest, PackKeepsTheRecordsTogetherInOrderAndTheBytes) {
    const std::string input = multiExtentImage();
    const std::string output = temp / "out.iso";
    writeFile(temp / "NEW.TXT", "new\n");
    std::string lines;
    {
        ISOModifier modifier(input);
        lines = captureStdout([&] {
            EXPECT_EQ(0, modifier.AddSingleFile(temp / "NEW.TXT", "\\zbig.bim", true));
            EXPECT_EQ(0, modifier.AddSingleFile(temp / "NEW.TXT", "\\Z\\NEW.TXT", true));
            EXPECT_EQ(0, modifier.PackImage(output, boot));
        });
    }
    ASSERT_NE(std::string::npos, lines.find("pack ISO image succeeded")) << lines;
    EXPECT_TRUE(contains(lines, "100%\n")) << lines;
    expectOneWholeFile(output);
    const std::string listing = isoinfoListing(output);
    EXPECT_TRUE(std::regex_search(listing, std::regex("zbig\\.bim[^\\n]*\\n[^\\n]*zbig\\.bin")))
        << listing;
    EXPECT_EQ("new\n", isoReadFile(output, "/Z/NEW.TXT"));
    EXPECT_EQ("other\n", isoReadFile(output, "/OTHER.TXT"));
    // The program's own reader takes the file whole as well.
    ISOReader reader(output);
    const std::string retrieved = temp / "retrieved";
    captureStdout([&] { EXPECT_EQ(0, reader.RetrieveFile("\\zbig.bin", retrieved)); });
    EXPECT_EQ(whole, readFile(retrieved));
}

TEST_F(MultiExtentTest, ReplacingTheFileRemovesEveryRecordOfIt) {
    const std::string output = temp / "out.iso";
    writeFile(temp / "huge.bin", "small now\n");
    {
        ISOModifier modifier(multiExtentImage());
        captureStdout([&] {
            EXPECT_EQ(0, modifier.AddSingleFile(temp / "huge.bin", "\\zbig.bin", true));
            EXPECT_EQ(0, modifier.PackImage(output, boot));
        });
    }
    EXPECT_EQ((std::vector<std::string>{"10"}), recordSizes(output));
    EXPECT_EQ("small now\n", mustRun("isoinfo -i " + shellQuote(output) + " -x /zbig.bin"));
    EXPECT_EQ("", isovfyErrors(output));
}

TEST_F(MultiExtentTest, ABrokenChainOfRecordsIsRefusedWithWhere) {
    struct Case {
        std::string names;
        std::vector<uint8_t> flags;
        std::string message;
    };
    const Case cases[] = {
        {"nnn",
         {kMultiExtent, kMultiExtent, kMultiExtent},
         "the last record of the file \"zbig.bin\" has the Multi-Extent flag, but no record "
         "continues it"},
        {"abc",
         {kMultiExtent, 0, 0},
         "does not continue the file \"zbig.bia\", whose previous record has the Multi-Extent "
         "flag"},
    };
    for (const Case& c : cases) {
        ISOReader reader(patched(c.names, c.flags));
        const std::string lines =
            captureStdout([&] { EXPECT_FALSE(reader.FileExists("\\OTHER.TXT")); });
        EXPECT_TRUE(contains(lines, c.message)) << lines;
        EXPECT_TRUE(contains(lines, "directory \\ at block ")) << lines;
    }
}

// In a Rock Ridge image the file's records carry System Use fields, which the new image
// does not write for such a file: the rewrite names what it drops.
TEST_F(MultiExtentTest, ItsSystemUseFieldsAreNamedAsDropped) {
    plain = temp / "rock-ridge.iso";
    makeIsoWithXorriso(source, plain, "boot.bin", {"-R"});
    ISOReader reader(multiExtentImage());
    std::vector<std::string> dropped;
    captureStdout([&] { dropped = reader.DroppedFeatures(); });
    EXPECT_EQ((std::vector<std::string>{"the new image will not keep the System Use fields (Rock "
                                        "Ridge name, mode, times) of \\zbig.bin, a file stored in "
                                        "several records"}),
              dropped);
}
