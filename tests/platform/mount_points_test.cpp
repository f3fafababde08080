// Mount points as this process sees them, on file systems mounted by the test.
#include "platform/mount_points.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>

#include "support/test_files.h"

namespace fs = boost::filesystem;
using test_support::ScopedMount;
using test_support::TempDir;

TEST(MountPoints, AMountIsFoundByItsNameWithBlanksAndEscapesAndThroughLinks) {
    TempDir temp;
    const std::string top = fs::canonical(temp.path()).string();
    // The kernel lists blanks, tabs, new lines and backslashes as octal escapes.
    const std::string point = top + "/dir with\tblanks\\and\nlines";
    const ScopedMount mount("winpe-test", point, "tmpfs");
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.why();
    }
    fs::create_directories(top + "/dir with");  // a name that begins like the mount's
    fs::create_directories(point + "/inside");
    fs::create_symlink(point, top + "/link");
    fs::create_symlink(top, top + "/up");

    const std::vector<std::string> points = mount_points::list();
    EXPECT_NE(std::find(points.begin(), points.end(), point), points.end());
    EXPECT_NE(std::find(points.begin(), points.end(), "/"), points.end());
    for (const std::string& directory : {top, top + "/", top + "/up", top + "/link/.."}) {
        EXPECT_EQ(mount_points::firstBelow(directory), point) << directory;
        EXPECT_FALSE(mount_points::isMountPoint(directory)) << directory;
    }
    for (const std::string& directory : {point, top + "/link", top + "/link/", std::string("/")}) {
        EXPECT_TRUE(mount_points::isMountPoint(directory)) << directory;
    }
    for (const std::string& directory :
         {point, point + "/inside", top + "/dir with", top + "/missing"}) {
        EXPECT_EQ(mount_points::firstBelow(directory), "") << directory;
    }
    EXPECT_FALSE(mount_points::isMountPoint(point + "/inside"));
    EXPECT_FALSE(mount_points::isMountPoint(top + "/missing"));
}

TEST(MountPoints, ABindMountOnTheSameFileSystemIsAMountPointByTheListAlone) {
    TempDir temp;
    const std::string top = fs::canonical(temp.path()).string();
    fs::create_directories(top + "/source/sub");
    const ScopedMount mount(top + "/source", top + "/bound", "");
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.why();
    }
    // Same device as its parent: only the mount table tells.
    EXPECT_TRUE(mount_points::isMountPoint(top + "/bound"));
    EXPECT_FALSE(mount_points::isMountPoint(top + "/source"));
    EXPECT_FALSE(mount_points::isMountPoint(top + "/bound/sub"));
    EXPECT_EQ(mount_points::firstBelow(top), top + "/bound");
}
