// Whole runs on boot CDs with real loaders (isolinux from Debian's packages), several
// boot catalog entries, emulated floppies, standard ISO 9660 names and Joliet and Rock
// Ridge: what booted before boots after, and what the new image drops is named.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/real_images.h"
#include "e2e/sample_cd_fixture.h"

namespace fs = boost::filesystem;
using real_images::bootEntries;
using real_images::BootEntry;
using real_images::extentOf;
using real_images::imageBytes;
using real_images::le32;

namespace {

// GRUB's El Torito loader file in grub-mkrescue's image.
const char kGrubLoader[] = "/BOOT/GRUB/I386_PC/ELTORITO.IMG";

class RealImage : public SampleCdTest {
  protected:
    // The sample CD's tree made again into cd.iso by `maker` with `args`.
    void remake(const std::string& maker, const std::string& args) {
        fs::remove(image());
        e2e::mustRun(maker + " -quiet " + args + " -o " + shellQuote(image()) + " " +
                     shellQuote(tree()) + " 2>&1");
        original = readFile(image());
    }
    // The boot lines of --list, without their "boot N ": "PLATFORM MEDIA BLOCK SIZE".
    std::vector<std::string> listedBootEntries() {
        const e2e::ProgramRun listed = runProgram(temp.path(), {"-i", "cd.iso", "--list"});
        EXPECT_EQ(listed.exitCode, 0) << listed.err;
        std::vector<std::string> entries;
        const std::regex bootLine(R"(^boot \d+ (.*)$)");
        std::smatch m;
        std::istringstream lines(listed.out);
        for (std::string line; std::getline(lines, line);) {
            if (std::regex_match(line, m, bootLine)) {
                entries.push_back(m[1]);
            }
        }
        return entries;
    }
    std::string hostFile(const std::string& relative) const { return tree() + "/" + relative; }
};

}  // namespace

TEST_F(RealImage, AUefiEntryKeepsItsImageBytesAtTheFilesNewBlock) {
    if (!test_support::haveTool("mformat")) {
        GTEST_SKIP() << "mtools is not installed (scripts/setup installs it)";
    }
    real_images::makeFatImage(hostFile("EFI/EFI.IMG"), "::/EFI/BOOT/BOOTX64.EFI");
    remake("xorriso -as mkisofs",
           "--norock -untranslated-filenames -iso-level 3 -b BOOT/HELLO.BIN -no-emul-boot "
           "-boot-load-size 4 -c BOOT/BOOT.CAT -eltorito-alt-boot -e EFI/EFI.IMG -no-emul-boot");
    ASSERT_EQ(bootEntries(image()).size(), 2u);

    const e2e::ProgramRun run = runFirewall();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<BootEntry> entries = bootEntries(image());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].platform, "BIOS");
    EXPECT_EQ(entries[1].platform, "UEFI");
    EXPECT_EQ(entries[1].sectors, 2880u);
    EXPECT_EQ(entries[1].lba, extentOf(image(), "/EFI/EFI.IMG"));
    EXPECT_EQ(imageBytes(image(), entries[1].lba, 1474560), readFile(hostFile("EFI/EFI.IMG")));
    EXPECT_EQ(listedBootEntries(),
              (std::vector<std::string>{"0x00 0 " + std::to_string(entries[0].lba) + " 2048",
                                        "0xEF 0 " + std::to_string(entries[1].lba) + " 1474560"}));
    // The BIOS entry still boots the sample's own boot image.
    std::string console;
    if (test_support::haveTool("qemu-system-x86_64")) {
        EXPECT_TRUE(e2e::bootsUnderQemu(image(), console)) << console;
    }
}

TEST_F(RealImage, EmulatedDisksKeepTheirWholeImageMediaTypeAndSectorCount) {
    if (!test_support::haveTool("mformat")) {
        GTEST_SKIP() << "mtools is not installed (scripts/setup installs it)";
    }
    real_images::makeFatImage(hostFile("BOOT/FLOPPY.IMG"), "::/HELLO.TXT");
    // A hard disk image: an MBR with one partition of 2000 sectors from sector 63.
    std::string disk(512, '\0');
    disk[510] = '\x55';
    disk[511] = '\xAA';
    const char partition[16] = {'\x80', 1, 1, 0, 6, '\xFE', 63, 32, 63, 0, 0, 0, '\xD0', 7, 0, 0};
    disk.replace(446, 16, partition, 16);
    for (size_t i = 512; i < (63 + 2000) * 512; ++i) {
        disk.push_back(static_cast<char>(i * 13));
    }
    writeFile(hostFile("BOOT/HD.IMG"), disk);
    struct Case {
        const char* args;
        const char* file;
        const char* media;
        size_t bytes;
        const char* mediaType;
    };
    for (const Case& c :
         {Case{"-b BOOT/FLOPPY.IMG", "BOOT/FLOPPY.IMG", "fd1.4", 1474560, "2"},
          Case{"-hard-disk-boot -b BOOT/HD.IMG", "BOOT/HD.IMG", "hd", disk.size(), "4"}}) {
        remake("xorriso -as mkisofs",
               std::string("--norock -untranslated-filenames -iso-level 3 ") + c.args +
                   " -c BOOT/BOOT.CAT");
        ASSERT_EQ(bootEntries(image()).at(0).media, c.media);

        const e2e::ProgramRun run = runFirewall();
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        const std::vector<BootEntry> entries = bootEntries(image());
        ASSERT_EQ(entries.size(), 1u) << c.media;
        EXPECT_EQ(entries[0].media, c.media);
        EXPECT_EQ(entries[0].sectors, 1u) << c.media;
        EXPECT_EQ(imageBytes(image(), entries[0].lba, c.bytes), readFile(hostFile(c.file)))
            << c.media;
        EXPECT_EQ(listedBootEntries(),
                  std::vector<std::string>{std::string("0x00 ") + c.mediaType + " " +
                                           std::to_string(entries[0].lba) + " " +
                                           std::to_string(c.bytes)});
        fs::remove(image() + ".bak");
    }
}

