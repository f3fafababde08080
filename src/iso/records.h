// The ISO 9660 and El Torito records the program reads and writes, field by field.
// Each record's layout is described once here, as offsets and widths; the encode and
// decode functions below are the only code that touches those bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Copies count bytes into a destination of destinationSize bytes, or throws a
// std::runtime_error naming both sizes and copies nothing.
void safeMemcpy(void* destination, uint32_t destinationSize, const void* source, uint32_t count);

namespace iso_record {

constexpr size_t kDescriptorSize = 2048;
constexpr char kStandardIdentifier[] = "CD001";
constexpr size_t kStandardIdentifierLength = 5;
constexpr size_t kRecordDateSize = 7;
constexpr size_t kVolumeDateSize = 17;
// Dates, in local time with the offset from GMT in 15-minute units: the 7-byte date of a
// directory record and the 17-byte date of a volume descriptor.
struct DateFields {
    int yearsSince1900 = 0;
    int month = 1;  // 1 to 12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int8_t gmtOffset = 0;  // in 15-minute units
};

// kRecordDateSize bytes: years since 1900, month, day, hour, minute, second, GMT offset.
void encodeRecordDate(const DateFields& date, uint8_t* bytes);
// kVolumeDateSize bytes: year (4 digits), month, day, hour, minute, second (2 digits
// each), hundredths "00", then the GMT offset byte.
void encodeVolumeDate(const DateFields& date, uint8_t* bytes);

// The header every volume descriptor starts with.
namespace descriptor {
constexpr size_t kType = 0;
constexpr size_t kTypeLength = 1;
constexpr size_t kStandardId = kType + kTypeLength;  // "CD001"
constexpr size_t kVersion = kStandardId + kStandardIdentifierLength;
constexpr size_t kVersionLength = 1;
constexpr size_t kHeaderSize = kVersion + kVersionLength;
constexpr uint8_t kBootRecordType = 0;
constexpr uint8_t kPrimaryType = 1;
constexpr uint8_t kSupplementaryType = 2;
constexpr uint8_t kPartitionType = 3;
constexpr uint8_t kTerminatorType = 255;
constexpr uint8_t kCurrentVersion = 1;
}  // namespace descriptor

// Primary Volume Descriptor (block 16).
namespace pvd {
constexpr size_t kType = descriptor::kType;              // 1
constexpr size_t kStandardId = descriptor::kStandardId;  // "CD001"
constexpr size_t kVersion = descriptor::kVersion;        // 1
constexpr size_t kUnused1 = descriptor::kHeaderSize;
constexpr size_t kSystemId = kUnused1 + 1;
constexpr size_t kSystemIdLength = 32;
constexpr size_t kVolumeId = kSystemId + kSystemIdLength;
constexpr size_t kVolumeIdLength = 32;
constexpr size_t kUnused2 = kVolumeId + kVolumeIdLength;
constexpr size_t kVolumeSpaceSize = kUnused2 + 8;  // both-endian 32
constexpr size_t kUnused3 = kVolumeSpaceSize + 8;
constexpr size_t kVolumeSetSize = kUnused3 + 32;                 // both-endian 16
constexpr size_t kVolumeSequenceNumber = kVolumeSetSize + 4;     // both-endian 16
constexpr size_t kLogicalBlockSize = kVolumeSequenceNumber + 4;  // both-endian 16
constexpr size_t kPathTableSize = kLogicalBlockSize + 4;         // both-endian 32
constexpr size_t kTypeLPathTable = kPathTableSize + 8;           // little-endian 32
constexpr size_t kOptionalTypeLPathTable = kTypeLPathTable + 4;
constexpr size_t kTypeMPathTable = kOptionalTypeLPathTable + 4;  // big-endian 32
constexpr size_t kOptionalTypeMPathTable = kTypeMPathTable + 4;
constexpr size_t kRootDirectoryRecord = kOptionalTypeMPathTable + 4;
constexpr size_t kRootDirectoryRecordLength = 34;
constexpr size_t kVolumeSetId = kRootDirectoryRecord + kRootDirectoryRecordLength;
constexpr size_t kLongIdLength = 128;
constexpr size_t kPublisherId = kVolumeSetId + kLongIdLength;
constexpr size_t kDataPreparerId = kPublisherId + kLongIdLength;
constexpr size_t kApplicationId = kDataPreparerId + kLongIdLength;
constexpr size_t kCopyrightFileId = kApplicationId + kLongIdLength;
constexpr size_t kFileIdLength = 37;
constexpr size_t kAbstractFileId = kCopyrightFileId + kFileIdLength;
constexpr size_t kBibliographicFileId = kAbstractFileId + kFileIdLength;
constexpr size_t kCreationDate = kBibliographicFileId + kFileIdLength;
constexpr size_t kModificationDate = kCreationDate + kVolumeDateSize;
constexpr size_t kExpirationDate = kModificationDate + kVolumeDateSize;
constexpr size_t kEffectiveDate = kExpirationDate + kVolumeDateSize;
constexpr size_t kFileStructureVersion = kEffectiveDate + kVolumeDateSize;
constexpr size_t kReserved = kFileStructureVersion + 1;
constexpr size_t kApplicationUse = kReserved + 1;
constexpr size_t kApplicationUseLength = 512;
constexpr size_t kReservedTail = kApplicationUse + kApplicationUseLength;
constexpr size_t kReservedTailLength = 653;
static_assert(kReservedTail + kReservedTailLength == kDescriptorSize, "pvd layout");
static_assert(kLogicalBlockSize == 128 && kRootDirectoryRecord == 156, "pvd layout");
}  // namespace pvd

// Supplementary Volume Descriptor (a Joliet tree's): the primary one's layout, with the
// escape sequences of its character set where the primary one has unused bytes.
namespace svd {
constexpr size_t kEscapeSequences = pvd::kUnused3;
constexpr size_t kEscapeSequencesLength = 32;
static_assert(kEscapeSequences == 88, "svd layout");
}  // namespace svd

// El Torito Boot Record Volume Descriptor (block 17).
namespace boot_record {
constexpr size_t kIndicator = descriptor::kType;         // 0
constexpr size_t kStandardId = descriptor::kStandardId;  // "CD001"
constexpr size_t kVersion = descriptor::kVersion;        // 1
constexpr size_t kBootSystemId = descriptor::kHeaderSize;
constexpr size_t kBootSystemIdLength = 32;
constexpr size_t kBootId = kBootSystemId + kBootSystemIdLength;
constexpr size_t kBootIdLength = 32;
constexpr size_t kCatalogPointer = kBootId + kBootIdLength;  // little-endian 32
constexpr size_t kUnused = kCatalogPointer + 4;
constexpr size_t kUnusedLength = 1973;
constexpr char kElToritoId[] = "EL TORITO SPECIFICATION";
constexpr size_t kElToritoIdLength = sizeof kElToritoId - 1;
static_assert(kUnused + kUnusedLength == kDescriptorSize, "boot record layout");
static_assert(kElToritoIdLength <= kBootSystemIdLength, "boot record layout");
}  // namespace boot_record

// Boot catalog entries, 32 bytes each.
constexpr size_t kCatalogEntrySize = 32;

namespace validation_entry {
constexpr size_t kHeaderId = 0;                // 1
constexpr size_t kPlatformId = kHeaderId + 1;  // 0 = 80x86
constexpr size_t kReserved = kPlatformId + 1;
constexpr size_t kIdString = kReserved + 2;
constexpr size_t kIdStringLength = 24;
constexpr size_t kChecksum = kIdString + kIdStringLength;  // little-endian 16
constexpr size_t kKey55 = kChecksum + 2;                   // 0x55
constexpr size_t kKeyAA = kKey55 + 1;                      // 0xAA
constexpr uint8_t kHeader = 1;
constexpr uint8_t kKey55Value = 0x55;
constexpr uint8_t kKeyAAValue = 0xAA;
static_assert(kKeyAA + 1 == kCatalogEntrySize, "validation entry layout");
}  // namespace validation_entry

namespace initial_entry {
constexpr size_t kBootIndicator = 0;               // 0x88 = bootable
constexpr size_t kMediaType = kBootIndicator + 1;  // 0 = no emulation
constexpr size_t kLoadSegment = kMediaType + 1;    // little-endian 16
constexpr size_t kSystemType = kLoadSegment + 2;
constexpr size_t kUnused1 = kSystemType + 1;
constexpr size_t kSectorCount = kUnused1 + 1;  // little-endian 16
constexpr size_t kLoadRba = kSectorCount + 2;  // little-endian 32
constexpr size_t kUnused2 = kLoadRba + 4;
constexpr size_t kUnused2Length = 20;
constexpr uint8_t kBootable = 0x88;
static_assert(kUnused2 + kUnused2Length == kCatalogEntrySize, "initial entry layout");
}  // namespace initial_entry

// Section header of a boot catalog: a group of section entries for one platform.
namespace section_header {
constexpr size_t kIndicator = 0;                 // kMore or kFinal
constexpr size_t kPlatformId = kIndicator + 1;   // 0 80x86, 1 PowerPC, 2 Mac, 0xEF EFI
constexpr size_t kEntryCount = kPlatformId + 1;  // little-endian 16
constexpr size_t kIdString = kEntryCount + 2;
constexpr uint8_t kMore = 0x90;
constexpr uint8_t kFinal = 0x91;
}  // namespace section_header

// Section entry: laid out as an Initial/Default Entry, with selection criteria after the
// Load RBA; its media type byte says whether an extension entry follows.
namespace section_entry {
constexpr size_t kSelectionCriteriaType = initial_entry::kLoadRba + 4;
constexpr uint8_t kMediaTypeMask = 0x0F;
constexpr uint8_t kExtensionFollows = 0x20;  // in the media type byte
constexpr uint8_t kNotBootable = 0x00;
}  // namespace section_entry

// Section entry extension: more selection criteria for the entry before it.
namespace section_extension {
constexpr size_t kIndicator = 0;
constexpr size_t kFlags = kIndicator + 1;
constexpr uint8_t kExtension = 0x44;
constexpr uint8_t kAnotherFollows = 0x20;  // in the flags byte
}  // namespace section_extension

// Boot media types of a catalog entry.
namespace boot_media {
constexpr uint8_t kNoEmulation = 0;
constexpr uint8_t kFloppy12 = 1;
constexpr uint8_t kFloppy144 = 2;
constexpr uint8_t kFloppy288 = 3;
constexpr uint8_t kHardDisk = 4;
}  // namespace boot_media

// Directory record: 33 fixed bytes, the identifier, a pad byte when its length is even.
namespace dir_record {
constexpr size_t kLength = 0;
constexpr size_t kExtendedAttributeLength = kLength + 1;
constexpr size_t kExtent = kExtendedAttributeLength + 1;  // both-endian 32
constexpr size_t kDataLength = kExtent + 8;               // both-endian 32
constexpr size_t kRecordingDate = kDataLength + 8;        // 7 bytes
constexpr size_t kFlags = kRecordingDate + kRecordDateSize;
constexpr size_t kFileUnitSize = kFlags + 1;
constexpr size_t kInterleaveGap = kFileUnitSize + 1;
constexpr size_t kVolumeSequenceNumber = kInterleaveGap + 1;  // both-endian 16
constexpr size_t kIdentifierLength = kVolumeSequenceNumber + 4;
constexpr size_t kIdentifier = kIdentifierLength + 1;
constexpr size_t kFixedPartSize = kIdentifier;
// The "." and ".." records: the fixed part and a one-byte identifier, no pad.
constexpr size_t kDotRecordLength = kFixedPartSize + 1;
constexpr size_t kMaxIdentifierBytes = 512;  // more than any record holds, pad included
constexpr size_t kBufferSize = kFixedPartSize + kMaxIdentifierBytes;
constexpr uint8_t kFlagHidden = 0x01;
constexpr uint8_t kFlagDirectory = 0x02;
// More records of the same file follow: a file too large for one record's 32-bit Data
// Length is stored as several, the flag set on all but the last.
constexpr uint8_t kFlagMultiExtent = 0x80;
constexpr uint8_t kSelfIdentifier = 0x00;
constexpr uint8_t kParentIdentifier = 0x01;
static_assert(kFixedPartSize == 33, "directory record layout");
static_assert(kDotRecordLength == pvd::kRootDirectoryRecordLength, "directory record layout");
}  // namespace dir_record

// Path table record: 8 fixed bytes, the identifier, a pad byte when its length is odd.
namespace path_record {
constexpr size_t kIdentifierLength = 0;
constexpr size_t kExtendedAttributeLength = kIdentifierLength + 1;
constexpr size_t kExtent = kExtendedAttributeLength + 1;  // 32, byte order of the table
constexpr size_t kParentNumber = kExtent + 4;             // 16, byte order of the table
constexpr size_t kIdentifier = kParentNumber + 2;
constexpr size_t kFixedPartSize = kIdentifier;
constexpr size_t kMaxIdentifierLength = 255;  // what its one-byte length holds
// The longest record: the longest identifier, odd, and its pad byte.
constexpr size_t kMaxLength = kFixedPartSize + kMaxIdentifierLength + 1;
static_assert(kFixedPartSize == 8, "path table record layout");
}  // namespace path_record

// Length of the directory record for an identifier of the given length (pad included).
inline uint32_t directoryRecordLength(size_t identifierLength) {
    return static_cast<uint32_t>(dir_record::kFixedPartSize + identifierLength +
                                 (identifierLength % 2 == 0 ? 1 : 0));
}

// Length of the path table record for an identifier of the given length (pad included).
inline uint32_t pathTableRecordLength(size_t identifierLength) {
    return static_cast<uint32_t>(path_record::kFixedPartSize + identifierLength +
                                 (identifierLength % 2 == 1 ? 1 : 0));
}

// A record that fails its decoding; the text says which field holds what, and where.
// `notThisRecord`: the bytes that identify the record are not there (another record, or
// none); `badField`: the record is there, but one of its fields holds what the program
// cannot use.
class RecordError : public std::runtime_error {
  public:
    enum class Kind { notThisRecord, badField };
    RecordError(Kind kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

// Reading a record is two named steps: decode...Fields takes every field as it is
// stored and checks nothing; check... then says whether the record is one the program
// can use, naming the first field that is not. decode... does both in turn.

// The header every volume descriptor starts with; the volume recognition descriptors of
// a UDF bridge ("BEA01", "NSR02", ...) share it.
struct DescriptorHeader {
    uint8_t type = 0;
    std::array<uint8_t, kStandardIdentifierLength> identifier{};
    uint8_t version = 0;

    bool hasIdentifier(const char* id) const;  // `id`: five characters
    bool isStandard() const { return hasIdentifier(kStandardIdentifier); }
};

// Decodes the kHeaderSize bytes of a descriptor header.
DescriptorHeader decodeDescriptorHeader(const uint8_t* bytes);

// Identifiers of the volume recognition descriptors a UDF bridge puts after the
// terminator: the extended area's start and end, a boot descriptor, and the UDF
// (NSR02, NSR03) descriptor.
namespace udf_recognition {
constexpr char kBeginArea[] = "BEA01";
constexpr char kTerminateArea[] = "TEA01";
constexpr char kBoot[] = "BOOT2";
constexpr char kNsr02[] = "NSR02";
constexpr char kNsr03[] = "NSR03";
}  // namespace udf_recognition

// A primary or supplementary volume descriptor as read from an image (the two share one
// layout). The identifier fields are kept as their raw bytes, to be carried into a new
// descriptor as they are.
struct PrimaryDescriptor {
    DescriptorHeader header;
    uint32_t volumeSpaceSize = 0;
    uint16_t logicalBlockSize = 0;
    uint32_t rootExtent = 0;
    uint32_t rootDataLength = 0;
    std::array<uint8_t, pvd::kVolumeIdLength> volumeId{};
    std::array<uint8_t, pvd::kLongIdLength> volumeSetId{};
    std::array<uint8_t, pvd::kLongIdLength> publisherId{};
    std::array<uint8_t, pvd::kLongIdLength> dataPreparerId{};
    std::array<uint8_t, pvd::kLongIdLength> applicationId{};
    // A supplementary descriptor's; unused (zeros) in a primary one.
    std::array<uint8_t, svd::kEscapeSequencesLength> escapeSequences{};

    // A supplementary descriptor whose escape sequence is %/@, %/C or %/E: UCS-2 names.
    bool isJoliet() const;
};

PrimaryDescriptor decodePrimaryDescriptorFields(const uint8_t* bytes);

// Checks the primary volume descriptor `descriptor` that lies at byte `at` of its image
// (for failure texts): the standard identifier (RecordError notThisRecord) and the
// logical block size, one of iso_limits::kBlockSizes (badField). The type and version
// bytes and the root record's own length are not checked.
void checkPrimaryDescriptor(const PrimaryDescriptor& descriptor, uint64_t at);

// Decodes the kDescriptorSize bytes of a primary volume descriptor at byte `at`, then
// checks it (checkPrimaryDescriptor).
PrimaryDescriptor decodePrimaryDescriptor(const uint8_t* bytes, uint64_t at);

// An El Torito boot record as read from an image.
struct BootRecord {
    DescriptorHeader header;  // the type byte is the boot record indicator
    std::array<uint8_t, boot_record::kBootSystemIdLength> bootSystemId{};
    uint32_t catalogBlock = 0;
};

BootRecord decodeBootRecordFields(const uint8_t* bytes);

// Checks the boot record at byte `at`: indicator 0, standard identifier, version 1 and
// the El Torito boot system identifier, or throws RecordError (notThisRecord) naming the
// first that differs.
void checkBootRecord(const BootRecord& record, uint64_t at);

// Decodes the kDescriptorSize bytes of a boot record at byte `at`, then checks it.
BootRecord decodeBootRecord(const uint8_t* bytes, uint64_t at);

// The Validation Entry of a boot catalog as read from an image.
struct ValidationEntry {
    uint8_t headerId = 0;
    uint8_t platformId = 0;
    uint16_t checksum = 0;  // not examined
    uint8_t key55 = 0;
    uint8_t keyAA = 0;
};

ValidationEntry decodeValidationEntryFields(const uint8_t* bytes);

// Checks the validation entry at byte `at`: header 1 and the key bytes 0x55 0xAA, or
// throws RecordError (notThisRecord).
void checkValidationEntry(const ValidationEntry& entry, uint64_t at);

// Decodes the kCatalogEntrySize bytes of a validation entry at byte `at`, then checks it.
ValidationEntry decodeValidationEntry(const uint8_t* bytes, uint64_t at);

// The Initial/Default Entry of a boot catalog as read from an image; a section entry
// has the same fields.
struct InitialEntry {
    uint8_t bootIndicator = 0;
    uint8_t mediaType = 0;  // the byte as stored, the extension flag of a section entry too
    uint16_t loadSegment = 0;
    uint8_t systemType = 0;
    uint16_t sectorCount = 0;
    uint32_t loadRba = 0;

    bool bootable() const { return bootIndicator == initial_entry::kBootable; }
    // The emulation (boot_media) without the section entry's flags.
    uint8_t emulation() const { return mediaType & section_entry::kMediaTypeMask; }
    bool extensionFollows() const { return (mediaType & section_entry::kExtensionFollows) != 0; }
};

InitialEntry decodeInitialEntryFields(const uint8_t* bytes);

// Checks the initial entry at byte `at`: it must be marked bootable (0x88), or
// RecordError (notThisRecord) is thrown.
void checkInitialEntry(const InitialEntry& entry, uint64_t at);

// Decodes the kCatalogEntrySize bytes of an initial entry at byte `at`, then checks it.
InitialEntry decodeInitialEntry(const uint8_t* bytes, uint64_t at);

// Sets the Load RBA and Sector Count of the stored initial or section entry `entry`.
void encodeEntryImage(uint8_t* entry, uint32_t loadRba, uint16_t sectorCount);

// A section header as read from an image.
struct SectionHeader {
    uint8_t indicator = 0;
    uint8_t platformId = 0;
    uint16_t entryCount = 0;

    bool isHeader() const {
        return indicator == section_header::kMore || indicator == section_header::kFinal;
    }
    bool isFinal() const { return indicator == section_header::kFinal; }
};

SectionHeader decodeSectionHeader(const uint8_t* bytes);

// Marks the stored section header `header` as the last one (or not) and sets its entry
// count.
void encodeSectionHeaderCount(uint8_t* header, bool final, uint16_t entryCount);

// A section entry extension as read from an image.
struct SectionExtension {
    uint8_t indicator = 0;
    uint8_t flags = 0;

    bool isExtension() const { return indicator == section_extension::kExtension; }
    bool anotherFollows() const { return (flags & section_extension::kAnotherFollows) != 0; }
};

SectionExtension decodeSectionExtension(const uint8_t* bytes);

// Boot info table: what isolinux and GRUB carry from byte 8 of their no-emulation
// loader, and GRUB's second pointer to its own block further on.
namespace boot_info_table {
constexpr size_t kPrimaryDescriptorBlock = 8;  // little-endian 32, each of them
constexpr size_t kFileLba = 12;
constexpr size_t kFileLength = 16;
constexpr size_t kChecksum = 20;
// The checksum sums the file's little-endian 32-bit words from here on.
constexpr size_t kChecksummedFrom = 64;
constexpr size_t kGrubPointer = 2548;  // little-endian 64: the file's block x 4 + 5
constexpr size_t kGrubPointerLength = 8;
// The File LBA and the File Length, written together.
constexpr size_t kLocationLength = kChecksum - kFileLba;
constexpr size_t kChecksumLength = 4;
}  // namespace boot_info_table

struct BootInfoTableFields {
    uint32_t primaryDescriptorBlock = 0;
    uint32_t fileLba = 0;
    uint32_t fileLength = 0;
    uint32_t checksum = 0;
};

// Decodes the table from the first boot_info_table::kChecksummedFrom bytes of a loader.
BootInfoTableFields decodeBootInfoTable(const uint8_t* loader);

// `sum` plus the little-endian 32-bit words of `bytes` (`count` bytes; a last partial
// word counts with zeros), modulo 2^32: the table's checksum, piece by piece.
uint32_t addLoaderWords(uint32_t sum, const uint8_t* bytes, size_t count);

uint64_t decodeGrubPointer(const uint8_t* bytes);  // the kGrubPointerLength bytes

// The kLocationLength bytes from kFileLba, the kChecksumLength bytes from kChecksum and
// the kGrubPointerLength bytes from kGrubPointer, as the writer patches them.
void encodeBootInfoLocation(uint8_t* bytes, uint32_t fileLba, uint32_t fileLength);
void encodeBootInfoChecksum(uint8_t* bytes, uint32_t checksum);
void encodeGrubPointer(uint8_t* bytes, uint64_t pointer);

// A directory record as read from an image.
struct DirectoryRecord {
    uint8_t length = 0;
    uint32_t extent = 0;
    uint32_t dataLength = 0;
    uint8_t flags = 0;
    uint8_t identifierLength = 0;
    // Identifier 0x00 or 0x01: the record of the directory itself or of its parent.
    bool special = false;
    std::string name;        // "." and ".." for the two special records
    std::string identifier;  // the identifier bytes as stored (a Joliet name's UCS-2)

    bool isDirectory() const { return (flags & dir_record::kFlagDirectory) != 0; }
    bool isHidden() const { return (flags & dir_record::kFlagHidden) != 0; }
    bool isMultiExtent() const { return (flags & dir_record::kFlagMultiExtent) != 0; }
};

// Decodes the record at `offset` of `data` (`size` bytes in all). A length byte of 0
// yields a record of length 0 and nothing else. Throws RecordError (badField) when the
// record is shorter than its fixed part, runs past the data, or its identifier runs
// past the record.
DirectoryRecord decodeDirectoryRecord(const uint8_t* data, size_t size, size_t offset);

// The Data Length of the record at `record`, unchecked: what a directory's own "."
// record says of the directory's size before any record of it is decoded.
uint32_t directoryDataLength(const uint8_t* record);

// The Length of the record at `record`, and setting it once System Use fields follow
// the identifier.
uint8_t decodeDirectoryRecordLength(const uint8_t* record);
void encodeDirectoryRecordLength(uint8_t* record, uint8_t length);

// The entry name of a record: 0x00 is ".", 0x01 is "..", otherwise the identifier
// bytes up to the first zero byte.
std::string recordIdentifierName(const uint8_t* identifier, size_t length);

// A directory record to write.
struct DirectoryRecordFields {
    uint32_t extent = 0;
    uint32_t dataLength = 0;
    bool isDirectory = false;
    bool multiExtent = false;  // a further record of the same file follows
    bool hidden = false;       // the Existence bit: readers do not list the entry
    uint16_t volumeSequenceNumber = 1;
    const uint8_t* recordingDate = nullptr;  // 7 bytes, or zeros when null
    enum class Kind { Self, Parent, Named } kind = Kind::Named;
    std::string identifier;  // for Kind::Named
};

// Zeroes `buffer` (`bufferSize` bytes) and encodes the record into it; returns its length.
uint32_t encodeDirectoryRecord(const DirectoryRecordFields& fields, uint8_t* buffer,
                               uint32_t bufferSize);

// Encodes a path table record into `buffer`; returns its length.
uint32_t encodePathTableRecord(const std::string& identifier, uint32_t extent,
                               uint16_t parentNumber, bool bigEndian, uint8_t* buffer,
                               uint32_t bufferSize);

// The root's path table record: identifier one zero byte, parent 1.
uint32_t encodeRootPathTableRecord(uint32_t extent, bool bigEndian, uint8_t* buffer,
                                   uint32_t bufferSize);

// Values of a primary volume descriptor the writer produces. Text fields are copied to
// the start of their field; the rest of the field stays zero.
struct PrimaryDescriptorFields {
    uint32_t volumeSpaceSize = 0;
    uint16_t logicalBlockSize = 2048;
    uint32_t pathTableSize = 0;
    uint32_t typeLPathTable = 0;
    uint32_t typeMPathTable = 0;
    const uint8_t* rootRecord = nullptr;    // 34 bytes
    const uint8_t* creationDate = nullptr;  // 17 bytes, or zeros when null
};

// Zeroes the 2048-byte `buffer` and fills the fixed fields and numbers of a primary
// volume descriptor (identifier texts are left zero for the caller).
void encodePrimaryDescriptor(const PrimaryDescriptorFields& fields, uint8_t* buffer);

// Writes the numbers of `fields` (not its creation date) and its root record, when there
// is one, over the primary or supplementary descriptor in `buffer`; its other bytes stay.
void encodeVolumeNumbers(const PrimaryDescriptorFields& fields, uint8_t* buffer);

// Copies `text` to the start of a descriptor text field of `fieldSize` bytes.
void putDescriptorText(uint8_t* buffer, size_t offset, size_t fieldSize, const std::string& text);

void encodeBootRecord(uint32_t catalogBlock, uint8_t* buffer);
void encodeSetTerminator(uint8_t* buffer);
void encodeValidationEntry(uint8_t* entry);
void encodeInitialEntry(uint8_t systemType, uint16_t sectorCount, uint32_t loadRba, uint8_t* entry);

// Sum of the sixteen little-endian words of a catalog entry, modulo 65536.
uint16_t catalogEntryWordSum(const uint8_t* entry);

// The Validation Entry's checksum for the writer's fixed entry.
constexpr uint16_t kValidationChecksum = 0x494C;
constexpr char kValidationIdString[] = "Microsoft Corporation";

}  // namespace iso_record

// ---------------------------------------------------------------------------------------
// The System Area of a hybrid image: the MBR, the GPT and the Apple partition map, in the
// 512-byte sectors of a disk.

namespace iso_record {

constexpr size_t kDiskSectorSize = 512;

// The Master Boot Record (sector 0): boot code, the boot file's sector (isohybrid and
// GRUB put it at byte 432), four partition entries, the signature 0x55 0xAA.
namespace mbr {
constexpr size_t kBootAddress = 432;                 // little-endian 64
constexpr size_t kDiskSignature = kBootAddress + 8;  // 4 bytes, then 2 reserved
constexpr size_t kPartitionTable = kDiskSignature + 4 + 2;
static_assert(kPartitionTable == 446, "MBR layout");
constexpr size_t kPartitionCount = 4;
constexpr size_t kPartitionSize = 16;
constexpr size_t kSignature = kPartitionTable + kPartitionCount * kPartitionSize;
constexpr uint8_t kSignatureBytes[] = {0x55, 0xAA};
static_assert(kSignature + sizeof kSignatureBytes == kDiskSectorSize, "MBR layout");
}  // namespace mbr

// A partition entry: status, the first sector's CHS address, type, the last sector's CHS
// address, the first sector's LBA and the count of sectors (little-endian 32 each).
namespace mbr_partition {
constexpr size_t kStatus = 0;
constexpr size_t kChsLength = 3;
constexpr size_t kStartChs = kStatus + 1;
constexpr size_t kType = kStartChs + kChsLength;
constexpr size_t kEndChs = kType + 1;
constexpr size_t kStartLba = kEndChs + kChsLength;
constexpr size_t kSectorCount = kStartLba + 4;
static_assert(kSectorCount + 4 == mbr::kPartitionSize, "MBR partition layout");
// The three CHS bytes: the head; the sector in the low six bits with bits 8 and 9 of
// the cylinder above them; the cylinder's low byte.
constexpr uint8_t kChsSectorMask = 0x3F;
constexpr unsigned kChsCylinderHighShift = 6;
}  // namespace mbr_partition

struct Chs {
    uint16_t cylinder = 0;  // 0 to 1023
    uint8_t head = 0;
    uint8_t sector = 0;  // 1 to 63; 0 in an unused entry
};

struct MbrPartition {
    uint8_t status = 0;
    uint8_t type = 0;
    Chs start, end;  // of the first and the last sector
    uint32_t startLba = 0, sectorCount = 0;

