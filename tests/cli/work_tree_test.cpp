#include "cli/work_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>

#include "support/console_capture.h"
#include "support/test_files.h"

using test_support::captureConsole;
using test_support::captureStdout;
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
