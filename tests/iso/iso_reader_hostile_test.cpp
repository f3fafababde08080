// Hostile and unusual images: patched bytes of real images and hand-made images. The
// reader must fail cleanly with a message that says what and where, never crash, read
// outside its buffers, allocate what the file cannot hold, or write outside the target.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <csignal>
#include <functional>
#include <initializer_list>

#include "iso/byte_order.h"
#include "iso/image_source.h"
#include "iso/iso_reader.h"
#include "iso/iso_reader_fixture.h"
#include "iso/limits.h"
#include "iso/records.h"
#include "support/console_capture.h"
#include "support/fixture_image.h"
#include "support/test_files.h"

using namespace test_support;
using reader_fixture::extentOffset;
using reader_fixture::findRecord;
using reader_fixture::MiniImage;
using reader_fixture::putBoth32;
using Entry = MiniImage::Entry;
namespace dir_record = iso_record::dir_record;
namespace pvd = iso_record::pvd;

using reader_fixture::InspectReader;

namespace {

constexpr size_t kPvd = iso_limits::kPrimaryDescriptorOffset;
// The extent of the root directory record in the primary descriptor.
constexpr size_t kRootExtent = kPvd + pvd::kRootDirectoryRecord + dir_record::kExtent;

const std::string kLoadFailed = "load ISO image failed - invalid image internal structure\n";

struct LoadResult {
    bool loaded = false;
    std::string output;
};

// Loads `image` from memory and returns whether it loaded and what was printed.
LoadResult load(const std::vector<uint8_t>& image) {
    ISOReader reader("memory.iso", memoryImageOpener(image.data(), image.size()));
    LoadResult result;
    result.output = captureStdout([&] { result.loaded = reader.DirectoryExists("\\"); });
    return result;
}

// Expects the load of `image` to fail, printing each of `parts`.
void expectRefused(const std::vector<uint8_t>& image, const std::vector<std::string>& parts) {
    const LoadResult result = load(image);
    EXPECT_FALSE(result.loaded) << result.output;
    for (const std::string& part : parts) {
        EXPECT_TRUE(contains(result.output, part)) << part << "\n" << result.output;
    }
}

std::vector<uint8_t> realImage() {
    return readBytes(reader_fixture::sharedImage());
}

// Root at block 20; A.TXT (5 bytes) at block 21; directory D at 22 holding B.TXT at 23.
MiniImage smallImage(uint16_t blockSize) {
    MiniImage image(blockSize, 80 * 2048 / blockSize);
    const uint32_t root = 70 * 2048 / blockSize;
    image.descriptor(root);
    image.directory(root, root, {{"A.TXT", root + 1, 5, 0}, {"D", root + 2, 0, 2}});
    image.data(root + 1, {'h', 'e', 'l', 'l', 'o'});
    image.directory(root + 2, root, {{"B.TXT", root + 3, 3, 0}});
    image.data(root + 3, {'a', 'b', 'c'});
    return image;
}

}  // namespace

TEST(IsoReaderBlockSize, ReadsImagesOf512And1024ByteBlocks) {
    for (const uint16_t blockSize : std::initializer_list<uint16_t>{512, 1024, 2048}) {
        MiniImage mini = smallImage(blockSize);
        InspectReader reader("memory.iso",
                             memoryImageOpener(mini.bytes().data(), mini.bytes().size()));
        TempDir out;
        ConsoleCapture capture;
        ASSERT_EQ(reader.RetrieveFile("\\D\\B.TXT", out / "b"), 0) << blockSize;
        ASSERT_EQ(reader.RetrieveFile("\\A.TXT", out / "a"), 0) << blockSize;
        capture.finish();
        EXPECT_EQ(reader.logicalBlockSize, blockSize);
        EXPECT_EQ(readFile(out / "a"), "hello");
        EXPECT_EQ(readFile(out / "b"), "abc");
        EXPECT_EQ(reader.totalBytes, 8u);
    }
}

