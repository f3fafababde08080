#include "iso/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <stdexcept>

#include "iso/byte_order.h"
#include "support/fixture_image.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

using namespace iso_record;
using namespace test_support;

TEST(SafeMemcpy, CopiesWhenItFitsAndThrowsWithBothSizesOtherwise) {
    uint8_t destination[32];
    std::memset(destination, 0xEE, sizeof destination);
    const uint8_t source[33] = {1, 2, 3};

    EXPECT_NO_THROW(safeMemcpy(destination, 0, source, 0));
    EXPECT_NO_THROW(safeMemcpy(destination, 32, source, 32));
    EXPECT_EQ(destination[2], 3);

    std::memset(destination, 0xEE, sizeof destination);
    try {
        safeMemcpy(destination, 32, source, 33);
        FAIL() << "expected an exception";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(),
                     "safe memcpy exception: destionation size smaller than length of data to be "
                     "copied - destination size 32, request size 33");
    }
    EXPECT_EQ(destination[0], 0xEE) << "a refused copy leaves the destination unchanged";

    try {
        safeMemcpy(destination, 5, source, 6);
        FAIL() << "expected an exception";
    } catch (const std::exception& error) {
        EXPECT_NE(std::string(error.what()).find("destination size 5, request size 6"),
                  std::string::npos);
    }
}

TEST(CatalogEntries, ValidationEntryMatchesTheKnownThirtyTwoBytes) {
    uint8_t entry[32];
    encodeValidationEntry(entry);
    const uint8_t expected[32] = {0x01, 0x00, 0x00, 0x00, 'M',  'i',  'c',  'r',  'o',  's', 'o',
                                  'f',  't',  ' ',  'C',  'o',  'r',  'p',  'o',  'r',  'a', 't',
                                  'i',  'o',  'n',  0x00, 0x00, 0x00, 0x4C, 0x49, 0x55, 0xAA};
    EXPECT_EQ(0, std::memcmp(entry, expected, 32));
    EXPECT_EQ(catalogEntryWordSum(entry), 0) << "El Torito checksum rule";
}

TEST(CatalogEntries, InitialEntryAndBootRecordFields) {
    uint8_t entry[32];
    encodeInitialEntry(0, 4, 0x01020304, entry);
    EXPECT_EQ(entry[0], 0x88);
    EXPECT_EQ(entry[1], 0);
    EXPECT_EQ(iso_bytes::getLe16(entry, 6), 4);
    EXPECT_EQ(iso_bytes::getLe32(entry, 8), 0x01020304u);
    for (int i = 12; i < 32; ++i) {
        EXPECT_EQ(entry[i], 0) << "reserved byte " << i;
    }

    uint8_t record[2048];
    encodeBootRecord(19, record);
    EXPECT_EQ(record[0], 0);
    EXPECT_EQ(0, std::memcmp(record + 1, "CD001", 5));
    EXPECT_EQ(record[6], 1);
    EXPECT_EQ(0, std::memcmp(record + 7, "EL TORITO SPECIFICATION", 23));
    EXPECT_EQ(record[7 + 23], 0);
    EXPECT_EQ(iso_bytes::getLe32(record, 71), 19u);

    uint8_t terminator[2048];
    encodeSetTerminator(terminator);
    EXPECT_EQ(terminator[0], 255);
    EXPECT_EQ(0, std::memcmp(terminator + 1, "CD001\x01", 6));
    EXPECT_EQ(terminator[7], 0);
}

