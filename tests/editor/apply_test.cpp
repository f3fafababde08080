// The fixed order of the edits and the stop at the first failure.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "editor/editor_fixture.h"

namespace fs = boost::filesystem;

namespace {

class ApplyTest : public EditorTest {};

TEST_F(ApplyTest, NothingRequestedDoesNothing) {
    const Console console = applied(Options(), 0);
    EXPECT_EQ("", console.out);
    EXPECT_EQ("", console.err);
    EXPECT_EQ(editor_test::kJobFile, readFile(work("MIRALDA/TASKDECK.XML")));
}

TEST_F(ApplyTest, EditsRunInTheirFixedOrder) {
    writeSources({{"raid/r.sys", "r"},
                  {"net/n.inf", "n"},
                  {"bin.exe", "b"},
                  {"start.exe", "s"},
                  {"pkg/p", "p"},
                  {"spkg/run.exe", "r"}});
    Options options;
    // Given in reverse of the order they run in.
    options.firewallOff = true;
    options.startPackages = {source("spkg") + "%run.exe"};
    options.packages = {source("pkg")};
    options.startBinaries = {source("start.exe")};
    options.binaries = {source("bin.exe")};
    options.networkDrivers = {source("net")};
    options.storageDrivers = {source("raid")};
    const Console console = applied(options, 0);
    EXPECT_EQ("", console.err);
    const std::vector<std::string> steps = {
        "adding storage driver raid\n",   "adding network driver net\n",
        "adding file bin.exe ...\n",      "adding file start.exe ...\n",
        "adding directory pkg ...\n",     "adding directory spkg ...\n",
        "disabling firewall succeeded\n",
    };
    size_t at = 0;
    for (const std::string& step : steps) {
        const size_t found = console.out.find(step, at);
        ASSERT_NE(std::string::npos, found) << step << " missing or out of order";
        at = found;
    }
    EXPECT_EQ(
        (std::vector<std::string>{
            "<?xml version=\"1.0\"?>", "<taskDeck>",
            "  <exec processName=\"\\MIRALDA\\AGENT.EXE\" currentDir=\"\\MIRALDA\" />",
            "<exec processName=\"\\PROGRAMS\\start.exe\" currentDir=\"\\PROGRAMS\\\" />",
            "<exec processName=\"\\PROGRAMS\\spkg\\run.exe\" currentDir=\"\\PROGRAMS\\spkg\" />",
            "</taskDeck>"}),
        crlfLines(work("MIRALDA/TASKDECK.XML")));
}

TEST_F(ApplyTest, AFailingStorageDriverStopsEverythingAfterIt) {
    writeSources({{"net/n.inf", "n"}, {"bin.exe", "b"}});
    Options options;
    options.storageDrivers = {source("missing")};
    options.networkDrivers = {source("net")};
    options.binaries = {source("bin.exe")};
    options.firewallOff = true;
    buildImage();
    const std::string winbom = readFile(work("WINBOM.INI"));
    const Console console = applied(options, 1);
    EXPECT_EQ(0u, console.err.find("Warning: adding storage driver failed - exception: "));
    EXPECT_EQ(std::string::npos, console.out.find("network"));
    EXPECT_FALSE(fs::exists(work("I386/INF/n.inf")));
    EXPECT_FALSE(fs::exists(work("PROGRAMS")));
    EXPECT_EQ(winbom, readFile(work("WINBOM.INI")));
}

TEST_F(ApplyTest, AFailingStartUpStopsBeforeTheFirewall) {
    writeSources({{"start.exe", "s"}, {"pkg/p", "p"}});
    Options options;
    options.startBinaries = {source("start.exe")};
    options.packages = {source("pkg")};
    options.firewallOff = true;
    buildImage();
    writeFile(work("MIRALDA/TASKDECK.XML"), "<taskDeck>\r\n  </taskDeck>\r\n");
    const std::string winbom = readFile(work("WINBOM.INI"));
    applied(options, 1);
    // The binary added before the failure stays; later edits never ran.
    EXPECT_TRUE(test_support::fileExists(work("PROGRAMS/start.exe")));
    EXPECT_FALSE(fs::exists(work("PROGRAMS/pkg")));
    EXPECT_EQ(winbom, readFile(work("WINBOM.INI")));
}

TEST_F(ApplyTest, FirewallTogetherWithVncEndsWithOneFirewallLine) {
    writeFile(source("vnc/winvnc4.exe"), "v");
    Options options;
    options.firewallOff = true;
    options.vncValue = source("vnc") + "%winvnc4.exe";
    const Console console = applied(options, 0);
    EXPECT_EQ("", console.err);
    EXPECT_EQ((std::vector<std::string>{"[Factory]", "WinBOMType=WinPE", "", "[WinPE.Net]",
                                        "WinPEFirewall=off", "Startnet=Yes"}),
              crlfLines(work("WINBOM.INI")));
}

}  // namespace
