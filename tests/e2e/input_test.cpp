// How runs of the built program treat their local inputs: copies onto another file
// system, special files, names the image can not hold, links inside added trees, and
// configuration files above the size bound.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <iostream>

#include "e2e/e2e_helpers.h"
#include "e2e/sample_cd_fixture.h"
#include "support/fixture_image.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;

namespace {

// A run that hangs is ended by `timeout` with exit code 124, not the 1 of a failed run.
const char kBounded[] = "timeout 60 ";

void makeFifo(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
}

void makeLink(const std::string& target, const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    fs::create_symlink(target, path);
}

}  // namespace

class InputRun : public FailedRun {
  protected:
    // A failed run that ended by itself, told why with `part`, and left nothing behind.
    void expectRefused(const std::vector<std::string>& args, const std::string& part) {
        const e2e::ProgramRun result = run(args, "", kBounded);
        EXPECT_EQ(result.exitCode, 1) << testing::PrintToString(args) << result.out << result.err;
        EXPECT_TRUE(contains(result.out + result.err, part)) << "expected \"" << part << "\" in:\n"
                                                             << result.out << result.err;
        expectNothingLeft();
    }
};

TEST_F(InputRun, EveryCopyingOptionWorksOnAnotherFileSystemAndTheImageReadsBack) {
    if (!test_support::onOtherFileSystems("/dev/shm", temp.path())) {
        GTEST_SKIP() << "/dev/shm is not a file system of its own beside " << temp.path();
    }
    char pattern[] = "/dev/shm/winpe-input-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string otherTmp = pattern;

    writeFile(temp / "add/plain.exe", test_support::patternBytes(3 * 1024 * 1024 + 5, 1));
    writeFile(temp / "add/tool.exe", "MZ tool");
    writeFile(temp / "add/pkg/sub/run.exe", "MZ run");
    writeFile(temp / "add/kit/KIT.DAT", test_support::patternBytes(9000, 7));
    writeFile(temp / "add/net/NET.INF", "[Version]\r\n");
    writeFile(temp / "add/net/net.sys", "net driver");
    writeFile(temp / "add/raid/raid.sys", "storage driver");
    writeFile(temp / "add/raid/sub/x.inf", "nested");
    writeFile(temp / "add/vnc/winvnc4.exe", "MZ vnc");
    const std::vector<std::string> args = {"-i", "cd.iso",       "-b", "add/plain.exe",
                                           "-B", "add/tool.exe", "-P", "add/pkg%sub\\run.exe",
                                           "-p", "add/kit",      "-n", "add/net",
                                           "-d", "add/raid",     "-v", "add/vnc%winvnc4.exe%pw"};
    const e2e::ProgramRun first =
        e2e::runProgram(temp.path(), args, "", kBounded, "TMPDIR=" + shellQuote(otherTmp));
    EXPECT_EQ(first.exitCode, 0) << first.out << first.err;
    EXPECT_EQ(first.err, "");
    EXPECT_TRUE(fs::is_empty(otherTmp)) << "a work directory was left in " << otherTmp;

    // A second run reads the image the first one wrote, again across file systems.
    writeFile(temp / "add/NOTE.TXT", "a note");
    const e2e::ProgramRun second = e2e::runProgram(
        temp.path(), {"-i", "cd.iso", "-t", otherTmp + "/work", "-f", "-Y", "add/NOTE.TXT"}, "",
        kBounded);
    EXPECT_EQ(second.exitCode, 0) << second.out << second.err;
    fs::remove_all(otherTmp);

    EXPECT_EQ(readFromImage(image(), "/PROGRAMS/plain.exe"), readFile(temp / "add/plain.exe"));
    EXPECT_EQ(readFromImage(image(), "/PROGRAMS/tool.exe"), "MZ tool");
    EXPECT_EQ(readFromImage(image(), "/PROGRAMS/pkg/sub/run.exe"), "MZ run");
    EXPECT_EQ(readFromImage(image(), "/PROGRAMS/kit/KIT.DAT"), readFile(temp / "add/kit/KIT.DAT"));
    EXPECT_EQ(readFromImage(image(), "/PROGRAMS/vnc/winvnc4.exe"), "MZ vnc");
    EXPECT_EQ(readFromImage(image(), "/I386/INF/NET.INF"), "[Version]\r\n");
    EXPECT_EQ(readFromImage(image(), "/I386/SYSTEM32/DRIVERS/net.sys"), "net driver");
    EXPECT_EQ(readFromImage(image(), "/I386/SYSTEM32/DRIVERS/RAID/SUB/X.INF"), "nested");
    EXPECT_EQ(readFromImage(image(), "/NOTE.TXT"), "a note");
    const std::string listing = e2e::mustRun("7z l " + shellQuote(image()) + " PROGRAMS/plain.exe");
    EXPECT_TRUE(contains(listing, std::to_string(3 * 1024 * 1024 + 5))) << listing;
}