TEST(IsoReaderBlockSize, OtherBlockSizesAreInvalidImages) {
    for (const uint16_t blockSize :
         std::initializer_list<uint16_t>{0, 1, 1000, 2047, 4096, 65535}) {
        MiniImage mini = smallImage(2048);
        iso_bytes::putBoth16(mini.bytes().data(), kPvd + pvd::kLogicalBlockSize, blockSize);
        InspectReader reader("memory.iso",
                             memoryImageOpener(mini.bytes().data(), mini.bytes().size()));
        const std::string printed =
            captureStdout([&] { EXPECT_FALSE(reader.FileExists("\\A.TXT")); });
        EXPECT_EQ(printed, "load ISO image ...\nlogical block size " + std::to_string(blockSize) +
                               " at byte 32896 is not 512, 1024 or 2048\n"
                               "load ISO image failed - invalid ISO image\n");
        EXPECT_EQ(reader.logicalBlockSize, 2048);
    }
}

TEST(IsoReaderDescriptor, OnlyTheStandardIdentifierIsChecked) {
    std::vector<uint8_t> image = realImage();
    image[kPvd + pvd::kType] = 255;  // Volume Descriptor Type of a terminator
    EXPECT_TRUE(load(image).loaded);
    image[kPvd + pvd::kStandardId + 2] = 'X';
    const LoadResult bad = load(image);
    EXPECT_FALSE(bad.loaded);
    EXPECT_EQ(bad.output, "load ISO image ...\nload ISO image failed - invalid ISO image\n");
}

TEST(IsoReaderRecords, HiddenAndNamelessRecordsAreLeftOut) {
    std::vector<uint8_t> image = realImage();
    image[findRecord(image, "PROGRAMS") + dir_record::kFlags] |= 0x01;
    image[findRecord(image, "WINBOM.INI") + dir_record::kIdentifierLength] = 0;
    ISOReader reader("memory.iso", memoryImageOpener(image.data(), image.size()));
    TempDir out;
    const std::string printed = captureStdout([&] {
        EXPECT_FALSE(reader.DirectoryExists("\\PROGRAMS"));
        EXPECT_FALSE(reader.FileExists("\\PROGRAMS\\A.EXE"));
        EXPECT_FALSE(reader.FileExists("\\WINBOM.INI"));
        EXPECT_TRUE(reader.FileExists("\\lower.txt"));
        EXPECT_EQ(reader.UnpackImage(out.path()), 0);
    });
    // The progress marks count the files extracted: the hidden ones are not.
    EXPECT_TRUE(contains(printed, "90%.........100%\nunpack ISO image succeeded\n")) << printed;
    EXPECT_FALSE(boost::filesystem::exists(out / "PROGRAMS"));
    EXPECT_TRUE(fileExists(out / "lower.txt"));

    // A nameless record of just its 33-byte fixed part is skipped like any nameless one,
    // and the record right after it is read.
    MiniImage mini = smallImage(2048);
    const size_t rootStart = 70 * 2048;
    const size_t nameless = rootStart + 68;
    reader_fixture::putRecord(mini.bytes(), nameless, "", 71, 0, 0);
    mini.bytes()[nameless] = 33;
    const size_t after = nameless + 33;
    const size_t afterLength = reader_fixture::putRecord(mini.bytes(), after, "C.TXT", 71, 5, 0);
    std::fill(mini.bytes().begin() + after + afterLength, mini.bytes().begin() + rootStart + 2048,
              0);
    InspectReader miniReader("memory.iso",
                             memoryImageOpener(mini.bytes().data(), mini.bytes().size()));
    EXPECT_EQ(captureStdout([&] { EXPECT_TRUE(miniReader.FileExists("\\C.TXT")); }),
              "load ISO image ...\nload ISO image succeeded\n");
    const DirectoryNode* entry = miniReader.root->next->next.get();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->name, "C.TXT");
    EXPECT_EQ(entry->next, nullptr);
}

TEST(IsoReaderRecords, BrokenRecordLengthsFailTheLoadWithTheirPlace) {
    // Too short for the fixed part, in the root.
    std::vector<uint8_t> image = realImage();
    image[findRecord(image, "WINBOM.INI")] = 20;
    expectRefused(image, {"directory \\ at block ",
                          "has length 20, shorter than its fixed part\n" + kLoadFailed});

    // An identifier longer than its record, one level down: the level above adds its line.
    image = realImage();
    image[findRecord(image, "A.EXE") + dir_record::kIdentifierLength] = 200;
    expectRefused(
        image, {"directory \\PROGRAMS at block ", "identifier of 200 bytes runs past the record's ",
                " bytes\nload directory information from ISO image failed\n" + kLoadFailed});

    // A record running past the directory's data.
    MiniImage mini(2048, 80);
    mini.descriptor(70);
    mini.directory(70, 70, {{"A.TXT", 71, 5, 0}}, 60);
    expectRefused(mini.bytes(), {"runs past the directory's 60 bytes"});
}

