// The ISO 9660 and El Torito records the program reads and writes, field by field.
// Each record's layout is described once here, as offsets and widths; the encode and
// decode functions below are the only code that touches those bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Copies count bytes into a destination of destinationSize bytes, or throws a
// std::runtime_error naming both sizes and copies nothing.
void safeMemcpy(void* destination, uint32_t destinationSize, const void* source, uint32_t count);

namespace iso_record {

constexpr size_t kDescriptorSize = 2048;
constexpr char kStandardIdentifier[] = "CD001";
constexpr size_t kStandardIdentifierLength = 5;

// Primary Volume Descriptor (block 16).
namespace pvd {
constexpr size_t kType = 0;        // 1
constexpr size_t kStandardId = 1;  // "CD001"
constexpr size_t kVersion = 6;     // 1
constexpr size_t kSystemId = 8;    // 32 bytes
constexpr size_t kVolumeId = 40;   // 32 bytes
constexpr size_t kVolumeIdLength = 32;
constexpr size_t kVolumeSpaceSize = 80;        // both-endian 32
constexpr size_t kVolumeSetSize = 120;         // both-endian 16
constexpr size_t kVolumeSequenceNumber = 124;  // both-endian 16
constexpr size_t kLogicalBlockSize = 128;      // both-endian 16
constexpr size_t kPathTableSize = 132;         // both-endian 32
constexpr size_t kTypeLPathTable = 140;        // little-endian 32
constexpr size_t kOptionalTypeLPathTable = 144;
constexpr size_t kTypeMPathTable = 148;  // big-endian 32
constexpr size_t kOptionalTypeMPathTable = 152;
constexpr size_t kRootDirectoryRecord = 156;  // 34 bytes
constexpr size_t kRootDirectoryRecordLength = 34;
constexpr size_t kVolumeSetId = 190;     // 128 bytes
constexpr size_t kPublisherId = 318;     // 128 bytes
constexpr size_t kDataPreparerId = 446;  // 128 bytes
constexpr size_t kApplicationId = 574;   // 128 bytes
constexpr size_t kLongIdLength = 128;
constexpr size_t kCopyrightFileId = 702;  // 37 bytes
constexpr size_t kAbstractFileId = 739;
constexpr size_t kBibliographicFileId = 776;
constexpr size_t kCreationDate = 813;  // 17 bytes
constexpr size_t kModificationDate = 830;
constexpr size_t kExpirationDate = 847;
constexpr size_t kEffectiveDate = 864;
constexpr size_t kFileStructureVersion = 881;
constexpr size_t kReserved = 882;  // to the end of the block
static_assert(kRootDirectoryRecord + kRootDirectoryRecordLength == kVolumeSetId, "pvd layout");
static_assert(kApplicationId + kLongIdLength == kCopyrightFileId, "pvd layout");
static_assert(kBibliographicFileId + 37 == kCreationDate, "pvd layout");
static_assert(kEffectiveDate + 17 == kFileStructureVersion, "pvd layout");
}  // namespace pvd

// El Torito Boot Record Volume Descriptor (block 17).
namespace boot_record {
constexpr size_t kIndicator = 0;     // 0
constexpr size_t kStandardId = 1;    // "CD001"
constexpr size_t kVersion = 6;       // 1
constexpr size_t kBootSystemId = 7;  // 32 bytes
constexpr size_t kBootSystemIdLength = 32;
constexpr size_t kBootId = 39;          // 32 bytes
constexpr size_t kCatalogPointer = 71;  // little-endian 32
constexpr char kElToritoId[] = "EL TORITO SPECIFICATION";
constexpr size_t kElToritoIdLength = 23;
static_assert(kBootSystemId + kBootSystemIdLength == kBootId, "boot record layout");
static_assert(kBootId + 32 == kCatalogPointer, "boot record layout");
}  // namespace boot_record

// Boot catalog entries, 32 bytes each.
constexpr size_t kCatalogEntrySize = 32;

namespace validation_entry {
constexpr size_t kHeaderId = 0;    // 1
constexpr size_t kPlatformId = 1;  // 0 = 80x86
constexpr size_t kIdString = 4;    // 24 bytes
constexpr size_t kIdStringLength = 24;
constexpr size_t kChecksum = 28;  // little-endian 16
constexpr size_t kKey55 = 30;     // 0x55
constexpr size_t kKeyAA = 31;     // 0xAA
static_assert(kIdString + kIdStringLength == kChecksum, "validation entry layout");
}  // namespace validation_entry

namespace initial_entry {
constexpr size_t kBootIndicator = 0;  // 0x88 = bootable
constexpr size_t kMediaType = 1;      // 0 = no emulation
constexpr size_t kLoadSegment = 2;    // little-endian 16
constexpr size_t kSystemType = 4;
constexpr size_t kSectorCount = 6;  // little-endian 16
constexpr size_t kLoadRba = 8;      // little-endian 32
constexpr uint8_t kBootable = 0x88;
}  // namespace initial_entry

// Directory record: 33 fixed bytes, the identifier, a pad byte when its length is even.
namespace dir_record {
constexpr size_t kLength = 0;
constexpr size_t kExtendedAttributeLength = 1;
constexpr size_t kExtent = 2;          // both-endian 32
constexpr size_t kDataLength = 10;     // both-endian 32
constexpr size_t kRecordingDate = 18;  // 7 bytes
constexpr size_t kFlags = 25;
constexpr size_t kFileUnitSize = 26;
constexpr size_t kInterleaveGap = 27;
constexpr size_t kVolumeSequenceNumber = 28;  // both-endian 16
constexpr size_t kIdentifierLength = 32;
constexpr size_t kIdentifier = 33;
constexpr size_t kFixedPartSize = 33;
constexpr size_t kBufferSize = 545;  // fixed part plus 512 for identifier and pad
constexpr uint8_t kFlagHidden = 0x01;
constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kSelfIdentifier = 0x00;
constexpr uint8_t kParentIdentifier = 0x01;
static_assert(kRecordingDate + 7 == kFlags, "directory record layout");
static_assert(kVolumeSequenceNumber + 4 == kIdentifierLength, "directory record layout");
}  // namespace dir_record

// Path table record: 8 fixed bytes, the identifier, a pad byte when its length is odd.
namespace path_record {
constexpr size_t kIdentifierLength = 0;
constexpr size_t kExtendedAttributeLength = 1;
constexpr size_t kExtent = 2;        // 32, byte order of the table
constexpr size_t kParentNumber = 6;  // 16, byte order of the table
constexpr size_t kIdentifier = 8;
constexpr size_t kFixedPartSize = 8;
}  // namespace path_record

constexpr size_t kRecordDateSize = 7;
constexpr size_t kVolumeDateSize = 17;

// Length of the directory record for an identifier of the given length (pad included).
inline uint32_t directoryRecordLength(size_t identifierLength) {
    return static_cast<uint32_t>(33 + identifierLength + (identifierLength % 2 == 0 ? 1 : 0));
}

// Length of the path table record for an identifier of the given length (pad included).
inline uint32_t pathTableRecordLength(size_t identifierLength) {
    return static_cast<uint32_t>(8 + identifierLength + (identifierLength % 2 == 1 ? 1 : 0));
}

// A directory record as read from an image.
struct DirectoryRecord {
    uint8_t length = 0;
    uint32_t extent = 0;
    uint32_t dataLength = 0;
    uint8_t flags = 0;
    uint8_t identifierLength = 0;
    std::string name;  // "." and ".." for the two special records

    bool isDirectory() const { return (flags & dir_record::kFlagDirectory) != 0; }
    bool isHidden() const { return (flags & dir_record::kFlagHidden) != 0; }
};

// Decodes the record at `offset` of `data` (`size` bytes in all). A length byte of 0
// yields a record of length 0 and nothing else. Throws std::runtime_error when the
// record is shorter than its fixed part, runs past the data, or its identifier runs
// past the record.
DirectoryRecord decodeDirectoryRecord(const uint8_t* data, size_t size, size_t offset);

// The entry name of a record: 0x00 is ".", 0x01 is "..", otherwise the identifier
// bytes up to the first zero byte.
std::string recordIdentifierName(const uint8_t* identifier, size_t length);

// A directory record to write.
struct DirectoryRecordFields {
    uint32_t extent = 0;
    uint32_t dataLength = 0;
    bool isDirectory = false;
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
