// The copy engine: a sparse source keeps its holes, and a source that ends early fails
// the copy on every way the data moves.
#include "platform/range_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <stdexcept>
#include <string>

#include "support/test_files.h"

using test_support::TempDir;

namespace {

// The pieces the image writer uses.
const range_copy::Sizes kSizes{1024 * 1024, 8 * 1024 * 1024, 64 * 1024, 1024 * 1024, 2048};

// A copier onto the new file `path`, which `file` holds.
range_copy::RangeCopier copierOnto(const std::string& path, OpenFile& file,
                                   range_copy::Ways ways = range_copy::Ways::fastest) {
    file = OpenFile(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    EXPECT_TRUE(file.isOpen()) << path;
    range_copy::RangeCopier copier(ways, kSizes);
    copier.setTarget(file.fd(), path);
    return copier;
}

}  // namespace

TEST(RangeCopy, HolesOfASparseSourceStayHolesAndReadAsZeros) {
    TempDir temp;
    // 64 MiB with data only at its start, in its middle (not block aligned) and at its end.
    constexpr uint64_t kSize = 64ull << 20;
    const std::string source = temp / "sparse";
    test_support::writeFile(source, "");
    boost::filesystem::resize_file(source, kSize);
    struct Island {
        uint64_t at;
        std::vector<uint8_t> bytes;
    };
    const Island islands[] = {{0, test_support::patternBytes(5000, 1)},
                              {(32ull << 20) + 123, test_support::patternBytes(70000, 2)},
                              {kSize - 3000, test_support::patternBytes(3000, 3)}};
    {
        std::fstream file(source, std::ios::in | std::ios::out | std::ios::binary);
        for (const Island& island : islands) {
            file.seekp(static_cast<std::streamoff>(island.at));
            file.write(reinterpret_cast<const char*>(island.bytes.data()),
                       static_cast<std::streamsize>(island.bytes.size()));
        }
    }
    struct stat status;
    ASSERT_EQ(0, ::stat(source.c_str(), &status));
    if (uint64_t(status.st_blocks) * 512 >= kSize / 2) {
        GTEST_SKIP() << "the file system of " << temp.path() << " keeps no holes";
    }
    // Into the middle of an image, as one run with a small file after it and a gap of
    // source bytes between them that must come out as zeros.
    const uint64_t at = 10 * 2048;
    const std::string output = temp / "out";
    uint64_t reported = 0;
    {
        const OpenFile in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
        OpenFile out;
        range_copy::RangeCopier copier = copierOnto(output, out);
        const range_copy::FileSpans files = {{0, kSize - 3000}, {kSize - 2000, kSize}};
        copier.copy(
            {in.fd(), source, {}}, 0, at, kSize, [&](uint32_t n) { reported += n; }, &files);
        copier.copy(
            {in.fd(), source, {}}, 0, at + kSize, 100, [&](uint32_t n) { reported += n; }, nullptr);
    }
    EXPECT_EQ(kSize + 100, reported);
    std::string expected(at + kSize + 100, '\0');
    for (const Island& island : islands) {
        expected.replace(at + island.at, island.bytes.size(),
                         std::string(island.bytes.begin(), island.bytes.end()));
    }
    expected.replace(at + kSize - 3000, 1000, std::string(1000, '\0'));
    expected.replace(at + kSize, 100, expected.substr(at, 100));
    EXPECT_TRUE(expected == test_support::readFile(output)) << "the copy differs";
    ASSERT_EQ(0, ::stat(output.c_str(), &status));
    EXPECT_LT(uint64_t(status.st_blocks) * 512, 8ull << 20) << "the holes were written out";
}

TEST(RangeCopy, ASourceThatEndsEarlyFailsTheCopyOnEveryWay) {
    TempDir temp;
    test_support::writeFile(temp / "source", test_support::patternBytes(14 * 2048, 4));
    const OpenFile in(::open((temp / "source").c_str(), O_RDONLY | O_CLOEXEC));
    for (const auto ways : {range_copy::Ways::fastest, range_copy::Ways::pipeOrBuffer,
                            range_copy::Ways::bufferOnly}) {
        OpenFile out;
        range_copy::RangeCopier copier =
            copierOnto(temp / ("out" + std::to_string(static_cast<int>(ways))), out, ways);
        std::string failure;
        try {
            copier.copy(
                {in.fd(), "src", {}}, 12 * 2048, 2048, 3 * 2048, [](uint32_t) {}, nullptr);
        } catch (const std::runtime_error& e) {
            failure = e.what();
        }
        EXPECT_EQ(failure, range_copy::sourceEndsEarlyText("src", 14 * 2048));
    }
}
