// The whole boot catalog walk, hostile catalogs among them, and the boot info table test.
#include "iso/boot_catalog.h"

#include <gtest/gtest.h>

#include <cstring>

#include "iso/boot_plan.h"
#include "iso/byte_order.h"
#include "iso/directory_node.h"
#include "iso/image_source.h"
#include "iso/records.h"
#include "support/test_files.h"

using iso_bytes::putLe16;
using iso_bytes::putLe32;
using test_support::contains;

namespace {

constexpr size_t kEntry = 32;

// A catalog block built entry by entry.
class CatalogBytes {
  public:
    CatalogBytes() : bytes_(2048, 0) {
        bytes_[0] = 1;
        bytes_[30] = 0x55;
        bytes_[31] = 0xAA;
        entry(0x88, 0, 4, 40);
    }
    // A boot entry: indicator, media type byte, Sector Count, Load RBA.
    CatalogBytes& entry(uint8_t indicator, uint8_t media, uint16_t count, uint32_t rba) {
        uint8_t* e = next();
        e[0] = indicator;
        e[1] = media;
        putLe16(e, 6, count);
        putLe32(e, 8, rba);
        return *this;
    }
    CatalogBytes& header(uint8_t indicator, uint8_t platform, uint16_t entries) {
        uint8_t* e = next();
        e[0] = indicator;
        e[1] = platform;
        putLe16(e, 2, entries);
        return *this;
    }
    CatalogBytes& extension(bool anotherFollows) {
        uint8_t* e = next();
        e[0] = 0x44;
        e[1] = anotherFollows ? 0x20 : 0;
        return *this;
    }
    boot_catalog::Catalog decode(size_t size = 2048) const {
        return boot_catalog::decode(bytes_.data(), size, 19 * 2048);
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    uint8_t* next() {
        uint8_t* e = bytes_.data() + used_;
        used_ += kEntry;
        return e;
    }
    std::vector<uint8_t> bytes_;
    size_t used_ = kEntry;
};

}  // namespace

TEST(BootCatalog, WalksEverySectionWithItsExtensionsUpToTheFinalHeader) {
    CatalogBytes bytes;
    bytes.header(0x90, 0, 1)
        .entry(0x88, 0x20 | 2, 1, 50)  // a floppy with two extensions
        .extension(true)
        .extension(false)
        .header(0x91, 0xEF, 2)
        .entry(0x88, 0, 2880, 60)
        .entry(0x00, 0, 8, 70)
        .entry(0x88, 0, 4, 99);  // after the final header: not part of the catalog
    const boot_catalog::Catalog catalog = bytes.decode();
    EXPECT_EQ(catalog.unreadable, "");
    ASSERT_EQ(catalog.sections.size(), 2u);
    const std::vector<const boot_catalog::Entry*> entries = catalog.entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1]->mediaType, 2);
    EXPECT_EQ(entries[1]->extensions.size(), 2u);
    EXPECT_EQ(entries[2]->platformId, 0xEF);
    EXPECT_EQ(entries[2]->sectorCount, 2880);
    EXPECT_EQ(entries[2]->loadRba, 60u);
    EXPECT_FALSE(entries[3]->bootable);

    // Written back: the same bytes up to the last entry, with the new Load RBAs.
    boot_catalog::Catalog moved = catalog;
    boot_catalog::setImage(moved.sections[1].entries[0], 600, 2880);
    const std::vector<uint8_t> written = boot_catalog::encode(moved);
    ASSERT_EQ(written.size(), 9 * kEntry);
    std::vector<uint8_t> expected(bytes.bytes().begin(), bytes.bytes().begin() + 9 * kEntry);
    putLe32(expected.data(), 7 * kEntry + 8, 600);
    EXPECT_EQ(written, expected);
}

TEST(BootCatalog, TwoEntriesAreTheWholeCatalogAndBadOnesAreRefused) {
    CatalogBytes plain;
    const boot_catalog::Catalog catalog = plain.decode();
    EXPECT_FALSE(catalog.hasSections());
    EXPECT_EQ(catalog.unreadable, "");
    EXPECT_EQ(catalog.initial.sectorCount, 4);
    EXPECT_EQ(catalog.initial.loadRba, 40u);
    EXPECT_EQ(plain.decode(64).initial.loadRba, 40u);
    EXPECT_THROW(plain.decode(63), iso_record::RecordError);

    std::vector<uint8_t> bad = plain.bytes();
    bad[31] = 0;
    EXPECT_THROW(boot_catalog::decode(bad.data(), bad.size(), 0), iso_record::RecordError);
    bad = plain.bytes();
    bad[kEntry] = 0;  // the initial entry not bootable
    EXPECT_THROW(boot_catalog::decode(bad.data(), bad.size(), 0), iso_record::RecordError);
}