TEST_F(InputRun, SpecialFilesEndTheRunAtOnceNamingThem) {
    // In a tree: see LinksAreFollowedOnlyInsideTheTreeBeingAdded and the listing's tests.
    makeFifo(temp / "add/fifo.exe");
    makeFifo(temp / "fifo.iso");
    expectRefused({"-i", "cd.iso", "-b", "add/fifo.exe"},
                  "Warning: adding file failed, exception: cannot open local file add/fifo.exe: "
                  "it is a FIFO, not a regular file");
    expectRefused({"-i", "cd.iso", "-Y", "add/fifo.exe"}, "add/fifo.exe: it is a FIFO");
    expectRefused({"-i", "fifo.iso", "-f"},
                  "load ISO image failed - IO exception: cannot open image file fifo.iso: it is a "
                  "FIFO, not a regular file");
}

TEST_F(InputRun, FilesOverFourGibibytesAreRefusedAtTheirAddNamingThem) {
    // Sparse files: nothing of them is written.
    // -X's tree: the direct adds' tests.
    for (const char* path :
         {"add/big.bin", "add/pkg/sub/big.bin", "add/net/big.sys", "add/raid/big.sys"}) {
        writeFile(temp / path, "");
        fs::resize_file(temp / path, 0x100000000ull);
    }
    const std::string tooLarge = " is 4294967296 bytes; an image file holds at most 4294967295";
    expectRefused({"-i", "cd.iso", "-b", "add/big.bin"},
                  "Warning: adding file failed, exception: local file add/big.bin" + tooLarge);
    expectRefused({"-i", "cd.iso", "-p", "add/pkg"}, "local file add/pkg/sub/big.bin" + tooLarge);
    expectRefused({"-i", "cd.iso", "-n", "add/net"}, "local file add/net/big.sys" + tooLarge);
    expectRefused({"-i", "cd.iso", "-d", "add/raid"}, "local file add/raid/big.sys" + tooLarge);
    // -Y: at the add, with the add's own warnings, the path as given, before any pack.
    const e2e::ProgramRun result = run({"-i", "cd.iso", "-Y", "add/big.bin"}, "", kBounded);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.out,
                         "Log: adding file big.bin ...\nISOModifier AddSingleFile "
                         "exception: local file add/big.bin" +
                             tooLarge))
        << result.out;
    EXPECT_EQ(result.err,
              "Warning: adding file big.bin failed - failed to add file into ISO\n"
              "Warning: copy back file add/big.bin failed\n");
    EXPECT_FALSE(contains(result.out, "pack the ISO image")) << result.out;
    expectNothingLeft();
}

TEST_F(InputRun, NamesTheImageCanNotHoldAreRefusedBeforeWriting) {
    // Each bad name at a depth below the top (a directory's name is checked as the
    // listing's tests show, before its contents).
    int number = 0;
    for (const std::string bad : {"a:b.txt", "trail.", "blank ", "x|y.sys"}) {
        const std::string top = temp / ("add/t" + std::to_string(number++));
        writeFile(top + "/ok.sys", "ok");
        const std::string entry = top + "/sub/" + bad;
        writeFile(entry, "bad");
        const std::string named = "local entry " + entry + ": \"";
        expectRefused({"-i", "cd.iso", "-p", top}, named + bad + "\" is not a valid name");
        expectRefused({"-i", "cd.iso", "-X", top + "%"}, named + bad + "\"");
        std::string upper = bad;
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        expectRefused({"-i", "cd.iso", "-d", top}, named + upper + "\"");
    }
    // A network driver file that would be copied under a bad name.
    writeFile(temp / "add/net/a:b.sys", "bad");
    expectRefused({"-i", "cd.iso", "-n", "add/net"}, "local entry add/net/a:b.sys: \"a:b.sys\"");
}

