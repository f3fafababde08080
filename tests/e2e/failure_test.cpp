// Runs of the built program that must fail: exit code 1, the exact lines, the input image
// unchanged and nothing left behind.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "e2e/e2e_helpers.h"
#include "e2e/sample_cd_fixture.h"
#include "support/fixture_image.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;

TEST_F(FailedRun, MissingImageOrJobFileStopsAtItsRetrieve) {
    expectFailure(run({"-i", "none.iso", "-f"}),
                  "Warning: the image none.iso does not exist\n"
                  "Warning: retrieve winbom.ini failed\n");
    EXPECT_FALSE(test_support::fileExists(temp / "none.iso.tmp"));
    expectNothingLeft();

    expectFailure(run({"-f"}),
                  "Warning: no image was named: give it with -i IMAGE\n"
                  "Warning: retrieve winbom.ini failed\n");

    // The same CD without its job file.
    fs::remove(tree() + "/MIRALDA/TASKDECK.XML");
    test_support::makeIsoWithXorriso(tree(), image(), "BOOT/HELLO.BIN");
    original = readFile(image());
    expectFailure(run({"-i", "cd.iso", "-f"}),
                  "Warning: cd.iso has no \\MIRALDA\\TASKDECK.XML\n"
                  "Warning: retrieve taskdeck.xml failed\n");
    expectNothingLeft();
}

TEST_F(FailedRun, ANameConflictIsResolvedThroughStandardInput) {
    writeFile(temp / "add/README.TXT", "replacement");
    const std::vector<std::string> args = {"-i", "cd.iso", "-Y", "add/README.TXT%\\DOCS"};
    const std::string question =
        "Log: a file or directory with same name exists\n"
        "Log: change the destination file name, overwrite or abort\n"
        "Log: press 'c' to change name, 'o' to overwrite, other key to abort\n";

    for (const char* refusal : {"x\n", "C\n", ""}) {
        const e2e::ProgramRun aborted = run(args, refusal);
        EXPECT_EQ(aborted.exitCode, 1) << refusal;
        EXPECT_TRUE(contains(aborted.out, question)) << aborted.out;
        EXPECT_EQ(aborted.err,
                  "Warning: adding file README.TXT failed - file name conflict, aborted by user\n"
                  "Warning: copy back file add/README.TXT failed\n")
            << refusal;
        EXPECT_TRUE(endsWith(aborted.out, kCleanUpLines)) << aborted.out;
        expectNothingLeft();
    }

    const e2e::ProgramRun renamed = run(args, " c\nNEW.TXT\n");
    ASSERT_EQ(renamed.exitCode, 0) << renamed.out << renamed.err;
    EXPECT_TRUE(contains(
        renamed.out, question + "Log: please enter the new name for the binary file README.TXT\n"))
        << renamed.out;
    EXPECT_EQ(readFromImage(image(), "/DOCS/NEW.TXT"), "replacement");
    EXPECT_EQ(readFromImage(image(), "/DOCS/README.TXT"), readFile(tree() + "/DOCS/README.TXT"));

    const e2e::ProgramRun overwritten = run(args, "o\n");
    ASSERT_EQ(overwritten.exitCode, 0) << overwritten.out << overwritten.err;
    EXPECT_EQ(readFromImage(image(), "/DOCS/README.TXT"), "replacement");
    EXPECT_EQ(readFromImage(image(), "/DOCS/NEW.TXT"), "replacement") << "kept from the last run";
    EXPECT_TRUE(fs::is_empty(systemTmp()));
}

TEST_F(FailedRun, WorkDirectoryProblemsAreReportedBeforeAnythingIsRemoved) {
    const e2e::ProgramRun noParent = run({"-i", "cd.iso", "-f", "-t", "missing/work"});
    EXPECT_EQ(noParent.exitCode, 1);
    EXPECT_TRUE(noParent.err.rfind("Warning: exception: ", 0) == 0) << noParent.err;
    EXPECT_TRUE(contains(noParent.err, "missing/work")) << noParent.err;
    EXPECT_TRUE(endsWith(noParent.out, kCleanUpLines)) << noParent.out;
    EXPECT_FALSE(fs::exists(temp / "missing"));
    expectNothingLeft();

    // An empty -t names the empty path, which can not be made; no other directory is used.
    const e2e::ProgramRun emptyName = run({"-i", "cd.iso", "-f", "-t", ""});
    EXPECT_EQ(emptyName.exitCode, 1);
    EXPECT_TRUE(emptyName.err.rfind("Warning: exception: ", 0) == 0) << emptyName.err;
    EXPECT_TRUE(endsWith(emptyName.out, kCleanUpLines)) << emptyName.out;
    expectNothingLeft();

    // The image's own directory, or one above it, would take the image with it.
    writeFile(temp / "mine.txt", "the user's file");
    fs::create_directory(image() + ".bak");
    writeFile(image() + ".bak/kept", "kept");
    for (const std::string& work : {temp.path(), temp.path() + "/", std::string("."),
                                    fs::path(temp.path()).parent_path().string(), image(),
                                    image() + ".bak", image() + ".tmp"}) {
        const e2e::ProgramRun refused = run({"-i", "cd.iso", "-f", "-t", work});
        EXPECT_EQ(refused.exitCode, 1) << work;
        EXPECT_TRUE(contains(refused.err, "holds the image")) << refused.err;
        EXPECT_EQ(readFile(temp / "mine.txt"), "the user's file");
        EXPECT_EQ(readFile(image() + ".bak/kept"), "kept");
        EXPECT_EQ(readFile(image()), original);
        EXPECT_FALSE(fs::exists(image() + ".tmp"));
        EXPECT_TRUE(fs::is_empty(systemTmp()));
    }
}

TEST_F(FailedRun, AFailingEditEndsTheRunWithoutAnImage) {
    // Two network drivers that bring the same file: the second copy fails.
    writeFile(temp / "net1/NET.SYS", "one");
    writeFile(temp / "net2/NET.SYS", "two");
    writeFile(temp / "work/keep", "emptied, not removed");
    const e2e::ProgramRun twice = run({"-i", "cd.iso", "-n", "net1", "-n", "net2", "-t", "work"});
    EXPECT_EQ(twice.exitCode, 1);
    EXPECT_TRUE(twice.err.rfind("Warning: adding network driver failed - exception: ", 0) == 0)
        << twice.err;
    EXPECT_TRUE(endsWith(twice.out, kCleanUpLines)) << twice.out;
    EXPECT_TRUE(fs::is_directory(temp / "work"));
    EXPECT_TRUE(fs::is_empty(temp / "work"));
    expectNothingLeft();
}

TEST_F(FailedRun, APackThatCanNotWriteLeavesTheImageAsItWas) {
    // The new image is about 800 KiB; the limit lets the six small files through.
    const e2e::ProgramRun limited = run({"-i", "cd.iso", "-f"}, "", "trap '' XFSZ; ulimit -f 400;");
    EXPECT_EQ(limited.exitCode, 1) << limited.out << limited.err;
    EXPECT_TRUE(contains(limited.out, "Log: pack image file back ...\n")) << limited.out;
    EXPECT_FALSE(contains(limited.out, "pack image file back succeeded"));
    EXPECT_TRUE(endsWith(limited.out, kCleanUpLines)) << limited.out;
    expectNothingLeft();
}
