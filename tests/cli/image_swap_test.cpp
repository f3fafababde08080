#include "cli/image_swap.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <vector>

#include "support/console_capture.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

using test_support::captureConsole;
using test_support::listLocal;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;
namespace fs = boost::filesystem;

// A directory holding the old image, cd.iso.
class ImageSwap : public testing::Test {
  protected:
    void SetUp() override { writeFile(image, "old image"); }

    TempDir temp;
    const std::string image = temp / "cd.iso";
};

TEST_F(ImageSwap, NewImageTakesTheNameAndTheOldOneIsKeptAsBackup) {
    writeFile(image + ".tmp", "new image");
    writeFile(image + ".bak", "an older backup");

    swapInNewImage(image, image + ".tmp", image + ".bak");
    EXPECT_EQ(readFile(image), "new image");
    EXPECT_EQ(readFile(image + ".bak"), "old image");
    EXPECT_FALSE(fs::exists(image + ".tmp"));
    EXPECT_EQ(listLocal(temp.path()), (std::vector<std::string>{"cd.iso", "cd.iso.bak"}));

    // Swapping again replaces the backup by the image of the previous run.
    writeFile(image + ".tmp", "third image");
    swapInNewImage(image, image + ".tmp", image + ".bak");
    EXPECT_EQ(readFile(image), "third image");
    EXPECT_EQ(readFile(image + ".bak"), "new image");

    // A backup that is another name of the image: the rename between the two names does
    // nothing, and the fresh name goes all the same.
    fs::remove(image + ".bak");
    fs::create_hard_link(image, image + ".bak");
    writeFile(image + ".tmp", "fourth image");
    swapInNewImage(image, image + ".tmp", image + ".bak");
    EXPECT_EQ(readFile(image + ".bak"), "third image");
    EXPECT_EQ(listLocal(temp.path()), (std::vector<std::string>{"cd.iso", "cd.iso.bak"}));

    // A directory at the backup path is the user's: the swap fails and leaves it alone.
    fs::remove(image + ".bak");
    writeFile(image + ".bak/kept", "the user's");
    writeFile(image + ".tmp", "fifth image");
    EXPECT_THROW(swapInNewImage(image, image + ".tmp", image + ".bak"), ImageSwapError);
    EXPECT_EQ(readFile(image), "fourth image");
    EXPECT_EQ(readFile(image + ".bak/kept"), "the user's");
    EXPECT_EQ(listLocal(temp.path()),
              (std::vector<std::string>{"cd.iso", "cd.iso.bak", "cd.iso.bak/kept", "cd.iso.tmp"}));
}

TEST_F(ImageSwap, AFailedSwapLeavesTheOldImageInPlace) {
    EXPECT_THROW(swapInNewImage(image, image + ".tmp", image + ".bak"), std::runtime_error)
        << "no new image";
    EXPECT_EQ(readFile(image), "old image");

    // The new image is a directory: it can not be renamed over the file.
    writeFile(image + ".tmp/x", "");
    try {
        swapInNewImage(image, image + ".tmp", image + ".bak");
        ADD_FAILURE() << "a directory was renamed over the image";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(image), std::string::npos) << e.what();
    }
    EXPECT_EQ(readFile(image), "old image");
    EXPECT_EQ(readFile(image + ".bak"), "old image");
}

TEST_F(ImageSwap, WhenNoBackupCanBeKeptNothingChanges) {
    writeFile(image + ".tmp", "new image");
    writeFile(temp / "file", "");
    EXPECT_THROW(swapInNewImage(image, image + ".tmp", temp / "file/cd.iso.bak"),
                 std::runtime_error);
    EXPECT_EQ(readFile(image), "old image");
    EXPECT_EQ(readFile(image + ".tmp"), "new image");
}

TEST_F(ImageSwap, ANewImageThatIsNotTheWrittenFileIsNotSwappedIn) {
    writeFile(image + ".tmp", "written image");
    const FileIdentity written = file_identity::ofEntry(image + ".tmp");
    fs::rename(image + ".tmp", temp / "moved away");
    writeFile(image + ".tmp", "planted in its place");
    EXPECT_THROW(swapInNewImage(image, image + ".tmp", image + ".bak", written), ImageSwapError);
    EXPECT_EQ(readFile(image), "old image");
    EXPECT_FALSE(fs::exists(image + ".bak"));
}

TEST(ImageSwapOfALink, ALinkToAnotherFileSystemIsKeptAsAFlushedCopyWithItsMode) {
    TempDir temp;
    const std::string shared = "/dev/shm/winpe-iso-swap-" + std::to_string(::getpid());
    if (!test_support::onOtherFileSystems("/dev/shm", temp.path())) {
        GTEST_SKIP() << "/dev/shm is not another file system here";
    }
    writeFile(shared, "old image");
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    const std::string image = temp / "cd.iso";
    fs::create_symlink(shared, image);
    writeFile(image + ".tmp", "new image");

    swapInNewImage(image, image + ".tmp", image + ".bak", file_identity::ofEntry(image + ".tmp"));
    struct stat backup;
    ASSERT_EQ(::lstat((image + ".bak").c_str(), &backup), 0);
    EXPECT_TRUE(S_ISREG(backup.st_mode));
    EXPECT_EQ(backup.st_mode & 0777, 0640u);
    EXPECT_EQ(readFile(image + ".bak"), "old image");
    EXPECT_EQ(readFile(shared), "old image");
    EXPECT_FALSE(fs::is_symlink(image));
    EXPECT_EQ(readFile(image), "new image");
    fs::remove(shared);
}

TEST(ImageSwapOfALink, AnAccessListThatCanNotBeCarriedOverLeavesNoWiderBits) {
    TempDir temp;
    // The old image has an access list whose mask shows as the group's bits; the new
    // image lies on a ramfs, which holds no extended attributes at all.
    writeFile(temp / "real.iso", "old image");
    ASSERT_EQ(::chmod((temp / "real.iso").c_str(), 0640), 0);
    if (test_support::runCommand("setfacl -m u:nobody:rw " +
                                 test_support::shellQuote(temp / "real.iso"))
            .exitCode != 0) {
        GTEST_SKIP() << "no access lists here";
    }
    fs::create_directories(temp / "ram");
    if (::mount("winpe-test", (temp / "ram").c_str(), "ramfs", 0, nullptr) != 0) {
        GTEST_SKIP() << "mounting a ramfs is not allowed here: " << std::strerror(errno);
    }
    const std::string image = temp / "ram/cd.iso";
    fs::create_symlink(temp / "real.iso", image);
    writeFile(image + ".tmp", "new image");
    const test_support::Console console =
        captureConsole([&] { swapInNewImage(image, image + ".tmp", image + ".bak"); });
    struct stat now;
    struct stat backup;
    const int statResult = ::stat(image.c_str(), &now) | ::stat((image + ".bak").c_str(), &backup);
    const std::string content = readFile(image);
    ::umount((temp / "ram").c_str());
    ASSERT_EQ(statResult, 0);
    EXPECT_EQ(content, "new image");
    EXPECT_EQ(now.st_mode & 07777, 0600u) << "the mask's rw- must not become the group's";
    EXPECT_EQ(backup.st_mode & 07777, 0600u);
    EXPECT_NE(console.err.find("Warning: can not give the old image's extended attribute "
                               "system.posix_acl_access to " +
                               image + ".tmp: Operation not supported\n"),
              std::string::npos)
        << console.err;
}
