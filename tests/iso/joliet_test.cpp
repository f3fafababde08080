// The Joliet namespace: the names an added entry gets, the old names matched to the ISO
// 9660 tree, hostile Joliet trees, and a pack that keeps the names and hidden entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "image_round_trip.h"
#include "iso/byte_order.h"
#include "iso/entry_name.h"
#include "iso/image_sink.h"
#include "iso/image_source.h"
#include "iso/iso_modifier.h"
#include "iso/iso_reader_fixture.h"
#include "iso/joliet.h"
#include "iso/records.h"
#include "support/console_capture.h"
#include "support/test_files.h"

using reader_fixture::InspectReader;
using reader_fixture::MiniImage;
using namespace test_support;
namespace rec = iso_record;

namespace {

std::string ucs2(const std::string& ascii) {
    std::string bytes;
    for (const char c : ascii) {
        bytes += '\0';
        bytes += c;
    }
    return bytes;
}

// ISO 9660 root at 40: A.TXT (5 bytes at 50), EMPTY.TXT and NIL.TXT (0 bytes, both at
// 51), hidden SECRET.TXT (3 bytes at 52) and DIR (41) holding B.TXT (3 bytes at 53).
// Joliet descriptor at 17, its root at 42 with the same files under long names in an
// order of their own, its DIR at 43; terminator at 18.
struct JolietImage {
    MiniImage mini{2048, 60};
    static constexpr uint32_t kJolietRoot = 42;
    static constexpr uint32_t kJolietDir = 43;

    JolietImage() {
        mini.descriptor(40);
        mini.directory(40, 40,
                       {{"A.TXT;1", 50, 5, 0},
                        {"DIR", 41, 0, 2},
                        {"EMPTY.TXT;1", 51, 0, 0},
                        {"NIL.TXT;1", 51, 0, 0},
                        {"SECRET.TXT;1", 52, 3, 1}});
        mini.directory(41, 40, {{"B.TXT;1", 53, 3, 0}});
        mini.data(50, {'h', 'e', 'l', 'l', 'o'});
        mini.data(52, {'s', 'h', 'h'});
        mini.data(53, {'a', 'b', 'c'});
        uint8_t* svd = mini.bytes().data() + 17 * 2048;
        std::memcpy(svd, mini.bytes().data() + 16 * 2048, 2048);
        svd[rec::descriptor::kType] = 2;
        std::memcpy(svd + rec::svd::kEscapeSequences, "%/E", 3);
        iso_bytes::putBoth32(svd, rec::pvd::kRootDirectoryRecord + rec::dir_record::kExtent,
                             kJolietRoot);
        uint8_t* terminator = mini.bytes().data() + 18 * 2048;
        terminator[0] = rec::descriptor::kTerminatorType;
        std::memcpy(terminator + 1, "CD001", 5);
        terminator[6] = 1;
        jolietRoot({{ucs2("Subdirectory"), kJolietDir, 0, 2},
                    {ucs2("nil.txt"), 51, 0, 0},
                    {ucs2("A long name.txt"), 50, 5, 0},
                    {ucs2("empty.txt"), 51, 0, 0},
                    {ucs2("secret.txt"), 52, 3, 1},
                    {ucs2("z only in Joliet.txt"), 54, 1, 0}});
        mini.directory(kJolietDir, kJolietRoot, {{ucs2("b long.txt"), 53, 3, 0}});
    }
    void jolietRoot(const std::vector<MiniImage::Entry>& entries, uint32_t dataLength = 0) {
        directory(kJolietRoot, kJolietRoot, entries, dataLength);
    }
    void directory(uint32_t extent, uint32_t parent, const std::vector<MiniImage::Entry>& entries,
                   uint32_t dataLength = 0) {
        std::fill_n(mini.bytes().begin() + extent * 2048, 2048, 0);
        mini.directory(extent, parent, entries, dataLength);
    }
    std::vector<uint8_t>& bytes() { return mini.bytes(); }
};

struct Loaded {
    std::unique_ptr<InspectReader> reader;
    bool loaded = false;
    std::string output;
};

Loaded load(const std::vector<uint8_t>& bytes) {
    Loaded result;
    result.reader = std::make_unique<InspectReader>("memory.iso",
                                                    memoryImageOpener(bytes.data(), bytes.size()));
    result.output = captureStdout([&] { result.loaded = result.reader->loadImage() == 0; });
    return result;
}

const DirectoryNode* entry(const DirectoryNode* list, const std::string& name) {
    for (const DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (!node->isDotEntry() &&
            entry_name::same(node->name, name, entry_name::LetterCase::exact)) {
            return node;
        }
    }
    throw std::runtime_error("no entry " + name);
}

}  // namespace

