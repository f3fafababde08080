#include "cli/options.h"
#include "support/console_capture.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Parsed {
    ParseOutcome outcome;
    RunOptions options;
    std::string help;
    std::string out;  // what reached standard output besides the help stream
    std::string err;
};

Parsed parse(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"winpe-iso"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    Parsed parsed;
    std::ostringstream help;
    test_support::ConsoleCapture capture;
    parsed.outcome =
        parseCommandLine(static_cast<int>(argv.size()), argv.data(), parsed.options, help);
    const test_support::Console console = capture.finish();
    parsed.err = console.err;
    parsed.out = console.out;
    parsed.help = help.str();
    return parsed;
}

const char kParseError[] = "Warning: parsing option error, exeption: ";

}  // namespace

TEST(Options, HelpIsShownWhenAskedOrWhenNothingIsAsked) {
    for (const char* line : {"", "-h", "--help", "-t /no/such/dir", "-h -P nopercent -i x"}) {
        const Parsed parsed = parse(test_support::words(line));
        EXPECT_EQ(parsed.outcome, ParseOutcome::helpShown);
        EXPECT_EQ(parsed.err, "");
        const std::string& text = parsed.help;
        EXPECT_EQ(text.rfind("Open options:\n", 0), 0u) << text;
        for (const char* name : {"--help", "-i [ --image ] arg", "--start_binary",
                                 "--start_package", "-f [ --disable_firewall ]", "-t [ --tmp ] arg",
                                 "binary files to add and automatically start"}) {
            EXPECT_NE(text.find(name), std::string::npos) << name;
        }
        EXPECT_EQ(text.find("--dir"), std::string::npos) << "hidden options are never shown";
        EXPECT_EQ(text.find("--file"), std::string::npos);
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            EXPECT_LE(end - start, 80u) << "lines wrap at 80 columns";
        }
        EXPECT_EQ(text.substr(text.size() - 2), "\n\n") << "the group is followed by a line end";
    }
}

TEST(Options, ImageWithoutAUsefulOptionIsAnError) {
    const Parsed parsed = parse({"-i", "x.iso", "-t", "work"});
    EXPECT_EQ(parsed.outcome, ParseOutcome::failed);
    EXPECT_EQ(parsed.err, std::string(kParseError) + "should specify at least one useful option\n");
    EXPECT_EQ(parsed.help, "");
    EXPECT_EQ(parsed.out, "");
}

TEST(Options, LibraryErrorsAreReportedAsParseErrors) {
    struct Case {
        std::vector<std::string> args;
        const char* fragment;
    };
    const std::vector<Case> cases = {
        {{"--start", "a"}, "ambiguous"},
        {{"-i", "x.iso", "-i", "y.iso", "-f"}, "more than once"},
        {{"-f", "-f"}, "more than once"},
        {{"-f", "--bogus"}, "unrecognised"},
        {{"-h", "--bogus"}, "unrecognised"},
        {{"-b"}, "missing"},
    };
    for (const Case& c : cases) {
        const Parsed parsed = parse(c.args);
        EXPECT_EQ(parsed.outcome, ParseOutcome::failed);
        EXPECT_EQ(parsed.err.rfind(kParseError, 0), 0u) << parsed.err;
        EXPECT_NE(parsed.err.find(c.fragment), std::string::npos) << parsed.err;
        EXPECT_EQ(parsed.help, "");
    }
}