// grub-mkrescue's loader carries a boot info table and GRUB's own pointer to itself at
// byte 2548 (its block x 4 + 5): both name the loader file's new block after a run, in
// the file's copy and in the boot image.
TEST_F(RealImage, GrubsBootInfoTableAndPointerNameTheLoadersNewBlock) {
    if (!test_support::haveTool("grub-mkrescue") || !fs::exists("/usr/lib/grub/i386-pc") ||
        !test_support::haveTool("mformat")) {
        GTEST_SKIP() << "grub-pc-bin or mtools is not installed (scripts/setup installs them)";
    }
    e2e::makeGrubRescueCd(tree(), image(), "echo WINPE-GRUB\nhalt\n");
    const uint32_t oldBlock = extentOf(image(), kGrubLoader);
    const size_t oldEntries = bootEntries(image()).size();

    const e2e::ProgramRun run = runFirewall();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const uint32_t newBlock = extentOf(image(), kGrubLoader);
    ASSERT_NE(newBlock, oldBlock);
    // With grub-efi-amd64-bin installed there is a UEFI entry too, outside the tree.
    EXPECT_EQ(bootEntries(image()).size(), oldEntries);
    const std::string file = imageBytes(image(), newBlock, 4096);
    EXPECT_EQ(le32(file, 12), newBlock);
    EXPECT_EQ(le32(file, 2548), newBlock * 4 + 5);
    EXPECT_EQ(le32(file, 2552), 0u);
    const std::vector<BootEntry> entries = bootEntries(image());
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(le32(imageBytes(image(), entries[0].lba, 2048), 12), newBlock);
}

TEST_F(RealImage, GenisoimageDefaultNamesAreFoundChangedAndListedOnce) {
    remake("genisoimage", "-b BOOT/HELLO.BIN -no-emul-boot -boot-load-size 4 -c BOOT/BOOT.CAT");
    const std::vector<std::string> before = e2e::listImage(image());
    ASSERT_NE(std::find(before.begin(), before.end(), "/I386/SYSTEM32/CONFIG/DEFAULT.;1"),
              before.end());

    const e2e::ProgramRun run = runFirewall();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::vector<std::string> after = e2e::listImage(image());
    EXPECT_EQ(after, before);  // sorted: one entry per name, with the names it had
    EXPECT_NE(readFromImage(image(), "/WINBOM.INI;1").find("WinPEFirewall=off"), std::string::npos);
    // 7-Zip shows WINBOM.INI;1 as WINBOM.INI: once.
    const std::string listing = e2e::mustRun("7z l " + shellQuote(image()));
    const std::regex winbom(" WINBOM\\.INI\\r?\\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(listing.begin(), listing.end(), winbom),
                            std::sregex_iterator()),
              1)
        << listing;
}

// An MBR that names nothing of the image is named before the pack and zeroed; Joliet, Rock
// Ridge and the hidden entry are kept, so they are not named.
TEST_F(RealImage, AnUnknownMbrIsNamedBeforeThePackWhatIsKeptIsNot) {
    writeFile(hostFile("DOCS/A long file name.txt"), "long\n");
    writeFile(hostFile("DOCS/SECRET.TXT"), "hidden\n");
    fs::create_symlink("README.TXT", hostFile("DOCS/LINK.TXT"));
    // An MBR in the System Area, as isohybrid CDs have one.
    std::string mbr(512, '\0');
    mbr[0] = '\xEB';
    mbr[510] = '\x55';
    mbr[511] = '\xAA';
    writeFile(temp / "mbr.bin", mbr);
    remake("genisoimage",
           "-R -J -hidden SECRET.TXT -G " + shellQuote(temp / "mbr.bin") +
               " -b BOOT/HELLO.BIN -no-emul-boot -boot-load-size 4 -c BOOT/BOOT.CAT");
    const e2e::ProgramRun run = runFirewall();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err,
              "Warning: the new image will not keep the System Area of the old image (an MBR): the "
              "new image will not boot from a USB stick\n");
    // The pack then goes on.
    EXPECT_TRUE(contains(run.out, "Log: pack image file back succeeded\n")) << run.out;
    EXPECT_EQ(readFile(image()).substr(0, 32768), std::string(32768, '\0'));
    EXPECT_NE(readFromImage(image(), "/WINBOM.INI").find("WinPEFirewall=off"), std::string::npos);
}

