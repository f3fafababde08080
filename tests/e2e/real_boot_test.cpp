// Boots under QEMU before and after a run: an isolinux CD whose loader carries a boot
// info table (the table must name the loader file's new block) from the BIOS, and a CD
// whose second catalog entry is a UEFI image (OVMF). Slow: two boots each under TCG.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <string>

#include "e2e/real_images.h"
#include "e2e/sample_cd_fixture.h"

namespace fs = boost::filesystem;

namespace {

const char kIsolinux[] = "/usr/lib/ISOLINUX/isolinux.bin";
const char kModules[] = "/usr/lib/syslinux/modules/bios";
const char kIsohybridMbr[] = "/usr/lib/ISOLINUX/isohdpfx.bin";

// What QEMU booting `drive` prints on the serial port within a minute (isolinux powers
// the machine off after its banner, so a good boot ends at once; a bad one runs into the
// limit).
std::string qemuConsole(const std::string& drive) {
    return test_support::runCommand("timeout 60 qemu-system-x86_64 " + drive +
                                    " -m 64 -display none -serial stdio -no-reboot")
        .output;
}
std::string serialConsole(const std::string& image) {
    return qemuConsole("-cdrom " + shellQuote(image) + " -boot d");
}
// The image as the machine's first hard disk.
std::string diskConsole(const std::string& image) {
    return qemuConsole("-drive file=" + shellQuote(image) + ",format=raw,if=ide -boot c");
}

// The sample's tree with isolinux, its modules and a configuration that powers off, made
// into cd.iso by xorriso with `extra` options.
void makeIsolinuxCd(const std::string& tree, const std::string& image, const std::string& extra) {
    // isolinux finds its files by these lower-case names on a CD without Rock Ridge.
    const std::string loader = tree + "/isolinux";
    fs::create_directories(loader);
    fs::copy_file(kIsolinux, loader + "/isolinux.bin");
    for (const char* module : {"ldlinux.c32", "poweroff.c32", "libcom32.c32", "libutil.c32"}) {
        fs::copy_file(std::string(kModules) + "/" + module, loader + "/" + module);
    }
    test_support::writeFile(loader + "/isolinux.cfg",
                            "SERIAL 0 115200\nPROMPT 0\nTIMEOUT 1\nDEFAULT off\nLABEL off\n"
                            "  COM32 poweroff.c32\n");
    fs::remove(image);
    e2e::mustRun(
        "xorriso -as mkisofs -quiet --norock -untranslated-filenames -iso-level 3 "
        "-b isolinux/isolinux.bin -c isolinux/boot.cat -no-emul-boot "
        "-boot-load-size 4 -boot-info-table " +
        extra + " -o " + shellQuote(image) + " " + shellQuote(tree) + " 2>&1");
}

bool haveIsolinux() {
    return test_support::haveTool("qemu-system-x86_64") && fs::exists(kIsolinux) &&
           fs::exists(std::string(kModules) + "/ldlinux.c32");
}

// The boots of real loaders under QEMU, slow enough to have a label of their own.
class RealBoot : public SampleCdTest {};

}  // namespace

TEST_F(RealBoot, AnIsolinuxCdWithABootInfoTableBootsAfterARun) {
    if (!haveIsolinux()) {
        GTEST_SKIP() << "qemu-system-x86 or isolinux/syslinux-common is not installed "
                        "(scripts/setup installs them)";
    }
    makeIsolinuxCd(tree(), image(), "");
    const std::string banner = "ISOLINUX 6";
    ASSERT_TRUE(contains(serialConsole(image()), banner)) << "the CD does not boot at all";
    const uint32_t oldBlock = real_images::extentOf(image(), "/isolinux/isolinux.bin");

    const e2e::ProgramRun run = runFirewall();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const uint32_t newBlock = real_images::extentOf(image(), "/isolinux/isolinux.bin");
    ASSERT_NE(newBlock, oldBlock) << "the loader did not move; the test proves nothing";
    const std::string console = serialConsole(image());
    EXPECT_TRUE(contains(console, banner)) << console;
    // The loader file's own copy names its block too, like the boot image's.
    const std::string table = real_images::imageBytes(image(), newBlock, 16);
    EXPECT_EQ(static_cast<uint8_t>(table[12]) | static_cast<uint8_t>(table[13]) << 8, newBlock);
}

// An isohybrid CD boots from a raw disk (a USB stick) after a run: its MBR names the boot
// image's new sector.
TEST_F(RealBoot, AnIsohybridCdBootsFromADiskAfterARun) {
    if (!haveIsolinux() || !fs::exists(kIsohybridMbr)) {
        GTEST_SKIP() << "qemu-system-x86 or isolinux/syslinux-common is not installed "
                        "(scripts/setup installs them)";
    }
    makeIsolinuxCd(tree(), image(), std::string("-isohybrid-mbr ") + kIsohybridMbr);
    const std::string banner = "ISOLINUX 6";
    ASSERT_TRUE(contains(diskConsole(image()), banner)) << "the disk does not boot at all";
    const uint32_t oldBlock = real_images::bootEntries(image()).at(0).lba;

    const e2e::ProgramRun run = runFirewall();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    ASSERT_NE(real_images::bootEntries(image()).at(0).lba, oldBlock)
        << "the boot image did not move; the test proves nothing";
    const std::string console = diskConsole(image());
    EXPECT_TRUE(contains(console, banner)) << console;
}

