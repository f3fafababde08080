// The image file writer: merged copies must give exactly the bytes of separate copies,
// whichever way (kernel or buffer) the data moves.
#include "iso/image_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <stdexcept>
#include <string>

#include "iso/image_source.h"
#include "support/test_files.h"

using namespace test_support;

namespace {

// Source: file A (3000 bytes) in blocks 0-1 with garbage behind it, file B (2048) in
// block 2, file C (10) in block 3 with garbage behind it, then 10 garbage blocks.
std::string makeSource(const std::string& path) {
    std::string bytes(14 * 2048, '\xee');
    bytes.replace(0, 3000, patternText(3000, 1));
    bytes.replace(2 * 2048, 2048, patternText(2048, 2));
    bytes.replace(3 * 2048, 10, "0123456789");
    writeFile(path, bytes);
    return bytes;
}

std::string expectedImage(const std::string& source, uint64_t at) {
    std::string image(at, '\0');
    image += source.substr(0, 3000) + std::string(1096, '\0');
    image += source.substr(2 * 2048, 2048);
    image += source.substr(3 * 2048, 10);
    return image;
}

}  // namespace

TEST(ImageOutput, MergedCopiesGiveZerosBetweenFilesOnEveryCopyPath) {
    TempDir temp;
    const std::string source = makeSource(temp / "source");
    // Every way the data may move, at offsets the kernel copies (64 KiB apart from the
    // source), that only a pipe or a buffer moves (2 and 4 KiB apart), across 2 GiB and
    // beyond 4 GiB. The last file ends in the middle of its block.
    // The source is the local file by path, the same file as an image source (its
    // descriptor lent), and its bytes as an image in memory (read through the source).
    FileImageSource fileImage(temp / "source");
    MemoryImageSource memoryImage(reinterpret_cast<const uint8_t*>(source.data()), source.size());
    const CopySource sources[] = {CopySource(temp / "source"), CopySource(fileImage, "file"),
                                  CopySource(memoryImage, "memory")};
    using Paths = ImageOutput::CopyPaths;
    for (const CopySource& from : sources)
        for (const Paths paths : {Paths::fastest, Paths::pipeOrBuffer, Paths::bufferOnly}) {
            for (const uint64_t at : {uint64_t(64 * 1024), uint64_t(2048), uint64_t(4096),
                                      (uint64_t(1) << 31) - 2048, uint64_t(3) << 31}) {
                SCOPED_TRACE("source " + from.name + ", copy paths " +
                             std::to_string(static_cast<int>(paths)) + ", offset " +
                             std::to_string(at));
                const std::string output = temp / "out";
                uint64_t reported = 0;
                {
                    ImageOutput out(paths);
                    out.create(output);
                    auto progress = [&](uint32_t bytes) { reported += bytes; };
                    out.queueCopy(from, 0, at, 3000, 2048, progress);
                    out.queueCopy(from, 2 * 2048, at + 2 * 2048, 2048, 2048, progress);
                    out.queueCopy(from, 4 * 2048, at + 3 * 2048, 0, 2048, progress);
                    out.queueCopy(from, 3 * 2048, at + 3 * 2048, 10, 2048, progress);
                    out.close();
                }
                EXPECT_EQ(3000u + 2048u + 10u, reported) << at;
                if (at < (uint64_t(1) << 30)) {
                    EXPECT_EQ(expectedImage(source, at), readFile(output)) << at;
                } else {
                    // Far out: check the written tail only (the file is sparse before it).
                    std::ifstream in(output, std::ios::binary);
                    in.seekg(static_cast<std::streamoff>(at));
                    std::string tail(3 * 2048 + 10, '?');
                    in.read(&tail[0], static_cast<std::streamsize>(tail.size()));
                    EXPECT_EQ(expectedImage(source, 0), tail);
                }
                boost::filesystem::remove(output);
            }
        }
}

TEST(ImageOutput, AWaitingCopyFailsAtTheFlushAndAMissingSourceAtOnce) {
    TempDir temp;
    makeSource(temp / "source");
    ImageOutput early;
    early.create(temp / "early");
    early.queueCopy(temp / "source", 12 * 2048, 2048, 3 * 2048, 2048, [](uint32_t) {});
    EXPECT_THROW(early.flushCopies(), std::runtime_error);
    ImageOutput out;
    out.create(temp / "out");
    EXPECT_THROW(out.queueCopy(temp / "missing", 0, 0, 0, 2048, [](uint32_t) {}),
                 std::runtime_error);
}

TEST(ImageOutput, TheFileIsMadeAfreshAsPrivateAndNeverOverADirectory) {
    TempDir temp;
    const std::string output = temp / "out";
    writeFile(temp / "target", "target");
    boost::filesystem::create_symlink("target", output);
    ImageOutput out;
    out.create(output);
    out.close();
    struct stat status;
    ASSERT_EQ(::lstat(output.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(out.identity(), file_identity::ofEntry(output));
    EXPECT_EQ(readFile(temp / "target"), "target");

    boost::filesystem::remove(output);
    boost::filesystem::create_directory(output);
    ImageOutput refused;
    EXPECT_THROW(refused.create(output), std::runtime_error);
    EXPECT_TRUE(boost::filesystem::is_directory(output));
}