TEST(DirectoryRecords, EncodeWritesBothByteOrdersAndPadsEvenIdentifiers) {
    uint8_t buffer[dir_record::kBufferSize];
    DirectoryRecordFields fields;
    fields.extent = 0x11223344;
    fields.dataLength = 2049;
    fields.identifier = "AB";  // even: one pad byte
    const uint8_t date[7] = {126, 12, 8, 15, 30, 0, 4};
    fields.recordingDate = date;
    const uint32_t length = encodeDirectoryRecord(fields, buffer, sizeof buffer);
    ASSERT_EQ(length, 36u);
    const uint8_t expected[36] = {36,   0,    0x44, 0x33, 0x22, 0x11, 0x11, 0x22, 0x33,
                                  0x44, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x08, 0x01,
                                  126,  12,   8,    15,   30,   0,    4,    0,    0,
                                  0,    1,    0,    0,    1,    2,    'A',  'B',  0};
    EXPECT_EQ(0, std::memcmp(buffer, expected, 36));

    fields.kind = DirectoryRecordFields::Kind::Parent;
    fields.isDirectory = true;
    EXPECT_EQ(encodeDirectoryRecord(fields, buffer, sizeof buffer), 34u);
    EXPECT_EQ(buffer[25], 2);
    EXPECT_EQ(buffer[32], 1);
    EXPECT_EQ(buffer[33], 1);

    const DirectoryRecord decoded = decodeDirectoryRecord(buffer, 34, 0);
    EXPECT_EQ(decoded.name, "..");
    EXPECT_TRUE(decoded.isDirectory());
    EXPECT_EQ(decoded.extent, 0x11223344u);
}

TEST(DirectoryRecords, DecodeRefusesRecordsThatLeaveTheirBounds) {
    uint8_t buffer[64] = {};
    buffer[0] = 20;  // shorter than the fixed part
    EXPECT_THROW(decodeDirectoryRecord(buffer, sizeof buffer, 0), std::runtime_error);
    buffer[0] = 32;
    EXPECT_THROW(decodeDirectoryRecord(buffer, sizeof buffer, 0), std::runtime_error);
    buffer[0] = 33;  // the fixed part alone: a record without identifier
    const DirectoryRecord bare = decodeDirectoryRecord(buffer, sizeof buffer, 0);
    EXPECT_EQ(bare.length, 33);
    EXPECT_EQ(bare.identifierLength, 0);
    EXPECT_EQ(bare.name, "");
    buffer[0] = 60;  // runs past a 40-byte directory
    EXPECT_THROW(decodeDirectoryRecord(buffer, 40, 0), std::runtime_error);
    buffer[0] = 40;
    buffer[32] = 10;  // identifier runs past the record
    EXPECT_THROW(decodeDirectoryRecord(buffer, sizeof buffer, 0), std::runtime_error);
    buffer[32] = 3;
    buffer[33] = 1;  // first byte 0x01: the parent, whatever the length
    EXPECT_EQ(decodeDirectoryRecord(buffer, sizeof buffer, 0).name, "..");
    buffer[33] = 'A';
    buffer[34] = 0;  // a zero byte ends the name
    buffer[35] = 'B';
    EXPECT_EQ(decodeDirectoryRecord(buffer, sizeof buffer, 0).name, "A");
    buffer[0] = 0;
    EXPECT_EQ(decodeDirectoryRecord(buffer, sizeof buffer, 0).length, 0);
}

TEST(DirectoryRecords, DecodeAgreesWithIsoinfoOnAnXorrisoImage) {
    TempDir dir;
    writeFile(dir / "tree/WINBOM.INI", "[WinPE]\r\n");
    writeFile(dir / "tree/I386/SYSTEM32/readme.txt", "x");
    makeIsoWithXorriso(dir / "tree", dir / "a.iso");

    const std::vector<uint8_t> image = readBytes(dir / "a.iso");
    ASSERT_GT(image.size(), 32768u + 2048u);
    const uint8_t* pvd = image.data() + 32768;
    EXPECT_EQ(0, std::memcmp(pvd + 1, "CD001", 5));
    EXPECT_EQ(iso_bytes::getLe16(pvd, pvd::kLogicalBlockSize), 2048);
    const DirectoryRecord rootRecord =
        decodeDirectoryRecord(pvd + pvd::kRootDirectoryRecord, 34, 0);
    EXPECT_EQ(rootRecord.name, ".");

    const uint8_t* directory = image.data() + uint64_t(rootRecord.extent) * 2048;
    size_t offset = 0;
    std::vector<DirectoryRecord> records;
    while (offset < rootRecord.dataLength) {
        const DirectoryRecord record =
            decodeDirectoryRecord(directory, rootRecord.dataLength, offset);
        if (record.length == 0) {
            break;
        }
        records.push_back(record);
        offset += record.length;
    }
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].name, ".");
    EXPECT_EQ(records[1].name, "..");
    EXPECT_EQ(records[2].name, "I386");
    EXPECT_TRUE(records[2].isDirectory());
    EXPECT_EQ(records[3].name, "WINBOM.INI");
    EXPECT_EQ(records[3].dataLength, 9u);

    const CommandResult listing = runCommand("isoinfo -l -i " + shellQuote(dir / "a.iso"));
    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(listing.output, match, std::regex(R"(\[\s*(\d+) 00\]\s+WINBOM\.INI)")));
    EXPECT_EQ(records[3].extent, std::stoul(match[1].str()));
}