TEST(BootCatalog, HostileSectionsAreNotReadButTheInitialEntryStays) {
    struct Case {
        const char* what;
        CatalogBytes bytes;
        size_t size;
        const char* says;
    };
    CatalogBytes pastTheBlock;
    pastTheBlock.header(0x91, 0, 200);  // 200 entries cannot follow in one block
    for (int i = 0; i < 61; ++i) {
        pastTheBlock.entry(0x88, 0, 4, 40);
    }
    CatalogBytes neverEnds;
    for (int i = 0; i < 62; ++i) {
        neverEnds.header(0x90, 0, 0);
    }
    const Case cases[] = {
        {"entries past the block", pastTheBlock, 2048, "past its block"},
        {"headers to the end of the block", neverEnds, 2048, "past its block"},
        {"no final header", CatalogBytes().header(0x90, 0, 1).entry(0x88, 0, 4, 40), 2048,
         "no final section header"},
        {"not an entry", CatalogBytes().header(0x91, 0, 1).entry(0x12, 0, 4, 40), 2048,
         "not a section entry"},
        {"a missing extension",
         CatalogBytes().header(0x91, 0, 1).entry(0x88, 0x20, 4, 40).entry(0x88, 0, 4, 40), 2048,
         "not the extension"},
        {"a catalog cut short by the image's end",
         CatalogBytes().header(0x91, 0, 2).entry(0x88, 0, 4, 40).entry(0x88, 0, 4, 40),
         4 * kEntry + 16, "past its block"},
    };
    for (const Case& c : cases) {
        const boot_catalog::Catalog catalog = c.bytes.decode(c.size);
        EXPECT_FALSE(catalog.hasSections()) << c.what;
        EXPECT_TRUE(contains(catalog.unreadable, c.says)) << c.what << ": " << catalog.unreadable;
        EXPECT_EQ(catalog.initial.loadRba, 40u) << c.what;
    }
}

namespace {

// An image of 64 blocks with a loader of `length` bytes at block 40 whose table is
// filled in as genisoimage -boot-info-table does.
std::vector<uint8_t> imageWithLoader(uint32_t length) {
    std::vector<uint8_t> image(64 * 2048, 0);
    uint8_t* loader = image.data() + 40 * 2048;
    for (uint32_t i = 64; i < length; ++i) {
        loader[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    uint32_t sum = 0;
    for (uint32_t i = 64; i < length; i += 4) {
        sum += iso_bytes::getLe32(loader, i);
    }
    putLe32(loader, 8, 16);
    putLe32(loader, 12, 40);
    putLe32(loader, 16, length);
    putLe32(loader, 20, sum);
    return image;
}

boot_plan::BootInfoTable tableOf(const std::vector<uint8_t>& image) {
    MemoryImageSource source(image.data(), image.size());
    return boot_plan::findBootInfoTable(source, 40);
}

}  // namespace

TEST(BootInfoTable, OnlyATableThatHoldsIsValid) {
    const std::vector<uint8_t> valid = imageWithLoader(6000);
    const boot_plan::BootInfoTable table = tableOf(valid);
    EXPECT_TRUE(table.valid);
    EXPECT_EQ(table.fileLba, 40u);
    EXPECT_EQ(table.length, 6000u);
    EXPECT_FALSE(table.grubPointer);

    struct Broken {
        const char* what;
        size_t offset;
        uint32_t value;
    };
    for (const Broken& broken :
         {Broken{"a wrong checksum", 20, 12345}, Broken{"another LBA", 12, 41},
          Broken{"another descriptor block", 8, 17}, Broken{"a length under one block", 16, 2047},
          Broken{"a length past the image", 16, 64 * 2048}}) {
        std::vector<uint8_t> image = valid;
        putLe32(image.data() + 40 * 2048, broken.offset, broken.value);
        EXPECT_FALSE(tableOf(image).valid) << broken.what;
    }
    // A loader without a table (the WinPE one): code bytes where the table would be.
    std::vector<uint8_t> none(64 * 2048, 0);
    for (size_t i = 0; i < 2048; ++i) {
        none[40 * 2048 + i] = static_cast<uint8_t>(0xEB + i);
    }
    EXPECT_FALSE(tableOf(none).valid);
}

TEST(BootInfoTable, GrubsPointerIsFoundAndPatchedWithTheChecksum) {
    std::vector<uint8_t> image = imageWithLoader(8192);
    uint8_t* loader = image.data() + 40 * 2048;
    // GRUB's pointer: the loader's block x 4 + 5; the checksum covers it.
    const uint32_t oldWords[2] = {iso_bytes::getLe32(loader, 2548),
                                  iso_bytes::getLe32(loader, 2552)};
    putLe32(loader, 2548, 40 * 4 + 5);
    putLe32(loader, 2552, 0);
    putLe32(loader, 20, iso_bytes::getLe32(loader, 20) - oldWords[0] - oldWords[1] + (40 * 4 + 5));
    MemoryImageSource source(image.data(), image.size());
    boot_plan::Plan plan;
    plan.table = boot_plan::findBootInfoTable(source, 40);
    ASSERT_TRUE(plan.table.valid);
    ASSERT_TRUE(plan.table.grubPointer);

    // The patches, applied to a copy of the loader moved to block 300, leave a table that
    // validates there.
    DirectoryNode file;
    plan.tableFile = &file;
    std::vector<uint8_t> moved(400 * 2048, 0);
    std::memcpy(moved.data() + 300 * 2048, loader, 8192);
    for (const boot_plan::Patch& patch : boot_plan::tablePatches(plan, 0, 2048, 300)) {
        std::memcpy(moved.data() + patch.offset, patch.bytes.data(), patch.bytes.size());
    }
    MemoryImageSource movedSource(moved.data(), moved.size());
    const boot_plan::BootInfoTable after = boot_plan::findBootInfoTable(movedSource, 300);
    EXPECT_TRUE(after.valid);
    EXPECT_TRUE(after.grubPointer);
    // The boot image copy at block 0 carries the table of the file, not the pointer.
    EXPECT_EQ(iso_bytes::getLe32(moved.data(), 12), 300u);
    EXPECT_EQ(iso_bytes::getLe32(moved.data(), 2548), 0u);
}
