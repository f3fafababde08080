// The firewall switch in WINBOM.INI and the BOOTFIX.BIN patch.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "editor/editor_fixture.h"

namespace fs = boost::filesystem;

namespace {

class FirewallBootTest : public EditorTest {
  protected:
    std::string winbom() const { return work("WINBOM.INI"); }
    std::string bootFix() const { return work("I386/BOOTFIX.BIN"); }
};

TEST_F(FirewallBootTest, FirewallLineIsReplacedOrInserted) {
    struct Case {
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        // A commented line is replaced wherever it stands; nothing is inserted.
        {"[A]\r\n;WinPEFirewall=on\r\n[WinPE.Net]\r\nx=1\r\n",
         "[A]\r\nWinPEFirewall=off\r\n[WinPE.Net]\r\nx=1\r\n"},
        {"[WinPE.Net]\nWinPEFirewall = ON ; keep\n", "[WinPE.Net]\r\nWinPEFirewall=off\r\n"},
        // Inserted directly after the first section header.
        {"[Factory]\r\n[WinPE.Net]\r\nStartnet=Yes\r\n[WinPE.Net]\r\n",
         "[Factory]\r\n[WinPE.Net]\r\nWinPEFirewall=off\r\nStartnet=Yes\r\n[WinPE.Net]\r\n"},
        // Without the section both lines go to the top.
        {"[Factory]\r\nWinBOMType=WinPE",
         "[WinPE.Net]\r\nWinPEFirewall=off\r\n[Factory]\r\nWinBOMType=WinPE\r\n"},
        {"", "[WinPE.Net]\r\nWinPEFirewall=off\r\n"},
        // Other letter case is not the firewall line.
        {"[WinPE.Net]\r\nwinpefirewall=on\r\n",
         "[WinPE.Net]\r\nWinPEFirewall=off\r\nwinpefirewall=on\r\n"},
        // Inner empty lines stay, only a final empty line is left out.
        {"a\r\n\r\n\r\n", "[WinPE.Net]\r\nWinPEFirewall=off\r\na\r\n\r\n\r\n"},
    };
    auto editor = makeEditor();
    for (const Case& c : cases) {
        writeFile(winbom(), c.content);
        const Console console = test_support::captureConsole(
            [&] { EXPECT_EQ(0, editor->disableFirewall()) << c.content; });
        EXPECT_EQ("Log: disabling firewall ...\nLog: disabling firewall succeeded\n", console.out);
        EXPECT_EQ(c.expected, readFile(winbom())) << c.content;
        // A second run finds its own line and changes nothing.
        ConsoleCapture again;
        EXPECT_EQ(0, editor->disableFirewall());
        EXPECT_EQ(c.expected, readFile(winbom())) << c.content;
    }
}

TEST_F(FirewallBootTest, FirewallWithoutSettingsFileFails) {
    auto editor = makeEditor();
    fs::remove(winbom());
    ConsoleCapture capture;
    EXPECT_EQ(1, editor->disableFirewall());
    EXPECT_EQ("Warning: disabling firewall failed - unable to open file " + winbom() + "\n",
              capture.finish().err);
    EXPECT_FALSE(fs::exists(winbom()));
}

TEST_F(FirewallBootTest, BootFixGetsAFarReturnInFront) {
    buildImage();
    for (size_t size : {size_t(0), size_t(1), size_t(2048), size_t(2049), size_t(5000)}) {
        const std::vector<uint8_t> original = test_support::patternBytes(size, 11);
        writeFile(bootFix(), original);
        const Console console =
            edited([&](WinpeEditor& editor) { EXPECT_EQ(0, editor.disablePressAnyKey()) << size; });
        EXPECT_EQ("Log: disabling the \"press any key\" option ...\n", console.out);
        EXPECT_EQ("", console.err);
        std::vector<uint8_t> expected = {0xCB};
        expected.insert(expected.end(), original.begin(), original.end());
        EXPECT_EQ(expected, readBytes(bootFix())) << size;
        EXPECT_FALSE(fs::exists(bootFix() + ".bak"));
    }
}

TEST_F(FirewallBootTest, BootFixPatchFailsOnALeftoverBackupOrMissingFile) {
    auto editor = makeEditor();
    const std::vector<uint8_t> original = readBytes(bootFix());
    writeFile(bootFix() + ".bak", "old");
    Console console =
        test_support::captureConsole([&] { EXPECT_EQ(1, editor->disablePressAnyKey()); });
    EXPECT_EQ(0u, console.err.find(
                      "Warning: disabling the \"press any key\" option failed - exception "));
    EXPECT_EQ(original, readBytes(bootFix()));
    EXPECT_EQ("old", readFile(bootFix() + ".bak"));

    fs::remove(bootFix() + ".bak");
    fs::remove(bootFix());
    ConsoleCapture again;
    EXPECT_EQ(1, editor->disablePressAnyKey());
    console = again.finish();
    EXPECT_EQ(0u, console.err.find(
                      "Warning: disabling the \"press any key\" option failed - exception "));
    EXPECT_FALSE(fs::exists(bootFix()));
}

}  // namespace