TEST(PathTableRecords, PadOddIdentifiersAndUseTheTablesByteOrder) {
    uint8_t buffer[520];
    EXPECT_EQ(encodePathTableRecord("I386", 0x20, 1, false, buffer, sizeof buffer), 12u);
    const uint8_t little[12] = {4, 0, 0x20, 0, 0, 0, 1, 0, 'I', '3', '8', '6'};
    EXPECT_EQ(0, std::memcmp(buffer, little, 12));
    EXPECT_EQ(encodePathTableRecord("ABC", 0x20, 2, true, buffer, sizeof buffer), 12u);
    const uint8_t big[12] = {3, 0, 0, 0, 0, 0x20, 0, 2, 'A', 'B', 'C', 0};
    EXPECT_EQ(0, std::memcmp(buffer, big, 12));
    EXPECT_EQ(encodeRootPathTableRecord(0x30, false, buffer, sizeof buffer), 10u);
    const uint8_t root[10] = {1, 0, 0x30, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(buffer, root, 10));
}

TEST(PrimaryDescriptor, NumbersAreBothEndianAndTextsStayInTheirFields) {
    uint8_t buffer[2048];
    PrimaryDescriptorFields fields;
    fields.volumeSpaceSize = 0x1234;
    fields.pathTableSize = 10;
    fields.typeLPathTable = 20;
    fields.typeMPathTable = 21;
    encodePrimaryDescriptor(fields, buffer);
    putDescriptorText(buffer, pvd::kVolumeId, pvd::kVolumeIdLength, "CD_ROM");
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(iso_bytes::getLe32(buffer, 80), 0x1234u);
    EXPECT_EQ(iso_bytes::getBe32(buffer, 84), 0x1234u);
    EXPECT_EQ(iso_bytes::getLe16(buffer, 128), 2048);
    EXPECT_EQ(iso_bytes::getBe16(buffer, 130), 2048);
    EXPECT_EQ(iso_bytes::getLe32(buffer, 140), 20u);
    EXPECT_EQ(iso_bytes::getBe32(buffer, 148), 21u);
    EXPECT_EQ(0, std::memcmp(buffer + 40, "CD_ROM\0\0", 8));
    EXPECT_EQ(buffer[881], 1);
    EXPECT_THROW(putDescriptorText(buffer, pvd::kVolumeId, 32, std::string(33, 'X')),
                 std::runtime_error);
}

namespace {

// Runs `decode` and expects a RecordError of `kind` whose text is exactly `text`.
template <typename Decode>
void expectRecordError(Decode decode, RecordError::Kind kind, const std::string& text) {
    try {
        decode();
        ADD_FAILURE() << "expected a RecordError: " << text;
    } catch (const RecordError& error) {
        EXPECT_EQ(error.kind(), kind) << error.what();
        EXPECT_EQ(std::string(error.what()), text);
    }
}

constexpr uint64_t kAt = 16 * 2048;

}  // namespace

