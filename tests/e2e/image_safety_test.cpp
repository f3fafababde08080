// What a run does to the files around the image, and what it leaves when something else
// is going on: things planted at IMAGE.tmp, a second run, the old image's mode and owner,
// a link as the image, the -t guard and interrupts.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <memory>

#include "e2e/e2e_helpers.h"
#include "e2e/sample_cd_fixture.h"
#include "support/fixture_image.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;
using e2e::BackgroundRun;

namespace {

struct stat statOf(const std::string& path) {
    struct stat status = {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status;
}

bool sameBytes(const std::string& one, const std::string& other) {
    return test_support::runCommand("cmp -s " + shellQuote(one) + " " + shellQuote(other))
               .exitCode == 0;
}

bool isRegularFile(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

class ImageSafety : public FailedRun {
  protected:
    // FailedRun's run in `directory`; the time limit only ends a run that hangs.
    e2e::ProgramRun run(const std::vector<std::string>& args, const std::string& directory = "") {
        fs::create_directories(systemTmp());
        return runProgram(directory.empty() ? temp.path() : directory, args, "", "timeout 120",
                          "TMPDIR=" + shellQuote(systemTmp()));
    }
    void expectNoWorkDirectory() const {
        EXPECT_TRUE(fs::is_empty(systemTmp())) << "a work directory was left behind";
    }
};

TEST_F(ImageSafety, WhateverStandsAtTheNewImagePathIsReplacedNeverFollowed) {
    writeFile(temp / "precious.txt", "precious");
    const std::string planted = image() + ".tmp";
    // A link to the image or a second name of it: the file identities' tests.
    for (const std::string kind : {"link", "dangling link", "FIFO"}) {
        if (kind == "FIFO") {
            ASSERT_EQ(::mkfifo(planted.c_str(), 0600), 0);
        } else {
            fs::create_symlink(kind == "link" ? "precious.txt" : "absent.txt", planted);
        }
        const e2e::ProgramRun done = run({"-i", "cd.iso", "-f"});
        ASSERT_EQ(done.exitCode, 0) << kind << done.err;
        EXPECT_EQ(readFile(temp / "precious.txt"), "precious");
        EXPECT_FALSE(fs::exists(fs::symlink_status(temp / "absent.txt")));
        EXPECT_TRUE(isRegularFile(image())) << kind;
        EXPECT_FALSE(fs::exists(fs::symlink_status(planted)));
    }
    EXPECT_EQ(e2e::readFromImage(image(), "/DOCS/README.TXT"),
              readFile(tree() + "/DOCS/README.TXT"));
    expectNoWorkDirectory();
}

TEST_F(ImageSafety, TheNewImageKeepsTheModeAndOwnerOfTheOldOne) {
    const struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    for (const mode_t mode : {0600, 0444}) {
        ASSERT_EQ(::chown(image().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chmod(image().c_str(), mode), 0);
        const e2e::ProgramRun done = run({"-i", "cd.iso", "-f"});
        ASSERT_EQ(done.exitCode, 0) << done.err;
        const struct stat status = statOf(image());
        EXPECT_EQ(status.st_mode & 07777, mode);
        EXPECT_EQ(status.st_uid, nobody->pw_uid);
        EXPECT_EQ(status.st_gid, nobody->pw_gid);
        EXPECT_EQ(statOf(image() + ".bak").st_mode & 07777, mode);
    }
}

// A file system that refuses to change modes and attributes (bindfs, a FUSE file system,
// told so): the run still replaces the image, says what it could not carry over, and the
// new image keeps the bits it was made with, which give no one more than the old one did.
TEST_F(ImageSafety, ModesAndAttributesAFileSystemRefusesAreWarnedOfAndGiveNoMore) {
    const std::string below = temp / "below";
    const std::string mounted = temp / "fuse";
    fs::create_directories(below);
    fs::create_directories(mounted);
    fs::copy_file(image(), below + "/cd.iso");
    ASSERT_EQ(::chmod((below + "/cd.iso").c_str(), 0640), 0);
    ASSERT_EQ(
        test_support::runCommand("setfattr -n user.origin -v kept " + shellQuote(below + "/cd.iso"))
            .exitCode,
        0);
    if (!test_support::haveTool("bindfs") ||
        test_support::runCommand("bindfs --chmod-deny --xattr-ro " + shellQuote(below) + " " +
                                 shellQuote(mounted))
                .exitCode != 0) {
        GTEST_SKIP() << "no FUSE file system (bindfs) can be mounted here";
    }
    const e2e::ProgramRun done = run({"-i", "cd.iso", "-f"}, mounted);
    test_support::runCommand("fusermount -u " + shellQuote(mounted));

    EXPECT_EQ(done.exitCode, 0) << done.err;
    for (const char* refused : {"extended attribute user.origin", "mode"}) {
        EXPECT_TRUE(contains(done.err, std::string("Warning: can not give the old image's ") +
                                           refused + " to cd.iso.tmp: "))
            << refused << "\n"
            << done.err;
    }
    EXPECT_EQ(statOf(below + "/cd.iso").st_mode & 07777, 0600u);
    EXPECT_NE(test_support::readFile(below + "/cd.iso"), original);
    EXPECT_EQ(test_support::readFile(below + "/cd.iso.bak"), original);
}

TEST_F(ImageSafety, ALinkAsTheImageIsReplacedAndItsTargetKeptAsTheBackup) {
    fs::create_directories(temp / "store");
    fs::rename(image(), temp / "store/real.iso");
    fs::create_symlink("store/real.iso", image());
    const e2e::ProgramRun done = run({"-i", "cd.iso", "-f"});
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_TRUE(isRegularFile(image()));
    EXPECT_TRUE(isRegularFile(image() + ".bak"));
    EXPECT_EQ(readFile(image() + ".bak"), original);
    EXPECT_EQ(readFile(temp / "store/real.iso"), original);
    EXPECT_EQ(statOf(image() + ".bak").st_ino, statOf(temp / "store/real.iso").st_ino)
        << "on one file system the backup is a hard link to the target";
    EXPECT_NE(readFile(image()), original);
}

TEST_F(ImageSafety, AWorkDirectoryThatWouldTakeWhatTheRunNeedsIsRefused) {
    writeFile(temp / "proj/notes.txt", "notes");
    writeFile(temp / "proj/tools/kit/KIT.EXE", "kit");
    struct Case {
        std::vector<std::string> args;
        std::string warning;
    };
    const std::string image = "../cd.iso";
    const Case cases[] = {
        {{"-t", "."}, "Warning: work directory . holds the current directory"},
        {{"-t", "tools", "-p", "tools/kit"}, "holds tools/kit, which this run reads"},
        {{"-t", "notes.txt"}, "work directory notes.txt exists and is not a directory"},
        {{"-t", "tools/kit/work", "-X", "tools%\\DOCS"}, "lies inside tools, which this run"},
        {{"-t", "tools/kit", "-p", "tools"}, "work directory tools/kit lies inside tools"},
    };
    for (const Case& refused : cases) {
        std::vector<std::string> args = {"-i", image, "-f"};
        args.insert(args.end(), refused.args.begin(), refused.args.end());
        const e2e::ProgramRun result = run(args, temp / "proj");
        EXPECT_EQ(result.exitCode, 1) << refused.args[1];
        EXPECT_TRUE(contains(result.err, refused.warning)) << result.err;
        EXPECT_EQ(readFile(temp / "proj/notes.txt"), "notes");
        EXPECT_EQ(readFile(temp / "proj/tools/kit/KIT.EXE"), "kit");
        expectNothingLeft();
    }

    // A -t that the run empties is made again private; an empty TMPDIR counts as unset.
    fs::create_directories(temp / "work");
    fs::permissions(temp / "work", fs::perms(0755));
    const e2e::ProgramRun used =
        runProgram(temp.path(), {"-i", "cd.iso", "-f", "-t", "work"}, "", "timeout 120", "TMPDIR=");
    ASSERT_EQ(used.exitCode, 0) << used.err;
    EXPECT_EQ(statOf(temp / "work").st_mode & 0777, 0700u);

    // A -t that is a link to a directory (on a bigger disk, say) is used through the link.
    writeFile(temp / "big-disk/work/old.txt", "emptied");
    fs::create_symlink(temp / "big-disk/work", temp / "work-link");
    const e2e::ProgramRun linked = runProgram(
        temp.path(), {"-i", "cd.iso", "-f", "-t", "work-link"}, "", "timeout 120", "TMPDIR=");
    ASSERT_EQ(linked.exitCode, 0) << linked.err;
    EXPECT_TRUE(fs::is_symlink(temp / "work-link"));
    EXPECT_TRUE(fs::is_empty(temp / "big-disk/work"));
    EXPECT_EQ(statOf(temp / "big-disk/work").st_mode & 0777, 0700u);
    const e2e::ProgramRun emptyTmpdir =
        runProgram(temp.path(), {"-i", "cd.iso", "-f"}, "", "timeout 120", "TMPDIR=");
    EXPECT_EQ(emptyTmpdir.exitCode, 0) << emptyTmpdir.err;
}

TEST_F(ImageSafety, ABindMountOfTheImageDirectoryIsSeenThrough) {
    fs::create_directories(temp / "mnt");
    if (::mount(temp.path().c_str(), (temp / "mnt").c_str(), nullptr, MS_BIND, nullptr) != 0) {
        GTEST_SKIP() << "bind mounts are not allowed here: " << std::strerror(errno);
    }
    const e2e::ProgramRun refused = run({"-i", "cd.iso", "-f", "-t", temp / "mnt"});
    ::umount((temp / "mnt").c_str());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(contains(refused.err, "holds the image cd.iso")) << refused.err;
    expectImageUntouched();

    // A directory that holds such a mount: emptying it would go through the mount.
    fs::create_directories(temp / "outer/mnt");
    ASSERT_EQ(::mount(temp.path().c_str(), (temp / "outer/mnt").c_str(), nullptr, MS_BIND, nullptr),
              0);
    const e2e::ProgramRun above = run({"-i", "cd.iso", "-f", "-t", temp / "outer"});
    ::umount((temp / "outer/mnt").c_str());
    EXPECT_EQ(above.exitCode, 1);
    EXPECT_TRUE(contains(above.err, "holds the mount point")) << above.err;
    expectImageUntouched();
}

TEST_F(ImageSafety, FailuresAtThePreparationAndTheFinalRenameLoseNothing) {
    if (!test_support::haveTool("chattr") ||
        test_support::runCommand("chattr +i " + shellQuote(image())).exitCode != 0) {
        GTEST_SKIP() << "no immutable files on this file system";
    }
    // An immutable image can be read and copied, but not be replaced.
    const e2e::ProgramRun renameFails = run({"-i", "cd.iso", "-f"});
    test_support::runCommand("chattr -i " + shellQuote(image()));
    EXPECT_EQ(renameFails.exitCode, 1);
    EXPECT_TRUE(contains(renameFails.err, "the new image stays at cd.iso.tmp")) << renameFails.err;
    EXPECT_EQ(readFile(image()), original);
    EXPECT_EQ(readFile(image() + ".bak"), original);
    EXPECT_EQ(e2e::readFromImage(image() + ".tmp", "/DOCS/README.TXT"),
              readFile(tree() + "/DOCS/README.TXT"));
    expectNoWorkDirectory();

    // A -t whose old content can not be removed.
    writeFile(temp / "work/stuck", "stuck");
    ASSERT_EQ(test_support::runCommand("chattr +i " + shellQuote(temp / "work/stuck")).exitCode, 0);
    const e2e::ProgramRun stuck = run({"-i", "cd.iso", "-f", "-t", "work"});
    test_support::runCommand("chattr -i " + shellQuote(temp / "work/stuck"));
    EXPECT_EQ(stuck.exitCode, 1);
    EXPECT_TRUE(e2e::endsWith(stuck.out, "Log: clean up ...\n")) << stuck.out;
    EXPECT_TRUE(e2e::endsWith(stuck.err, "Warning: failed to clean up\n")) << stuck.err;
}

TEST_F(ImageSafety, AnInterruptAtAPromptEndsTheRunCleanly) {
    writeFile(temp / "README.TXT", "clash with /DOCS/README.TXT");
    fs::create_directories(systemTmp());
    BackgroundRun asking(temp.path(), {"-i", "cd.iso", "-Y", "README.TXT%\\DOCS"},
                         {"TMPDIR=" + systemTmp()});
    ASSERT_TRUE(asking.waitUntil([&asking] {
        return contains(asking.out(), "other key to abort\n") && asking.readingInput();
    })) << asking.out();
    asking.signal(SIGINT);
    const e2e::ProgramRun stopped = asking.finish(60);
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_TRUE(e2e::endsWith(stopped.err,
                              "Warning: the run was interrupted by SIGINT, the image is left as "
                              "it was\n"))
        << stopped.err;
    expectNothingLeft();
}

// The sample CD with a large file, made once: large enough that a run spends a good while
// in the pack. Its bytes are data, not holes, which a pack would pass over at once.
class LargeImageSafety : public ImageSafety {
  protected:
    static void SetUpTestSuite() {
        large = std::make_unique<test_support::TempDir>();
        e2e::makeSampleCd(*large / "tree", *large / "unused.iso");
        fs::create_directories(*large / "tree/BIG");
        e2e::mustRun("yes 'large image data' | head -c 384M > " +
                     shellQuote(*large / "tree/BIG/DATA.BIN"));
        test_support::makeIsoWithXorriso(*large / "tree", *large / "large.iso", "BOOT/HELLO.BIN");
    }
    static void TearDownTestSuite() { large.reset(); }

    void SetUp() override {
        e2e::mustRun("cp --sparse=always " + shellQuote(*large / "large.iso") + " " +
                     shellQuote(image()));
        fs::create_directories(systemTmp());
    }
    bool imageIsOriginal() const { return sameBytes(*large / "large.iso", image()); }
    bool newImageGrows() const {
        boost::system::error_code ec;
        return fs::file_size(image() + ".tmp", ec) > 0 && !ec;
    }
    std::vector<std::string> tmpdirSetting() const { return {"TMPDIR=" + systemTmp()}; }

    static std::unique_ptr<test_support::TempDir> large;
};

std::unique_ptr<test_support::TempDir> LargeImageSafety::large;

TEST_F(LargeImageSafety, ASecondRunOnAnImageBeingChangedFailsAndTouchesNothing) {
    writeFile(temp / "A.TXT", "first run");
    writeFile(temp / "B.TXT", "second run");
    BackgroundRun first(temp.path(), {"-i", "cd.iso", "-Y", "A.TXT%\\DOCS"}, tmpdirSetting());
    ASSERT_TRUE(first.waitUntil([this] { return newImageGrows(); })) << first.out();
    // Held inside its pack while the second run comes.
    first.signal(SIGSTOP);
    const e2e::ProgramRun second = run({"-i", "cd.iso", "-Y", "B.TXT%\\DOCS"});
    first.signal(SIGCONT);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err,
              "Warning: the image cd.iso is being changed by another run, try again when it has "
              "finished\n");
    EXPECT_FALSE(contains(second.out, "clean up")) << second.out;

    const e2e::ProgramRun done = first.finish();
    ASSERT_EQ(done.exitCode, 0) << done.err;
    const std::vector<std::string> listed = e2e::listImage(image());
    EXPECT_EQ(std::find(listed.begin(), listed.end(), "/DOCS/B.TXT"), listed.end());
    EXPECT_EQ(e2e::readFromImage(image(), "/DOCS/A.TXT"), "first run");
    // The large file came through whole: the image is no torn mixture of two runs.
    const std::string data = shellQuote(temp / "data");
    EXPECT_NO_THROW(e2e::mustRun("iso-read -i " + shellQuote(image()) + " -e /BIG/DATA.BIN -o " +
                                 data + " && cmp " + data + " " +
                                 shellQuote(*large / "tree/BIG/DATA.BIN")));
    EXPECT_TRUE(sameBytes(*large / "large.iso", image() + ".bak"));
    EXPECT_FALSE(fs::exists(image() + ".tmp"));
    expectNoWorkDirectory();
}

TEST_F(LargeImageSafety, AnInterruptedPackLeavesTheImageAndNothingElse) {
    for (const int signal : {SIGINT, SIGTERM}) {
        BackgroundRun running(temp.path(), {"-i", "cd.iso", "-f"}, tmpdirSetting());
        ASSERT_TRUE(running.waitUntil([this] { return newImageGrows(); })) << running.out();
        running.signal(signal);
        const e2e::ProgramRun stopped = running.finish(60);
        EXPECT_EQ(stopped.exitCode, 1) << signal;
        EXPECT_TRUE(contains(stopped.err, "Warning: the run was interrupted by SIG"))
            << stopped.err;
        EXPECT_TRUE(e2e::endsWith(stopped.out, "Log: clean up ...\nLog: clean up succeeded\n"))
            << stopped.out;
        EXPECT_TRUE(imageIsOriginal());
        EXPECT_FALSE(fs::exists(fs::symlink_status(image() + ".tmp")));
        EXPECT_FALSE(fs::exists(fs::symlink_status(image() + ".bak")));
        expectNoWorkDirectory();
    }
}

TEST_F(LargeImageSafety, KillingTheRunDuringThePackLeavesTheImageIntact) {
    BackgroundRun running(temp.path(), {"-i", "cd.iso", "-f"}, tmpdirSetting());
    ASSERT_TRUE(running.waitUntil([this] { return newImageGrows(); })) << running.out();
    running.signal(SIGKILL);
    EXPECT_EQ(running.finish(60).exitCode, 128 + SIGKILL);
    EXPECT_TRUE(fs::exists(image() + ".tmp")) << "the pack had begun";
    EXPECT_TRUE(imageIsOriginal());
    EXPECT_FALSE(fs::exists(image() + ".bak"));
}

TEST_F(LargeImageSafety, ASecondRunOnTheSameWorkDirectoryFailsAndTouchesNothing) {
    e2e::makeSampleCd(temp / "other-tree", temp / "other.iso");
    const std::string other = readFile(temp / "other.iso");
    const std::string work = temp / "work";
    BackgroundRun first(temp.path(), {"-i", "cd.iso", "-f", "-t", work}, tmpdirSetting());
    ASSERT_TRUE(first.waitUntil([this] { return newImageGrows(); })) << first.out();
    first.signal(SIGSTOP);
    const std::vector<std::string> during = e2e::listLocal(work);
    const e2e::ProgramRun second = run({"-i", "other.iso", "-f", "-t", work});
    const std::vector<std::string> after = e2e::listLocal(work);
    first.signal(SIGCONT);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err, "Warning: work directory " + work +
                              " is being used by another run, choose another one with -t\n");
    EXPECT_FALSE(contains(second.out, "clean up")) << second.out;
    EXPECT_FALSE(during.empty());
    EXPECT_EQ(after, during) << "the first run's work tree was touched";
    EXPECT_EQ(readFile(temp / "other.iso"), other);
    EXPECT_FALSE(fs::exists(temp / "other.iso.tmp"));
    EXPECT_FALSE(fs::exists(temp / "other.iso.bak"));

    const e2e::ProgramRun done = first.finish();
    ASSERT_EQ(done.exitCode, 0) << done.err;
    EXPECT_TRUE(sameBytes(*large / "large.iso", image() + ".bak"));
    EXPECT_FALSE(fs::exists(work)) << "made by the first run, and removed by it";
}

TEST_F(LargeImageSafety, AnInterruptDuringTheBackupCopyEndsTheRunCleanly) {
    // The image is a link to another file system, so the backup is a whole-image copy.
    const std::string shared = "/dev/shm/winpe-iso-backup-" + std::to_string(::getpid());
    if (!test_support::onOtherFileSystems("/dev/shm", temp.path())) {
        GTEST_SKIP() << "/dev/shm is not another file system here";
    }
    e2e::mustRun("cp --sparse=always " + shellQuote(*large / "large.iso") + " " +
                 shellQuote(shared));
    fs::remove(image());
    fs::create_symlink(shared, image());
    auto copying = [this] {
        for (fs::directory_iterator it(temp.path()), end; it != end; ++it) {
            if (it->path().filename().string().rfind(".WPE", 0) == 0) {
                return true;
            }
        }
        return false;
    };
    BackgroundRun running(temp.path(), {"-i", "cd.iso", "-f"}, tmpdirSetting());
    const bool caught = running.waitUntil(copying);
    running.signal(SIGSTOP);
    running.signal(SIGINT);
    running.signal(SIGCONT);
    const e2e::ProgramRun stopped = running.finish(60);
    const bool targetKept = sameBytes(*large / "large.iso", shared);
    fs::remove(shared);
    ASSERT_TRUE(caught) << "the backup copy was not seen: " << stopped.out << stopped.err;
    EXPECT_EQ(stopped.exitCode, 1) << stopped.err;
    EXPECT_TRUE(e2e::endsWith(stopped.err,
                              "Warning: the run was interrupted by SIGINT, the image is left as "
                              "it was\n"))
        << stopped.err;
    EXPECT_TRUE(targetKept);
    EXPECT_TRUE(fs::is_symlink(image()));
    EXPECT_FALSE(copying()) << "the partial backup copy was left";
    EXPECT_FALSE(fs::exists(fs::symlink_status(image() + ".tmp")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(image() + ".bak")));
    expectNoWorkDirectory();
}
