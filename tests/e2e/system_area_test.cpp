// Whole runs on hybrid CDs, whose System Area lets them boot from a disk: the isohybrid
// MBR of xorriso, a GPT with an EFI partition and grub-mkrescue's images keep it,
// repatched for the new image, and the disk tools accept the result.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <regex>
#include <string>

#include "e2e/real_images.h"
#include "e2e/sample_cd_fixture.h"

namespace fs = boost::filesystem;
using real_images::bootEntries;
using real_images::BootEntry;
using real_images::extentOf;
using real_images::le32;

namespace {

const char kIsolinux[] = "/usr/lib/ISOLINUX/isolinux.bin";
const char kIsohybridMbr[] = "/usr/lib/ISOLINUX/isohdpfx.bin";

class HybridImage : public SampleCdTest {
  protected:
    void SetUp() override {
        SampleCdTest::SetUp();
        if (!fs::exists(kIsolinux) || !fs::exists(kIsohybridMbr)) {
            GTEST_SKIP() << "isolinux is not installed (scripts/setup installs it)";
        }
        fs::create_directories(tree() + "/ISOLINUX");
        fs::copy_file(kIsolinux, tree() + "/ISOLINUX/ISOLINUX.BIN");
    }
    // The sample's tree with isolinux as an isohybrid CD, `extra` options added.
    void makeIsohybrid(const std::string& extra) {
        fs::remove(image());
        e2e::mustRun(
            "xorriso -as mkisofs -quiet -b ISOLINUX/ISOLINUX.BIN -c ISOLINUX/BOOT.CAT "
            "-no-emul-boot -boot-load-size 4 -boot-info-table -isohybrid-mbr " +
            std::string(kIsohybridMbr) + " " + extra + " -o " + shellQuote(image()) + " " +
            shellQuote(tree()) + " 2>&1");
        original = readFile(image());
    }
    // Adds a file large enough that the image grows by megabytes.
    e2e::ProgramRun runAddingLargeFile() {
        writeFile(temp / "big.exe", std::string(3 * 1024 * 1024, 'b'));
        return runHere({"-i", "cd.iso", "-f", "-b", "big.exe"});
    }

    // After `run`, which must succeed, say nothing of `unsaid` and move the boot image away
    // from `oldLba`: the new image's bytes and boot entries.
    void expectMovedBootImage(const e2e::ProgramRun& run, const std::string& unsaid,
                              uint32_t oldLba) {
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_FALSE(contains(run.err, unsaid)) << run.err;
        bytes = readFile(image());
        entries = bootEntries(image());
        ASSERT_FALSE(entries.empty());
        ASSERT_NE(entries[0].lba, oldLba) << "the boot image did not move; the test proves nothing";
    }
    std::string bytes;
    std::vector<BootEntry> entries;
};

}  // namespace

TEST_F(HybridImage, AnIsohybridMbrNamesTheLoadersNewSectorAndSpansTheNewImage) {
    makeIsohybrid("");
    const uint32_t oldLba = bootEntries(image()).at(0).lba;
    ASSERT_EQ(le32(original, 432), oldLba * 4);

    ASSERT_NO_FATAL_FAILURE(expectMovedBootImage(runFirewall(), "System Area", oldLba));
    // It names the loader file, which holds the whole loader (the boot image's copy holds
    // its Sector Count).
    EXPECT_EQ(le32(bytes, 432), extentOf(image(), "/ISOLINUX/ISOLINUX.BIN") * 4);
    EXPECT_EQ(le32(bytes, 436), 0u);
    // The boot code and the disk signature are the old ones.
    EXPECT_EQ(bytes.substr(0, 432), original.substr(0, 432));
    EXPECT_EQ(bytes.substr(440, 6), original.substr(440, 6));
    // Partition 1 starts at 0 and ends with the new image.
    EXPECT_EQ(le32(bytes, 446 + 8), 0u);
    EXPECT_EQ(le32(bytes, 446 + 12), bytes.size() / 512);
    if (test_support::haveTool("fdisk")) {
        const std::string listed = e2e::mustRun("fdisk -l " + shellQuote(image()) + " 2>&1");
        EXPECT_TRUE(contains(listed, std::to_string(bytes.size()) + " bytes")) << listed;
        const std::regex partition("cd\\.iso1 +\\* +0 +" + std::to_string(bytes.size() / 512 - 1) +
                                   " ");
        EXPECT_TRUE(std::regex_search(listed, partition)) << listed;
    }
}

