// The image file writer on a file system whose files share extents (btrfs, XFS with
// reflink): the blocks that lie alike in the old and the new image are shared, and the
// new image holds exactly the bytes a copy gives. Runs where the temporary directory
// (TMPDIR) lies on such a file system; skipped elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "iso/image_output.h"
#include "platform/extent_clone.h"
#include "support/test_files.h"

using namespace test_support;

namespace {

constexpr uint64_t kBlock = 2048;

// Bytes of `path` in extents that the file system reports as shared with another file.
uint64_t sharedBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    constexpr unsigned kExtents = 256;
    std::vector<uint8_t> request(sizeof(fiemap) + kExtents * sizeof(fiemap_extent));
    auto* map = reinterpret_cast<fiemap*>(request.data());
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = kExtents;
    uint64_t shared = 0;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) == 0) {
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
            if (map->fm_extents[i].fe_flags & FIEMAP_EXTENT_SHARED) {
                shared += map->fm_extents[i].fe_length;
            }
        }
    }
    ::close(fd);
    return shared;
}

// Whether files below `directory` can share extents: one whole-file clone, tried.
bool sharesExtents(const std::string& directory) {
    writeFile(directory + "/probe", std::string(64 * 1024, 'p'));
    const int source = ::open((directory + "/probe").c_str(), O_RDONLY | O_CLOEXEC);
    const int target =
        ::open((directory + "/probe-clone").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const bool shares = source >= 0 && target >= 0 && ::ioctl(target, FICLONE, source) == 0;
    ::close(source);
    ::close(target);
    return shares;
}

}  // namespace

TEST(ImageOutputSharedExtents, AlignedRunsAreSharedAndTheBytesMatchACopy) {
    TempDir temp;
    if (!sharesExtents(temp.path())) {
        GTEST_SKIP() << "the file system of " << temp.path()
                     << " does not share extents; set TMPDIR to a directory on btrfs or on "
                        "XFS with reflink to run this test";
    }
    // 600 blocks of data; file A takes blocks 1-299 and ends in the middle of its last
    // block, garbage behind it; file B takes blocks 300-599.
    const uint64_t aSize = 298 * kBlock + 100;
    std::string source(600 * kBlock, '\xee');
    source.replace(kBlock, 599 * kBlock, patternText(599 * kBlock, 7));
    source.replace(kBlock + aSize, 299 * kBlock - aSize, 299 * kBlock - aSize, '\xee');
    writeFile(temp / "source", source);

    // Image offsets 416 KiB after the source's (alike within a 4 KiB block, not within
    // 64 KiB) and 2 KiB after (alike within no block larger than 2 KiB).
    for (const uint64_t shift : {uint64_t(416 * 1024), uint64_t(2048)}) {
        SCOPED_TRACE("shift " + std::to_string(shift));
        const std::string output = temp / "out";
        uint64_t reported = 0;
        {
            ImageOutput out;
            out.create(output);
            auto progress = [&](uint32_t bytes) { reported += bytes; };
            out.queueCopy(temp / "source", kBlock, kBlock + shift, aSize, 2048, progress);
            out.queueCopy(temp / "source", 300 * kBlock, 300 * kBlock + shift, 300 * kBlock, 2048,
                          progress);
            out.copyFrom(temp / "source", kBlock, 701 * kBlock + shift, 299 * kBlock, progress);
            out.close();
        }
        EXPECT_EQ(aSize + 300 * kBlock + 299 * kBlock, reported);
        std::string expected(kBlock + shift, '\0');
        expected += source.substr(kBlock, aSize) + std::string(299 * kBlock - aSize, '\0');
        expected += source.substr(300 * kBlock, 300 * kBlock);
        expected += std::string(701 * kBlock + shift - expected.size(), '\0');
        expected += source.substr(kBlock, 299 * kBlock);
        EXPECT_EQ(expected, readFile(output));
        if (shift % 4096 == 0) {
            // Nearly all of both copies lie in shared blocks; the gap after file A is
            // written as zeros and so has blocks of its own.
            EXPECT_GE(sharedBytes(output), 880 * kBlock);
        } else {
            EXPECT_EQ(0u, sharedBytes(output));
        }
        ::unlink(output.c_str());
    }
}

TEST(ImageOutputSharedExtents, OnlyWholeBlocksThatLieAlikeAreShared) {
    TempDir temp;
    if (!sharesExtents(temp.path())) {
        GTEST_SKIP() << "the file system of " << temp.path() << " does not share extents";
    }
    writeFile(temp / "source", patternBytes(64 * 1024, 3));
    const int source = ::open((temp / "source").c_str(), O_RDONLY | O_CLOEXEC);
    const int target = ::open((temp / "target").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(source, 0);
    ASSERT_GE(target, 0);
    // Alike within the block, starting 2 KiB into one: shared from the next block to the
    // last whole one.
    extent_clone::Shared shared = extent_clone::shareBlocks(source, 2048, target, 10240, 20000);
    EXPECT_EQ(2048u, shared.begin);
    EXPECT_EQ(2048u + 16384u, shared.end);
    // Offsets that lie differently, or no whole block: nothing.
    EXPECT_TRUE(extent_clone::shareBlocks(source, 0, target, 2048, 20000).empty());
    EXPECT_TRUE(extent_clone::shareBlocks(source, 2048, target, 2048, 4000).empty());
    ::close(source);
    ::close(target);
}
