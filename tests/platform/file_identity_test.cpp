// Files told apart by device and inode: entries and targets, the chain of directories up
// to the root, and what removing an entry takes away.
#include "platform/file_identity.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "support/test_files.h"

namespace fs = boost::filesystem;
using test_support::TempDir;
using test_support::writeFile;

TEST(FileIdentity, ALinkIsItsOwnEntryAndLeadsToItsTarget) {
    TempDir temp;
    writeFile(temp / "file", "x");
    fs::create_symlink("file", temp / "link");
    fs::create_symlink("missing", temp / "dangling");
    using file_identity::ofEntry;
    using file_identity::ofTarget;
    EXPECT_EQ(ofTarget(temp / "link"), ofEntry(temp / "file"));
    EXPECT_NE(ofEntry(temp / "link"), ofEntry(temp / "file"));
    EXPECT_TRUE(ofEntry(temp / "dangling").known);
    EXPECT_FALSE(ofTarget(temp / "dangling").known);
    // Two unknown files are never the same file.
    EXPECT_NE(ofEntry(temp / "missing"), ofEntry(temp / "missing"));
}

TEST(FileIdentity, TheChainOfADirectoryIsTheSameByEveryWayToIt) {
    TempDir temp;
    fs::create_directories(temp / "a/b");
    fs::create_directories(temp / "a/c");
    fs::create_symlink(temp / "a/b", temp / "link");
    writeFile(temp / "file", "x");
    const std::vector<FileIdentity> chain = file_identity::directoryChain(temp / "a/b");
    ASSERT_GE(chain.size(), 3u);
    EXPECT_EQ(chain[0], file_identity::ofEntry(temp / "a/b"));
    EXPECT_EQ(chain[1], file_identity::ofEntry(temp / "a"));
    EXPECT_EQ(chain[2], file_identity::ofEntry(temp.path()));
    EXPECT_EQ(chain.back(), file_identity::ofEntry("/"));
    for (const std::string& way : {temp / "a//b/", temp / "a/c/../b", temp / "link"}) {
        EXPECT_EQ(file_identity::directoryChain(way), chain) << way;
    }
    EXPECT_TRUE(file_identity::directoryChain(temp / "file").empty());
    EXPECT_TRUE(file_identity::directoryChain(temp / "missing").empty());

    // A bind mount is the same directory, but its parents are those of where it is mounted.
    const test_support::ScopedMount mount(temp / "a/b", temp / "bound", "");
    if (!mount.mounted()) {
        GTEST_SKIP() << mount.why();
    }
    const std::vector<FileIdentity> bound = file_identity::directoryChain(temp / "bound");
    ASSERT_GE(bound.size(), 2u);
    EXPECT_EQ(bound[0], chain[0]);
    EXPECT_EQ(bound[1], chain[2]);
    // The only name of a file, reached through the mount under another name, is taken.
    writeFile(temp / "a/b/only", "x");
    EXPECT_TRUE(file_identity::removalTakes(temp / "a/b/only", temp / "bound/only"));
}

TEST(FileIdentity, RemovingAnEntryTakesTheFileOnlyWhereItIsThePathsOwnName) {
    TempDir temp;
    writeFile(temp / "cd.iso", "image");
    writeFile(temp / "other.iso", "other");
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
        EXPECT_EQ(file_identity::removalTakes(temp / c.entry, temp / c.path), c.takes)
            << c.entry << " for " << c.path << (c.secondName ? " with a second name" : "");
        fs::remove(temp / "second.iso");
    }
}
