#include "cli/work_tree.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>

#include "support/console_capture.h"
#include "support/test_files.h"

using test_support::captureConsole;
using test_support::captureStdout;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;
namespace fs = boost::filesystem;

TEST(WorkTree, PathsAreJoinedByPlainConcatenation) {
    const WorkTree tree("/w/");
    EXPECT_EQ(tree.treeRoot, "/w//image_file_dir");
    EXPECT_EQ(tree.bootImageFile, "/w//BootImage.bin");
    EXPECT_EQ(tree.config, "/w//image_file_dir/I386/SYSTEM32/CONFIG");
    EXPECT_EQ(tree.inf, "/w//image_file_dir/I386/INF");
    EXPECT_EQ(tree.product, "/w//image_file_dir/MIRALDA");
    EXPECT_EQ(tree.programs, "/w//image_file_dir/PROGRAMS");
}

TEST(WorkTree, TheSixCdFilesLieWhereTheirImagePathsLead) {
    const WorkTree tree("/w/");
    EXPECT_EQ(tree.pathOf(cd_files::kWinbom), tree.treeRoot + "/WINBOM.INI");
    EXPECT_EQ(tree.pathOf(cd_files::kOemSettings), tree.system32 + "/WINPEOEM.SIF");
    EXPECT_EQ(tree.pathOf(cd_files::kDefaultHive), tree.config + "/DEFAULT");
    EXPECT_EQ(tree.pathOf(cd_files::kBootFix), tree.i386 + "/BOOTFIX.BIN");
    EXPECT_EQ(tree.pathOf(cd_files::kStartNet), tree.system32 + "/STARTNET.CMD");
    EXPECT_EQ(tree.pathOf(cd_files::kJobFile), tree.product + "/TASKDECK.XML");
    for (const CdFile* file : cd_files::kAll) {
        // The image path with "/" separators and without its leading one.
        std::string local = file->imagePath + 1;
        std::replace(local.begin(), local.end(), '\\', '/');
        EXPECT_EQ(local, file->treePath);
    }
}

TEST(WorkTree, PreparationEmptiesAnExistingDirectoryAndCleanUpKeepsItEmpty) {
    TempDir temp;
    const std::string work = temp / "work";
    writeFile(work + "/old/file.txt", "old");

    EXPECT_TRUE(prepareWorkDirectory(work + "/"));
    EXPECT_TRUE(fs::is_empty(work));
    const WorkTree tree(work + "/");
    tree.createDirectories();
    EXPECT_TRUE(fs::is_directory(tree.drivers));
    EXPECT_TRUE(fs::is_directory(tree.product));
    EXPECT_FALSE(fs::exists(tree.programs));

    EXPECT_EQ(captureStdout([&] { EXPECT_EQ(cleanUpWorkDirectory(true, work), 0); }),
              "Log: clean up ...\nLog: clean up succeeded\n");
    EXPECT_TRUE(fs::is_directory(work));
    EXPECT_TRUE(fs::is_empty(work));

    captureStdout([&] { EXPECT_EQ(cleanUpWorkDirectory(false, work), 0); });
    EXPECT_FALSE(fs::exists(work));
}

TEST(WorkTree, PreparationNeedsTheParentAndCleanUpLeavesAnUnpreparedPathAlone) {
    TempDir temp;
    EXPECT_FALSE(prepareWorkDirectory(temp / "new"));
    EXPECT_TRUE(fs::is_directory(temp / "new"));
    EXPECT_THROW(prepareWorkDirectory(temp / "missing/new"), fs::filesystem_error);

    writeFile(temp / "keep/file.txt", "mine");
    EXPECT_EQ(
        captureStdout([&] { EXPECT_EQ(cleanUpWorkDirectory(false, temp / "keep", false), 0); }),
        "Log: clean up ...\nLog: clean up succeeded\n");
    EXPECT_TRUE(fs::exists(temp / "keep/file.txt"));
}

TEST(WorkTree, CleanUpFailureIsReported) {
    TempDir temp;
    writeFile(temp / "file", "a file where the work directory's parent should be");
    const test_support::Console console =
        captureConsole([&] { EXPECT_EQ(cleanUpWorkDirectory(true, temp / "file/work"), 1); });
    EXPECT_EQ(console.out, "Log: clean up ...\n");
    EXPECT_EQ(console.err, "Warning: failed to clean up\n");
}

TEST(WorkTree, AWorkDirectoryAboveOrAtTheImageIsRecognised) {
    TempDir temp;
    writeFile(temp / "cd/images/boot.iso", "iso");
    fs::create_directories(temp / "cd/images2");
    fs::create_symlink(temp / "cd", temp / "link");
    const std::string image = temp / "cd/images/boot.iso";

    for (const std::string& work :
         {temp / "cd/images", temp / "cd/images/", temp / "cd", temp.path(), std::string("/"),
          image, temp / "link", temp / "cd/images2/../images", temp / "link/images/"}) {
        EXPECT_TRUE(workDirectoryHoldsImage(work, image)) << work;
    }
    EXPECT_TRUE(workDirectoryHoldsImage(temp / "cd", temp / "link/images/boot.iso"));
    for (const std::string& work :
         {temp / "cd/images2", temp / "cd/images/sub", temp / "cd/image", temp / "other"}) {
        EXPECT_FALSE(workDirectoryHoldsImage(work, image)) << work;
    }
    EXPECT_FALSE(workDirectoryHoldsImage(temp.path(), ""));
}

