// Runs of the built program that must fail: exit code 1, the exact lines, the input image
// unchanged and nothing left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    test_support::makeIsoWithXorriso(tree(), temp / "nojob.iso", "BOOT/HELLO.BIN");
    const std::string before = readFile(temp / "nojob.iso");
    expectFailure(run({"-i", "nojob.iso", "-f"}),
                  "Warning: nojob.iso has no \\MIRALDA\\TASKDECK.XML\n"
                  "Warning: retrieve taskdeck.xml failed\n");
    EXPECT_EQ(readFile(temp / "nojob.iso"), before);
    EXPECT_FALSE(test_support::fileExists(temp / "nojob.iso.tmp"));
    EXPECT_FALSE(test_support::fileExists(temp / "nojob.iso.bak"));
    EXPECT_TRUE(fs::is_empty(systemTmp()));
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

TEST_F(FailedRun, KillingTheRunDuringThePackLeavesTheImageIntact) {
    // A run on an identical copy shows what the program writes to standard output: the
    // pack's line for the copying of the files, then progress marks up to 100%.
    const std::vector<std::string> args = {"-i", "cd.iso", "-f"};
    fs::create_directories(temp / "reference");
    fs::copy_file(image(), temp / "reference/cd.iso");
    const e2e::ProgramRun reference = runProgram(temp / "reference", args);
    ASSERT_EQ(reference.exitCode, 0) << reference.out << reference.err;
    const std::string copying = "  write directory record and files ...\n0%.....";
    const size_t copyingAt = reference.out.find(copying);
    ASSERT_NE(copyingAt, std::string::npos) << reference.out;
    const size_t copyingStarted = copyingAt + copying.find('\n') + 1;
    const size_t room = copyingAt + copying.size();

    // Standard output goes to a pipe that nobody reads, with room for only that much of it:
    // once the line of the copying is in the pipe, the program is inside the pack and can
    // not get past its first progress marks, however fast it runs.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const int capacity = ::fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, static_cast<int>(room));
    const std::string filler(static_cast<size_t>(capacity) - room, '#');
    ASSERT_EQ(::write(pipeEnds[1], filler.data(), filler.size()),
              static_cast<ssize_t>(filler.size()));

    fs::create_directories(systemTmp());
    const std::string tmpSetting = "TMPDIR=" + systemTmp();
    const std::string program = e2e::programPath();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(pipeEnds[1], 1);
        ::dup2(devNull, 2);
        ::close(pipeEnds[0]);
        if (::chdir(temp.path().c_str()) != 0) {
            ::_exit(127);
        }
        ::putenv(const_cast<char*>(tmpSetting.c_str()));
        ::execl(program.c_str(), program.c_str(), args[0].c_str(), args[1].c_str(), args[2].c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);

    // Wait for the line; the bound only ends a test that went wrong.
    bool packing = false;
    for (int wait = 0; wait < 6000 && !packing; ++wait) {
        int queued = 0;
        ASSERT_EQ(::ioctl(pipeEnds[0], FIONREAD, &queued), 0);
        packing = static_cast<size_t>(queued) >= filler.size() + copyingStarted;
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the program ended on its own";
        if (!packing) {
            ::usleep(10000);
        }
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(pipeEnds[0]);
    ASSERT_TRUE(packing) << "the program did not reach the pack";
    EXPECT_TRUE(WIFSIGNALED(status));

    EXPECT_TRUE(fs::exists(image() + ".tmp")) << "the pack had begun";
    EXPECT_EQ(readFile(image()), original);
    EXPECT_FALSE(fs::exists(image() + ".bak"));
}