TEST(PrimaryDescriptor, DecodeReadsTheEncodedFieldsAndNamesWhatItRefuses) {
    uint8_t root[34] = {};
    root[0] = 34;
    iso_bytes::putBoth32(root, dir_record::kExtent, 23);
    iso_bytes::putBoth32(root, dir_record::kDataLength, 4096);
    uint8_t buffer[2048];
    PrimaryDescriptorFields fields;
    fields.volumeSpaceSize = 0x1234;
    fields.logicalBlockSize = 512;
    fields.rootRecord = root;
    encodePrimaryDescriptor(fields, buffer);
    putDescriptorText(buffer, pvd::kVolumeId, pvd::kVolumeIdLength, "CD_ROM");
    putDescriptorText(buffer, pvd::kApplicationId, pvd::kLongIdLength, "APP");

    const PrimaryDescriptor decoded = decodePrimaryDescriptor(buffer, kAt);
    EXPECT_EQ(decoded.volumeSpaceSize, 0x1234u);
    EXPECT_EQ(decoded.logicalBlockSize, 512);
    EXPECT_EQ(decoded.rootExtent, 23u);
    EXPECT_EQ(decoded.rootDataLength, 4096u);
    EXPECT_EQ(0, std::memcmp(decoded.volumeId.data(), buffer + 40, 32));
    EXPECT_EQ(0, std::memcmp(decoded.applicationId.data(), "APP", 3));
    EXPECT_EQ(0, std::memcmp(decoded.applicationId.data(), buffer + 574, 128));

    for (const uint16_t size : {uint16_t(0), uint16_t(256), uint16_t(4096)}) {
        iso_bytes::putLe16(buffer, pvd::kLogicalBlockSize, size);
        expectRecordError([&] { decodePrimaryDescriptor(buffer, kAt); },
                          RecordError::Kind::badField,
                          "logical block size " + std::to_string(size) +
                              " at byte 32896 is not 512, 1024 or 2048");
    }
    buffer[3] = 'X';
    expectRecordError([&] { decodePrimaryDescriptor(buffer, kAt); },
                      RecordError::Kind::notThisRecord,
                      "primary volume descriptor at byte 32768: no standard identifier CD001 at "
                      "byte 32769");
}

TEST(CatalogEntries, BootRecordDecodeFindsTheCatalogAndNamesTheFirstWrongField) {
    uint8_t record[2048];
    encodeBootRecord(19, record);
    EXPECT_EQ(decodeBootRecord(record, kAt + 2048).catalogBlock, 19u);

    const std::string place = "boot record at byte 34816: ";
    struct Case {
        size_t at;
        uint8_t value;
        std::string reason;
    };
    const Case cases[] = {
        {0, 1, "boot record indicator 1, not 0"},
        {2, 'C', "no standard identifier CD001 at byte 34817"},
        {6, 2, "version 2, not 1"},
        {7 + 22, 'X',
         "the boot system identifier at byte 34823 is not \"EL TORITO SPECIFICATION\""},
    };
    for (const Case& c : cases) {
        uint8_t broken[2048];
        std::memcpy(broken, record, sizeof broken);
        broken[c.at] = c.value;
        expectRecordError([&] { decodeBootRecord(broken, kAt + 2048); },
                          RecordError::Kind::notThisRecord, place + c.reason);
    }
}

