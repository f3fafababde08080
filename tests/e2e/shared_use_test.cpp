// Runs that meet what else is on the machine: a reader of the output that goes away,
// closed standard descriptors, access lists and attributes on the image, the user's
// files beside it, and a file system that fills up while the backup is copied.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>

#include "e2e/e2e_helpers.h"
#include "e2e/sample_cd_fixture.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;
using test_support::runCommand;

class SharedUse : public FailedRun {
  protected:
    // The program run by bash in the image's directory with a private TMPDIR: `args`
    // go to it, `redirections` follow them (and may close a descriptor), `pipe` is the
    // command its standard output goes to, `prefix` runs before it.
    test_support::CommandResult runInShell(const std::string& args, const std::string& redirections,
                                           const std::string& pipe = "",
                                           const std::string& prefix = "") {
        fs::create_directories(systemTmp());
        std::string command = "cd " + shellQuote(temp.path()) + " && set -o pipefail && " + prefix +
                              " TMPDIR=" + shellQuote(systemTmp()) + " timeout 120 " +
                              shellQuote(e2e::programPath()) + " " + args + " " + redirections;
        if (!pipe.empty()) {
            command += " | " + pipe;
        }
        return runCommand("bash -c " + shellQuote(command));
    }
    std::string errors() const { return readFile(temp / "err"); }
};

TEST_F(SharedUse, AReaderOfTheOutputThatGoesAwayEndsTheRunCleanly) {
    // The program inherits the disposition: a SIGPIPE ignored by whatever runs the tests
    // would stay ignored in it.
    struct sigaction previous;
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    ASSERT_EQ(::sigaction(SIGPIPE, &standard, &previous), 0);
    const test_support::CommandResult cut = runInShell("-i cd.iso -f", "2>err", "head -1");
    EXPECT_EQ(cut.exitCode, 1) << cut.output << errors();
    EXPECT_TRUE(cut.output.rfind("Log: ", 0) == 0) << cut.output;
    EXPECT_TRUE(endsWith(errors(),
                         "Warning: the run was interrupted by SIGPIPE, the image is left as "
                         "it was\n"))
        << errors();
    expectNothingLeft();

    // Where SIGPIPE is ignored the writes fail and the run goes on to a complete image.
    const test_support::CommandResult ignored =
        runInShell("-i cd.iso -f", "2>err", "head -1", "trap '' PIPE &&");
    EXPECT_EQ(ignored.exitCode, 0) << ignored.output << errors();
    EXPECT_EQ(readFile(image() + ".bak"), original);
    EXPECT_EQ(readFromImage(image(), "/DOCS/README.TXT"), readFile(tree() + "/DOCS/README.TXT"));
    EXPECT_FALSE(fs::exists(image() + ".tmp"));
    ::sigaction(SIGPIPE, &previous, nullptr);
}

TEST_F(SharedUse, ClosedStandardDescriptorsAreNeverFilesOfTheRun) {
    // Bytes the image's unused system area may hold: read as answers they would say
    // "overwrite".
    e2e::mustRun("printf 'o\\n' | dd of=" + shellQuote(image()) + " conv=notrunc status=none");
    original = readFile(image());
    writeFile(temp / "add/README.TXT", "replacement");
    const test_support::CommandResult closedInput =
        runInShell("-i cd.iso -Y 'add/README.TXT%\\DOCS'", "<&- >out 2>err");
    EXPECT_EQ(closedInput.exitCode, 1) << errors();
    EXPECT_TRUE(contains(errors(), "file name conflict, aborted by user")) << errors();
    expectNothingLeft();

    // Progress lines never go into a file the run opens, such as the new image.
    const test_support::CommandResult closedOutput = runInShell("-i cd.iso -f", ">&- 2>err");
    EXPECT_EQ(closedOutput.exitCode, 0) << errors();
    EXPECT_EQ(readFile(image() + ".bak"), original);
    EXPECT_NO_THROW(e2e::mustRun("xorriso -indev " + shellQuote(image()) +
                                 " -find / -name README.TXT 2>&1 | grep -q README"));
    EXPECT_EQ(readFromImage(image(), "/DOCS/README.TXT"), readFile(tree() + "/DOCS/README.TXT"));
}