TEST(JolietNames, LocalNamesBecomeUcs2OrAreRefusedWithTheReason) {
    EXPECT_EQ(joliet::encodeName("A long file name.txt"), ucs2("A long file name.txt"));
    EXPECT_EQ(joliet::encodeName("caf\xC3\xA9 \xE2\x82\xAC"),
              std::string("\0c\0a\0f\0\xE9\0 \x20\xAC", 12));
    EXPECT_EQ(joliet::encodeName(std::string(64, 'x')).size(), 128u);
    const std::pair<const char*, std::vector<std::string>> refused[] = {
        {"65 characters", {std::string(65, 'x')}},
        {"0 characters", {""}},
        {"cannot hold", {"a:b", "a;1", "a*b", "a?b", "a\\b", "tab\there"}},
        {"outside UCS-2", {"\xF0\x9F\x98\x80.txt"}},
        {"not valid UTF-8", {"bad\xC3", "bad\xC0\xAF", "\xED\xA0\x80"}}};
    for (const auto& [reason, names] : refused) {
        for (const std::string& name : names) {
            try {
                joliet::encodeName(name);
                ADD_FAILURE() << "accepted " << name;
            } catch (const std::invalid_argument& e) {
                EXPECT_TRUE(contains(e.what(), reason)) << e.what();
            }
        }
    }
    EXPECT_EQ(joliet::shownName(joliet::encodeName("caf\xC3\xA9")), "caf\xC3\xA9");
}

TEST(JolietNames, OldNamesAreMatchedByExtentSizeAndNameWhateverTheirOrder) {
    JolietImage image;
    const Loaded loaded = load(image.bytes());
    ASSERT_TRUE(loaded.loaded) << loaded.output;
    const DirectoryNode* root = loaded.reader->root.get();
    EXPECT_EQ(entry(root, "A.TXT")->joliet, ucs2("A long name.txt"));
    // Two empty files of one extent take the names that are theirs.
    EXPECT_EQ(entry(root, "EMPTY.TXT")->joliet, ucs2("empty.txt"));
    EXPECT_EQ(entry(root, "NIL.TXT")->joliet, ucs2("nil.txt"));
    const DirectoryNode* secret = entry(root, "SECRET.TXT");
    EXPECT_TRUE(secret->hidden);
    EXPECT_TRUE(secret->jolietHidden);
    // A directory of another name is found by the file it holds.
    const DirectoryNode* dir = entry(root, "DIR");
    EXPECT_EQ(dir->joliet, ucs2("Subdirectory"));
    EXPECT_EQ(entry(dir->children.get(), "B.TXT")->joliet, ucs2("b long.txt"));
    // The Joliet entry without an ISO 9660 record is named as dropped, and nothing else.
    std::vector<std::string> dropped;
    captureStdout([&] { dropped = loaded.reader->DroppedFeatures(); });
    EXPECT_EQ(dropped, std::vector<std::string>{
                           "the new image will not keep 1 entry of the old image's Joliet tree "
                           "that its ISO 9660 tree does not hold: \\z only in Joliet.txt"});
    // Hidden entries are in the tree but not found.
    EXPECT_FALSE(loaded.reader->FileExists("\\SECRET.TXT"));
    EXPECT_TRUE(loaded.reader->FileExists("\\A.TXT"));
}

