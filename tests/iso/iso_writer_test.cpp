// Packing local trees and checking the images with third-party tools.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <regex>
#include <string>

#include "iso/byte_order.h"
#include "iso/iso_writer.h"
#include "iso/iso_writer_checks.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

using namespace writer_checks;
using namespace test_support;

namespace {

struct Pack {
    int result = -1;
    std::string output;
};

Pack pack(const std::string& directory, const std::string& image, const std::string& boot) {
    Pack outcome;
    outcome.output = captureStdout([&] {
        ISOWriter writer(directory, "");
        outcome.result = writer.PackImage(image, boot);
    });
    return outcome;
}

std::vector<uint8_t> imageBytes(const std::string& image, uint64_t offset, size_t count) {
    const std::vector<uint8_t> all = readBytes(image);
    return std::vector<uint8_t>(all.begin() + static_cast<std::ptrdiff_t>(offset),
                                all.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

// The extent isoinfo lists for an entry named `name`.
uint32_t listedExtent(const std::string& listing, const std::string& name) {
    const std::regex line("\\[\\s*(\\d+)\\s+\\d+\\]\\s+" + name + "\\s*\\n");
    std::smatch match;
    if (!std::regex_search(listing, match, line)) {
        ADD_FAILURE() << name << " is not listed:\n" << listing;
        return 0;
    }
    return static_cast<uint32_t>(std::stoul(match[1]));
}

const std::string kMarks =
    "0%.........10%.........20%.........30%.........40%.........50%.........60%........."
    "70%.........80%.........90%.........100%\n";

// The lines of a pack with a boot image: each step's start and end.
std::string packLines() {
    std::string lines = "pack the ISO image ...\n";
    for (const char* step :
         {"load source directory & boot image file", "write system reserved sector",
          "write primary volume descriptor", "write boot record",
          "write volume descriptor set terminator", "write boot image", "write path tables",
          "write directory record and files"}) {
        const std::string name = step;
        lines += "  " + name + " ...\n" +
                 (name == "write directory record and files" ? kMarks : "") + "  " + name +
                 " done\n";
    }
    return lines + "pack ISO image succeeded\n";
}

class WriterPack : public testing::Test {
  protected:
    void SetUp() override {
        makeBootImage(temp / "boot.bin");
        tree = temp / "tree";
        writeFile(tree + "/readme.txt", "lower-case name, no version suffix\n");
        writeFile(tree + "/Mixed Case.Data", patternBytes(100000, 1));
        writeFile(tree + "/sub/f2049.bin", patternBytes(2049, 2));
        writeFile(tree + "/sub/empty.txt", "");
        writeFile(tree + "/sub/deeper/still/last.bin", patternBytes(4096, 3));
        boost::filesystem::create_directories(tree + "/emptydir");
    }

    TempDir temp;
    std::string tree;
};

}  // namespace

TEST_F(WriterPack, ImageGivesBackEveryFileAndBootsWithTheBootImage) {
    const std::string image = temp / "out.iso";
    const Pack outcome = pack(tree, image, temp / "boot.bin");
    ASSERT_EQ(0, outcome.result) << outcome.output;
    EXPECT_EQ(packLines(), outcome.output);

    EXPECT_EQ("", isovfyErrors(image));
    extractAll(image, temp / "extracted");
    EXPECT_EQ("", treeDifferences(tree, temp / "extracted"));
    EXPECT_EQ(readFile(tree + "/sub/f2049.bin"), isoReadFile(image, "/sub/f2049.bin"));

    const std::string listing = isoinfoListing(image);
    EXPECT_TRUE(contains(listing, " readme.txt \n")) << listing;
    EXPECT_TRUE(contains(listing, " Mixed Case.Data \n")) << listing;
    // An empty directory holds its two dot records only.
    EXPECT_TRUE(std::regex_search(listing, std::regex(" 68 [^\\n]*\\]\\s+emptydir"))) << listing;

    const std::string descriptor = isoinfoDescriptor(image);
    EXPECT_TRUE(contains(descriptor, "Volume id: CD_ROM\n")) << descriptor;
    EXPECT_TRUE(contains(descriptor, "Publisher id: TARVEN CORPORATION\n"));
    EXPECT_TRUE(contains(descriptor, "Data preparer id: TARVEN CORPORATION, VELDRAN, CA"));
    EXPECT_TRUE(contains(descriptor, "Application id: zoriz\n"));

    // The second block of a 2049-byte file holds one data byte, then zeros.
    const uint32_t extent = listedExtent(listing, "f2049.bin");
    const std::vector<uint8_t> second = imageBytes(image, (uint64_t(extent) + 1) * 2048, 2048);
    EXPECT_EQ(patternBytes(2049, 2).back(), second[0]);
    EXPECT_EQ(std::vector<uint8_t>(2047, 0),
              std::vector<uint8_t>(second.begin() + 1, second.end()));

    // The boot catalog: the Validation Entry as given, then a no-emulation entry of four
    // virtual sectors at the block El Torito readers find the boot image at.
    const std::string report = elToritoReport(image);
    const std::regex bootLine(
        "El Torito boot img :\\s+1\\s+BIOS\\s+y\\s+none\\s+0x0000\\s+0x00\\s+4\\s+(\\d+)");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(report, match, bootLine)) << report;
    const std::vector<uint8_t> catalog = imageBytes(image, 19 * 2048, 64);
    const std::vector<uint8_t> validation = {
        1,   0,   0,   0,   'M', 'i', 'c', 'r', 'o', 's', 'o', 'f', 't',  ' ',  'C',  'o',
        'r', 'p', 'o', 'r', 'a', 't', 'i', 'o', 'n', 0,   0,   0,   0x4C, 0x49, 0x55, 0xAA};
    EXPECT_EQ(validation, std::vector<uint8_t>(catalog.begin(), catalog.begin() + 32));
    EXPECT_EQ(std::stoul(match[1]), iso_bytes::getLe32(catalog.data(), 32 + 8));
    EXPECT_EQ(readBytes(temp / "boot.bin"),
              imageBytes(image, uint64_t(std::stoul(match[1])) * 2048, 2048));

    EXPECT_TRUE(contains(bootInQemu(image), "WINPE-ISO BOOT OK"));
}

TEST_F(WriterPack, WithoutBootImageTheTerminatorAndPathTablesMoveUp) {
    const std::string image = temp / "plain.iso";
    const Pack outcome = pack(tree, image, "");
    ASSERT_EQ(0, outcome.result) << outcome.output;
    EXPECT_FALSE(contains(outcome.output, "boot record")) << outcome.output;
    EXPECT_FALSE(contains(outcome.output, "boot image ...")) << outcome.output;
    EXPECT_EQ("", isovfyErrors(image));
    const std::vector<uint8_t> descriptors = imageBytes(image, 16 * 2048, 2 * 2048);
    EXPECT_EQ(1, descriptors[0]);
    EXPECT_EQ(255, descriptors[2048]);
    EXPECT_EQ(18u, iso_bytes::getLe32(descriptors.data(), 140));
    // The image is exactly as long as its Volume Space Size says.
    EXPECT_EQ(uint64_t(iso_bytes::getLe32(descriptors.data(), 80)) * 2048,
              boost::filesystem::file_size(image));
    extractAll(image, temp / "extracted");
    EXPECT_EQ("", treeDifferences(tree, temp / "extracted"));
}

TEST_F(WriterPack, DirectoryOfExactlyOneBlockOfRecordsAndOneRecordMore) {
    // "full": 2048 bytes of records exactly; "spilled": one 66-byte record more.
    const std::string boundaries = temp / "boundaries";
    for (int i = 0; i < 31; ++i) {
        const std::string name = std::string(30, 'n') + std::to_string(100 + i);
        if (i < 30) {
            writeFile(boundaries + "/full/" + name, std::to_string(i));
        }
        writeFile(boundaries + "/spilled/" + name, std::to_string(i));
    }
    const std::string image = temp / "boundaries.iso";
    const Pack outcome = pack(boundaries, image, "");
    ASSERT_EQ(0, outcome.result) << outcome.output;
    EXPECT_EQ("", isovfyErrors(image));
    extractAll(image, temp / "extracted");
    EXPECT_EQ("", treeDifferences(boundaries, temp / "extracted"));

    const std::string listing = isoinfoListing(image);
    EXPECT_TRUE(std::regex_search(listing, std::regex(" 2048 [^\\n]*\\]\\s+full\\s*\\n")))
        << listing;
    EXPECT_TRUE(std::regex_search(listing, std::regex(" 2114 [^\\n]*\\]\\s+spilled\\s*\\n")))
        << listing;
}

TEST_F(WriterPack, PathTableOfExactly2048BytesTakesTwoBlocksPerTable) {
    const std::string tables = temp / "tables";
    // 10 + 111 * 18 + 4 * 10 = 2048.
    for (int i = 0; i < 111; ++i) {
        boost::filesystem::create_directories(tables + "/D" + std::to_string(100000000 + i));
    }
    for (int i = 0; i < 4; ++i) {
        boost::filesystem::create_directories(tables + "/E" + std::to_string(i));
    }
    const std::string image = temp / "tables.iso";
    const Pack outcome = pack(tables, image, "");
    ASSERT_EQ(0, outcome.result) << outcome.output;
    const std::vector<uint8_t> pvd = imageBytes(image, 16 * 2048, 2048);
    EXPECT_EQ(2048u, iso_bytes::getLe32(pvd.data(), 132));
    EXPECT_EQ(18u, iso_bytes::getLe32(pvd.data(), 140));
    EXPECT_EQ(20u, iso_bytes::getBe32(pvd.data(), 148));
    EXPECT_EQ("", isovfyErrors(image));
    extractAll(image, temp / "extracted");
    EXPECT_EQ("", treeDifferences(tables, temp / "extracted"));
}

TEST_F(WriterPack, BootImageOfOneByteMoreThanABlockFails) {
    writeFile(temp / "boot2049.bin", patternBytes(2049, 9));
    const Pack outcome = pack(tree, temp / "out.iso", temp / "boot2049.bin");
    EXPECT_EQ(1, outcome.result);
    EXPECT_TRUE(contains(outcome.output, "\n  write boot image ...\n"));
    EXPECT_TRUE(contains(outcome.output, "\n  write boot image failed - IO error\n"))
        << outcome.output;
    EXPECT_FALSE(contains(outcome.output, "succeeded"));
}

TEST_F(WriterPack, MissingSourcesFailThePack) {
    const struct {
        std::string directory, image, boot;
        std::vector<std::string> lines;
    } cases[] = {
        {temp / "no-such-directory",
         temp / "out.iso",
         "",
         {"\n  load source directory & boot image file failed - can not load souce directory\n"}},
        {tree,
         temp / "out.iso",
         temp / "no-such-boot.bin",
         {"  load source directory & boot image file failed - IO exception: ",
          "  write boot image failed - IO error\n"}},
        {tree,
         temp / "no-such-directory/out.iso",
         "",
         {"pack the ISO image ...\npack ISO image failed, IO exception: ",
          "  write system reserved sector failed - IO error\n"}},
    };
    for (const auto& c : cases) {
        const Pack outcome = pack(c.directory, c.image, c.boot);
        EXPECT_EQ(1, outcome.result);
        for (const std::string& line : c.lines) {
            EXPECT_TRUE(contains(outcome.output, line)) << outcome.output;
        }
    }
}

TEST_F(WriterPack, IdentifierTooLongIsRefusedBeforeAnythingIsWritten) {
    writeFile(tree + "/sub/" + std::string(222, 'x'), "too long a name for a directory record");
    const std::string image = temp / "out.iso";
    const Pack outcome = pack(tree, image, temp / "boot.bin");
    EXPECT_EQ(1, outcome.result);
    EXPECT_TRUE(
        contains(outcome.output,
                 " load source directory & boot image file failed - identifier of \"\\sub\\xxx"))
        << outcome.output;
    EXPECT_TRUE(contains(outcome.output, "is 222 bytes long")) << outcome.output;
    EXPECT_EQ(0u, boost::filesystem::file_size(image));
}

TEST_F(WriterPack, WriteFailureUnderAFileSizeLimitFailsThePack) {
    writeFile(tree + "/big.bin", patternBytes(1 << 20, 4));
    const std::string helper = std::string(WINPE_BINARY_DIR) + "/tests/iso_writer_pack_helper";
    auto packLimited = [&](int kibibytes) {
        return runCommand("bash -c " +
                          shellQuote("trap '' XFSZ; ulimit -f " + std::to_string(kibibytes) +
                                     "; exec " + shellQuote(helper) + " pack " + shellQuote(tree) +
                                     " " + shellQuote(temp / "limited.iso") + " " +
                                     shellQuote(temp / "boot.bin")));
    };
    // 16 KiB do not even hold the System Area; 512 KiB end in the middle of the 1 MiB file.
    for (const auto& [kibibytes, failedStep] :
         {std::make_pair(16, "write system reserved sector"),
          std::make_pair(512, "write directory record and file")}) {
        const CommandResult limited = packLimited(kibibytes);
        EXPECT_EQ(1, limited.exitCode) << limited.output;
        EXPECT_TRUE(contains(limited.output, "File too large")) << limited.output;
        EXPECT_TRUE(
            contains(limited.output, "  " + std::string(failedStep) + " failed - IO error\n"))
            << limited.output;
        EXPECT_FALSE(contains(limited.output, "succeeded"));
    }
    // Without a limit the same pack succeeds.
    CommandResult unlimited = packLimited(1 << 20);
    EXPECT_EQ(0, unlimited.exitCode) << unlimited.output;
}

namespace {

class ProgressCounter : public ISOManipulator {
  public:
    explicit ProgressCounter(uint32_t total) { totalBytes = total; }
    using ISOManipulator::advanceProgress;
};

}  // namespace

TEST(WriterProgress, MarksDoNotDependOnHowTheBytesAreCutIntoPieces) {
    uint32_t seed = 12345;
    for (const uint32_t total : {82141u, 77141u, 100u, 3u, 606u * 1024 * 1024 + 17}) {
        for (int round = 0; round < 50; ++round) {
            ProgressCounter counter(total);
            const std::string marks = captureStdout([&] {
                uint32_t left = total;
                while (left > 0) {
                    seed = seed * 1103515245u + 12345u;
                    const uint32_t piece = std::min(left, 1 + (seed >> 8) % (total / 3 + 1));
                    counter.advanceProgress(piece);
                    left -= piece;
                }
            });
            ASSERT_EQ(kMarks, marks) << "total " << total << ", round " << round;
        }
    }
}
