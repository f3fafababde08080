#include "cli/image_swap.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "support/test_files.h"

using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;
namespace fs = boost::filesystem;

TEST(ImageSwap, NewImageTakesTheNameAndTheOldOneIsKeptAsBackup) {
    TempDir temp;
    const std::string image = temp / "cd.iso";
    writeFile(image, "old image");
    writeFile(image + ".tmp", "new image");
    writeFile(image + ".bak/stale/file", "an older backup, even a directory");

    swapInNewImage(image, image + ".tmp", image + ".bak");
    EXPECT_EQ(readFile(image), "new image");
    EXPECT_EQ(readFile(image + ".bak"), "old image");
    EXPECT_FALSE(fs::exists(image + ".tmp"));

    // Swapping again replaces the backup by the image of the previous run.
    writeFile(image + ".tmp", "third image");
    swapInNewImage(image, image + ".tmp", image + ".bak");
    EXPECT_EQ(readFile(image), "third image");
    EXPECT_EQ(readFile(image + ".bak"), "new image");
}

TEST(ImageSwap, AFailedSwapLeavesTheOldImageInPlace) {
    TempDir temp;
    const std::string image = temp / "cd.iso";
    writeFile(image, "old image");
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

TEST(ImageSwap, WhenNoBackupCanBeKeptNothingChanges) {
    TempDir temp;
    const std::string image = temp / "cd.iso";
    writeFile(image, "old image");
    writeFile(image + ".tmp", "new image");
    writeFile(temp / "file", "");
    EXPECT_THROW(swapInNewImage(image, image + ".tmp", temp / "file/cd.iso.bak"),
                 std::runtime_error);
    EXPECT_EQ(readFile(image), "old image");
    EXPECT_EQ(readFile(image + ".tmp"), "new image");
}