TEST_F(InputRun, LinksAreFollowedOnlyInsideTheTreeBeingAdded) {
    const std::string secret = "secret bytes that must stay off every image";
    writeFile(temp / "private/shadow", secret);
    writeFile(temp / "add/pkg/DATA.TXT", "package data");
    writeFile(temp / "add/pkg/sub/deep.txt", "deep");
    makeLink("DATA.TXT", temp / "add/pkg/COPY.TXT");
    makeLink("sub", temp / "add/pkg/again");
    makeLink("../DATA.TXT", temp / "add/pkg/sub/up.txt");

    // Out of the package (loops, dangling links and special files: the listing's tests).
    writeFile(temp / "add/out1/ok.txt", "ok");
    makeLink(temp / "private/shadow", temp / "add/out1/NOTES.TXT");
    expectRefused({"-i", "cd.iso", "-p", "add/out1"},
                  "symbolic link add/out1/NOTES.TXT leads to " + temp.path() + "/private/shadow");
    // The top directory given on the command line may itself be a link.
    makeLink("add/pkg", temp / "pkg-link");
    const e2e::ProgramRun good =
        run({"-i", "cd.iso", "-p", "pkg-link", "-X", "add/pkg%\\DOCS"}, "", kBounded);
    ASSERT_EQ(good.exitCode, 0) << good.out << good.err;
    for (const std::string dir : {"/PROGRAMS/pkg-link", "/DOCS/pkg"}) {
        EXPECT_EQ(readFromImage(image(), dir + "/COPY.TXT"), "package data");
        EXPECT_EQ(readFromImage(image(), dir + "/sub/up.txt"), "package data");
        EXPECT_EQ(readFromImage(image(), dir + "/again/deep.txt"), "deep");
    }
    EXPECT_FALSE(contains(readFile(image()), secret));
    // The program reads back what it wrote.
    const e2e::ProgramRun again = run({"-i", "cd.iso", "-f"}, "", kBounded);
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_EQ(readFromImage(image(), "/DOCS/pkg/again/deep.txt"), "deep");
}

TEST_F(InputRun, ConfigurationFilesAboveTheBoundAreRefusedNamingThem) {
    // 8 MiB and one byte of empty lines, the smallest file above the bound.
    writeFile(tree() + "/WINBOM.INI", std::string(8 * 1024 * 1024 + 1, '\n'));
    test_support::makeIsoWithXorriso(tree(), image(), "BOOT/HELLO.BIN");
    original = readFile(image());
    const e2e::ProgramRun result = run({"-i", "cd.iso", "-f"}, "", kBounded);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.err,
                         "/WINBOM.INI is 8388609 bytes, more than the 8388608 bytes "
                         "an edited file may have\nWarning: disabling firewall "
                         "failed - unable to open file "))
        << result.err;
    expectNothingLeft();

    // A file just under the bound is edited in a small multiple of its size: the whole run
    // fits into 256 MiB of address space.
    writeFile(tree() + "/WINBOM.INI", std::string(8 * 1024 * 1024 - 1, '\n'));
    test_support::makeIsoWithXorriso(tree(), image(), "BOOT/HELLO.BIN");
#ifdef WINPE_SANITIZED_BUILD
    std::cout << "the run is not held to 256 MiB: the sanitizers reserve more address space\n";
    const std::string limit;
#else
    const std::string limit = "bash -c 'ulimit -v 262144; exec \"$0\" \"$@\"' ";
#endif
    const e2e::ProgramRun bounded = run({"-i", "cd.iso", "-f"}, "", kBounded + limit);
    EXPECT_EQ(bounded.exitCode, 0) << bounded.out << bounded.err;
    const std::string edited = readFromImage(image(), "/WINBOM.INI");
    EXPECT_EQ(edited.size(), 32u + 2 * (8 * 1024 * 1024 - 1));
    EXPECT_EQ(edited.substr(0, 34), "[WinPE.Net]\r\nWinPEFirewall=off\r\n\r\n");
}