TEST(IsoReaderRecords, ZeroLengthsMoveToTheNextBlockAndEndTheDirectory) {
    MiniImage mini(2048, 80);
    mini.descriptor(70);
    std::vector<Entry> entries;
    for (int i = 0; i < 120; ++i) {
        entries.push_back({"FILE" + std::to_string(1000 + i) + ".TXT", 79, 1, 0});
    }
    const uint32_t length = mini.directory(70, 70, entries);
    ASSERT_EQ(length, 3u * 2048);  // the records spread over three blocks
    InspectReader reader("memory.iso", memoryImageOpener(mini.bytes().data(), mini.bytes().size()));
    captureStdout([&] { EXPECT_TRUE(reader.FileExists("\\FILE1119.TXT")); });
    EXPECT_EQ(reader.totalBytes, 120u);
}

TEST(IsoReaderNames, DotNamesAndInvalidWindowsNamesAreRefused) {
    for (const std::string& name : {std::string(".."), std::string("."), std::string("A:B"),
                                    std::string("..\\X"), std::string("a/b"), std::string("TRAIL "),
                                    std::string("TRAIL.."), std::string(".;1"), std::string("C|D"),
                                    std::string("A\x05"
                                                "B")}) {
        MiniImage mini(2048, 80);
        mini.descriptor(70);
        mini.directory(70, 70, {{"OK.TXT", 71, 1, 0}, {name, 71, 1, 0}});
        expectRefused(mini.bytes(), {"which is not a valid name\n" + kLoadFailed});
    }
    // A directory called ".." would otherwise lead extraction out of its destination.
    MiniImage mini(2048, 80);
    mini.descriptor(70);
    mini.directory(70, 70, {{"..", 72, 0, 2}});
    mini.directory(72, 70, {{"ESCAPED.TXT", 71, 1, 0}});
    TempDir out;
    boost::filesystem::create_directories(out / "dest");
    ISOReader reader("memory.iso", memoryImageOpener(mini.bytes().data(), mini.bytes().size()));
    captureStdout([&] { EXPECT_EQ(reader.UnpackImage(out / "dest"), 1); });
    EXPECT_FALSE(fileExists(out / "ESCAPED.TXT"));
}

TEST(IsoReaderNames, SpecialIdentifiersAreDecidedOnTheirFirstByte) {
    MiniImage mini(2048, 80);
    mini.descriptor(70);
    // A third-party record with identifier 0x01 0x41 0x42 is another ".." entry.
    mini.directory(70, 70,
                   {{std::string("\x01"
                                 "AB",
                                 3),
                     72, 0, 2},
                    {"X", 71, 2, 0}});
    mini.data(71, {'o', 'k'});
    InspectReader reader("memory.iso", memoryImageOpener(mini.bytes().data(), mini.bytes().size()));
    TempDir out;
    captureStdout([&] {
        EXPECT_TRUE(reader.FileExists("\\X"));
        EXPECT_EQ(reader.UnpackImage(out.path()), 0);
    });
    const DirectoryNode* third = reader.root->next->next.get();
    EXPECT_EQ(third->name, "..");
    EXPECT_EQ(third->children, nullptr);
    EXPECT_EQ(readFile(out / "X"), "ok");
}

TEST(IsoReaderBounds, DirectoryExtentOrLengthPastTheEndFailsBeforeReading) {
    std::vector<uint8_t> image = realImage();
    const size_t programs = findRecord(image, "PROGRAMS");
    putBoth32(image, programs + dir_record::kExtent, 0x7FFFFFF0);
    expectRefused(image,
                  {"directory \\PROGRAMS at block 2147483632 (byte " +
                   std::to_string(0x7FFFFFF0ull * 2048) + ") lies past the end of the image"});

    // The directory's own "." record claims nearly 4 GiB: refused, nothing allocated.
    image = realImage();
    const uint64_t dirStart = extentOffset(image, programs);
    putBoth32(image, static_cast<size_t>(dirStart) + dir_record::kDataLength, 0xFFFFFFF0u);
    expectRefused(image, {": data length 4294967280 from byte " + std::to_string(dirStart) +
                          " runs past the end of the image"});

    // Root extent beyond the end.
    image = realImage();
    putBoth32(image, kRootExtent, 0xFFFFFFFFu);
    expectRefused(image, {"directory \\ at block 4294967295 (byte 8796093020160)"});
}

