// Start-up entries in the job file and the start-package and start-binary edits.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "editor/editor_fixture.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;

namespace {

const char* const kAgentLine =
    "  <exec processName=\"\\MIRALDA\\AGENT.EXE\" currentDir=\"\\MIRALDA\" />";

class StartUpTest : public EditorTest {
  protected:
    std::string jobFile() const { return work("MIRALDA/TASKDECK.XML"); }
    // The job file's first new start line after a successful apply() of `options`.
    std::string startLineAfter(const Options& options) {
        applied(options, 0);
        return crlfLines(jobFile()).at(3);
    }
};

TEST_F(StartUpTest, EntriesGoBeforeTheClosingTagInTheOrderAdded) {
    const Console console = edited([&](WinpeEditor& editor) {
        EXPECT_EQ(0, editor.addStartUp("agent.exe"));
        EXPECT_EQ(0, editor.addStartUp("agent\\bin\\run.exe"));
    });
    EXPECT_EQ(
        "Log: adding start up ...\nLog: adding start up succeeded\n"
        "Log: adding start up ...\nLog: adding start up succeeded\n",
        console.out);
    EXPECT_EQ((Lines{"<?xml version=\"1.0\"?>", "<taskDeck>", kAgentLine,
                     "<exec processName=\"\\PROGRAMS\\agent.exe\" currentDir=\"\\PROGRAMS\\\" />",
                     "<exec processName=\"\\PROGRAMS\\agent\\bin\\run.exe\" "
                     "currentDir=\"\\PROGRAMS\\agent\\bin\" />",
                     "</taskDeck>"}),
              crlfLines(jobFile()));
}

TEST_F(StartUpTest, JobFileShapes) {
    struct Case {
        std::string content;
        std::string expected;  // "" when the edit must fail and leave the file alone
    };
    const std::string exec =
        "<exec processName=\"\\PROGRAMS\\a.exe\" currentDir=\"\\PROGRAMS\\\" />";
    const Case cases[] = {
        // LF line ends are rewritten as CR LF; a final line end adds no empty line.
        {"<taskDeck>\n</taskDeck>\n", "<taskDeck>\r\n" + exec + "\r\n</taskDeck>\r\n"},
        // Without a final line end the last line still gets one.
        {"<taskDeck>\r\n</taskDeck>", "<taskDeck>\r\n" + exec + "\r\n</taskDeck>\r\n"},
        // Only the first of two closing tags.
        {"<taskDeck>\r\n</taskDeck>\r\n</taskDeck>\r\n",
         "<taskDeck>\r\n" + exec + "\r\n</taskDeck>\r\n</taskDeck>\r\n"},
        // Empty lines inside the file stay.
        {"<taskDeck>\r\n\r\n</taskDeck>\r\n\r\n",
         "<taskDeck>\r\n\r\n" + exec + "\r\n</taskDeck>\r\n\r\n"},
        // The closing tag must be the whole line.
        {"<taskDeck>\r\n  </taskDeck>\r\n", ""},
        {"<taskDeck>\r\n</taskDeck> \r\n", ""},
        {"<taskDeck>\r\n</TASKDECK>\r\n", ""},
        {"<taskDeck></taskDeck>\r\n", ""},
        {"", ""},
    };
    auto editor = makeEditor();
    for (const Case& c : cases) {
        writeFile(jobFile(), c.content);
        ConsoleCapture capture;
        const int result = editor->addStartUp("a.exe");
        const Console console = capture.finish();
        if (c.expected.empty()) {
            EXPECT_EQ(1, result) << c.content;
            EXPECT_EQ("Warning: adding start up failed - unexpected file format at taskdeck.xml\n",
                      console.err);
            EXPECT_EQ(c.content, readFile(jobFile()));
        } else {
            EXPECT_EQ(0, result) << c.content;
            EXPECT_EQ(c.expected, readFile(jobFile()));
        }
    }
}

TEST_F(StartUpTest, MissingJobFileIsReportedWithItsPath) {
    buildImage();
    fs::remove(jobFile());
    const Console console =
        edited([&](WinpeEditor& editor) { EXPECT_EQ(1, editor.addStartUp("a.exe")); });
    EXPECT_EQ("Log: adding start up ...\nLog: adding start up failed - unable to open file " +
                  work("MIRALDA/TASKDECK.XML") + "\n",
              console.out);
}

TEST_F(StartUpTest, SpecialCharactersInNamesAreEscaped) {
    auto editor = makeEditor();
    ConsoleCapture capture;
    EXPECT_EQ(0, editor->addStartUp("R&D <x>\\\"q\"'s.exe"));
    EXPECT_EQ(
        "<exec processName=\"\\PROGRAMS\\R&amp;D &lt;x&gt;\\&quot;q&quot;&apos;s.exe\" "
        "currentDir=\"\\PROGRAMS\\R&amp;D &lt;x&gt;\" />",
        crlfLines(jobFile())[3]);
    // The result is still well-formed XML with the names as attribute values.
    const test_support::CommandResult check = test_support::runCommand(
        "python3 -c 'import sys, xml.dom.minidom as m; "
        "e = m.parse(sys.argv[1]).getElementsByTagName(\"exec\")[1]; "
        "print(e.getAttribute(\"processName\")); print(e.getAttribute(\"currentDir\"))' " +
        test_support::shellQuote(jobFile()));
    EXPECT_EQ(0, check.exitCode) << check.output;
    EXPECT_EQ("\\PROGRAMS\\R&D <x>\\\"q\"'s.exe\n\\PROGRAMS\\R&D <x>\n", check.output);
}

TEST_F(StartUpTest, StartBinaryRenamedAtThePromptStartsUnderItsNewName) {
    writeFile(cdTree() + "/PROGRAMS/tool.exe", "x");
    writeFile(source("tool.exe"), "x");
    Options options;
    options.startBinaries = {source("tool.exe")};
    answer("c tool2.exe");
    EXPECT_EQ("<exec processName=\"\\PROGRAMS\\tool2.exe\" currentDir=\"\\PROGRAMS\\\" />",
              startLineAfter(options));
}

TEST_F(StartUpTest, StartPackageUsesThePackageNameItReceived) {
    fs::create_directories(cdTree() + "/PROGRAMS/agent");
    writeFile(source("agent/bin/run.exe"), "x");
    Options options;
    options.startPackages = {source("agent") + "%bin\\run.exe"};
    answer("c agent2");
    EXPECT_EQ(
        "<exec processName=\"\\PROGRAMS\\agent2\\bin\\run.exe\" "
        "currentDir=\"\\PROGRAMS\\agent2\\bin\" />",
        startLineAfter(options));
    EXPECT_TRUE(test_support::fileExists(work("PROGRAMS/agent2/bin/run.exe")));
}

TEST_F(StartUpTest, StartPackageWithoutExecutableAddsThePackageThenFailsQuietly) {
    writeFile(source("agent/run.exe"), "x");
    Options options;
    options.startPackages = {source("agent") + "%"};
    buildImage();
    const std::string before = readFile(jobFile());
    const Console console = applied(options, 1);
    EXPECT_EQ("Log: adding directory agent ...\nLog: adding directory agent succeeded\n",
              console.out);
    EXPECT_EQ("", console.err);
    EXPECT_TRUE(test_support::fileExists(work("PROGRAMS/agent/run.exe")));
    EXPECT_EQ(before, readFile(jobFile()));
}

TEST_F(StartUpTest, StartPackageExecutableIsEverythingAfterTheFirstPercent) {
    writeFile(source("agent/x"), "x");
    Options options;
    options.startPackages = {source("agent") + "%run%1.exe"};
    EXPECT_EQ(
        "<exec processName=\"\\PROGRAMS\\agent\\run%1.exe\" currentDir=\"\\PROGRAMS\\agent\" />",
        startLineAfter(options));
}

}  // namespace
