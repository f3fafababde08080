// The entry point of the built program: help, the useful-option rule and the option checks,
// each line on its own stream, and nothing made on disk when a check fails.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "e2e/e2e_helpers.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;
using e2e::runProgram;
using test_support::shellQuote;
using test_support::writeFile;

class EntryPoint : public testing::Test {
  protected:
    e2e::ProgramRun run(const std::vector<std::string>& args) {
        fs::create_directories(temp / "tmp");
        return runProgram(temp.path(), args, "", "", "TMPDIR=" + shellQuote(temp / "tmp"));
    }
    test_support::TempDir temp;
};

TEST_F(EntryPoint, HelpGoesToStandardOutputWithExitCodeZero) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {}, {"-h"}, {"-t", "some/dir"}, {"--help", "-i", "x.iso", "-P", "no-percent"}}) {
        const e2e::ProgramRun help = run(args);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.err, "");
        EXPECT_EQ(help.out.rfind("Open options:\n", 0), 0u) << help.out;
        EXPECT_NE(help.out.find("-n [ --network_driver ] arg"), std::string::npos);
        EXPECT_EQ(help.out.find("--dir"), std::string::npos) << "hidden options stay hidden";
        EXPECT_EQ(help.out.find("--file"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(temp / "some"));
}

TEST_F(EntryPoint, ParseErrorsGoToStandardErrorWithExitCodeOne) {
    const e2e::ProgramRun useless = run({"-i", "x.iso"});
    EXPECT_EQ(useless.exitCode, 1);
    EXPECT_EQ(useless.out, "");
    EXPECT_EQ(useless.err,
              "Warning: parsing option error, exeption: should specify at least one useful "
              "option\n");
}

TEST_F(EntryPoint, FailedChecksPrintTheirLinesAndMakeNothing) {
    writeFile(temp / "pkg/run.exe", "MZ");
    const e2e::ProgramRun format = run({"-i", "x.iso", "-P", "pkg", "-t", "work"});
    EXPECT_EQ(format.exitCode, 1);
    EXPECT_EQ(format.out, "Log: checking options ...\n");
    EXPECT_EQ(format.err,
              "Warning: invalid option format: pkg\n"
              "Warning: need to use '%' to specify the start up executable\n");

    const e2e::ProgramRun missing = run({"-i", "x.iso", "--start_b", "a.exe", "-b", "pkg"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "Log: checking options ...\nLog: checking file existence ...\n");
    EXPECT_EQ(missing.err, "Warning: can not find binary file pkg\n")
        << "binaries are checked before start binaries; a directory is not a binary";

    EXPECT_FALSE(fs::exists(temp / "work"));
    EXPECT_TRUE(fs::is_empty(temp / "tmp")) << "a generated work directory was left behind";
}