    // An entry of zeros names no partition.
    bool unused() const;
};

struct Mbr {
    bool hasSignature = false;
    uint64_t bootAddress = 0;
    std::array<MbrPartition, mbr::kPartitionCount> partitions{};
};

// Decodes the MBR of the sector `sector`; encodes it back, leaving the boot code, the
// bytes between the boot address and the partitions, and a missing signature as they
// are. Encoding what was decoded changes no byte.
Mbr decodeMbr(const uint8_t* sector);
void encodeMbr(const Mbr& mbr, uint8_t* sector);

// The GUID Partition Table: a header in sector 1 and the partition entries it locates.
namespace gpt_header {
constexpr uint64_t kPrimaryLba = 1;
constexpr char kSignatureText[] = "EFI PART";
constexpr size_t kSignature = 0;
constexpr size_t kSignatureLength = sizeof kSignatureText - 1;
constexpr size_t kRevision = kSignature + kSignatureLength;  // little-endian 32, as all
constexpr size_t kHeaderSize = kRevision + 4;
constexpr size_t kHeaderCrc = kHeaderSize + 4;
constexpr size_t kReserved = kHeaderCrc + 4;
constexpr size_t kMyLba = kReserved + 4;  // little-endian 64, as the LBAs after it
constexpr size_t kAlternateLba = kMyLba + 8;
constexpr size_t kFirstUsableLba = kAlternateLba + 8;
constexpr size_t kLastUsableLba = kFirstUsableLba + 8;
constexpr size_t kDiskGuid = kLastUsableLba + 8;
constexpr size_t kGuidLength = 16;
constexpr size_t kEntriesLba = kDiskGuid + kGuidLength;
constexpr size_t kEntryCount = kEntriesLba + 8;
constexpr size_t kEntrySize = kEntryCount + 4;
constexpr size_t kEntriesCrc = kEntrySize + 4;
// The defined fields; a header's own size may be larger, up to its sector.
constexpr size_t kSize = kEntriesCrc + 4;
static_assert(kSize == 92 && kEntriesLba == 72, "GPT header layout");
}  // namespace gpt_header

namespace gpt_entry {
constexpr size_t kTypeGuid = 0;  // all zeros: an unused entry
constexpr size_t kUniqueGuid = kTypeGuid + gpt_header::kGuidLength;
constexpr size_t kStartLba = kUniqueGuid + gpt_header::kGuidLength;  // little-endian 64
constexpr size_t kEndLba = kStartLba + 8;                            // inclusive
constexpr size_t kAttributes = kEndLba + 8;
constexpr size_t kName = kAttributes + 8;  // UTF-16LE
constexpr size_t kNameUnits = 36;
// The defined fields; an entry's size in the header may be larger.
constexpr size_t kSize = kName + 2 * kNameUnits;
static_assert(kSize == 128, "GPT entry layout");
}  // namespace gpt_entry

using Guid = std::array<uint8_t, gpt_header::kGuidLength>;

struct GptHeader {
    std::array<uint8_t, gpt_header::kSignatureLength> signature{};
    uint32_t revision = 0, headerSize = 0, headerCrc = 0, reserved = 0;
    uint64_t myLba = 0, alternateLba = 0;  // this header's sector, the other header's
    uint64_t firstUsableLba = 0, lastUsableLba = 0;
    Guid diskGuid{};
    uint64_t entriesLba = 0;
    uint32_t entryCount = 0, entrySize = 0, entriesCrc = 0;