TEST(IsoReaderBounds, DirectoryLoopsFailCleanly) {
    std::vector<uint8_t> image = realImage();
    const uint32_t rootExtent = iso_bytes::getLe32(image.data(), kRootExtent);
    putBoth32(image, findRecord(image, "PROGRAMS") + dir_record::kExtent, rootExtent);
    expectRefused(image, {"directory \\PROGRAMS at block " + std::to_string(rootExtent) +
                          " is one of its own parent directories (directory loop)\n"});

    // Two levels down, back to the middle.
    image = realImage();
    const uint32_t i386 =
        iso_bytes::getLe32(image.data(), findRecord(image, "I386") + dir_record::kExtent);
    putBoth32(image, findRecord(image, "DRIVERS") + dir_record::kExtent, i386);
    const std::string failed = "load directory information from ISO image failed\n";
    expectRefused(image, {"is one of its own parent directories (directory loop)\n" + failed +
                          failed + failed + kLoadFailed});
}

TEST(IsoReaderBounds, RepeatedDirectoriesCannotMultiplyTheTree) {
    // Every entry of every level points at the next level: 40^levels nodes if followed.
    MiniImage mini(2048, 30);
    mini.descriptor(17);
    for (uint32_t level = 0; level < 12; ++level) {
        std::vector<Entry> entries;
        for (int i = 0; i < 40 && level < 11; ++i) {
            entries.push_back({"D" + std::to_string(100 + i), 18 + level, 0, 2});
        }
        mini.directory(17 + level, level == 0 ? 17 : 16 + level, entries);
    }
    expectRefused(mini.bytes(), {"directories repeat or overlap"});
}

TEST(IsoReaderBounds, DepthBeyond64LevelsFails) {
    TempDir dir;
    std::string deep = dir / "tree";
    std::string isoPath;
    for (int level = 0; level < 64; ++level) {
        deep += "/D";
        isoPath += "\\D";
    }
    writeFile(deep + "/LEAF.TXT", "leaf");
    makeIsoWithXorriso(dir / "tree", dir / "deep64.iso", "", {"-D"});
    ISOReader ok(dir / "deep64.iso");
    captureStdout([&] { EXPECT_TRUE(ok.FileExists(isoPath + "\\LEAF.TXT")); });

    boost::filesystem::rename(deep + "/LEAF.TXT", dir / "leaf");
    boost::filesystem::create_directories(deep + "/D");
    makeIsoWithXorriso(dir / "tree", dir / "deep65.iso", "", {"-D"});
    ISOReader tooDeep(dir / "deep65.iso");
    const std::string out = captureStdout([&] { EXPECT_FALSE(tooDeep.DirectoryExists(isoPath)); });
    EXPECT_TRUE(contains(out, " lies more than 64 levels below the root\n")) << out;
    EXPECT_TRUE(contains(out, kLoadFailed)) << out;
}

TEST(IsoReaderExtract, FileDataPastTheEndIsAnIoFailureAndCreatesNothing) {
    std::vector<uint8_t> image = realImage();
    const size_t record = findRecord(image, "BLOCKPLUS.BIN");
    const uint64_t dataStart = extentOffset(image, record);
    image.resize(static_cast<size_t>(dataStart) + 2048);  // one byte short
    ISOReader reader("memory.iso", memoryImageOpener(image.data(), image.size()));
    TempDir out;
    ConsoleCapture capture;
    ASSERT_TRUE(reader.DirectoryExists("\\"));
    EXPECT_EQ(reader.RetrieveFile("\\BLOCKPLUS.BIN", out / "x"), 1);
    const std::string printed = capture.finish().out;
    EXPECT_EQ(printed,
              "load ISO image ...\nload ISO image succeeded\n"
              "create file/directory failed, IO exception: data of \\BLOCKPLUS.BIN "
              "(2049 bytes at block " +
                  std::to_string(dataStart / 2048) + ", byte " + std::to_string(dataStart) +
                  ") runs past the end of the image (" + std::to_string(image.size()) +
                  " bytes)\n");
    EXPECT_FALSE(fileExists(out / "x"));

    // The whole unpack reports the failure instead of success.
    const std::string unpacked =
        captureStdout([&] { EXPECT_EQ(reader.UnpackImage(out.path()), 1); });
    EXPECT_TRUE(contains(unpacked, "unpack ISO image failed\n"));
}

