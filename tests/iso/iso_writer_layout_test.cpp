// The layout as a computation over in-memory trees: numbering, record placement,
// extents, the blocks of the image and the limits of the format.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "iso/iso_writer_layout.h"
#include "iso/limits.h"
#include "support/test_files.h"

using iso_layout::ImageLayout;
using iso_layout::LimitError;
using test_support::contains;

namespace {

NodeList namedNode(const std::string& name, int type) {
    NodeList node(new DirectoryNode);
    node->name = node->identifier = name;
    node->type = type;
    return node;
}

NodeList fileNode(const std::string& name, uint64_t size) {
    NodeList node = namedNode(name, kNodeFile);
    node->size = size;
    return node;
}

// A directory list: ".", "..", then the entries in the order given.
NodeList listOf(std::vector<NodeList> entries) {
    NodeList head = makeDotNode(".", "", 0, false);
    head->next = makeDotNode("..", "", 0, false);
    DirectoryNode* last = head->next.get();
    for (NodeList& entry : entries) {
        DirectoryNode* next = entry.get();
        last->next = std::move(entry);
        last = next;
    }
    return head;
}

NodeList dirNode(const std::string& name, std::vector<NodeList> entries) {
    NodeList node = namedNode(name, kNodeDirectory);
    node->children = listOf(std::move(entries));
    return node;
}

template <typename... Nodes>
std::vector<NodeList> nodes(Nodes... list) {
    std::vector<NodeList> result;
    (result.push_back(std::move(list)), ...);
    return result;
}

DirectoryNode* entry(DirectoryNode* list, const std::string& name) {
    for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (node->name == name) {
            return node;
        }
    }
    return nullptr;
}

struct RootLayout {
    uint32_t length;
    uint64_t directoryBlocks = 0;
    uint64_t fileBlocks = 0;
};

RootLayout layoutRoot(DirectoryNode* root) {
    RootLayout layout{0};
    layout.length = iso_layout::layoutDirectory(iso_layout::kRootParentSize, 0, root,
                                                layout.directoryBlocks, layout.fileBlocks, 2048);
    return layout;
}

// The entries of a chain of `levels` directories named D, the last one empty.
std::vector<NodeList> chainOf(unsigned levels) {
    return levels == 0 ? std::vector<NodeList>{} : nodes(dirNode("D", chainOf(levels - 1)));
}

