// Test fixtures holding a freshly made sample boot CD and a copy of its original bytes,
// and the names every suite of whole-program runs uses.
#pragma once

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <string>
#include <vector>

#include "e2e/e2e_helpers.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

// A freshly made sample boot CD and a copy of its original bytes.
struct SampleCd {
    void make() {
        e2e::makeSampleCd(temp / "cd-tree", image());
        original = test_support::readFile(image());
    }

    std::string image() const { return temp / "cd.iso"; }
    // A run in the CD's directory that makes its work directory there too.
    e2e::ProgramRun runHere(const std::vector<std::string>& args) const {
        return e2e::runProgram(temp.path(), args, "", "",
                               "TMPDIR=" + test_support::shellQuote(temp.path()));
    }
    e2e::ProgramRun runFirewall() const { return runHere({"-i", "cd.iso", "-f"}); }
    std::string tree() const { return temp / "cd-tree"; }

    // After a failed run: the image is as it was and nothing is left beside it.
    void expectImageUntouched() const {
        EXPECT_EQ(test_support::readFile(image()), original) << "the input image changed";
        EXPECT_FALSE(test_support::fileExists(image() + ".tmp")) << "a new image was left";
        EXPECT_FALSE(test_support::fileExists(image() + ".bak")) << "a backup was made";
    }

    test_support::TempDir temp;
    std::string original;
};

class SampleCdTest : public testing::Test, public SampleCd {
  protected:
    void SetUp() override { make(); }
};

// The lines of a run's last step, on success and on failure alike.
inline constexpr char kCleanUpLines[] = "Log: clean up ...\nLog: clean up succeeded\n";

// Runs that must fail and leave nothing behind.
class FailedRun : public SampleCdTest {
  protected:
    // A run with a generated work directory inside a private temporary directory.
    e2e::ProgramRun run(const std::vector<std::string>& args, const std::string& input = "",
                        const std::string& prefix = "") {
        boost::filesystem::create_directories(systemTmp());
        return e2e::runProgram(temp.path(), args, input, prefix,
                               "TMPDIR=" + test_support::shellQuote(systemTmp()));
    }
    std::string systemTmp() const { return temp / "system-tmp"; }

    // A run that failed with exactly `err` on standard error and still cleaned up.
    static void expectFailure(const e2e::ProgramRun& failed, const std::string& err) {
        EXPECT_EQ(failed.exitCode, 1);
        EXPECT_EQ(failed.err, err);
        EXPECT_TRUE(e2e::endsWith(failed.out, kCleanUpLines)) << failed.out;
    }

    void expectNothingLeft() const {
        expectImageUntouched();
        EXPECT_TRUE(boost::filesystem::is_empty(systemTmp())) << "a work directory was left behind";
    }
};

using e2e::endsWith;
using e2e::readFromImage;
using e2e::runProgram;
using test_support::contains;
using test_support::readFile;
using test_support::shellQuote;
using test_support::writeFile;
