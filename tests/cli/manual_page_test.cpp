// The manual page documents exactly the options the program accepts: the open ones as
// the help text lists them, the hidden ones under their own heading.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "support/test_files.h"

namespace {

using Options = std::vector<std::string>;  // "-b, --binary ARG", "-f, --disable_firewall"

std::string describe(const std::string& shortName, const std::string& longName, bool value) {
    return "-" + shortName + ", --" + longName + (value ? " ARG" : "");
}

std::string sectionOf(const std::string& text, const std::string& heading,
                      const std::string& next) {
    const size_t start = text.find(heading);
    EXPECT_NE(start, std::string::npos) << heading;
    if (start == std::string::npos) {
        return "";
    }
    const size_t end = text.find(next, start + heading.size());
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The options of the page's .TP entries; every entry must name one.
Options pageOptions(const std::string& section) {
    static const std::regex entry(R"(^\.BR \\-([A-Za-z]) ", " \\-\\-([a-z_]+)( "? \\fI)?)");
    Options options;
    std::istringstream lines(section);
    std::string line;
    while (std::getline(lines, line)) {
        if (line != ".TP") {
            continue;
        }
        std::getline(lines, line);
        std::smatch m;
        if (!std::regex_search(line, m, entry)) {
            ADD_FAILURE() << "a .TP entry names no option: " << line;
            continue;
        }
        options.push_back(describe(m[1], m[2], m[3].matched));
    }
    return options;
}

Options helpOptions() {
    const char* argv[] = {"winpe-iso", "-h"};
    RunOptions ignored;
    std::ostringstream help;
    EXPECT_EQ(parseCommandLine(2, argv, ignored, help), ParseOutcome::helpShown);
    static const std::regex line(R"(^  -([A-Za-z]) \[ --([a-z_]+) \]( arg)?)");
    Options options;
    std::istringstream lines(help.str());
    std::string text;
    while (std::getline(lines, text)) {
        std::smatch m;
        if (std::regex_search(text, m, line)) {
            options.push_back(describe(m[1], m[2], m[3].matched));
        }
    }
    return options;
}

// Every option of the program's option table, open and hidden, in table order.
Options tableOptions() {
    const std::string source = test_support::readFile(WINPE_SOURCE_DIR "/src/cli/options.cpp");
    static const std::regex line(R"re(add\("([a-z_]+),([A-Za-z])",( po::value)?)re");
    Options options;
    for (std::sregex_iterator it(source.begin(), source.end(), line), end; it != end; ++it) {
        options.push_back(describe((*it)[2], (*it)[1], (*it)[3].matched));
    }
    return options;
}

const char kOptionsHeading[] = "\n.SH OPTIONS\n";
const char kHiddenHeading[] = "\n.SS Hidden options\n";

std::string optionsSection() {
    return sectionOf(test_support::readFile(WINPE_SOURCE_DIR "/doc/winpe-iso.1"), kOptionsHeading,
                     "\n.SH ");
}

}  // namespace

TEST(ManualPage, ListsTheOpenOptionsAsTheHelpTextDoes) {
    const Options help = helpOptions();
    ASSERT_EQ(help.size(), 11u);
    EXPECT_EQ(pageOptions(sectionOf(optionsSection(), kOptionsHeading, kHiddenHeading)), help);
}

TEST(ManualPage, ListsTheHiddenOptionsUnderAHeadingOfTheirOwn) {
    const std::string hidden = sectionOf(optionsSection(), kHiddenHeading, "\n.S");
    EXPECT_NE(hidden.find("not listed by\n.BR \\-h"), std::string::npos) << hidden;

    Options expected = tableOptions();
    for (const std::string& open : helpOptions()) {
        expected.erase(std::remove(expected.begin(), expected.end(), open), expected.end());
    }
    EXPECT_EQ(expected, (Options{"-X, --dir ARG", "-Y, --file ARG"}));
    EXPECT_EQ(pageOptions(hidden), expected);

    // The program takes each of them, by either name, as a change of its own.
    for (const char* name : {"-X", "--dir", "-Y", "--file"}) {
        const char* argv[] = {"winpe-iso", name, "local"};
        RunOptions options;
        std::ostringstream help;
        EXPECT_EQ(parseCommandLine(3, argv, options, help), ParseOutcome::run) << name;
        EXPECT_EQ(options.edits.directories.size() + options.edits.files.size(), 1u) << name;
    }
}

TEST(ManualPage, DocumentsTheOptionsForScriptsThatTheTableHasUnderTheirOwnHeading) {
    const std::string scripts = sectionOf(optionsSection(), "\n.SS Options for scripts\n", "\n.S");
    const std::string source = test_support::readFile(WINPE_SOURCE_DIR "/src/cli/options.cpp");
    // The table's entries without a short name.
    static const std::regex longOnly(R"re(add\("([a-z-]+)",)re");
    std::vector<std::string> names;
    for (std::sregex_iterator it(source.begin(), source.end(), longOnly), end; it != end; ++it) {
        names.push_back((*it)[1]);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"on-clash", "dry-run", "list"}));
    names.push_back("version");
    for (const std::string& name : names) {
        // In roff every '-' of an option is written "\-".
        std::string roff = "\\-\\-";
        for (const char c : name) {
            roff += c == '-' ? std::string("\\-") : std::string(1, c);
        }
        bool entry = false;
        for (const char* macro : {"\n.BI ", "\n.B ", "\n.BR "}) {
            entry |= scripts.find(macro + roff) != std::string::npos;
        }
        EXPECT_TRUE(entry) << "no entry for --" << name << " in\n" << scripts;
    }
}
