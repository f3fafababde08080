// Network drivers, storage driver packages and their names in WINPEOEM.SIF.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "editor/editor_fixture.h"

namespace fs = boost::filesystem;

namespace {

class DriversTest : public EditorTest {
  protected:
    std::string oemSif() const { return work("I386/SYSTEM32/WINPEOEM.SIF"); }
};

TEST_F(DriversTest, NetworkDriverFilesAreSpreadByExtension) {
    const struct {
        const char* file;   // below the driver directory; its content is its name
        const char* where;  // in the work tree
        bool copied;
    } files[] = {
        {"NET.INF", "I386/INF/NET.INF", true},
        {"net.sys", "I386/SYSTEM32/DRIVERS/net.sys", true},
        {"tools.DLL", "I386/SYSTEM32/tools.DLL", true},
        {"setup.Exe", "I386/SYSTEM32/setup.Exe", true},
        {"co.din", "I386/SYSTEM32/co.din", true},
        {"readme.txt", "I386/SYSTEM32/readme.txt", false},
        {"NOEXT", "I386/SYSTEM32/NOEXT", false},
        {"sub/inner.sys", "I386/SYSTEM32/DRIVERS/inner.sys", false},
    };
    for (const auto& f : files) {
        writeFile(source(std::string("net/") + f.file), f.file);
    }
    const Console console = edited(
        [&](WinpeEditor& editor) { EXPECT_EQ(0, editor.addNetworkDriver(source("net") + "/")); });
    EXPECT_EQ("Log: adding network driver net\nLog: adding network driver net succeeded\n",
              console.out);
    for (const auto& f : files) {
        if (f.copied) {
            EXPECT_EQ(f.file, readFile(work(f.where)));
        } else {
            EXPECT_FALSE(fileExists(work(f.where))) << f.file;
        }
    }
    EXPECT_FALSE(fs::exists(work("I386/SYSTEM32/DRIVERS/sub")));
}

TEST_F(DriversTest, TwoNetworkDriversWithTheSameFileStopTheEdits) {
    writeSources({{"a/e100.sys", "a"}, {"b/e100.sys", "b"}, {"tool.exe", "x"}});
    Options options;
    options.networkDrivers = {source("a"), source("b")};
    options.binaries = {source("tool.exe")};
    const Console console = applied(options, 1);
    EXPECT_EQ(0u, console.err.find("Warning: adding network driver failed - exception: "));
    EXPECT_EQ("a", readFile(work("I386/SYSTEM32/DRIVERS/e100.sys")));
    EXPECT_FALSE(fs::exists(work("PROGRAMS")));
}

TEST_F(DriversTest, StorageDriverIsStoredUpperCaseAndNamedInTheSettings) {
    writeFile(source("raid/Raid.sys"), "sys");
    writeFile(source("raid/sub/txtsetup.oem"), "oem");
    const Console console = edited(
        [&](WinpeEditor& editor) { EXPECT_EQ(0, editor.addStorageDriver(source("raid") + "//")); });
    EXPECT_EQ(
        "Log: adding storage driver raid\n"
        "Log: adding driver name RAID\n"
        "Log: adding driver name succeeded\n"
        "Log: adding storage driver raid succeeded\n",
        console.out);
    EXPECT_EQ("sys", readFile(work("I386/SYSTEM32/DRIVERS/RAID/RAID.SYS")));
    EXPECT_EQ("oem", readFile(work("I386/SYSTEM32/DRIVERS/RAID/SUB/TXTSETUP.OEM")));
    EXPECT_EQ((Lines{"[Version]", "Signature=\"$WINDOWS NT$\"", "", "[OemDriverParams]",
                     "OemDriverRoot=\"Drivers\"", "OemDriverDirs=RAID", ""}),
              crlfLines(oemSif()));
}

TEST_F(DriversTest, TheSameStorageDriverTwiceFailsAtTheCopy) {
    writeFile(source("raid/r.sys"), "sys");
    writeFile(source("net/n.sys"), "sys");
    Options options;
    options.storageDrivers = {source("raid"), source("raid")};
    options.networkDrivers = {source("net")};
    const Console console = applied(options, 1);
    EXPECT_EQ(
        "Warning: adding storage driver failed - exception: copy_directory fails: a directory "
        "with same name exists\n",
        console.err);
    EXPECT_EQ("OemDriverDirs=RAID", crlfLines(oemSif())[5]);
    EXPECT_FALSE(fileExists(work("I386/SYSTEM32/DRIVERS/n.sys")));
}

TEST_F(DriversTest, StorageDriverNameConflictAsksForAnotherName) {
    fs::create_directories(cdTree() + "/I386/SYSTEM32/DRIVERS/RAID");
    writeFile(source("raid/r.sys"), "sys");
    auto editor = makeEditor();
    answer("c raid2");
    Console console = test_support::captureConsole(
        [&] { EXPECT_EQ(0, editor->addStorageDriver(source("raid"))); });
    EXPECT_EQ(
        "Log: adding storage driver raid\n"
        "Log: a file or directory with same name exists\n"
        "Log: change the storage driver package name or abort\n"
        "Log: press 'c' to change name, other key to abort\n"
        "Log: please enter the new name for the storage driver raid\n"
        "Log: adding driver name RAID2\n"
        "Log: adding driver name succeeded\n"
        "Log: adding storage driver raid2 succeeded\n",
        console.out);
    EXPECT_TRUE(fileExists(work("I386/SYSTEM32/DRIVERS/RAID2/R.SYS")));

    // A file of the upper-cased name clashes too; any key but 'c' aborts.
    answer("x");
    ConsoleCapture again;
    EXPECT_EQ(1, editor->addStorageDriver(source("disk.sys")));
    console = again.finish();
    EXPECT_EQ(
        "Warning: adding storage driver package disk.sys failed - file name conflict, aborted "
        "by user\n",
        console.err);
}

TEST_F(DriversTest, DriverNameEditsOfTheSettingsFile) {
    struct Case {
        std::string content;
        int result;
        std::string expected;  // ignored when the edit fails: the file must stay as it was
    };
    const Case cases[] = {
        // Commented section, '=' at the end after blanks.
        {";[OemDriverParams]\n;OemDriverRoot=\"\"\n;OemDriverDirs = \n", 0,
         "[OemDriverParams]\r\nOemDriverRoot=\"Drivers\"\r\nOemDriverDirs = DRV\r\n\r\n"},
        // Existing names get ", " and the new one; a name already there is added again.
        {"[OemDriverParams]\r\nOemDriverRoot=x\r\nOemDriverDirs=NET1, DRV", 0,
         "[OemDriverParams]\r\nOemDriverRoot=\"Drivers\"\r\nOemDriverDirs=NET1, DRV, DRV\r\n"},
        // The header may stand anywhere in its line; the list may keep a trailing comment.
        {"x [OemDriverParams] y\r\n OemDriverRoot\r\n  OemDriverDirs=A ", 0,
         "x [OemDriverParams] y\r\nOemDriverRoot=\"Drivers\"\r\n  OemDriverDirs=A , DRV\r\n"},
        // Two sections both receive the name.
        {"[OemDriverParams]\nOemDriverRoot=\nOemDriverDirs=\n[OemDriverParams]\nOemDriverRoot="
         "\nOemDriverDirs=B\n",
         0,
         "[OemDriverParams]\r\nOemDriverRoot=\"Drivers\"\r\nOemDriverDirs=DRV\r\n"
         "[OemDriverParams]\r\nOemDriverRoot=\"Drivers\"\r\nOemDriverDirs=B, DRV\r\n\r\n"},
        // No section: rewritten unchanged apart from the line ends.
        {"[Other]\nkey=1\n", 0, "[Other]\r\nkey=1\r\n\r\n"},
        // Malformed sections fail silently and leave the file alone.
        {"[OemDriverParams]\r\nOemDriverDirs=\r\nOemDriverRoot=\r\n", 1, ""},
        {"[OemDriverParams]\r\nOemDriverRoot=\r\n", 1, ""},
        {"[OemDriverParams]\r\nOemDriverRoot=\r\nOther=\r\n", 1, ""},
        {"a\r\n[OemDriverParams]", 1, ""},
    };
    auto editor = makeEditor();
    for (const Case& c : cases) {
        writeFile(oemSif(), c.content);
        ConsoleCapture capture;
        EXPECT_EQ(c.result, editor->addDriverName("DRV")) << c.content;
        const Console console = capture.finish();
        if (c.result == 0) {
            EXPECT_EQ(c.expected, readFile(oemSif())) << c.content;
            EXPECT_EQ("Log: adding driver name DRV\nLog: adding driver name succeeded\n",
                      console.out);
        } else {
            EXPECT_EQ(c.content, readFile(oemSif()));
            EXPECT_EQ("Log: adding driver name DRV\n", console.out);
            EXPECT_EQ("", console.err);
        }
    }
    fs::remove(oemSif());
    ConsoleCapture capture;
    EXPECT_EQ(1, editor->addDriverName("DRV"));
    EXPECT_EQ("Log: adding driver name DRV\nLog: adding driver name failed - unable to open file " +
                  oemSif() + "\n",
              capture.finish().out);
}

}  // namespace