TEST(Options, ValuesAreTakenInCommandLineOrder) {
    std::vector<std::string> args = test_support::words(
        "-b a.exe --start_b s.exe -b b.exe --image=img.iso -tWORK -v '' stray -X C:\\data%\\EXTRA "
        "-Y f1 --file f2 -d st -n n1 -n n2 -p pk -P sp%run.exe -f");
    std::replace(args.begin(), args.end(), std::string("''"), std::string());  // -v ""
    const Parsed parsed = parse(args);
    ASSERT_EQ(parsed.outcome, ParseOutcome::run) << parsed.err;
    const RunOptions& o = parsed.options;
    EXPECT_EQ(o.imagePath, "img.iso");
    EXPECT_EQ(o.workDirectory, "WORK");
    EXPECT_EQ(o.edits.vncValue, "");
    EXPECT_TRUE(o.edits.firewallOff);
    EXPECT_EQ(o.edits.binaries, (std::vector<std::string>{"a.exe", "b.exe"}));
    EXPECT_EQ(o.edits.startBinaries, (std::vector<std::string>{"s.exe"}));
    EXPECT_EQ(o.edits.directories, (std::vector<std::string>{"C:\\data%\\EXTRA"}));
    EXPECT_EQ(o.edits.files, (std::vector<std::string>{"f1", "f2"}));
    EXPECT_EQ(o.edits.storageDrivers, (std::vector<std::string>{"st"}));
    EXPECT_EQ(o.edits.networkDrivers, (std::vector<std::string>{"n1", "n2"}));
    EXPECT_EQ(o.edits.packages, (std::vector<std::string>{"pk"}));
    EXPECT_EQ(o.edits.startPackages, (std::vector<std::string>{"sp%run.exe"}));
    EXPECT_EQ(parsed.help, "");
}

TEST(Options, EachUsefulOptionAloneMakesARun) {
    for (const char* option : {"-b", "-B", "-v", "-p", "-P", "-d", "-n", "-X", "-Y"}) {
        const Parsed parsed = parse({option, ""});
        EXPECT_EQ(parsed.outcome, ParseOutcome::run) << option << parsed.err;
    }
    const Parsed firewall = parse({"-f"});
    EXPECT_EQ(firewall.outcome, ParseOutcome::run);
    EXPECT_TRUE(firewall.options.edits.firewallOff);
    EXPECT_EQ(firewall.options.imagePath, "") << "useful options need no image to parse";
}

TEST(Options, TheScriptOptionsParseBesideTheOthersAndChangeNoAbbreviation) {
    const Parsed all = parse({"-i", "x.iso", "-f", "--on-clash", "rename", "--dry-run"});
    ASSERT_EQ(all.outcome, ParseOutcome::run) << all.err;
    EXPECT_EQ(all.options.clashPolicy, ClashPolicy::rename);
    EXPECT_TRUE(all.options.dryRun);
    EXPECT_FALSE(all.options.listImage);
    EXPECT_EQ(parse({"-f"}).options.clashPolicy, ClashPolicy::ask);

    const Parsed listing = parse({"--list", "-i", "x.iso"});
    ASSERT_EQ(listing.outcome, ParseOutcome::run) << listing.err;
    EXPECT_TRUE(listing.options.listImage);

    // --v is still --vnc, --dry-run alone asks for nothing useful.
    const Parsed vnc = parse({"--v", "pkg%vnc.exe"});
    ASSERT_EQ(vnc.outcome, ParseOutcome::run) << vnc.err;
    EXPECT_EQ(vnc.options.edits.vncValue, "pkg%vnc.exe");
    EXPECT_EQ(parse({"-i", "x.iso", "--dry-run"}).err,
              std::string(kParseError) + "should specify at least one useful option\n");

    const struct {
        std::vector<std::string> args;
        const char* fragment;
    } refused[] = {
        {{"-f", "--on-clash", "skip"}, "--on-clash takes ask, abort, overwrite or rename"},
        {{"--list"}, "--list needs the image"},
        {{"--list", "-i", "x.iso", "-f"}, "--list takes no changes"},
        {{"--list", "-i", "x.iso", "--dry-run"}, "--list takes no changes"},
        {{"-f", "--version"}, "unrecognised"},
        {{"-V", "-f"}, "unrecognised"},
    };
    for (const auto& c : refused) {
        const Parsed parsed = parse(c.args);
        EXPECT_EQ(parsed.outcome, ParseOutcome::failed);
        EXPECT_NE(parsed.err.find(c.fragment), std::string::npos) << c.fragment;
    }
}

TEST(Options, TheVersionIsTheOnlyArgument) {
    for (const char* asked : {"--version", "-V"}) {
        const Parsed version = parse({asked});
        EXPECT_EQ(version.outcome, ParseOutcome::versionShown);
        EXPECT_EQ(version.help, std::string("winpe-iso ") + WINPE_VERSION + "\n");
        EXPECT_EQ(version.err, "");
    }
}
