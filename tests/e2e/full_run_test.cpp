// Whole runs of the built program on a sample boot CD, checked with third-party tools.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <memory>
#include <set>
#include <utility>

#include "e2e/e2e_helpers.h"
#include "e2e/sample_cd_fixture.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;
using e2e::listImage;

namespace {

// The text files the run adds, below the sample CD's directory, and their content; last,
// the leftovers of an earlier run in a work directory named by the user.
const std::pair<const char*, const char*> kAddedTexts[] = {{"add/plain.exe", "MZ plain"},
                                                           {"add/tool.exe", "MZ tool"},
                                                           {"add/pkg/sub/run.exe", "MZ run"},
                                                           {"add/pkg/pkg.ini", "settings"},
                                                           {"add/net/NET.INF", "[Version]\r\n"},
                                                           {"add/net/net.sys", "net driver"},
                                                           {"add/net/NETCO.DLL", "co-installer"},
                                                           {"add/net/readme.txt", "ignored"},
                                                           {"add/net/sub/IGNORED.INF", "ignored"},
                                                           {"add/raid/raid.sys", "storage driver"},
                                                           {"add/raid/sub/x.inf", "nested"},
                                                           {"add/vnc/winvnc4.exe", "MZ vnc"},
                                                           {"add/NOTE.TXT", "a note"},
                                                           {"work/leftover/file", "old"}};

// The entries the run adds to the image.
const std::vector<std::string> kAddedEntries = test_support::words(
    "/PROGRAMS /PROGRAMS/plain.exe /PROGRAMS/tool.exe /PROGRAMS/pkg /PROGRAMS/pkg/sub "
    "/PROGRAMS/pkg/sub/run.exe /PROGRAMS/pkg/pkg.ini /PROGRAMS/kit /PROGRAMS/kit/KIT.DAT "
    "/PROGRAMS/vnc /PROGRAMS/vnc/winvnc4.exe /I386/INF/NET.INF /I386/SYSTEM32/DRIVERS/net.sys "
    "/I386/SYSTEM32/NETCO.DLL /I386/SYSTEM32/DRIVERS/RAID /I386/SYSTEM32/DRIVERS/RAID/RAID.SYS "
    "/I386/SYSTEM32/DRIVERS/RAID/SUB /I386/SYSTEM32/DRIVERS/RAID/SUB/X.INF /DOCS/EXTRA "
    "/DOCS/EXTRA/DATA.BIN /NOTE.TXT");

// The files the run edits in place; every other file of the CD goes back unchanged.
const std::set<std::string> kEditedFiles = {"WINBOM.INI", "I386/SYSTEM32/WINPEOEM.SIF",
                                            "I386/SYSTEM32/CONFIG/DEFAULT", "I386/BOOTFIX.BIN",
                                            "MIRALDA/TASKDECK.XML"};

}  // namespace

// One run that asks for every kind of change, made once for the suite; each test checks one
// thing that run did.
class FullRun : public testing::Test {
  protected:
    struct Shared {
        SampleCd cd;
        e2e::ProgramRun run;
    };

    static void SetUpTestSuite() {
        auto made = std::make_unique<Shared>();
        SampleCd& cd = made->cd;
        cd.make();
        for (const auto& [path, content] : kAddedTexts) {
            writeFile(cd.temp / path, content);
        }
        writeFile(cd.temp / "add/kit/KIT.DAT", test_support::patternBytes(9000, 7));
        writeFile(cd.temp / "add/EXTRA/DATA.BIN", test_support::patternBytes(5000, 3));
        made->run = runProgram(
            cd.temp.path(),
            test_support::words(
                "-i cd.iso -t work/ -b add/plain.exe -B add/tool.exe -P add/pkg%sub\\run.exe -p "
                "add/kit -n add/net -d add/raid -f -v add/vnc%winvnc4.exe%secret -X "
                "add/EXTRA%\\DOCS "
                "-Y add/NOTE.TXT"));
        shared_ = std::move(made);
    }
    static void TearDownTestSuite() { shared_.reset(); }