    bool hasSignature() const;
};

struct GptEntry {
    Guid typeGuid{}, uniqueGuid{};
    uint64_t startLba = 0, endLba = 0;  // the last sector, not the one after it
    uint64_t attributes = 0;
    std::array<uint16_t, gpt_entry::kNameUnits> name{};

    bool unused() const;
};

// The gpt_header::kSize bytes of a header and the gpt_entry::kSize bytes of an entry;
// what follows them in a larger header or entry is neither read nor written.
GptHeader decodeGptHeader(const uint8_t* header);
void encodeGptHeader(const GptHeader& fields, uint8_t* header);
GptEntry decodeGptEntry(const uint8_t* entry);
void encodeGptEntry(const GptEntry& fields, uint8_t* entry);

// The Apple partition map: a driver descriptor at byte 0 ("ER", the map's block size,
// big-endian 16) and one map entry ("PM") in each block after it.
namespace apm {
constexpr char kDriverSignature[] = "ER";
constexpr char kEntrySignature[] = "PM";
constexpr size_t kSignatureLength = 2;
constexpr size_t kBlockSize = kSignatureLength;
}  // namespace apm

// The map's block size, or 0 when `area` starts with no driver descriptor.
uint16_t decodeApmBlockSize(const uint8_t* area);
// Whether the block at `block` starts with a map entry.
bool isApmEntry(const uint8_t* block);

}  // namespace iso_record

// ---------------------------------------------------------------------------------------
// The System Use field of a directory record: SUSP entries, Rock Ridge among them. Every
// entry starts with a two-letter signature, its length and its version.

namespace iso_record {

namespace susp {
constexpr size_t kSignature = 0;
constexpr size_t kSignatureLength = 2;
constexpr size_t kLength = kSignature + kSignatureLength;
constexpr size_t kVersion = kLength + 1;
constexpr size_t kHeaderSize = kVersion + 1;
constexpr uint8_t kEntryVersion = 1;
// An entry's length is one byte.
constexpr size_t kMaxEntryLength = 255;
}  // namespace susp

namespace susp_signature {
constexpr char kIndicator[] = "SP";
constexpr char kContinuation[] = "CE";
constexpr char kTerminator[] = "ST";
constexpr char kPadding[] = "PD";
constexpr char kRockRidge[] = "RR";
constexpr char kPosixAttributes[] = "PX";
constexpr char kAlternateName[] = "NM";
constexpr char kTimestamps[] = "TF";
constexpr char kChildLink[] = "CL";
constexpr char kParentLink[] = "PL";
}  // namespace susp_signature

struct SuspHeader {
    std::array<char, susp::kSignatureLength> signature{};
    uint8_t length = 0;
    uint8_t version = susp::kEntryVersion;