TEST(IsoReaderExtract, FailedWriteIsReportedNotSuccess) {
    // The child may write at most 1000 bytes to any file; the 2049-byte copy must fail.
    TempDir out;
    const std::string image = reader_fixture::sharedImage();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        ISOReader reader(image);
        int result = -1;
        const std::string printed =
            captureStdout([&] { result = reader.RetrieveFile("\\BLOCKPLUS.BIN", out / "x"); });
        const bool reported =
            contains(printed, "create file/directory failed, IO exception: writing " + (out / "x") +
                                  " failed");
        _exit(result == 1 && reported ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

namespace {

class CountingSource : public ImageSource {
  public:
    CountingSource(const std::vector<uint8_t>& image, int& reads)
        : inner_(image.data(), image.size()), reads_(reads) {}
    uint64_t size() const override { return inner_.size(); }
    void read(uint64_t offset, void* buffer, size_t count) override {
        ++reads_;
        inner_.read(offset, buffer, count);
    }

  private:
    MemoryImageSource inner_;
    int& reads_;
};

}  // namespace

TEST(IsoReaderLoad, ReadsEachDirectoryAtMostTwiceAndLooksUpWithoutReading) {
    const std::vector<uint8_t> image = realImage();
    int reads = 0;
    int opens = 0;
    ISOReader reader("memory.iso", [&](const std::string&) -> std::unique_ptr<ImageSource> {
        ++opens;
        return std::make_unique<CountingSource>(image, reads);
    });
    ConsoleCapture capture;
    ASSERT_TRUE(reader.DirectoryExists("\\"));
    capture.finish();
    // Directories: root, I386, SYSTEM32, CONFIG, DRIVERS, PROGRAMS, B, EMPTYDIR, MANY;
    // only MANY is longer than a block. Plus one read of the volume descriptor, one of
    // each descriptor after it up to the terminator (the boot record, the terminator),
    // where a Joliet descriptor would be, and one of the System Use continuation area of
    // the root's "." record (xorriso's ER entry).
    EXPECT_EQ(reads, 1 + 9 + 1 + 2 + 1);
    EXPECT_EQ(opens, 1);
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(reader.FileExists("\\MANY\\F099.DAT"));
        EXPECT_FALSE(reader.FileExists("\\MANY\\NONE"));
    }
    EXPECT_EQ(reads, 14);
    EXPECT_EQ(opens, 1);
}

// The continuation area (CE) of the root's "." record, as xorriso writes it for its ER
// entry: pointed past the image, outside one block, or at itself, the load fails.
TEST(IsoReaderSystemUse, HostileContinuationAreasAreRefused) {
    const std::vector<uint8_t> original = realImage();
    const size_t root = size_t{iso_bytes::getLe32(original.data(), kRootExtent)} * 2048;
    size_t ce = 0;
    for (size_t at = root + 34; at + 28 <= root + original[root]; ++at) {
        if (original[at] == 'C' && original[at + 1] == 'E' && original[at + 2] == 28) {
            ce = at;
        }
    }
    ASSERT_NE(ce, 0u) << "the root's \".\" record has no CE entry";
    const uint32_t block = iso_bytes::getLe32(original.data(), ce + 4);
    const uint32_t offset = iso_bytes::getLe32(original.data(), ce + 12);
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> patch;
        std::string said;
    };
    const Case cases[] = {
        {"past the end", [&](std::vector<uint8_t>& image) { putBoth32(image, ce + 4, 0x7FFFFFF0); },
         "continuation area at block 2147483632, byte " + std::to_string(offset)},
        {"longer than a block",
         [&](std::vector<uint8_t>& image) { putBoth32(image, ce + 20, 4096); },
         "does not lie within one block"},
        {"a loop",
         [&](std::vector<uint8_t>& image) {
             // The area starts with a CE naming itself.
             const size_t area = size_t{block} * 2048 + offset;
             std::copy(image.begin() + static_cast<std::ptrdiff_t>(ce),
                       image.begin() + static_cast<std::ptrdiff_t>(ce + 28),
                       image.begin() + static_cast<std::ptrdiff_t>(area));
             putBoth32(image, area + 20, 28);
             putBoth32(image, ce + 20, 28);
         },
         "continues itself (a loop of continuations)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> image = original;
        c.patch(image);
        expectRefused(image, {"directory \\ at block", c.said});
    }
    EXPECT_TRUE(load(original).loaded);
}
