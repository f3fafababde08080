#include "platform/image_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>

#include "support/test_files.h"

using test_support::TempDir;
using test_support::writeFile;
namespace fs = boost::filesystem;

TEST(ImageLock, OneHolderPerImageFileAndNothingToLockOnAnythingElse) {
    TempDir temp;
    const std::string image = temp / "cd.iso";
    writeFile(image, "image");
    fs::create_symlink("cd.iso", temp / "link.iso");

    ImageLock first;
    ImageLock second;
    ASSERT_EQ(first.acquire(image), ImageLock::Outcome::locked);
    EXPECT_EQ(second.acquire(temp / "link.iso"), ImageLock::Outcome::busy)
        << "a link leads to the same file";
    first.release();
    EXPECT_EQ(second.acquire(image), ImageLock::Outcome::locked);

    // The path now names a new file: the lock on the old one does not keep it.
    writeFile(temp / "new.iso", "new image");
    fs::rename(temp / "new.iso", image);
    EXPECT_EQ(first.acquire(image), ImageLock::Outcome::locked);

    ASSERT_EQ(::mkfifo((temp / "fifo").c_str(), 0600), 0);
    fs::create_directory(temp / "dir");
    for (const std::string& path : {temp / "fifo", temp / "dir", temp / "missing", std::string()}) {
        EXPECT_EQ(second.acquire(path), ImageLock::Outcome::unlocked) << path;
    }
}