namespace {

// The warning of the guard for `work`, with one local input that the run reads.
std::string refusalOf(const std::string& work, const std::string& input) {
    return refuseWorkDirectory(work, {{input, ProtectedPath::Kind::optionPath}});
}

}  // namespace

TEST(WorkTree, SharedForeignAndInputDirectoriesAreRefusedAsWorkDirectory) {
    TempDir temp;
    writeFile(temp / "pk/README.TXT", "input");
    const std::string input = temp / "pk";
    fs::create_directories(temp / "pk/work");
    for (const char* name : {"shared", "open", "foreign", "mine"}) {
        fs::create_directories(temp / name);
    }
    ASSERT_EQ(::chmod((temp / "shared").c_str(), 01777), 0);
    ASSERT_EQ(::chmod((temp / "open").c_str(), 0777), 0);
    fs::create_symlink(temp / "shared", temp / "link-to-shared");
    fs::create_symlink(temp / "mine", temp / "link-to-mine");
    const bool foreignOwner =
        ::geteuid() == 0 && ::chown((temp / "foreign").c_str(), 65534, 65534) == 0;

    struct Case {
        std::string work;
        std::string warning;
    };
    std::vector<Case> cases = {
        {temp / "pk/work", "lies inside " + input + ", which this run reads"},
        {temp / "pk/not/yet/made", "lies inside " + input},
        {temp / "pk//work/../work", "lies inside"},
        {temp / "shared", "is shared with other users (mode 1777)"},
        {temp / "link-to-shared", "is shared with other users (mode 1777)"},
        {temp / "open", "is shared with other users (mode 0777)"},
    };
    if (foreignOwner) {
        cases.push_back({temp / "foreign", "belongs to another user"});
    }
    for (const Case& refused : cases) {
        const std::string warning = refusalOf(refused.work, input);
        EXPECT_TRUE(warning.rfind("work directory " + refused.work, 0) == 0) << warning;
        EXPECT_NE(warning.find(refused.warning), std::string::npos) << warning;
    }
    for (const std::string& work : {temp / "mine", temp / "link-to-mine", temp / "new"}) {
        EXPECT_EQ(refusalOf(work, input), "") << work;
    }
    EXPECT_EQ(readFile(temp / "pk/README.TXT"), "input");
}

TEST(WorkTree, AMountPointIsRefusedAsWorkDirectory) {
    TempDir temp;
    fs::create_directories(temp / "mnt");
    if (::mount("winpe-test", (temp / "mnt").c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "mounting a tmpfs is not allowed here: " << std::strerror(errno);
    }
    writeFile(temp / "mnt/theirs.txt", "on the mounted file system");
    fs::create_symlink(temp / "mnt", temp / "link");
    const std::string atMount = refusalOf(temp / "mnt", "");
    const std::string throughLink = refusalOf(temp / "link", "");
    const std::string above = refusalOf(temp.path(), "");
    const std::string kept = readFile(temp / "mnt/theirs.txt");
    ::umount((temp / "mnt").c_str());
    EXPECT_EQ(atMount,
              "work directory " + (temp / "mnt") + " is a mount point, choose another one with -t");
    EXPECT_NE(throughLink.find(" is a mount point"), std::string::npos) << throughLink;
    EXPECT_NE(above.find("holds the mount point " + (temp / "mnt")), std::string::npos) << above;
    EXPECT_EQ(kept, "on the mounted file system");
}

TEST(WorkTree, AWorkDirectoryThatIsALinkIsUsedThroughIt) {
    TempDir temp;
    writeFile(temp / "big-disk/work/old/file.txt", "old content");
    ASSERT_EQ(::chmod((temp / "big-disk/work").c_str(), 0755), 0);
    fs::create_symlink(temp / "big-disk/work", temp / "work");

    EXPECT_TRUE(prepareWorkDirectory(temp / "work"));
    EXPECT_TRUE(fs::is_symlink(temp / "work")) << "the link stays";
    EXPECT_TRUE(fs::is_empty(temp / "big-disk/work"));
    struct stat status;
    ASSERT_EQ(::stat((temp / "big-disk/work").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);

    writeFile(temp / "work/image_file_dir/WINBOM.INI", "scratch");
    captureStdout([&] { EXPECT_EQ(cleanUpWorkDirectory(true, temp / "work"), 0); });
    EXPECT_TRUE(fs::is_symlink(temp / "work"));
    EXPECT_TRUE(fs::is_directory(temp / "big-disk/work"));
    EXPECT_TRUE(fs::is_empty(temp / "big-disk/work"));
}
