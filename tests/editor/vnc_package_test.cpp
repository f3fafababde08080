// The VNC package: password settings in the default user hive, checked with hivex's own
// tools, and the whole package edit.
#include <gtest/gtest.h>
#include <hivex.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <csignal>

#include "editor/editor_fixture.h"
#include "support/hive_check.h"

namespace fs = boost::filesystem;

namespace {

const char* const kServerKey = "\\Software\\RealVNC\\WinVNC4";

// The two string values the package writes, as the registry stores them: UTF-16LE with
// a terminating zero character.
const std::vector<uint8_t> kVncAuthValue = {'V', 0, 'n', 0, 'c', 0, 'A', 0,
                                            'u', 0, 't', 0, 'h', 0, 0,   0};
const std::vector<uint8_t> kNoneValue = {'N', 0, 'o', 0, 'n', 0, 'e', 0, 0, 0};

class VncTest : public EditorTest {
  protected:
    std::string hive() const { return work("I386/SYSTEM32/CONFIG/DEFAULT"); }

    // What a VNC package edit for `value` that must fail wrote to the console.
    Console failedPackage(const std::string& value) {
        return edited([&](WinpeEditor& editor) { EXPECT_EQ(1, editor.addVncPackage(value)); });
    }
};

TEST_F(VncTest, PasswordIsStoredEncryptedWithVncAuth) {
    const Console console =
        edited([&](WinpeEditor& editor) { EXPECT_EQ(0, editor.setVncPassword("password")); });
    EXPECT_EQ("Log: setting VNC password ...\nLog: setting VNC password succeeded\n", console.out);
    EXPECT_EQ("", console.err);

    EXPECT_EQ("\"Password\"=hex(3):db,d8,3c,fd,72,7a,14,58\n\"SecurityTypes\"=\"VncAuth\"\n",
              hive_check::listValues(hive(), kServerKey));
    EXPECT_EQ(std::vector<std::string>{"WinVNC4"},
              hive_check::listKeys(hive(), "\\Software\\RealVNC"));
    const hive_check::Value types = hive_check::rawValue(hive(), kServerKey, "SecurityTypes");
    EXPECT_EQ(hive_t_REG_SZ, types.type);
    EXPECT_EQ(kVncAuthValue, types.data);
}

TEST_F(VncTest, WithoutPasswordNoneAndNoPasswordValue) {
    auto editor = makeEditor();
    ConsoleCapture capture;
    EXPECT_EQ(0, editor->setVncPassword(""));
    EXPECT_EQ("\"SecurityTypes\"=\"None\"\n", hive_check::listValues(hive(), kServerKey));
    const hive_check::Value types = hive_check::rawValue(hive(), kServerKey, "SecurityTypes");
    EXPECT_EQ(hive_t_REG_SZ, types.type);
    EXPECT_EQ(kNoneValue, types.data);
}

TEST_F(VncTest, PasswordBlockIsPaddedOrCutToEightBytes) {
    auto editor = makeEditor();
    struct Case {
        std::string password;
        std::string block;  // 8 bytes
    };
    const Case cases[] = {{"abc", std::string("abc\0\0\0\0\0", 8)}, {"abcdefghijkl", "abcdefgh"}};
    for (const Case& c : cases) {
        ConsoleCapture capture;
        ASSERT_EQ(0, editor->setVncPassword(c.password));
        uint8_t expected[8];
        std::copy(c.block.begin(), c.block.end(), expected);
        WinpeEditor::encryptVncPassword(expected);
        const hive_check::Value stored = hive_check::rawValue(hive(), kServerKey, "Password");
        EXPECT_EQ(hive_t_REG_BINARY, stored.type);
        EXPECT_EQ(std::vector<uint8_t>(expected, expected + 8), stored.data) << c.password;
    }
    // Keys are found again, not added twice.
    EXPECT_EQ(std::vector<std::string>{"Software"}, hive_check::listKeys(hive(), "\\"));
    EXPECT_EQ(std::vector<std::string>{"RealVNC"}, hive_check::listKeys(hive(), "\\Software"));
}

TEST_F(VncTest, UnreadableHiveFailsAndStaysAsItWas) {
    buildImage();
    writeFile(hive(), std::string(4096, 'x'));
    const Console console =
        edited([&](WinpeEditor& editor) { EXPECT_EQ(1, editor.setVncPassword("password")); });
    EXPECT_EQ("Warning: setting VNC password failed - unable to load registry hive\n", console.err);
    EXPECT_EQ(std::string(4096, 'x'), readFile(hive()));
}

// Writing the hive back is what makes the settings count: when it fails, so does the edit.
TEST_F(VncTest, AFailedWriteOfTheHiveFailsTheEdit) {
    auto editor = makeEditor();
    ASSERT_GT(fs::file_size(hive()), 4096u);
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        // Files may not grow beyond 4 KiB in this process, so the hive cannot be rewritten.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(editor->setVncPassword("password") == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "setVncPassword reported success";
}

TEST_F(VncTest, PackageEditDoesEverything) {
    writeFile(source("vnc/winvnc4.exe"), "server");
    writeFile(source("vnc/wm_hooks.dll"), "hooks");
    Options options;
    options.vncValue = source("vnc") + "%winvnc4.exe%pass%word";
    buildImage();
    const std::vector<uint8_t> bootFix = readBytes(work("I386/BOOTFIX.BIN"));
    const Console console = applied(options, 0);
    EXPECT_EQ("", console.err);
    EXPECT_EQ("Log: adding VNC package " + source("vnc") +
                  " ...\n"
                  "Log: adding directory vnc ...\n"
                  "Log: adding directory vnc succeeded\n"
                  "Log: setting VNC password ...\n"
                  "Log: setting VNC password succeeded\n"
                  "Log: adding start up ...\n"
                  "Log: adding start up succeeded\n"
                  "Log: disabling firewall ...\n"
                  "Log: disabling firewall succeeded\n"
                  "Log: disabling the \"press any key\" option ...\n"
                  "Log: adding VNC package succeeded\n",
              console.out);
    EXPECT_EQ("server", readFile(work("PROGRAMS/vnc/winvnc4.exe")));
    // The password keeps its own '%'.
    uint8_t expected[8] = {'p', 'a', 's', 's', '%', 'w', 'o', 'r'};
    WinpeEditor::encryptVncPassword(expected);
    EXPECT_EQ(std::vector<uint8_t>(expected, expected + 8),
              hive_check::rawValue(hive(), kServerKey, "Password").data);
    EXPECT_EQ(
        "<exec processName=\"\\PROGRAMS\\vnc\\winvnc4.exe\" currentDir=\"\\PROGRAMS\\vnc\" />",
        crlfLines(work("MIRALDA/TASKDECK.XML"))[3]);
    EXPECT_NE(std::string::npos, readFile(work("WINBOM.INI")).find("\r\nWinPEFirewall=off\r\n"));
    const std::vector<uint8_t> patched = readBytes(work("I386/BOOTFIX.BIN"));
    ASSERT_EQ(bootFix.size() + 1, patched.size());
    EXPECT_EQ(0xCB, patched[0]);
}

TEST_F(VncTest, SecondPercentAtTheEndMeansNoPassword) {
    writeFile(source("vnc/winvnc4.exe"), "server");
    auto editor = makeEditor();
    ConsoleCapture capture;
    EXPECT_EQ(0, editor->addVncPackage(source("vnc") + "%winvnc4.exe%"));
    EXPECT_EQ("\"SecurityTypes\"=\"None\"\n", hive_check::listValues(hive(), kServerKey));
}

TEST_F(VncTest, MissingExecutableFailsBeforeThePasswordIsWritten) {
    writeFile(source("vnc/winvnc4.exe"), "server");
    buildImage();
    const std::vector<uint8_t> hiveBefore = readBytes(hive());
    const std::string jobBefore = readFile(work("MIRALDA/TASKDECK.XML"));
    for (const std::string& value : {source("vnc") + "%", source("vnc") + "%%secret"}) {
        fs::remove_all(work("PROGRAMS"));
        const Console console = failedPackage(value);
        EXPECT_EQ("Warning: adding VNC package failed\n", console.err);
        EXPECT_TRUE(test_support::fileExists(work("PROGRAMS/vnc/winvnc4.exe")));
        EXPECT_EQ(hiveBefore, readBytes(hive()));
        EXPECT_EQ(jobBefore, readFile(work("MIRALDA/TASKDECK.XML")));
    }
}

TEST_F(VncTest, PackageAbortedAtThePromptWritesNoPassword) {
    fs::create_directories(cdTree() + "/PROGRAMS/vnc");
    writeFile(source("vnc/winvnc4.exe"), "server");
    buildImage();
    const std::vector<uint8_t> hiveBefore = readBytes(hive());
    answer("n");
    const Console console = failedPackage(source("vnc") + "%winvnc4.exe%pw");
    EXPECT_EQ(
        "Warning: adding directory vnc failed - package name conflict, aborted by user\n"
        "Warning: adding VNC package failed\n",
        console.err);
    EXPECT_EQ(hiveBefore, readBytes(hive()));
}

TEST_F(VncTest, StartUpFailureKeepsPackageAndPassword) {
    writeFile(source("vnc/winvnc4.exe"), "server");
    buildImage();
    writeFile(work("MIRALDA/TASKDECK.XML"), "<taskDeck/>\r\n");
    const std::string winbom = readFile(work("WINBOM.INI"));
    const Console console = failedPackage(source("vnc") + "%winvnc4.exe%pw");
    EXPECT_EQ(
        "Warning: adding start up failed - unexpected file format at taskdeck.xml\n"
        "Warning: adding VNC package failed\n",
        console.err);
    EXPECT_TRUE(hive_check::rawValue(hive(), kServerKey, "Password").found);
    EXPECT_EQ(winbom, readFile(work("WINBOM.INI")));
}

}  // namespace