TEST_F(SharedUse, AnAccessListAndUserAttributesAreKeptWithTheMode) {
    if (!test_support::haveTool("setfacl") ||
        runCommand("setfacl -m u:nobody:rw " + shellQuote(image())).exitCode != 0 ||
        runCommand("setfattr -n user.origin -v lab " + shellQuote(image())).exitCode != 0) {
        GTEST_SKIP() << "no access lists or user attributes on this file system";
    }
    const std::string acl = "getfacl --omit-header " + shellQuote(image());
    const std::string before = e2e::mustRun(acl);
    ASSERT_TRUE(contains(before, "user:nobody:rw-")) << before;
    struct stat old;
    ASSERT_EQ(::stat(image().c_str(), &old), 0);

    const e2e::ProgramRun done = run({"-i", "cd.iso", "-f"});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_EQ(done.err, "");
    EXPECT_EQ(e2e::mustRun(acl), before) << "the group keeps r--, the mask stays the mask";
    EXPECT_EQ(e2e::mustRun("getfattr --absolute-names --only-values -n user.origin " +
                           shellQuote(image())),
              "lab");
    struct stat now;
    ASSERT_EQ(::stat(image().c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 07777, old.st_mode & 07777);
    EXPECT_NE(readFile(image()), original);
}

TEST_F(SharedUse, TheUsersFilesBesideTheImageAreRefusedBeforeAnyWork) {
    writeFile(image() + ".bak/kept", "the user's");
    const e2e::ProgramRun directory = run({"-i", "cd.iso", "-f"});
    EXPECT_EQ(directory.exitCode, 1);
    EXPECT_EQ(directory.err,
              "Warning: a directory stands at cd.iso.bak, where this run writes the backup; move "
              "it away first\n");
    EXPECT_EQ(readFile(image() + ".bak/kept"), "the user's");
    fs::remove_all(image() + ".bak");

    writeFile(image() + ".tmp", "the user's");
    const e2e::ProgramRun input = run({"-i", "cd.iso", "-Y", "cd.iso.tmp%\\DOCS"});
    EXPECT_EQ(input.exitCode, 1);
    EXPECT_EQ(input.err,
              "Warning: the local input cd.iso.tmp is where this run writes the new image; rename "
              "it first\n");
    EXPECT_FALSE(contains(input.out, "clean up")) << input.out;
    EXPECT_EQ(readFile(image() + ".tmp"), "the user's");
    fs::remove(image() + ".tmp");
    expectNothingLeft();
}

TEST_F(SharedUse, TheOldBackupIsKeptWhenTheBackupCopyFillsTheFileSystem) {
    // The image is a link to another file system: its backup must be a copy, and the
    // tmpfs holding the image's names has room for the new image but not for that copy.
    const uintmax_t size = fs::file_size(image());
    fs::create_directories(temp / "small");
    const std::string limit = "size=" + std::to_string((size + size / 2) / 1024) + "k";
    if (::mount("winpe-test", (temp / "small").c_str(), "tmpfs", 0, limit.c_str()) != 0) {
        GTEST_SKIP() << "mounting a tmpfs is not allowed here: " << std::strerror(errno);
    }
    const std::string small = temp / "small";
    fs::create_symlink(image(), small + "/cd.iso");
    writeFile(small + "/cd.iso.bak", "the previous backup");
    fs::create_directories(systemTmp());
    const e2e::ProgramRun failed = runProgram(small, {"-i", "cd.iso", "-f"}, "", "timeout 120",
                                              "TMPDIR=" + shellQuote(systemTmp()));
    const std::string backup = readFile(small + "/cd.iso.bak");
    std::vector<std::string> left;
    for (fs::directory_iterator it(small), end; it != end; ++it) {
        left.push_back(it->path().filename().string());
    }
    std::sort(left.begin(), left.end());
    const bool stillLink = fs::is_symlink(small + "/cd.iso");
    ::umount(small.c_str());
    EXPECT_EQ(failed.exitCode, 1) << failed.out << failed.err;
    EXPECT_TRUE(contains(failed.err, "can not keep the old image at cd.iso.bak")) << failed.err;
    EXPECT_TRUE(contains(failed.err, "No space left on device")) << failed.err;
    EXPECT_EQ(backup, "the previous backup");
    EXPECT_EQ(left, (std::vector<std::string>{"cd.iso", "cd.iso.bak"}));
    EXPECT_TRUE(stillLink);
    EXPECT_EQ(readFile(image()), original);
    EXPECT_TRUE(fs::is_empty(systemTmp()));
}

TEST_F(SharedUse, AnOwnerThatCanNotBeCarriedOverIsAWarning) {
    // In a user namespace that maps only the running user, as in a rootless container,
    // the old image's owner is unmapped: the new image can not be given it.
    if (runCommand("unshare -r true").exitCode != 0) {
        GTEST_SKIP() << "user namespaces are not allowed here";
    }
    ASSERT_EQ(::chown(image().c_str(), 1234, 1234), 0);
    ASSERT_EQ(::chmod(image().c_str(), 0644), 0);
    const e2e::ProgramRun done = run({"-i", "cd.iso", "-f"}, "", "unshare -r");
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_TRUE(contains(done.err,
                         "Warning: can not give the old image's owner to cd.iso.tmp: Invalid "
                         "argument\n"))
        << done.err;
    struct stat now;
    ASSERT_EQ(::stat(image().c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 07777, 0644u);
    EXPECT_EQ(readFile(image() + ".bak"), original);
    EXPECT_EQ(readFromImage(image(), "/DOCS/README.TXT"), readFile(tree() + "/DOCS/README.TXT"));
    EXPECT_FALSE(fs::exists(image() + ".tmp"));
    EXPECT_TRUE(fs::is_empty(systemTmp()));
}
