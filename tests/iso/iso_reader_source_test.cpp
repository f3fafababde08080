// The byte sources the readers read images through.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "iso/image_source.h"
#include "support/test_files.h"

using namespace test_support;

TEST(ImageSource, ReadsExactlyOrThrowsNamingOffsetAndSize) {
    const std::vector<uint8_t> bytes = patternBytes(5000, 1);
    TempDir dir;
    writeFile(dir / "image", bytes);
    FileImageSource file(dir / "image");
    MemoryImageSource memory(bytes.data(), bytes.size());
    for (ImageSource* source :
         {static_cast<ImageSource*>(&file), static_cast<ImageSource*>(&memory)}) {
        EXPECT_EQ(source->size(), 5000u);
        std::vector<uint8_t> buffer(100);
        source->read(4900, buffer.data(), 100);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), bytes.begin() + 4900));
        source->read(5000, buffer.data(), 0);
        const std::string failure = failureOf([&] { source->read(4901, buffer.data(), 100); });
        EXPECT_TRUE(contains(failure, "reading 100 bytes at byte 4901")) << failure;
        EXPECT_TRUE(contains(failure, "the image has 5000 bytes")) << failure;
        // Offsets near 2^64 must not wrap around into the image.
        EXPECT_FALSE(source->contains(UINT64_MAX, 2));
        EXPECT_FALSE(source->contains(1, UINT64_MAX));
        EXPECT_THROW(source->read(UINT64_MAX - 10, buffer.data(), 100), std::runtime_error);
        EXPECT_TRUE(source->contains(0, 5000));
        EXPECT_FALSE(source->contains(0, 5001));
    }
}

TEST(ImageSource, MissingFilesAndDirectoriesCannotBeOpened) {
    TempDir dir;
    EXPECT_THROW(FileImageSource(dir / "missing"), std::runtime_error);
    EXPECT_TRUE(
        contains(failureOf([&] { FileImageSource source(dir.path()); }), "it is a directory"));
}