// The old Joliet names stay, an added entry gets its local name, the file a run edits
// keeps its Joliet name, the hidden entry stays hidden with its bytes, and every
// unchanged file reads the same through the Joliet names, for both makers.
TEST_F(RealImage, JolietNamesAndHiddenEntriesSurviveARun) {
    writeFile(hostFile("DOCS/A long file name.txt"), "long\n");
    writeFile(hostFile("DOCS/SECRET.TXT"), "hidden\n");
    writeFile(temp / "add/New tools/Another long name.txt", "added\n");
    const std::string pristine = tree() + ".pristine";
    fs::create_directory(pristine);
    e2e::mustRun("cp -a " + shellQuote(tree()) + "/. " + shellQuote(pristine));
    // xorriso leaves a hidden file out instead of marking it: only genisoimage marks one.
    const struct {
        std::string maker;
        bool hides;
    } makers[] = {{"genisoimage", true}, {"xorriso -as mkisofs", false}};
    for (const auto& m : makers) {
        SCOPED_TRACE(m.maker);
        fs::remove_all(tree());
        e2e::mustRun("cp -a " + shellQuote(pristine) + " " + shellQuote(tree()));
        remake(m.maker, std::string("-R -J ") + (m.hides ? "-hidden SECRET.TXT " : "") +
                            "-b BOOT/HELLO.BIN -no-emul-boot -boot-load-size 4 -c BOOT/BOOT.CAT");
        const std::vector<std::string> before = e2e::listImage(image(), "-J");
        ASSERT_NE(std::find(before.begin(), before.end(), "/DOCS/A long file name.txt"),
                  before.end());
        const e2e::ProgramRun run = runHere({"-i", "cd.iso", "-f", "-X", "add/New tools%\\DOCS"});
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_FALSE(contains(run.err, "Joliet")) << run.err;
        EXPECT_FALSE(contains(run.err, "hidden")) << run.err;

        std::vector<std::string> expected = before;
        expected.push_back("/DOCS/New tools");
        expected.push_back("/DOCS/New tools/Another long name.txt");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(e2e::listImage(image(), "-J"), expected);
        const std::string old = image() + ".bak";
        for (const std::string& path : before) {
            const std::string extract = "isoinfo -J -x " + shellQuote(path) + " -i ";
            if (path == "/WINBOM.INI") {
                continue;
            }
            EXPECT_EQ(e2e::mustRun(extract + shellQuote(image())),
                      e2e::mustRun(extract + shellQuote(old)))
                << path;
        }
        EXPECT_TRUE(contains(e2e::mustRun("isoinfo -J -x /WINBOM.INI -i " + shellQuote(image())),
                             "WinPEFirewall=off"));
        EXPECT_EQ(e2e::mustRun("isoinfo -J -x '/DOCS/New tools/Another long name.txt' -i " +
                               shellQuote(image())),
                  "added\n");
        // The hidden mark (flags 01 after the extent) in both trees, and the bytes.
        for (const std::string joliet : {"", "-J "}) {
            if (!m.hides) {
                break;
            }
            const std::string listing =
                e2e::mustRun("isoinfo " + joliet + "-l -i " + shellQuote(image()));
            const std::regex secret(R"(\[ *\d+ 01\]  SECRET\.TXT)");
            EXPECT_TRUE(std::regex_search(listing, secret)) << joliet << listing;
        }
        EXPECT_EQ(e2e::mustRun("isoinfo -J -x /DOCS/SECRET.TXT -i " + shellQuote(image())),
                  "hidden\n");
        const std::string verify = e2e::mustRun("isovfy " + shellQuote(image()));
        EXPECT_TRUE(contains(verify, "No errors found")) << verify;
        // 7-Zip reads the Joliet tree where there is one.
        if (test_support::haveTool("7z")) {
            const std::string listing = e2e::mustRun("7z l " + shellQuote(image()));
            EXPECT_TRUE(contains(listing, "DOCS/A long file name.txt")) << listing;
            EXPECT_TRUE(contains(listing, "DOCS/New tools/Another long name.txt")) << listing;
        }
        fs::remove(old);
    }
}

// A local name that differs from an image entry only in letter case is a clash: the
// question is asked, and with no answer the run ends with the image as it was.
TEST_F(FailedRun, AddingI386AsksAboutTheImagesI386AndAbortsOnEndOfInput) {
    writeFile(temp / "i386/NOTE.TXT", "note\n");
    const e2e::ProgramRun result = run({"-i", "cd.iso", "-X", "i386%"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.out, "change the destination")) << result.out;
    EXPECT_TRUE(contains(result.err, "i386")) << result.err;
    expectNothingLeft();
}
