// Whole runs of the built program on a sample boot CD, checked with third-party tools.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <set>

#include "e2e/e2e_helpers.h"
#include "e2e/sample_cd_fixture.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;
using e2e::listImage;

class FullRun : public SampleCdTest {};

TEST_F(FullRun, EveryKindOfChangeLandsInTheNewImageAndNothingElseChanges) {
    // What the run adds.
    writeFile(temp / "add/plain.exe", "MZ plain");
    writeFile(temp / "add/tool.exe", "MZ tool");
    writeFile(temp / "add/pkg/sub/run.exe", "MZ run");
    writeFile(temp / "add/pkg/pkg.ini", "settings");
    writeFile(temp / "add/kit/KIT.DAT", test_support::patternBytes(9000, 7));
    writeFile(temp / "add/net/NET.INF", "[Version]\r\n");
    writeFile(temp / "add/net/net.sys", "net driver");
    writeFile(temp / "add/net/NETCO.DLL", "co-installer");
    writeFile(temp / "add/net/readme.txt", "ignored");
    writeFile(temp / "add/net/sub/IGNORED.INF", "ignored");
    writeFile(temp / "add/raid/raid.sys", "storage driver");
    writeFile(temp / "add/raid/sub/x.inf", "nested");
    writeFile(temp / "add/vnc/winvnc4.exe", "MZ vnc");
    writeFile(temp / "add/EXTRA/DATA.BIN", test_support::patternBytes(5000, 3));
    writeFile(temp / "add/NOTE.TXT", "a note");
    // A work directory named by the user, with leftovers of an earlier run.
    writeFile(temp / "work/leftover/file", "old");

    const e2e::ProgramRun run = runProgram(temp.path(), {"-i",
                                                         "cd.iso",
                                                         "-t",
                                                         "work/",
                                                         "-b",
                                                         "add/plain.exe",
                                                         "-B",
                                                         "add/tool.exe",
                                                         "-P",
                                                         "add/pkg%sub\\run.exe",
                                                         "-p",
                                                         "add/kit",
                                                         "-n",
                                                         "add/net",
                                                         "-d",
                                                         "add/raid",
                                                         "-f",
                                                         "-v",
                                                         "add/vnc%winvnc4.exe%secret",
                                                         "-X",
                                                         "add/EXTRA%\\DOCS",
                                                         "-Y",
                                                         "add/NOTE.TXT"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("Log: pack image file back ...\n"), std::string::npos) << run.out;
    EXPECT_TRUE(
        endsWith(run.out, std::string("Log: pack image file back succeeded\n") + kCleanUpLines))
        << run.out;

    // The files beside the image and the work directory.
    EXPECT_EQ(readFile(image() + ".bak"), original);
    EXPECT_FALSE(test_support::fileExists(image() + ".tmp"));
    EXPECT_TRUE(fs::is_directory(temp / "work"));
    EXPECT_TRUE(fs::is_empty(temp / "work")) << "a user's work directory is left empty";

    // Third-party views of the new image.
    const std::string verify = e2e::mustRun("isovfy " + shellQuote(image()));
    EXPECT_NE(verify.find("No errors found"), std::string::npos) << verify;
    const std::string boot =
        e2e::mustRun("xorriso -indev " + shellQuote(image()) + " -report_el_torito plain 2>&1");
    EXPECT_NE(boot.find("El Torito boot img :   1  BIOS  y   none"), std::string::npos) << boot;

    // Exactly the added entries are new; nothing disappeared.
    std::set<std::string> expected;
    for (const std::string& path : listImage(temp / "cd.iso.bak")) {
        expected.insert(path);
    }
    for (const char* added : {"/PROGRAMS",
                              "/PROGRAMS/plain.exe",
                              "/PROGRAMS/tool.exe",
                              "/PROGRAMS/pkg",
                              "/PROGRAMS/pkg/sub",
                              "/PROGRAMS/pkg/sub/run.exe",
                              "/PROGRAMS/pkg/pkg.ini",
                              "/PROGRAMS/kit",
                              "/PROGRAMS/kit/KIT.DAT",
                              "/PROGRAMS/vnc",
                              "/PROGRAMS/vnc/winvnc4.exe",
                              "/I386/INF/NET.INF",
                              "/I386/SYSTEM32/DRIVERS/net.sys",
                              "/I386/SYSTEM32/NETCO.DLL",
                              "/I386/SYSTEM32/DRIVERS/RAID",
                              "/I386/SYSTEM32/DRIVERS/RAID/RAID.SYS",
                              "/I386/SYSTEM32/DRIVERS/RAID/SUB",
                              "/I386/SYSTEM32/DRIVERS/RAID/SUB/X.INF",
                              "/DOCS/EXTRA",
                              "/DOCS/EXTRA/DATA.BIN",
                              "/NOTE.TXT"}) {
        expected.insert(added);
    }
    const std::vector<std::string> listed = listImage(image());
    EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), expected);

    // Every file the run did not edit is byte-identical.
    const std::set<std::string> edited = {"WINBOM.INI", "I386/SYSTEM32/WINPEOEM.SIF",
                                          "I386/SYSTEM32/CONFIG/DEFAULT", "I386/BOOTFIX.BIN",
                                          "MIRALDA/TASKDECK.XML"};
    int compared = 0;
    for (const std::string& relative : e2e::listLocal(tree())) {
        if (fs::is_directory(tree() + "/" + relative) || edited.count(relative) != 0) {
            continue;
        }
        EXPECT_EQ(readFromImage(image(), "/" + relative), readFile(tree() + "/" + relative))
            << relative;
        ++compared;
    }
    EXPECT_GE(compared, 8);

    // Each change, read back from the new image.
    EXPECT_EQ(readFromImage(image(), "/PROGRAMS/kit/KIT.DAT"), readFile(temp / "add/kit/KIT.DAT"));
    EXPECT_EQ(readFromImage(image(), "/PROGRAMS/pkg/sub/run.exe"), "MZ run");
    EXPECT_EQ(readFromImage(image(), "/I386/SYSTEM32/DRIVERS/RAID/SUB/X.INF"), "nested");
    EXPECT_EQ(readFromImage(image(), "/I386/SYSTEM32/NETCO.DLL"), "co-installer");
    EXPECT_EQ(readFromImage(image(), "/DOCS/EXTRA/DATA.BIN"),
              readFile(temp / "add/EXTRA/DATA.BIN"));
    EXPECT_EQ(readFromImage(image(), "/NOTE.TXT"), "a note");

    const std::string job = readFromImage(image(), "/MIRALDA/TASKDECK.XML");
    const size_t tool =
        job.find("<exec processName=\"\\PROGRAMS\\tool.exe\" currentDir=\"\\PROGRAMS\\\" />\r\n");
    const size_t pkg = job.find(
        "<exec processName=\"\\PROGRAMS\\pkg\\sub\\run.exe\" currentDir=\"\\PROGRAMS\\pkg\\sub\" "
        "/>\r\n");
    const size_t vnc = job.find(
        "<exec processName=\"\\PROGRAMS\\vnc\\winvnc4.exe\" currentDir=\"\\PROGRAMS\\vnc\" />\r\n");
    const size_t close = job.find("</taskDeck>");
    EXPECT_TRUE(tool < pkg && pkg < vnc && vnc < close && close != std::string::npos) << job;

    const std::string winbom = readFromImage(image(), "/WINBOM.INI");
    EXPECT_NE(winbom.find("[WinPE.Net]\r\nWinPEFirewall=off\r\n"), std::string::npos) << winbom;
    const std::string sif = readFromImage(image(), "/I386/SYSTEM32/WINPEOEM.SIF");
    EXPECT_NE(
        sif.find("\r\n[OemDriverParams]\r\nOemDriverRoot=\"Drivers\"\r\nOemDriverDirs=RAID\r\n"),
        std::string::npos)
        << sif;
    EXPECT_EQ(readFromImage(image(), "/I386/BOOTFIX.BIN"),
              "\xCB" + readFile(tree() + "/I386/BOOTFIX.BIN"));

    writeFile(temp / "DEFAULT", readFromImage(image(), "/I386/SYSTEM32/CONFIG/DEFAULT"));
    const std::string key = shellQuote("\\Software\\RealVNC\\WinVNC4");
    EXPECT_EQ(
        e2e::mustRun("hivexget " + shellQuote(temp / "DEFAULT") + " " + key + " SecurityTypes"),
        "VncAuth\n");
    EXPECT_EQ(e2e::mustRun("hivexget " + shellQuote(temp / "DEFAULT") + " " + key + " Password"),
              e2e::mustRun("printf secret | vncpasswd -f"))
        << "the stored password is the one the VNC tools make";

    if (test_support::haveTool("qemu-system-x86_64")) {
        std::string console;
        EXPECT_TRUE(e2e::bootsUnderQemu(image(), console)) << console;
    }
}

TEST_F(FullRun, AGeneratedWorkDirectoryIsRemovedAndAnOldBackupReplaced) {
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

    // The new image is a valid input for the next run.
    const e2e::ProgramRun again =
        runProgram(temp.path(), {"-i", "cd.iso", "-f"}, "", "", "TMPDIR=" + shellQuote(tmp));
    ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_NE(readFromImage(image(), "/WINBOM.INI").find("WinPEFirewall=off"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(tmp));
}
