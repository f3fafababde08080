#include "platform/image_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>

#include "support/test_files.h"

namespace fs = boost::filesystem;

TEST(ImageLock, OneHolderPerImageFileAndNothingToLockOnAnythingElse) {
    test_support::TempDir temp;
    const std::string image = temp / "cd.iso";
    test_support::writeFile(image, "image");
    fs::create_symlink("cd.iso", temp / "link.iso");
    ImageLock first;
    ImageLock second;
    ASSERT_EQ(first.acquire(image), ImageLock::Outcome::locked);
    EXPECT_EQ(second.acquire(temp / "link.iso"), ImageLock::Outcome::busy);

    // A new file at the path is not held by the lock on the old one.
    test_support::writeFile(temp / "new.iso", "new image");
    fs::rename(temp / "new.iso", image);
    EXPECT_EQ(second.acquire(image), ImageLock::Outcome::locked);

    ASSERT_EQ(::mkfifo((temp / "fifo").c_str(), 0600), 0);
    for (const std::string& path : {temp / "fifo", temp.path(), temp / "missing"}) {
        EXPECT_EQ(first.acquire(path), ImageLock::Outcome::unlocked) << path;
    }
}
