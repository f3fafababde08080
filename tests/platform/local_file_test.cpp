#include "platform/local_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cstring>

#include "platform/interrupt.h"
#include "support/test_files.h"

namespace fs = boost::filesystem;
using test_support::failureOf;

namespace {

TEST(LocalFile, CopiesWithinAndAcrossFileSystemsAndNeverOverwrites) {
    test_support::TempDir temp;
    // Larger than one piece of the plain copy, and not a multiple of it.
    const std::vector<uint8_t> bytes = test_support::patternBytes(3 * 1024 * 1024 + 17, 5);
    test_support::writeFile(temp / "source", bytes);
    test_support::writeFile(temp / "empty", "");
    std::vector<std::string> targets = {temp / "copy"};
    char pattern[] = "/dev/shm/winpe-copy-XXXXXX";
    const bool otherDevice =
        test_support::onOtherFileSystems("/dev/shm", temp.path()) && ::mkdtemp(pattern) != nullptr;
    if (otherDevice) {
        targets.push_back(std::string(pattern) + "/copy");
    } else {
        std::cout << "no copy across file systems: /dev/shm is not one of its own\n";
    }
    for (const std::string& target : targets) {
        local_file::copyFile(temp / "source", target);
        EXPECT_EQ(test_support::readBytes(target), bytes) << target;
        local_file::copyFile(target, target + ".back");
        EXPECT_EQ(test_support::readBytes(target + ".back"), bytes) << target;
        local_file::copyFile(temp / "empty", target + ".empty");
        EXPECT_EQ(test_support::readFile(target + ".empty"), "");
        // An existing target is kept as it was.
        test_support::writeFile(target + ".taken", "taken");
        EXPECT_NE(failureOf([&] {
                      local_file::copyFile(temp / "source", target + ".taken");
                  }).find("cannot create " + target + ".taken: File exists"),
                  std::string::npos);
        EXPECT_EQ(test_support::readFile(target + ".taken"), "taken");
    }
    if (otherDevice) {
        fs::remove_all(pattern);
    }
}

TEST(LocalFile, AnInterruptedCopyStopsAndLeavesNoTarget) {
    test_support::TempDir temp;
    test_support::writeFile(temp / "source", test_support::patternBytes(4096, 3));
    interrupt::installHandlers();
    ::raise(SIGINT);
    EXPECT_THROW(local_file::copyFile(temp / "source", temp / "copy"), interrupt::Interrupted);
    EXPECT_FALSE(fs::exists(temp / "copy"));
    ::signal(SIGINT, SIG_DFL);
    interrupt::reset();
}

TEST(LocalFile, RefusesEverythingButARegularFileWithoutBlocking) {
    test_support::TempDir temp;
    ASSERT_EQ(::mkfifo((temp / "fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", temp / "link");
    fs::create_directory(temp / "dir");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = temp / "sock";
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const struct {
        std::string path;
        const char* kind;
    } cases[] = {{temp / "fifo", "a FIFO"},
                 {temp / "link", "a FIFO"},
                 {temp / "dir", "a directory"},
                 {socketPath, "a socket"},
                 {"/dev/null", "a character device"}};
    for (const auto& c : cases) {
        uint64_t size = 0;
        EXPECT_EQ(failureOf([&] { local_file::openForReading(c.path, size, "test file"); }),
                  "cannot open test file " + c.path + ": it is " + c.kind + ", not a regular file");
        EXPECT_EQ(
            failureOf([&] { local_file::copyFile(c.path, temp / "target"); }),
            "cannot open local file " + c.path + ": it is " + c.kind + ", not a regular file");
        EXPECT_FALSE(test_support::fileExists(temp / "target"));
    }
    ::close(sock);
    uint64_t size = 0;
    EXPECT_EQ(failureOf([&] { local_file::openForReading(temp / "none", size); }),
              "cannot open local file " + temp / "none" + ": No such file or directory");
}

TEST(LocalFile, RewriteEmptiesAFileButNeverFollowsALinkNorWritesAnythingElse) {
    test_support::TempDir temp;
    test_support::writeFile(temp / "file", "longer old text");
    fs::create_symlink("file", temp / "link");
    ASSERT_EQ(::mkfifo((temp / "fifo").c_str(), 0600), 0);
    fs::create_directory(temp / "dir");
    const struct {
        const char* name;
        const char* kind;
    } refused[] = {{"link", "a symbolic link"}, {"fifo", "a FIFO"}, {"dir", "a directory"}};
    for (const auto& c : refused) {
        EXPECT_EQ(failureOf([&] { local_file::rewrite(temp / c.name); }),
                  "cannot create " + temp / c.name + ": it is " + c.kind + ", not a regular file");
    }
    EXPECT_EQ(test_support::readFile(temp / "file"), "longer old text");
    for (const char* name : {"file", "new"}) {
        OpenFile out = local_file::rewrite(temp / name);
        EXPECT_EQ(file_io::writeAll(out.fd(), "new", 3).done, 3u);
        EXPECT_TRUE(out.close());
        EXPECT_EQ(test_support::readFile(temp / name), "new") << name;
    }
}

}  // namespace
