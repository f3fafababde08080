// Files told apart by device and inode: entries and targets, the chain of directories up
// to the root, and what removing an entry takes away.
#include "platform/file_identity.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>

#include "support/test_files.h"

namespace fs = boost::filesystem;
using namespace file_identity;

TEST(FileIdentity, TheChainOfADirectoryIsTheSameByEveryWayToIt) {
    test_support::TempDir temp;
    fs::create_directories(temp / "a/b");
    fs::create_directories(temp / "a/c");
    fs::create_symlink(temp / "a/b", temp / "link");
    test_support::writeFile(temp / "file", "x");
    const std::vector<FileIdentity> chain = directoryChain(temp / "a/b");
    ASSERT_GE(chain.size(), 4u);
    EXPECT_EQ(chain[1], ofEntry(temp / "a"));
    EXPECT_EQ(chain[2], ofEntry(temp.path()));
    EXPECT_EQ(chain.back(), ofEntry("/"));
    for (const std::string& way : {temp / "a//b/", temp / "a/c/../b", temp / "link"}) {
        EXPECT_EQ(directoryChain(way), chain) << way;
    }
    EXPECT_TRUE(directoryChain(temp / "file").empty());
    EXPECT_TRUE(directoryChain(temp / "missing").empty());
    // A link is an entry of its own; an unknown file is never the same as another.
    EXPECT_EQ(ofTarget(temp / "link"), chain[0]);
    EXPECT_NE(ofEntry(temp / "link"), chain[0]);
    EXPECT_NE(ofEntry(temp / "missing"), ofEntry(temp / "missing"));

    // A bind mount is the same directory with the parents of where it is mounted, and
    // the only name of a file is taken by its removal whichever way the path goes.
    fs::create_directories(temp / "bound");
    if (::mount((temp / "a/b").c_str(), (temp / "bound").c_str(), nullptr, MS_BIND, nullptr) != 0) {
        GTEST_SKIP() << "bind mounts are not allowed here: " << std::strerror(errno);
    }
    test_support::writeFile(temp / "a/b/only", "x");
    const std::vector<FileIdentity> bound = directoryChain(temp / "bound");
    const bool taken = removalTakes(temp / "a/b/only", temp / "bound/only");
    ::umount((temp / "bound").c_str());
    ASSERT_GE(bound.size(), 2u);
    EXPECT_EQ(bound[0], chain[0]);
    EXPECT_EQ(bound[1], chain[2]);
    EXPECT_TRUE(taken);
}

TEST(FileIdentity, RemovingAnEntryTakesTheFileOnlyWhereItIsThePathsOwnName) {
    test_support::TempDir temp;
    test_support::writeFile(temp / "cd.iso", "image");
    test_support::writeFile(temp / "other.iso", "other");
    fs::create_symlink("cd.iso", temp / "link.iso");
    const struct {
        const char* entry;
        const char* path;
        bool secondName;  // cd.iso has a hard link second.iso
        bool takes;
    } cases[] = {
        {"cd.iso", "cd.iso", false, true},       {"cd.iso", "cd.iso", true, true},
        {"cd.iso", "link.iso", true, true},      {"link.iso", "cd.iso", false, false},
        {"second.iso", "cd.iso", true, false},   {"cd.iso", "second.iso", true, false},
        {"other.iso", "cd.iso", false, false},   {"missing.iso", "cd.iso", false, false},
        {"cd.iso", "missing.iso", false, false},
    };
    for (const auto& c : cases) {
        if (c.secondName) {
            fs::create_hard_link(temp / "cd.iso", temp / "second.iso");
        }
        EXPECT_EQ(removalTakes(temp / c.entry, temp / c.path), c.takes)
            << c.entry << " for " << c.path << (c.secondName ? " with a second name" : "");
        fs::remove(temp / "second.iso");
    }
}