    void SetUp() override {
        ASSERT_NE(shared_, nullptr) << "the sample CD could not be made";
        ASSERT_EQ(run().exitCode, 0) << run().out << run().err;
    }

    static const e2e::ProgramRun& run() { return shared_->run; }
    static std::string image() { return shared_->cd.image(); }
    static std::string tree() { return shared_->cd.tree(); }
    static std::string input(const std::string& relative) { return shared_->cd.temp / relative; }
    static std::string fromImage(const std::string& isoPath) {
        return readFromImage(image(), isoPath);
    }

    static std::unique_ptr<Shared> shared_;
};

std::unique_ptr<FullRun::Shared> FullRun::shared_;

TEST_F(FullRun, SucceedsQuietlyAndEndsWithThePackAndTheCleanUp) {
    EXPECT_EQ(run().err, "");
    EXPECT_NE(run().out.find("Log: pack image file back ...\n"), std::string::npos) << run().out;
    EXPECT_TRUE(
        endsWith(run().out, std::string("Log: pack image file back succeeded\n") + kCleanUpLines))
        << run().out;
}

TEST_F(FullRun, KeepsTheOldImageAsBackupAndLeavesTheWorkDirectoryEmpty) {
    EXPECT_EQ(readFile(image() + ".bak"), shared_->cd.original);
    EXPECT_FALSE(test_support::fileExists(image() + ".tmp"));
    EXPECT_TRUE(fs::is_directory(input("work")));
    EXPECT_TRUE(fs::is_empty(input("work"))) << "a user's work directory is left empty";
}

TEST_F(FullRun, WritesAnImageThatThirdPartyToolsFindValidAndBootable) {
    const std::string verify = e2e::mustRun("isovfy " + shellQuote(image()));
    EXPECT_NE(verify.find("No errors found"), std::string::npos) << verify;
    const std::string boot =
        e2e::mustRun("xorriso -indev " + shellQuote(image()) + " -report_el_torito plain 2>&1");
    EXPECT_NE(boot.find("El Torito boot img :   1  BIOS  y   none"), std::string::npos) << boot;
}

TEST_F(FullRun, AddsExactlyTheAskedEntriesAndRemovesNone) {
    const std::vector<std::string> old = listImage(image() + ".bak");
    std::set<std::string> expected(old.begin(), old.end());
    expected.insert(kAddedEntries.begin(), kAddedEntries.end());
    const std::vector<std::string> listed = listImage(image());
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected);
}

TEST_F(FullRun, LeavesEveryFileItDidNotEditByteIdentical) {
    int compared = 0;
    for (const std::string& relative : e2e::listLocal(tree())) {
        if (fs::is_directory(tree() + "/" + relative) || kEditedFiles.count(relative) != 0) {
            continue;
        }
        EXPECT_EQ(fromImage("/" + relative), readFile(tree() + "/" + relative)) << relative;
        ++compared;
    }
    EXPECT_GE(compared, 8);
}

TEST_F(FullRun, StoresEachAddedFileWithItsContent) {
    const std::pair<const char*, std::string> stored[] = {
        {"/PROGRAMS/kit/KIT.DAT", readFile(input("add/kit/KIT.DAT"))},
        {"/PROGRAMS/pkg/sub/run.exe", "MZ run"},
        {"/I386/SYSTEM32/DRIVERS/RAID/SUB/X.INF", "nested"},
        {"/I386/SYSTEM32/NETCO.DLL", "co-installer"},
        {"/DOCS/EXTRA/DATA.BIN", readFile(input("add/EXTRA/DATA.BIN"))},
        {"/NOTE.TXT", "a note"},
    };
    for (const auto& [isoPath, content] : stored) {
        EXPECT_EQ(fromImage(isoPath), content) << isoPath;
    }
}