// The message of the LimitError the check of the tree throws; "" when it accepts the tree.
std::string limitOf(const NodeList& root) {
    try {
        iso_layout::checkTreeLimits(root.get());
    } catch (const LimitError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(WriterLayout, EmptyDirectoryHoldsOnlyItsTwoDotRecords) {
    NodeList root = listOf({});
    const RootLayout layout = layoutRoot(root.get());
    EXPECT_EQ(68u, layout.length);
    EXPECT_EQ(1u, layout.directoryBlocks);
    EXPECT_EQ(0u, layout.fileBlocks);
    EXPECT_EQ(34u, root->next->placement.recordOffset);
}

TEST(WriterLayout, RecordsFillABlockExactlyAndTheNextStartsANewOne) {
    // 68 bytes of dot records plus 30 records of 66 bytes (33-byte identifiers) = 2048.
    auto rootOf = [](int files) {
        std::vector<NodeList> entries;
        for (int i = 0; i < files; ++i) {
            entries.push_back(fileNode(std::string(32, 'A') + char('a' + i % 26), 0));
        }
        return listOf(std::move(entries));
    };
    NodeList full = rootOf(30);
    const RootLayout fullLayout = layoutRoot(full.get());
    EXPECT_EQ(2048u, fullLayout.length);
    EXPECT_EQ(1u, fullLayout.directoryBlocks);
    EXPECT_EQ(0u, lastNode(full.get())->placement.recordBlock);
    EXPECT_EQ(2048u - 66u, lastNode(full.get())->placement.recordOffset);

    NodeList spilled = rootOf(31);
    const RootLayout spilledLayout = layoutRoot(spilled.get());
    EXPECT_EQ(2048u + 66u, spilledLayout.length);
    EXPECT_EQ(2u, spilledLayout.directoryBlocks);
    EXPECT_EQ(1u, lastNode(spilled.get())->placement.recordBlock);
    EXPECT_EQ(0u, lastNode(spilled.get())->placement.recordOffset);
    EXPECT_EQ(2048u + 66u, spilled->placement.dataLength);
}

TEST(WriterLayout, DirectoriesAndFilesAreLaidOutDepthFirstInPreOrder) {
    NodeList root = listOf(nodes(fileNode("ROOTFILE", 5000),
                                 dirNode("A", nodes(fileNode("EMPTY", 0), fileNode("F2049", 2049),
                                                    dirNode("C", nodes(fileNode("CFILE", 1))))),
                                 dirNode("B", nodes(fileNode("BFILE", 2048)))));
    const RootLayout layout = layoutRoot(root.get());
    const uint32_t rootLength = layout.length;

    DirectoryNode* a = entry(root.get(), "A");
    DirectoryNode* b = entry(root.get(), "B");
    DirectoryNode* c = entry(a->children.get(), "C");
    EXPECT_EQ(0u, root->placement.areaExtent);
    EXPECT_EQ(1u, a->placement.areaExtent);
    EXPECT_EQ(2u, c->placement.areaExtent);
    EXPECT_EQ(3u, b->placement.areaExtent);
    EXPECT_EQ(4u, layout.directoryBlocks);

    // Files: the root's own, then A's, then C's (below A), then B's.
    EXPECT_EQ(0u, entry(root.get(), "ROOTFILE")->placement.areaExtent);  // 3 blocks
    EXPECT_EQ(0u, entry(a->children.get(), "EMPTY")->placement.areaExtent);
    EXPECT_EQ(3u, entry(a->children.get(), "F2049")->placement.areaExtent);  // 2 blocks
    EXPECT_EQ(5u, entry(c->children.get(), "CFILE")->placement.areaExtent);
    EXPECT_EQ(6u, entry(b->children.get(), "BFILE")->placement.areaExtent);
    EXPECT_EQ(7u, layout.fileBlocks);

    // A directory's ".." points at its parent's extent and Data Length.
    DirectoryNode* cParent = c->children->next.get();
    EXPECT_EQ(a->placement.areaExtent, cParent->placement.areaExtent);
    EXPECT_EQ(a->placement.dataLength, cParent->placement.dataLength);
    EXPECT_EQ(c->placement.areaExtent, c->children->placement.areaExtent);
    EXPECT_EQ(c->placement.dataLength, c->children->placement.dataLength);
    EXPECT_EQ(rootLength, a->children->next->placement.dataLength);
    // The root is its own parent.
    EXPECT_EQ(root->placement.areaExtent, root->next->placement.areaExtent);
    EXPECT_EQ(rootLength, root->next->placement.dataLength);
}

TEST(WriterLayout, AnEntryKeepsItsBlockInTheOldImage) {
    NodeList root = listOf(nodes(fileNode("OLD", 3000), dirNode("SUB", {})));
    DirectoryNode* old = entry(root.get(), "OLD");
    DirectoryNode* sub = entry(root.get(), "SUB");
    old->extent = 777;
    old->inImage = true;
    sub->extent = 900;
    sub->size = 4096;
    layoutRoot(root.get());
    EXPECT_EQ(777u, old->extent);
    EXPECT_EQ(900u, sub->extent);
    EXPECT_EQ(4096u, sub->size);
    EXPECT_EQ(0u, old->placement.areaExtent);
    EXPECT_EQ(3000u, old->placement.dataLength);
    EXPECT_EQ(1u, sub->placement.areaExtent);
    EXPECT_EQ(68u, sub->placement.dataLength);
    // The emit finds the new blocks from the first blocks of the two areas.
    EXPECT_EQ(21u, iso_layout::imageExtent(*sub, 20, 30));
    EXPECT_EQ(30u, iso_layout::imageExtent(*old, 20, 30));
}

TEST(WriterLayout, DirectoriesAreNumberedBreadthFirstGroupedByParent) {
    NodeList root = listOf(nodes(dirNode("A", nodes(dirNode("C", {}), fileNode("X", 1))),
                                 fileNode("Y", 1), dirNode("B", nodes(dirNode("D", {})))));
    const uint32_t pathTableSize = iso_layout::numberDirectories(root.get());
    DirectoryNode* a = entry(root.get(), "A");
    DirectoryNode* b = entry(root.get(), "B");
    DirectoryNode* c = entry(a->children.get(), "C");
    DirectoryNode* d = entry(b->children.get(), "D");
    std::vector<int> numbers;
    std::vector<int> parents;
    for (const DirectoryNode* directory : {a, b, c, d}) {
        numbers.push_back(directory->placement.directoryNumber);
        parents.push_back(directory->placement.parentNumber);
    }
    EXPECT_EQ((std::vector<int>{2, 3, 4, 5}), numbers);
    EXPECT_EQ((std::vector<int>{1, 1, 2, 3}), parents);
    // The root's 10 bytes, then 8 + 1 + 1 pad per one-letter identifier.
    EXPECT_EQ(10u + 4 * 10u, pathTableSize);
}

TEST(WriterLayout, PathTableOfExactly2048BytesGetsTwoBlocksEach) {
    // 10 + 111 * 18 (ten-byte identifiers) + 4 * 10 (two-byte identifiers) = 2048.
    std::vector<NodeList> directories;
    for (int i = 0; i < 111; ++i) {
        directories.push_back(dirNode(
            "D" + std::string(6 - std::to_string(i).size(), '0') + std::to_string(i) + "XXX", {}));
    }
    for (int i = 0; i < 4; ++i) {
        directories.push_back(dirNode("E" + std::to_string(i), {}));
    }
    NodeList root = listOf(std::move(directories));
    const uint32_t size = iso_layout::numberDirectories(root.get());
    ASSERT_EQ(2048u, size);
    EXPECT_EQ(2u, iso_layout::planImage(size, 1, 0, false, 0, 2048, 512).pathTableBlocks);
    EXPECT_EQ(1u, iso_layout::planImage(2047, 1, 0, false, 0, 2048, 512).pathTableBlocks);
}

TEST(WriterLayout, ImageBlocksWithAndWithoutBootImage) {
    const ImageLayout plain = iso_layout::planImage(10, 3, 7, false, 0, 2048, 512);
    // Descriptors, terminator, the two path tables, directories, files, the whole image.
    EXPECT_EQ((std::vector<uint32_t>{plain.descriptorCount, plain.terminatorBlock,
                                     plain.typeLPathTableBlock, plain.typeMPathTableBlock,
                                     plain.directoryStart, plain.fileStart, plain.volumeSpaceSize}),
              (std::vector<uint32_t>{2, 17, 18, 19, 20, 23, 30}));
    EXPECT_FALSE(plain.hasBootImage);

    const ImageLayout boot = iso_layout::planImage(10, 3, 7, true, 2048, 2048, 512);
    // Boot record, terminator, catalog, path tables, directories, boot image (block and
    // virtual sectors), files, the whole image.
    EXPECT_EQ((std::vector<uint32_t>{
                  boot.bootRecordBlock, boot.terminatorBlock, boot.bootCatalogBlock,
                  boot.typeLPathTableBlock, boot.typeMPathTableBlock, boot.directoryStart,
                  boot.bootImageStart, boot.bootSectorCount, boot.fileStart, boot.volumeSpaceSize}),
              (std::vector<uint32_t>{17, 18, 19, 20, 21, 22, 25, 4, 26, 33}));

    // A boot image of 2049 bytes takes two blocks, eight virtual sectors.
    const ImageLayout odd = iso_layout::planImage(10, 3, 7, true, 2049, 2048, 512);
    EXPECT_EQ(2u, odd.bootImageBlocks);
    EXPECT_EQ(8u, odd.bootSectorCount);
}

TEST(WriterLayout, JolietTakesADescriptorBlockAndFollowsEverythingElse) {
    for (const bool hasBoot : {false, true}) {
        const ImageLayout without = iso_layout::planImage(10, 3, 7, hasBoot, 2048, 2048, 512);
        ImageLayout with =
            iso_layout::planImage(10, 3, 7, hasBoot, 2048, 2048, 512, 0, false, true);
        EXPECT_EQ(without.terminatorBlock, with.jolietDescriptorBlock) << hasBoot;
        EXPECT_EQ(without.terminatorBlock + 1, with.terminatorBlock) << hasBoot;
        EXPECT_EQ(without.descriptorCount + 1, with.descriptorCount) << hasBoot;
        EXPECT_EQ(hasBoot ? 20u : 0u, with.bootCatalogBlock);
        EXPECT_EQ(without.typeLPathTableBlock + 1, with.typeLPathTableBlock) << hasBoot;
        EXPECT_EQ(without.fileStart + 1, with.fileStart) << hasBoot;
        EXPECT_EQ(without.volumeSpaceSize + 1, with.volumeSpaceSize) << hasBoot;
        const uint32_t end = with.volumeSpaceSize;
        iso_layout::placeJoliet(with, 2048, 4);  // tables of exactly a block take two each
        EXPECT_EQ(end, with.jolietTypeLPathTableBlock);
        EXPECT_EQ(end + 2, with.jolietTypeMPathTableBlock);
        EXPECT_EQ(end + 4, with.jolietDirectoryStart);
        EXPECT_EQ(end + 8, with.volumeSpaceSize);
        EXPECT_EQ(0u, without.jolietDescriptorBlock);
    }
    ImageLayout full = iso_layout::planImage(10, 3, 7, false, 0, 2048, 512, 0, false, true);
    EXPECT_THROW(iso_layout::placeJoliet(full, 10, iso_limits::kMaxBlocks), iso_layout::LimitError);
}

TEST(WriterLayout, WhatTheFormatCannotHoldIsRefused) {
    NodeList tooLarge = listOf(nodes(dirNode("SUB", nodes(fileNode("BIG", 1ull << 32)))));
    entry(tooLarge.get(), "SUB")->children->next->next->path = "/local/dir";
    NodeList broken = listOf(nodes(dirNode("B", {})));
    entry(broken.get(), "B")->children.reset();
    const struct {
        const char* what;
        NodeList root;
        const char* refusal;  // "" when the tree fits
    } cases[] = {
        // Identifiers: 221 bytes fit, 222 do not, an empty one never.
        {"221-byte identifier", listOf(nodes(fileNode(std::string(221, 'L'), 1))), ""},
        {"222-byte identifier",
         listOf(nodes(dirNode("SUB", nodes(fileNode(std::string(222, 'L'), 1))))),
         "identifier of \"\\SUB\\LLL"},
        {"empty identifier", listOf(nodes(fileNode("", 1))), "has an empty identifier"},
        // Files: 2^32 - 1 bytes fit; one byte more is refused, naming the local file.
        {"largest file", listOf(nodes(fileNode("BIG", iso_limits::kMaxFileSize))), ""},
        {"4 GiB file", std::move(tooLarge), "\"\\SUB\\BIG\" (local file /local/dir/BIG)"},
        // Depth: 64 levels below the root fit, 65 do not, as in the reader.
        {"64 levels", listOf(chainOf(iso_limits::kMaxDirectoryDepth)), ""},
        {"65 levels", listOf(chainOf(iso_limits::kMaxDirectoryDepth + 1)), "levels below the root"},
        // A directory without its entry list cannot be written.
        {"no entry list", std::move(broken), "has no entry list"},
    };
    for (const auto& c : cases) {
        const std::string refusal = limitOf(c.root);
        EXPECT_EQ(*c.refusal == '\0', refusal.empty()) << c.what << ": " << refusal;
        EXPECT_TRUE(contains(refusal, c.refusal)) << c.what << ": " << refusal;
    }
    EXPECT_TRUE(contains(limitOf(cases[1].root), "is 222 bytes long"));

    // Blocks: the image's last block number must fit 32 bits.
    EXPECT_NO_THROW(iso_layout::planImage(10, 1, iso_limits::kMaxBlocks - 21, false, 0, 2048, 512));
    EXPECT_THROW(iso_layout::planImage(10, 1, iso_limits::kMaxBlocks - 20, false, 0, 2048, 512),
                 LimitError);
    // The boot catalog counts at most 65535 virtual sectors.
    EXPECT_NO_THROW(iso_layout::planImage(10, 1, 0, true, 16383ull * 2048, 2048, 512));
    EXPECT_THROW(iso_layout::planImage(10, 1, 0, true, 16384ull * 2048, 2048, 512), LimitError);
}

TEST(WriterLayout, MoreDirectoriesThanThePathTablesCanNumberAreRefused) {
    // 65534 subdirectories and the root are 65535 directories: they fit, one more does not.
    std::vector<NodeList> directories;
    for (uint32_t i = 0; i < 65534; ++i) {
        directories.push_back(dirNode("D" + std::to_string(i), {}));
    }
    NodeList root = listOf(std::move(directories));
    EXPECT_NO_THROW(iso_layout::checkTreeLimits(root.get()));
    EXPECT_NO_THROW(iso_layout::numberDirectories(root.get()));
    EXPECT_EQ(65535, lastNode(root.get())->placement.directoryNumber);

    lastNode(root.get())->next = dirNode("ONEMORE", {});
    EXPECT_THROW(iso_layout::checkTreeLimits(root.get()), LimitError);
    EXPECT_THROW(iso_layout::numberDirectories(root.get()), LimitError);
}