TEST_F(HybridImage, AGptWithAnEfiPartitionFollowsTheEfiImageWithNoNewSgdiskProblem) {
    if (!test_support::haveTool("mformat") || !test_support::haveTool("sgdisk")) {
        GTEST_SKIP() << "mtools or gdisk is not installed (scripts/setup installs them)";
    }
    real_images::makeFatImage(tree() + "/EFI/EFI.IMG", "::/EFI/BOOT/BOOTX64.EFI");
    makeIsohybrid("-eltorito-alt-boot -e EFI/EFI.IMG -no-emul-boot -isohybrid-gpt-basdat");
    ASSERT_EQ(original.substr(512, 8), "EFI PART");
    const std::string efiImage = readFile(tree() + "/EFI/EFI.IMG");
    const uint32_t oldEfiLba = extentOf(image(), "/EFI/EFI.IMG");

    const e2e::ProgramRun run = runAddingLargeFile();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_FALSE(contains(run.err, "System Area")) << run.err;
    bytes = readFile(image());
    // The volume counts the backup GPT: the file is as long as the descriptor says.
    EXPECT_EQ(uint64_t(le32(bytes, 16 * 2048 + 80)) * 2048, bytes.size());

    // xorriso's own layout makes sgdisk find overlaps (partition 1 spans the image, the
    // GPT included): the new image has no other problem.
    auto problems = [](const std::string& file) {
        const std::string said =
            test_support::runCommand("sgdisk -v " + shellQuote(file) + " 2>&1").output;
        std::vector<std::string> lines;
        const std::regex problem("(Problem|Warning)[^\\n]*");
        for (std::sregex_iterator it(said.begin(), said.end(), problem), end; it != end; ++it) {
            lines.push_back(it->str());
        }
        return lines;
    };
    writeFile(temp / "old.iso", original);
    EXPECT_EQ(problems(image()), problems(temp / "old.iso"));
    // The EFI partition starts at the EFI image's new sector, and holds its bytes.
    const uint32_t efiLba = extentOf(image(), "/EFI/EFI.IMG");
    ASSERT_NE(efiLba, oldEfiLba) << "the EFI image did not move; the test proves nothing";
    // (sgdisk does not list these tables at all: xorriso is asked.)
    const std::string report =
        e2e::mustRun("xorriso -indev " + shellQuote(image()) + " -report_system_area plain 2>&1");
    const std::regex efiLine("GPT start and size : +\\d+ +" + std::to_string(efiLba * 4) + " +" +
                             std::to_string(efiImage.size() / 512) + "\\n");
    EXPECT_TRUE(std::regex_search(report, efiLine)) << report << "EFI image at block " << efiLba;
    EXPECT_TRUE(contains(report, "GPT lba range      :      64  " +
                                     std::to_string(bytes.size() / 512 - 64) + "  " +
                                     std::to_string(bytes.size() / 512 - 1) + "\n"))
        << report;
    EXPECT_EQ(bytes.substr(uint64_t(efiLba) * 2048, efiImage.size()), efiImage);
    // The MBR still boots isolinux at its new place.
    EXPECT_EQ(le32(bytes, 432), extentOf(image(), "/ISOLINUX/ISOLINUX.BIN") * 4);
}

// grub-mkrescue's CD: GRUB's MBR names its El Torito image's sector + 4, a GPT holds the
// EFI partition, and an Apple partition map with an HFS+ volume (which the new image does
// not have: its partitions go, and are named).
TEST_F(HybridImage, GrubMkrescuesMbrAndGptFollowTheirImages) {
    if (!test_support::haveTool("grub-mkrescue") || !fs::exists("/usr/lib/grub/i386-pc") ||
        !test_support::haveTool("mformat") || !test_support::haveTool("sgdisk")) {
        GTEST_SKIP() << "grub-pc-bin, mtools or gdisk is not installed (scripts/setup installs "
                        "them)";
    }
    fs::remove_all(tree() + "/ISOLINUX");
    e2e::makeGrubRescueCd(tree(), image(), "echo WINPE-GRUB\nhalt\n");
    original = readFile(image());
    const uint32_t oldLba = bootEntries(image()).at(0).lba;
    ASSERT_EQ(le32(original, 432), oldLba * 4 + 4);

    const e2e::ProgramRun run = runAddingLargeFile();
    ASSERT_NO_FATAL_FAILURE(expectMovedBootImage(run, "the System Area of the old image", oldLba));
    // GRUB's core follows the loader's El Torito sectors in the file.
    EXPECT_EQ(le32(bytes, 432), extentOf(image(), "/BOOT/GRUB/I386_PC/ELTORITO.IMG") * 4 + 4);
    // The protective partition spans the new image from sector 1.
    EXPECT_EQ(le32(bytes, 446 + 8), 1u);
    EXPECT_EQ(le32(bytes, 446 + 12), bytes.size() / 512 - 1);
    const std::string verified = e2e::mustRun("sgdisk -v " + shellQuote(image()) + " 2>&1");
    EXPECT_TRUE(contains(verified, "No problems found")) << verified;
    const std::string listed = e2e::mustRun("sgdisk -p " + shellQuote(image()) + " 2>&1");
    if (entries.size() > 1) {
        // The EFI partition (grub-efi-amd64-bin installed) follows the UEFI entry's image.
        const std::regex efiLine(" +\\d+ +" + std::to_string(entries[1].lba * 4) +
                                 " +\\d+ .* EF00 ");
        EXPECT_TRUE(std::regex_search(listed, efiLine)) << listed;
    }
    if (contains(original.substr(2048, 2), "PM")) {
        EXPECT_TRUE(contains(run.err, "the Apple partition map of the old image")) << run.err;
        EXPECT_NE(bytes.substr(2048, 2), "PM");
    }
}
