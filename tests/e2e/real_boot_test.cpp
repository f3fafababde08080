// An isolinux CD whose loader carries a boot info table boots under QEMU after a run:
// the table names the loader file's new block. Slow: two boots under TCG.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <string>

#include "e2e/real_images.h"
#include "e2e/sample_cd_fixture.h"

namespace fs = boost::filesystem;

namespace {

const char kIsolinux[] = "/usr/lib/ISOLINUX/isolinux.bin";
const char kModules[] = "/usr/lib/syslinux/modules/bios";

// What the CD prints on the serial port within `seconds` (isolinux powers the machine
// off after its banner, so a good boot ends at once; a bad one runs into the limit).
std::string serialConsole(const std::string& image, int seconds) {
    return test_support::runCommand("timeout " + std::to_string(seconds) +
                                    " qemu-system-x86_64 -cdrom " + shellQuote(image) +
                                    " -boot d -m 64 -display none -serial stdio -no-reboot")
        .output;
}

}  // namespace

TEST_F(SampleCdTest, AnIsolinuxCdWithABootInfoTableBootsAfterARun) {
    if (!test_support::haveTool("qemu-system-x86_64") || !fs::exists(kIsolinux) ||
        !fs::exists(std::string(kModules) + "/ldlinux.c32")) {
        GTEST_SKIP() << "qemu-system-x86 or isolinux/syslinux-common is not installed "
                        "(scripts/setup installs them)";
    }
    // isolinux finds its files by these lower-case names on a CD without Rock Ridge.
    const std::string loader = tree() + "/isolinux";
    fs::create_directories(loader);
    fs::copy_file(kIsolinux, loader + "/isolinux.bin");
    for (const char* module : {"ldlinux.c32", "poweroff.c32", "libcom32.c32", "libutil.c32"}) {
        fs::copy_file(std::string(kModules) + "/" + module, loader + "/" + module);
    }
    writeFile(loader + "/isolinux.cfg",
              "SERIAL 0 115200\nPROMPT 0\nTIMEOUT 1\nDEFAULT off\nLABEL off\n"
              "  COM32 poweroff.c32\n");
    fs::remove(image());
    e2e::mustRun(
        "xorriso -as mkisofs -quiet --norock -untranslated-filenames -iso-level 3 "
        "-b isolinux/isolinux.bin -c isolinux/boot.cat -no-emul-boot "
        "-boot-load-size 4 -boot-info-table -o " +
        shellQuote(image()) + " " + shellQuote(tree()) + " 2>&1");
    const std::string banner = "ISOLINUX 6";
    ASSERT_TRUE(contains(serialConsole(image(), 60), banner)) << "the CD does not boot at all";
    const uint32_t oldBlock = real_images::extentOf(image(), "/isolinux/isolinux.bin");

    const e2e::ProgramRun run = runProgram(temp.path(), {"-i", "cd.iso", "-f"}, "", "",
                                           "TMPDIR=" + shellQuote(temp.path()));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const uint32_t newBlock = real_images::extentOf(image(), "/isolinux/isolinux.bin");
    ASSERT_NE(newBlock, oldBlock) << "the loader did not move; the test proves nothing";
    const std::string console = serialConsole(image(), 60);
    EXPECT_TRUE(contains(console, banner)) << console;
    // The loader file's own copy names its block too, like the boot image's.
    const std::string table = real_images::imageBytes(image(), newBlock, 16);
    EXPECT_EQ(static_cast<uint8_t>(table[12]) | static_cast<uint8_t>(table[13]) << 8, newBlock);
}