TEST(JolietNames, HostileJolietTreesAreRefusedWithWhere) {
    const struct {
        const char* name;
        std::vector<MiniImage::Entry> rootEntries;
        uint32_t rootLength;
        uint32_t dirLength;  // of the Joliet directory at kJolietDir
        const char* expected;
    } cases[] = {
        {"loop", {{ucs2("Loop"), JolietImage::kJolietRoot, 0, 2}}, 0, 0, "directory loop"},
        {"deep loop", {{ucs2("Sub"), JolietImage::kJolietDir, 0, 2}}, 0, 0, "directory loop"},
        {"past the image", {{ucs2("Far"), 5000, 0, 2}}, 0, 0, "lies past the end of the image"},
        {"length past the image", {}, 0xFFFFFF00u, 0, "runs past the end of the image"},
        {"repeated directories",
         {{ucs2("D1"), JolietImage::kJolietDir, 0, 2},
          {ucs2("D2"), JolietImage::kJolietDir, 0, 2},
          {ucs2("D3"), JolietImage::kJolietDir, 0, 2},
          {ucs2("D4"), JolietImage::kJolietDir, 0, 2}},
         0,
         (60 - JolietImage::kJolietDir) * 2048,
         "directories repeat or overlap"},
    };
    for (const auto& c : cases) {
        JolietImage image;
        image.jolietRoot(c.rootEntries, c.rootLength);
        // The Joliet directory below the root points back at the root in the deep loop.
        image.directory(JolietImage::kJolietDir, JolietImage::kJolietRoot,
                        {{ucs2("Up"), JolietImage::kJolietRoot, 0, 2}}, c.dirLength);
        const Loaded loaded = load(image.bytes());
        EXPECT_FALSE(loaded.loaded) << c.name;
        EXPECT_TRUE(contains(loaded.output, "Joliet directory \\")) << loaded.output;
        EXPECT_TRUE(contains(loaded.output, c.expected)) << c.name << loaded.output;
        EXPECT_TRUE(
            contains(loaded.output, "load ISO image failed - invalid image internal structure"))
            << loaded.output;
    }
    // A record whose length runs past its directory.
    JolietImage broken;
    broken.bytes()[JolietImage::kJolietRoot * 2048 + 68] = 250;
    iso_bytes::putBoth32(broken.bytes().data(), JolietImage::kJolietRoot * 2048 + 10, 100);
    const Loaded loaded = load(broken.bytes());
    EXPECT_FALSE(loaded.loaded);
    EXPECT_TRUE(contains(loaded.output, "Joliet directory \\ at block 42: ")) << loaded.output;
}

TEST(JolietPack, NamesHiddenMarksAndDataSurviveAPackAndAReplacementKeepsItsName) {
    JolietImage image;
    // The round trip compares names, hidden marks, Joliet names and data entry for entry.
    EXPECT_EQ(roundTripImage(image.bytes().data(), image.bytes().size(), 1 << 20), RoundTrip::same);

    TempDir local;
    writeFile(local / "new file, long name.txt", "added");
    writeFile(local / "replacement", "other");
    MemoryImageSink sink;
    ISOModifier modifier("memory.iso",
                         memoryImageOpener(image.bytes().data(), image.bytes().size()));
    captureStdout([&] {
        ASSERT_EQ(modifier.AddSingleFile(local / "new file, long name.txt", "\\NEW.TXT", false), 0);
        ASSERT_EQ(modifier.AddSingleFile(local / "replacement", "\\A.TXT", true), 0);
        ASSERT_EQ(modifier.PackImageTo(sink, ""), 0);
    });
    const std::vector<uint8_t> packed = sink.bytes();
    const Loaded again = load(packed);
    ASSERT_TRUE(again.loaded) << again.output;
    const DirectoryNode* root = again.reader->root.get();
    EXPECT_EQ(entry(root, "NEW.TXT")->joliet, ucs2("new file, long name.txt"));
    EXPECT_EQ(entry(root, "A.TXT")->joliet, ucs2("A long name.txt"));
    EXPECT_TRUE(entry(root, "SECRET.TXT")->hidden);
    // A local name that cannot be a Joliet name fails the pack before a byte is written.
    const std::string tooLong(65, 'n');
    writeFile(local / tooLong, "x");
    ISOModifier refusing("memory.iso",
                         memoryImageOpener(image.bytes().data(), image.bytes().size()));
    MemoryImageSink nothing;
    const std::string printed = captureStdout([&] {
        ASSERT_EQ(refusing.AddSingleFile(local / tooLong, "\\LONG.TXT", false), 0);
        EXPECT_EQ(refusing.PackImageTo(nothing, ""), 1);
    });
    EXPECT_TRUE(
        contains(printed,
                 "load source directory & boot image file failed - the entry \"\\LONG.TXT\" gets "
                 "no Joliet name: the name \"" +
                     tooLong + "\" has 65 characters"))
        << printed;
    EXPECT_TRUE(nothing.bytes().empty());

    // The Joliet descriptor sits before the terminator, which moved one block on.
    EXPECT_EQ(packed[17 * 2048], 2);
    EXPECT_EQ(packed[18 * 2048], rec::descriptor::kTerminatorType);
    EXPECT_EQ(iso_bytes::getLe32(packed.data(), 17 * 2048 + rec::pvd::kVolumeSpaceSize),
              packed.size() / 2048);
}