TEST(CatalogEntries, EntryDecodeReadsTheEncodedFieldsAndRefusesWrongMarks) {
    uint8_t validation[32];
    encodeValidationEntry(validation);
    const ValidationEntry decodedValidation = decodeValidationEntry(validation, 40960);
    EXPECT_EQ(decodedValidation.platformId, 0);
    EXPECT_EQ(decodedValidation.checksum, iso_bytes::getLe16(validation, 28));

    validation[0] = 2;
    expectRecordError([&] { decodeValidationEntry(validation, 40960); },
                      RecordError::Kind::notThisRecord,
                      "validation entry at byte 40960: header ID 2, not 1");
    validation[0] = 1;
    validation[31] = 0x55;
    expectRecordError([&] { decodeValidationEntry(validation, 40960); },
                      RecordError::Kind::notThisRecord,
                      "validation entry at byte 40960: key bytes 85 85, not 85 170 (0x55 0xAA)");

    uint8_t initial[32];
    encodeInitialEntry(0xEF, 4, 0x01020304, initial);
    iso_bytes::putLe16(initial, 2, 0x07C0);
    const InitialEntry decodedInitial = decodeInitialEntry(initial, 40992);
    EXPECT_EQ(decodedInitial.mediaType, 0);
    EXPECT_EQ(decodedInitial.loadSegment, 0x07C0);
    EXPECT_EQ(decodedInitial.systemType, 0xEF);
    EXPECT_EQ(decodedInitial.sectorCount, 4);
    EXPECT_EQ(decodedInitial.loadRba, 0x01020304u);

    initial[0] = 0;
    expectRecordError([&] { decodeInitialEntry(initial, 40992); }, RecordError::Kind::notThisRecord,
                      "initial entry at byte 40992: boot indicator 0, not 136 (0x88, bootable)");
}

TEST(VolumeDescriptors, JolietIsASupplementaryDescriptorWithAUcs2EscapeSequence) {
    struct Case {
        uint8_t type;
        const char* identifier;
        const char* escape;
        bool joliet;
    };
    const Case cases[] = {
        {2, "CD001", "%/@", true},  {2, "CD001", "%/C", true},  {2, "CD001", "%/E", true},
        {2, "CD001", "%/F", false}, {2, "CD001", "/%E", false}, {1, "CD001", "%/E", false},
        {2, "CD002", "%/E", false}, {2, "CD001", "", false},
    };
    for (const Case& c : cases) {
        uint8_t bytes[2048] = {};
        bytes[0] = c.type;
        std::memcpy(bytes + 1, c.identifier, 5);
        bytes[6] = 1;
        std::memcpy(bytes + 88, c.escape, std::strlen(c.escape));
        const PrimaryDescriptor descriptor = decodePrimaryDescriptorFields(bytes);
        EXPECT_EQ(descriptor.isJoliet(), c.joliet) << c.identifier << " " << c.escape;
        EXPECT_EQ(descriptor.header.hasIdentifier(c.identifier), true);
        EXPECT_EQ(descriptor.header.isStandard(), std::strcmp(c.identifier, "CD001") == 0);
    }
}

TEST(VolumeDescriptors, VolumeNumbersAreWrittenOverACarriedDescriptorAndNothingElse) {
    uint8_t old[2048];
    std::memset(old, 0xEE, sizeof old);
    uint8_t root[34] = {34};
    PrimaryDescriptorFields fields;
    fields.volumeSpaceSize = 0x01020304;
    fields.pathTableSize = 0x0A0B;
    fields.typeLPathTable = 21;
    fields.typeMPathTable = 22;
    fields.rootRecord = root;
    uint8_t carried[2048];
    std::memcpy(carried, old, sizeof old);
    encodeVolumeNumbers(fields, carried);
    // Both halves of each number, the two optional tables zeroed, the root record.
    const std::pair<size_t, size_t> written[] = {{80, 88}, {120, 136}, {136, 156}, {156, 190}};
    for (size_t i = 0; i < sizeof carried; ++i) {
        bool inside = false;
        for (const auto& range : written) {
            inside = inside || (i >= range.first && i < range.second);
        }
        if (!inside) {
            ASSERT_EQ(carried[i], 0xEE) << "byte " << i;
        }
    }
    const PrimaryDescriptor decoded = decodePrimaryDescriptorFields(carried);
    EXPECT_EQ(decoded.volumeSpaceSize, 0x01020304u);
    EXPECT_EQ(iso_bytes::getBe32(carried, 84), 0x01020304u);
    EXPECT_EQ(decoded.logicalBlockSize, 2048);
    EXPECT_EQ(iso_bytes::getLe32(carried, 144) | iso_bytes::getBe32(carried, 152), 0u);
    EXPECT_EQ(carried[156], 34);
}

