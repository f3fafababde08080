#include "cli/image_neighbours.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <functional>

#include "support/test_files.h"

using test_support::TempDir;
using test_support::writeFile;
namespace fs = boost::filesystem;

namespace {

ImageNeighbours neighboursOf(const std::string& image) {
    return ImageNeighbours{image, image + ".tmp", image + ".bak"};
}

}  // namespace

TEST(ImageNeighbours, WhatWouldLoseAFileOrFailLateIsRefusedUpFront) {
    struct Case {
        const char* what;
        std::function<void(const std::string& directory)> plant;
        std::string warning;  // empty: the run may go on
        std::vector<std::string> inputs = {};
    };
    const std::string longName(252, 'n');
    const Case cases[] = {
        {"nothing beside the image", [](const std::string&) {}, "", {"pk"}},
        {"a directory at .tmp",
         [](const std::string& d) { fs::create_directories(d + "/cd.iso.tmp"); },
         "a directory stands at DIR/cd.iso.tmp, where this run writes the new image"},
        {"a directory at .bak",
         [](const std::string& d) { writeFile(d + "/cd.iso.bak/kept", "the user's"); },
         "a directory stands at DIR/cd.iso.bak, where this run writes the backup"},
        {"the image a link to its .bak",
         [](const std::string& d) {
             fs::rename(d + "/cd.iso", d + "/cd.iso.bak");
             fs::create_symlink("cd.iso.bak", d + "/cd.iso");
         },
         "the image DIR/cd.iso is a link to DIR/cd.iso.bak, which this run replaces"},
        {"the image a link to its .tmp",
         [](const std::string& d) {
             fs::rename(d + "/cd.iso", d + "/cd.iso.tmp");
             fs::create_symlink("cd.iso.tmp", d + "/cd.iso");
         },
         "the image DIR/cd.iso is a link to DIR/cd.iso.tmp, which this run replaces"},
        {"a link to the image at .tmp",
         [](const std::string& d) { fs::create_symlink("cd.iso", d + "/cd.iso.tmp"); }, ""},
        {"a hard link of the image at .tmp",
         [](const std::string& d) { fs::create_hard_link(d + "/cd.iso", d + "/cd.iso.tmp"); }, ""},
        {"a hard link of the image at .bak",
         [](const std::string& d) { fs::create_hard_link(d + "/cd.iso", d + "/cd.iso.bak"); }, ""},
        {"an input at .tmp by its path",
         [](const std::string& d) { writeFile(d + "/cd.iso.tmp", "the user's file"); },
         "the local input DIR/sub/../cd.iso.tmp is DIR/cd.iso.tmp, where this run writes the "
         "new image",
         {"DIR/pk", "DIR/sub/../cd.iso.tmp"}},
        {"an input at .tmp as the same file",
         [](const std::string& d) {
             writeFile(d + "/cd.iso.tmp", "the user's file");
             fs::create_symlink(d + "/cd.iso.tmp", d + "/notes.txt");
         },
         "the local input DIR/notes.txt is DIR/cd.iso.tmp",
         {"DIR/notes.txt"}},
        {"a name too long for .bak",
         [&longName](const std::string& d) { fs::rename(d + "/cd.iso", d + "/" + longName); },
         "is too long for"},
    };
    for (const Case& c : cases) {
        TempDir temp;
        fs::create_directories(temp / "sub");
        fs::create_directories(temp / "pk");
        writeFile(temp / "cd.iso", "image");
        c.plant(temp.path());
        const bool renamed = std::string(c.what) == "a name too long for .bak";
        const std::string image = temp / (renamed ? longName : std::string("cd.iso"));
        std::vector<std::string> inputs;
        for (std::string input : c.inputs) {
            if (input.rfind("DIR", 0) == 0) {
                input.replace(0, 3, temp.path());
            }
            inputs.push_back(input);
        }
        std::string expected = c.warning;
        for (size_t at; (at = expected.find("DIR")) != std::string::npos;) {
            expected.replace(at, 3, temp.path());
        }
        const std::string warning = refuseImageNeighbours(neighboursOf(image), inputs);
        if (expected.empty()) {
            EXPECT_EQ(warning, "") << c.what;
        } else {
            EXPECT_NE(warning.find(expected), std::string::npos) << c.what << ": " << warning;
        }
    }
    EXPECT_EQ(refuseImageNeighbours(neighboursOf(""), {"x"}), "") << "no image, nothing to check";
}

TEST(ImageNeighbours, AnImageDirectoryThatCanNotBeWrittenIsRefused) {
    TempDir temp;
    writeFile(temp / "ro/cd.iso", "image");
    if (::mount((temp / "ro").c_str(), (temp / "ro").c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, (temp / "ro").c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY,
                nullptr) != 0) {
        ::umount((temp / "ro").c_str());
        GTEST_SKIP() << "read-only bind mounts are not allowed here: " << std::strerror(errno);
    }
    const std::string warning = refuseImageNeighbours(neighboursOf(temp / "ro/cd.iso"), {});
    ::umount((temp / "ro").c_str());
    EXPECT_EQ(warning, "the directory " + (temp / "ro") +
                           " of the image is not writable (Read-only file system), the new "
                           "image can not be made there");
}