    bool is(const char* twoLetters) const;
};

// The susp::kHeaderSize bytes at `entry`.
SuspHeader decodeSuspHeader(const uint8_t* entry);
void encodeSuspHeader(const SuspHeader& header, uint8_t* entry);

// SP, the indicator the root's "." field starts with: check bytes 0xBE 0xEF, then the
// bytes each later field skips.
namespace susp_indicator {
constexpr size_t kCheck = susp::kHeaderSize;
constexpr uint8_t kCheckBytes[] = {0xBE, 0xEF};
constexpr size_t kSkip = kCheck + sizeof kCheckBytes;
constexpr size_t kSize = kSkip + 1;
}  // namespace susp_indicator

struct SuspIndicator {
    SuspHeader header;
    std::array<uint8_t, sizeof susp_indicator::kCheckBytes> check{};
    uint8_t skip = 0;
};

// The susp_indicator::kSize bytes at `entry`.
SuspIndicator decodeSuspIndicator(const uint8_t* entry);

// CE: where the entries go on (block, byte offset in it, length; both-endian 32 each).
namespace susp_continuation {
constexpr size_t kBlock = susp::kHeaderSize;
constexpr size_t kOffset = kBlock + 8;
constexpr size_t kLength = kOffset + 8;
constexpr size_t kSize = kLength + 8;
static_assert(kSize == 28, "CE layout");
}  // namespace susp_continuation

struct Continuation {
    uint32_t block = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
};

// The susp_continuation::kSize bytes of a CE entry, its header included.
Continuation decodeContinuation(const uint8_t* entry);
void encodeContinuation(const Continuation& fields, uint8_t* entry);

// Rock Ridge's CL and PL: the block of a relocated directory, or of its real parent.
namespace rr_link {
constexpr size_t kBlock = susp::kHeaderSize;  // both-endian 32
constexpr size_t kSize = kBlock + 8;
}  // namespace rr_link

// The rr_link::kSize bytes of a CL or PL entry; encoding writes only the block.
uint32_t decodeDirectoryLink(const uint8_t* entry);
void encodeDirectoryLink(uint32_t block, uint8_t* entry);

// PX (RRIP 1.12): mode, links, owner, group and serial number, both-endian 32 each.
namespace rr_posix {
constexpr size_t kMode = susp::kHeaderSize;
constexpr size_t kFieldCount = 5;
constexpr size_t kSize = kMode + 8 * kFieldCount;
static_assert(kSize == 44, "PX layout");
}  // namespace rr_posix

struct PosixAttributes {
    uint32_t mode = 0, links = 0;
    uint32_t owner = 0, group = 0;
    uint32_t serial = 0;  // the file serial number
};

// NM: flags, then a piece of the name; a name longer than one entry holds goes on in
// the next NM.
namespace rr_name {
constexpr size_t kFlags = susp::kHeaderSize;
constexpr size_t kName = kFlags + 1;
constexpr size_t kMaxPiece = susp::kMaxEntryLength - kName;
constexpr uint8_t kContinues = 0x01;
}  // namespace rr_name

struct AlternateName {
    uint8_t flags = 0;
    std::string piece;  // at most rr_name::kMaxPiece bytes
};

// TF: flags saying which times follow, then each as a 7-byte date.
namespace rr_times {
constexpr size_t kFlags = susp::kHeaderSize;
constexpr size_t kDates = kFlags + 1;
constexpr uint8_t kModify = 0x02;
constexpr uint8_t kAccess = 0x04;
constexpr uint8_t kAttributes = 0x08;
}  // namespace rr_times

// A 7-byte date: years since 1900, month, day, hour, minute, second, the offset from
// GMT in 15-minute units.
struct ShortDate {
    uint8_t yearsSince1900 = 0, month = 0, day = 0;
    uint8_t hour = 0, minute = 0, second = 0;
    int8_t gmtOffset = 0;
};

struct Timestamps {
    uint8_t flags = 0;
    std::vector<ShortDate> dates;  // one for each flag set, in the flags' order
};

// Each appends one entry, its header included, to `out`.
void encodePosixAttributes(const PosixAttributes& fields, std::vector<uint8_t>& out);
void encodeAlternateName(const AlternateName& fields, std::vector<uint8_t>& out);
void encodeTimestamps(const Timestamps& fields, std::vector<uint8_t>& out);

}  // namespace iso_record
