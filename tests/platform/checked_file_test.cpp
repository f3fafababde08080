// Files of a listed tree are opened as the listing checked them: whatever is put in the
// place of a file or of a directory on its way between the listing and the open makes the
// open fail, naming the path, and nothing of what was put there is read.
#include "platform/checked_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <functional>
#include <iterator>
#include <vector>

#include "platform/local_tree.h"
#include "support/test_files.h"

namespace fs = boost::filesystem;
using test_support::failureOf;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;

namespace {

// Descriptors this process has open.
long openDescriptors() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

// The entry at `path` ("a/b") of a listing.
const local_tree::Entry& entryAt(const std::vector<local_tree::Entry>& entries,
                                 const std::string& path) {
    const size_t slash = path.find('/');
    const std::string first = path.substr(0, slash);
    for (const local_tree::Entry& entry : entries) {
        if (entry.name == first) {
            return slash == std::string::npos ? entry
                                              : entryAt(entry.children, path.substr(slash + 1));
        }
    }
    throw std::runtime_error("no entry " + path);
}

std::string readThrough(const checked_file::Route& route, const std::string& shown) {
    uint64_t size = 0;
    const OpenFile file = checked_file::openFile(route, shown, size);
    std::string bytes(size, '\0');
    EXPECT_EQ(static_cast<ssize_t>(size), ::pread(file.fd(), &bytes[0], size, 0));
    return bytes;
}

class CheckedFileTest : public testing::Test {
  protected:
    void SetUp() override {
        top = temp / "pkg";
        writeFile(top + "/README.TXT", "readme\n");
        writeFile(top + "/sub/x.txt", "x\n");
        writeFile(temp / "secret/x.txt", "secret\n");
        writeFile(temp / "secret/README.TXT", "secret\n");
        fs::create_symlink("sub/x.txt", top + "/link");
        listing = local_tree::scan(top, local_tree::Depth::whole);
    }

    TempDir temp;
    std::string top;
    std::vector<local_tree::Entry> listing;
};

}  // namespace

TEST_F(CheckedFileTest, FilesAsListedOpenAlongTheirRoutes) {
    EXPECT_EQ("readme\n", readThrough(entryAt(listing, "README.TXT").route, "pkg/README.TXT"));
    EXPECT_EQ("x\n", readThrough(entryAt(listing, "sub/x.txt").route, "pkg/sub/x.txt"));
    // A link inside the tree was resolved once: its route is that of the file it leads to.
    EXPECT_EQ("x\n", readThrough(entryAt(listing, "link").route, "pkg/link"));
    // A file named by the user: the link there is followed, once.
    fs::create_symlink(top + "/README.TXT", temp / "named");
    OpenFile file;
    uint64_t size = 0;
    const checked_file::Route named = checked_file::startAtFile(temp / "named", file, size);
    EXPECT_EQ(7u, size);
    EXPECT_EQ("readme\n", readThrough(named, "named"));
}

TEST_F(CheckedFileTest, WhatIsSwappedInAfterTheCheckIsNeverOpened) {
    struct Case {
        const char* entry;  // opened after the swap
        std::function<void(const std::string& top, const std::string& secret)> swap;
        const char* reason;
    };
    const Case cases[] = {
        {"README.TXT",
         [](const std::string& t, const std::string& s) {
             fs::create_symlink(s + "/README.TXT", t + "/new");
             fs::rename(t + "/new", t + "/README.TXT");
         },
         "it was replaced by a symbolic link after it was checked"},
        {"README.TXT",
         [](const std::string& t, const std::string& s) {
             fs::copy_file(s + "/README.TXT", t + "/new");
             fs::rename(t + "/new", t + "/README.TXT");
         },
         "it is no longer the file that was checked"},
        {"sub/x.txt",
         [](const std::string& t, const std::string& s) {
             fs::rename(t + "/sub", t + "/old");
             fs::create_symlink(s, t + "/sub");
         },
         "the directory sub on its way was replaced by a symbolic link after it was checked"},
        {"sub/x.txt",
         [](const std::string& t, const std::string& s) {
             fs::rename(t + "/sub", t + "/old");
             fs::create_directory(t + "/sub");
             fs::copy_file(s + "/x.txt", t + "/sub/x.txt");
         },
         "the directory sub on its way is no longer the directory that was checked"},
        {"link",
         [](const std::string& t, const std::string& s) {
             fs::remove(t + "/sub/x.txt");
             fs::create_symlink(s + "/x.txt", t + "/sub/x.txt");
         },
         "it was replaced by a symbolic link after it was checked"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        TempDir scratch;
        writeFile(scratch / "pkg/README.TXT", "readme\n");
        writeFile(scratch / "pkg/sub/x.txt", "x\n");
        fs::create_symlink("sub/x.txt", scratch / "pkg/link");
        const std::vector<local_tree::Entry> checked =
            local_tree::scan(scratch / "pkg", local_tree::Depth::whole);
        c.swap(scratch / "pkg", temp / "secret");
        const long descriptors = openDescriptors();
        std::string read;
        const std::string failure = failureOf([&] {
            read = readThrough(entryAt(checked, c.entry).route, std::string("pkg/") + c.entry);
        });
        EXPECT_EQ("cannot open local file pkg/" + std::string(c.entry) + ": " + c.reason, failure);
        EXPECT_EQ("", read);
        EXPECT_EQ(descriptors, openDescriptors());
    }
}

TEST_F(CheckedFileTest, ADirectorySwappedBeforeItIsListedFailsTheListing) {
    // The directory is looked at, then opened to be listed; a link put there in between
    // (here: before the listing opens it again along its route) is not followed.
    const checked_file::Route sub = entryAt(listing, "sub").route;
    fs::rename(top + "/sub", top + "/old");
    fs::create_symlink(temp / "secret", top + "/sub");
    EXPECT_EQ(
        "can not list directory pkg/sub: the directory sub on its way was replaced by a "
        "symbolic link after it was checked",
        failureOf([&] { checked_file::openDirectory(sub, "pkg/sub"); }));
}

TEST_F(CheckedFileTest, AFileTheSizeCheckRefusesFailsTheListingNamingIt) {
    const auto atMost4GiB = [](const std::string& localPath, uint64_t size) {
        if (size > 0xFFFFFFFFull) {
            throw std::length_error("local file " + localPath + " is too large");
        }
    };
    writeFile(top + "/sub/big.bin", "");
    fs::resize_file(top + "/sub/big.bin", 0x100000000ull);
    EXPECT_EQ("local file " + top + "/sub/big.bin is too large",
              failureOf([&] { local_tree::scan(top, local_tree::Depth::whole, {}, atMost4GiB); }));
    fs::resize_file(top + "/sub/big.bin", 0xFFFFFFFFull);
    EXPECT_EQ("",
              failureOf([&] { local_tree::scan(top, local_tree::Depth::whole, {}, atMost4GiB); }));
}