// grub-mkrescue's CD loads GRUB's modules by their Rock Ridge names (/boot/grub/i386-pc):
// after a run it boots to its configuration from the CD and, through GRUB's hybrid MBR,
// from a raw disk.
TEST_F(RealBoot, AGrubMkrescueCdBootsFullyFromCdAndDiskAfterARun) {
    if (!test_support::haveTool("qemu-system-x86_64") || !test_support::haveTool("grub-mkrescue") ||
        !fs::exists("/usr/lib/grub/i386-pc") || !test_support::haveTool("mformat")) {
        GTEST_SKIP() << "qemu-system-x86, grub-pc-bin or mtools is not installed "
                        "(scripts/setup installs them)";
    }
    e2e::makeGrubRescueCd(tree(), image(),
                          "serial --unit=0 --speed=115200\nterminal_input serial\n"
                          "terminal_output serial\necho WINPE-GRUB-OK\nhalt\n");
    const std::string said = "WINPE-GRUB-OK";
    ASSERT_TRUE(contains(serialConsole(image()), said)) << "the CD does not boot at all";
    ASSERT_TRUE(contains(diskConsole(image()), said)) << "the disk does not boot at all";

    const e2e::ProgramRun run = runFirewall();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string cd = serialConsole(image());
    EXPECT_TRUE(contains(cd, said)) << cd;
    const std::string disk = diskConsole(image());
    EXPECT_TRUE(contains(disk, said)) << disk;
}

namespace {

const char kOvmfCode[] = "/usr/share/OVMF/OVMF_CODE_4M.fd";
const char kOvmfVars[] = "/usr/share/OVMF/OVMF_VARS_4M.fd";

// What the CD prints on the serial port when OVMF boots it, with fresh variables.
std::string uefiConsole(const std::string& image, const std::string& vars) {
    boost::filesystem::copy_file(kOvmfVars, vars,
                                 boost::filesystem::copy_options::overwrite_existing);
    return test_support::runCommand(
               "timeout 60 qemu-system-x86_64 -machine q35 -m 256 -display none -serial stdio "
               "-no-reboot -drive if=pflash,format=raw,readonly=on,file=" +
               std::string(kOvmfCode) + " -drive if=pflash,format=raw,file=" + shellQuote(vars) +
               " -cdrom " + shellQuote(image))
        .output;
}

}  // namespace

TEST_F(RealBoot, ACdWithAUefiEntryBootsFromUefiAfterARun) {
    if (!test_support::haveTool("qemu-system-x86_64") || !test_support::haveTool("mformat") ||
        !test_support::haveTool("grub-mkstandalone") || !fs::exists("/usr/lib/grub/x86_64-efi") ||
        !fs::exists(kOvmfCode)) {
        GTEST_SKIP() << "qemu-system-x86, mtools, grub-efi-amd64-bin or ovmf is not installed "
                        "(scripts/setup installs them)";
    }
    // A GRUB EFI program that says one line on the serial port and halts.
    writeFile(temp / "grub.cfg",
              "serial --unit=0 --speed=115200\nterminal_output serial\n"
              "echo WINPE-UEFI-BOOT-OK\nhalt\n");
    e2e::mustRun(
        "grub-mkstandalone -O x86_64-efi --install-modules='echo serial terminal halt configfile "
        "normal' "
        "--modules='serial terminal echo halt' --locales= --fonts= --themes= -o " +
        shellQuote(temp / "BOOTX64.EFI") + " boot/grub/grub.cfg=" + shellQuote(temp / "grub.cfg") +
        " 2>&1");
    real_images::makeFatImage(tree() + "/EFI/EFI.IMG", "::/EFI/BOOT/BOOTX64.EFI",
                              temp / "BOOTX64.EFI", 4096);
    fs::remove(image());
    e2e::mustRun(
        "xorriso -as mkisofs -quiet --norock -untranslated-filenames -iso-level 3 "
        "-b BOOT/HELLO.BIN -no-emul-boot -boot-load-size 4 -c BOOT/BOOT.CAT "
        "-eltorito-alt-boot -e EFI/EFI.IMG -no-emul-boot -o " +
        shellQuote(image()) + " " + shellQuote(tree()) + " 2>&1");
    const std::string said = "WINPE-UEFI-BOOT-OK";
    ASSERT_TRUE(contains(uefiConsole(image(), temp / "vars.fd"), said))
        << "the CD does not boot from UEFI at all";

    const e2e::ProgramRun run = runFirewall();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string console = uefiConsole(image(), temp / "vars.fd");
    EXPECT_TRUE(contains(console, said)) << console;
}