TEST(CatalogEntries, SectionMarksEntryImagesAndExtensionFlagsRoundTrip) {
    struct Media {
        uint8_t stored;
        uint8_t emulation;
        bool extensionFollows;
    };
    for (const Media m : {Media{0x00, 0, false}, Media{0x04, 4, false}, Media{0x24, 4, true},
                          Media{0x22, 2, true}, Media{0xDF, 0x0F, false}}) {
        uint8_t entry[32];
        encodeInitialEntry(0xEF, 1, 2, entry);
        entry[1] = m.stored;
        encodeEntryImage(entry, 0xA1B2C3D4, 0x0102);
        const InitialEntry decoded = decodeInitialEntryFields(entry);
        EXPECT_EQ(decoded.emulation(), m.emulation) << int(m.stored);
        EXPECT_EQ(decoded.extensionFollows(), m.extensionFollows) << int(m.stored);
        EXPECT_EQ(decoded.mediaType, m.stored);
        EXPECT_EQ(decoded.systemType, 0xEF);
        EXPECT_EQ(decoded.loadRba, 0xA1B2C3D4u);
        EXPECT_EQ(decoded.sectorCount, 0x0102);
    }
    for (const bool final : {false, true}) {
        uint8_t header[32] = {0x90, 0xEF, 0, 0, 'I', 'D'};
        encodeSectionHeaderCount(header, final, 0x0203);
        const SectionHeader decoded = decodeSectionHeader(header);
        EXPECT_TRUE(decoded.isHeader());
        EXPECT_EQ(decoded.isFinal(), final);
        EXPECT_EQ(decoded.platformId, 0xEF);
        EXPECT_EQ(decoded.entryCount, 0x0203);
        EXPECT_EQ(header[4], 'I');
    }
    const uint8_t extensions[][2] = {{0x44, 0x20}, {0x44, 0x00}, {0x45, 0x20}};
    EXPECT_TRUE(decodeSectionExtension(extensions[0]).anotherFollows());
    EXPECT_FALSE(decodeSectionExtension(extensions[1]).anotherFollows());
    EXPECT_FALSE(decodeSectionExtension(extensions[2]).isExtension());
}

TEST(BootInfoTable, FieldsLieAtTheirOffsetsAndTheChecksumCountsPartialWordsWithZeros) {
    uint8_t loader[2560] = {};
    for (size_t i = 0; i < 4; ++i) {
        iso_bytes::putLe32(loader, 8 + 4 * i, 0x10 + static_cast<uint32_t>(i));
    }
    const BootInfoTableFields table = decodeBootInfoTable(loader);
    EXPECT_EQ(table.primaryDescriptorBlock, 0x10u);
    EXPECT_EQ(table.fileLba, 0x11u);
    EXPECT_EQ(table.fileLength, 0x12u);
    EXPECT_EQ(table.checksum, 0x13u);

    const uint8_t words[] = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 2, 3, 4};
    for (const auto& c : {std::make_pair(size_t(0), 0u), std::make_pair(size_t(4), 1u),
                          std::make_pair(size_t(8), 0u), std::make_pair(size_t(9), 2u),
                          std::make_pair(size_t(11), 0x040302u)}) {
        EXPECT_EQ(addLoaderWords(0, words, c.first), c.second) << c.first << " bytes";
    }

    encodeBootInfoLocation(loader + boot_info_table::kFileLba, 300, 4096);
    encodeBootInfoChecksum(loader + boot_info_table::kChecksum, 0xCAFE);
    encodeGrubPointer(loader + boot_info_table::kGrubPointer, 0x1122334455667788ull);
    const BootInfoTableFields patched = decodeBootInfoTable(loader);
    EXPECT_EQ(patched.primaryDescriptorBlock, 0x10u);
    EXPECT_EQ(patched.fileLba, 300u);
    EXPECT_EQ(patched.fileLength, 4096u);
    EXPECT_EQ(patched.checksum, 0xCAFEu);
    EXPECT_EQ(decodeGrubPointer(loader + 2548), 0x1122334455667788ull);
    EXPECT_EQ(loader[2548], 0x88);
    EXPECT_EQ(loader[2556], 0);
}
