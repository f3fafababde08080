// Mount points as this process sees them, on a tmpfs and a bind mount made by the test.
#include "platform/mount_points.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>

#include "support/test_files.h"

namespace fs = boost::filesystem;
using namespace mount_points;

TEST(MountPoints, MountsAreFoundByTheirNamesWithEscapesThroughLinksAndOnTheSameDevice) {
    test_support::TempDir temp;
    const std::string top = fs::canonical(temp.path()).string();
    // Listed by the kernel with octal escapes for the blank, tab, new line and backslash.
    const std::string tmpfs = top + "/dir with\tblanks\\and\nlines", bound = top + "/bound";
    fs::create_directories(tmpfs);
    fs::create_directories(top + "/source/sub");
    fs::create_directories(bound);
    if (::mount("winpe-test", tmpfs.c_str(), "tmpfs", 0, "size=1m") != 0 ||
        ::mount((top + "/source").c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        const std::string why = std::strerror(errno);
        ::umount(tmpfs.c_str());
        GTEST_SKIP() << "mounting a tmpfs and a bind mount is not allowed here: " << why;
    }
    fs::create_directories(top + "/dir with");  // a name that begins like the tmpfs's
    fs::create_directories(tmpfs + "/inside");
    fs::create_symlink(tmpfs, top + "/link");
    fs::create_symlink(top, top + "/up");

    const std::vector<std::string> points = list();
    for (const std::string& point : {tmpfs, bound, std::string("/")}) {
        EXPECT_NE(std::find(points.begin(), points.end(), point), points.end()) << point;
        EXPECT_TRUE(isMountPoint(point)) << point;
    }
    for (const std::string& directory : {top + "/link", top + "/link/"}) {
        EXPECT_TRUE(isMountPoint(directory)) << directory;
    }
    for (const std::string& directory : {top, top + "/up/", top + "/source", bound + "/sub",
                                         tmpfs + "/inside", top + "/missing"}) {
        EXPECT_FALSE(isMountPoint(directory)) << directory;
    }
    const std::string first = firstBelow(top);  // one of the two, in the listing's order
    EXPECT_TRUE(first == tmpfs || first == bound) << first;
    EXPECT_EQ(firstBelow(top + "/up"), first);
    for (const std::string& directory : {tmpfs, bound, top + "/dir with", top + "/missing"}) {
        EXPECT_EQ(firstBelow(directory), "") << directory;
    }
    ::umount(bound.c_str());
    EXPECT_EQ(firstBelow(top), tmpfs);
    ::umount(tmpfs.c_str());
    EXPECT_EQ(firstBelow(top + "/link/.."), "");
}