TEST_F(FullRun, StartsTheProgramsInTheOrderAskedBeforeTheJobFileCloses) {
    const std::string job = fromImage("/MIRALDA/TASKDECK.XML");
    const size_t tool =
        job.find("<exec processName=\"\\PROGRAMS\\tool.exe\" currentDir=\"\\PROGRAMS\\\" />\r\n");
    const size_t pkg = job.find(
        "<exec processName=\"\\PROGRAMS\\pkg\\sub\\run.exe\" currentDir=\"\\PROGRAMS\\pkg\\sub\" "
        "/>\r\n");
    const size_t vnc = job.find(
        "<exec processName=\"\\PROGRAMS\\vnc\\winvnc4.exe\" currentDir=\"\\PROGRAMS\\vnc\" />\r\n");
    const size_t close = job.find("</taskDeck>");
    EXPECT_TRUE(tool < pkg && pkg < vnc && vnc < close && close != std::string::npos) << job;
}

TEST_F(FullRun, TurnsTheFirewallOff) {
    const std::string winbom = fromImage("/WINBOM.INI");
    EXPECT_NE(winbom.find("[WinPE.Net]\r\nWinPEFirewall=off\r\n"), std::string::npos) << winbom;
}

TEST_F(FullRun, NamesTheStorageDriverInTheSettings) {
    const std::string sif = fromImage("/I386/SYSTEM32/WINPEOEM.SIF");
    EXPECT_NE(
        sif.find("\r\n[OemDriverParams]\r\nOemDriverRoot=\"Drivers\"\r\nOemDriverDirs=RAID\r\n"),
        std::string::npos)
        << sif;
}

TEST_F(FullRun, DisablesThePressAnyKeyPrompt) {
    EXPECT_EQ(fromImage("/I386/BOOTFIX.BIN"), "\xCB" + readFile(tree() + "/I386/BOOTFIX.BIN"));
}

TEST_F(FullRun, StoresTheVncPasswordAsTheVncToolsMakeIt) {
    const test_support::TempDir hive;
    writeFile(hive / "DEFAULT", fromImage("/I386/SYSTEM32/CONFIG/DEFAULT"));
    const std::string get = "hivexget " + shellQuote(hive / "DEFAULT") + " " +
                            shellQuote("\\Software\\RealVNC\\WinVNC4");
    EXPECT_EQ(e2e::mustRun(get + " SecurityTypes"), "VncAuth\n");
    EXPECT_EQ(e2e::mustRun(get + " Password"), e2e::mustRun("printf secret | vncpasswd -f"))
        << "the stored password is the one the VNC tools make";
}

TEST_F(FullRun, WritesAnImageThatBootsUnderQemu) {
    if (!test_support::haveTool("qemu-system-x86_64")) {
        GTEST_SKIP() << "qemu-system-x86_64 is not installed";
    }
    std::string console;
    EXPECT_TRUE(e2e::bootsUnderQemu(image(), console)) << console;
}

class NothingAskedRun : public SampleCdTest {};

TEST_F(NothingAskedRun, AGeneratedWorkDirectoryIsRemovedAndAnOldBackupReplaced) {
    writeFile(image() + ".bak", "an older backup");
    const std::string tmp = temp / "system-tmp";
    fs::create_directory(tmp);
    const e2e::ProgramRun run =
        runProgram(temp.path(), {"-i", "cd.iso", "-v", ""}, "", "", "TMPDIR=" + shellQuote(tmp));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(endsWith(run.out, kCleanUpLines));
    EXPECT_TRUE(fs::is_empty(tmp)) << "the generated work directory was left behind";
    EXPECT_EQ(readFile(image() + ".bak"), original);

    // Nothing was asked for: the six files go back unchanged, so every file reads the same.
    for (const std::string& relative : e2e::listLocal(tree())) {
        if (!fs::is_directory(tree() + "/" + relative)) {
            EXPECT_EQ(readFromImage(image(), "/" + relative), readFile(tree() + "/" + relative))
                << relative;
        }
    }
    EXPECT_EQ(listImage(image()), listImage(image() + ".bak"));
}
