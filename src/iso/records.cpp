#include "iso/records.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "iso/byte_order.h"
#include "iso/limits.h"

using namespace iso_bytes;

void safeMemcpy(void* destination, uint32_t destinationSize, const void* source, uint32_t count) {
    if (destinationSize < count) {
        const std::string reason = std::string("safe memcpy exception:") +
                                   " destionation size smaller than length of data to be copied -";
        char text[256];
        std::snprintf(text, sizeof text, "%s destination size %u, request size %u", reason.c_str(),
                      destinationSize, count);
        throw std::runtime_error(text);
    }
    if (count > 0) {
        std::memcpy(destination, source, count);
    }
}

namespace iso_record {

std::string recordIdentifierName(const uint8_t* identifier, size_t length) {
    if (length == 0) {
        return std::string();
    }
    if (identifier[0] == dir_record::kSelfIdentifier) {
        return ".";
    }
    if (identifier[0] == dir_record::kParentIdentifier) {
        return "..";
    }
    const void* zero = std::memchr(identifier, 0, length);
    const size_t nameLength =
        zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - identifier) : length;
    return std::string(reinterpret_cast<const char*>(identifier), nameLength);
}

DirectoryRecord decodeDirectoryRecord(const uint8_t* data, size_t size, size_t offset) {
    DirectoryRecord record;
    if (offset >= size) {
        throw RecordError(RecordError::Kind::badField,
                          "directory record at byte " + std::to_string(offset) +
                              " lies past the directory's " + std::to_string(size) + " bytes");
    }
    record.length = data[offset + dir_record::kLength];
    if (record.length == 0) {
        return record;
    }
    if (record.length < dir_record::kFixedPartSize) {
        throw RecordError(RecordError::Kind::badField,
                          "directory record at byte " + std::to_string(offset) + " has length " +
                              std::to_string(record.length) + ", shorter than its fixed part");
    }
    if (record.length > size - offset) {
        throw RecordError(RecordError::Kind::badField,
                          "directory record at byte " + std::to_string(offset) + " of length " +
                              std::to_string(record.length) + " runs past the directory's " +
                              std::to_string(size) + " bytes");
    }
    const uint8_t* bytes = data + offset;
    record.extent = getLe32(bytes, dir_record::kExtent);
    record.dataLength = getLe32(bytes, dir_record::kDataLength);
    record.flags = bytes[dir_record::kFlags];
    record.identifierLength = bytes[dir_record::kIdentifierLength];
    if (dir_record::kFixedPartSize + record.identifierLength > record.length) {
        throw RecordError(RecordError::Kind::badField,
                          "directory record at byte " + std::to_string(offset) +
                              ": identifier of " + std::to_string(record.identifierLength) +
                              " bytes runs past the record's " + std::to_string(record.length) +
                              " bytes");
    }
    const uint8_t* identifier = bytes + dir_record::kIdentifier;
    record.special =
        record.identifierLength > 0 && (identifier[0] == dir_record::kSelfIdentifier ||
                                        identifier[0] == dir_record::kParentIdentifier);
    record.name = recordIdentifierName(identifier, record.identifierLength);
    return record;
}

namespace {

std::string byteText(uint64_t at) {
    return "byte " + std::to_string(at);
}

RecordError notThisRecord(const std::string& text) {
    return RecordError(RecordError::Kind::notThisRecord, text);
}

template <size_t N>
std::array<uint8_t, N> fieldBytes(const uint8_t* bytes, size_t offset) {
    std::array<uint8_t, N> field;
    std::memcpy(field.data(), bytes + offset, N);
    return field;
}

bool isSupportedBlockSize(uint16_t size) {
    for (const uint16_t supported : iso_limits::kBlockSizes) {
        if (size == supported) {
            return true;
        }
    }
    return false;
}

}  // namespace

PrimaryDescriptor decodePrimaryDescriptor(const uint8_t* bytes, uint64_t at) {
    if (std::memcmp(bytes + pvd::kStandardId, kStandardIdentifier, kStandardIdentifierLength) !=
        0) {
        throw notThisRecord("primary volume descriptor at " + byteText(at) +
                            ": no standard identifier CD001 at " + byteText(at + pvd::kStandardId));
    }
    PrimaryDescriptor descriptor;
    // Only sizes that divide the 2048-byte sector are accepted; 0 would divide by zero
    // and odd sizes would misplace every extent.
    descriptor.logicalBlockSize = getLe16(bytes, pvd::kLogicalBlockSize);
    if (!isSupportedBlockSize(descriptor.logicalBlockSize)) {
        throw RecordError(RecordError::Kind::badField,
                          "logical block size " + std::to_string(descriptor.logicalBlockSize) +
                              " at " + byteText(at + pvd::kLogicalBlockSize) +
                              " is not 512, 1024 or 2048");
    }
    descriptor.volumeSpaceSize = getLe32(bytes, pvd::kVolumeSpaceSize);
    const uint8_t* root = bytes + pvd::kRootDirectoryRecord;
    descriptor.rootExtent = getLe32(root, dir_record::kExtent);
    descriptor.rootDataLength = getLe32(root, dir_record::kDataLength);
    descriptor.volumeId = fieldBytes<pvd::kVolumeIdLength>(bytes, pvd::kVolumeId);
    descriptor.volumeSetId = fieldBytes<pvd::kLongIdLength>(bytes, pvd::kVolumeSetId);
    descriptor.publisherId = fieldBytes<pvd::kLongIdLength>(bytes, pvd::kPublisherId);
    descriptor.dataPreparerId = fieldBytes<pvd::kLongIdLength>(bytes, pvd::kDataPreparerId);
    descriptor.applicationId = fieldBytes<pvd::kLongIdLength>(bytes, pvd::kApplicationId);
    return descriptor;
}

BootRecord decodeBootRecord(const uint8_t* bytes, uint64_t at) {
    const std::string place = "boot record at " + byteText(at) + ": ";
    if (bytes[boot_record::kIndicator] != descriptor::kBootRecordType) {
        throw notThisRecord(place + "boot record indicator " +
                            std::to_string(bytes[boot_record::kIndicator]) + ", not 0");
    }
    if (std::memcmp(bytes + boot_record::kStandardId, kStandardIdentifier,
                    kStandardIdentifierLength) != 0) {
        throw notThisRecord(place + "no standard identifier CD001 at " +
                            byteText(at + boot_record::kStandardId));
    }
    if (bytes[boot_record::kVersion] != 1) {
        throw notThisRecord(place + "version " + std::to_string(bytes[boot_record::kVersion]) +
                            ", not 1");
    }
    if (std::memcmp(bytes + boot_record::kBootSystemId, boot_record::kElToritoId,
                    boot_record::kElToritoIdLength) != 0) {
        throw notThisRecord(place + "the boot system identifier at " +
                            byteText(at + boot_record::kBootSystemId) + " is not \"" +
                            boot_record::kElToritoId + "\"");
    }
    BootRecord record;
    record.catalogBlock = getLe32(bytes, boot_record::kCatalogPointer);
    return record;
}

ValidationEntry decodeValidationEntry(const uint8_t* bytes, uint64_t at) {
    const std::string place = "validation entry at " + byteText(at) + ": ";
    if (bytes[validation_entry::kHeaderId] != validation_entry::kHeader) {
        throw notThisRecord(place + "header ID " +
                            std::to_string(bytes[validation_entry::kHeaderId]) + ", not 1");
    }
    if (bytes[validation_entry::kKey55] != validation_entry::kKey55Value ||
        bytes[validation_entry::kKeyAA] != validation_entry::kKeyAAValue) {
        throw notThisRecord(place + "key bytes " + std::to_string(bytes[validation_entry::kKey55]) +
                            " " + std::to_string(bytes[validation_entry::kKeyAA]) +
                            ", not 85 170 (0x55 0xAA)");
    }
    ValidationEntry entry;
    entry.platformId = bytes[validation_entry::kPlatformId];
    entry.checksum = getLe16(bytes, validation_entry::kChecksum);
    return entry;
}

InitialEntry decodeInitialEntry(const uint8_t* bytes, uint64_t at) {
    if (bytes[initial_entry::kBootIndicator] != initial_entry::kBootable) {
        throw notThisRecord("initial entry at " + byteText(at) + ": boot indicator " +
                            std::to_string(bytes[initial_entry::kBootIndicator]) +
                            ", not 136 (0x88, bootable)");
    }
    InitialEntry entry;
    entry.mediaType = bytes[initial_entry::kMediaType];
    entry.loadSegment = getLe16(bytes, initial_entry::kLoadSegment);
    entry.systemType = bytes[initial_entry::kSystemType];
    entry.sectorCount = getLe16(bytes, initial_entry::kSectorCount);
    entry.loadRba = getLe32(bytes, initial_entry::kLoadRba);
    return entry;
}

uint32_t encodeDirectoryRecord(const DirectoryRecordFields& fields, uint8_t* buffer,
                               uint32_t bufferSize) {
    std::memset(buffer, 0, bufferSize);
    const bool named = fields.kind == DirectoryRecordFields::Kind::Named;
    const size_t identifierLength = named ? fields.identifier.size() : 1;
    const uint32_t length = directoryRecordLength(identifierLength);
    if (identifierLength > iso_limits::kMaxIdentifierLength || length > bufferSize) {
        throw std::runtime_error("identifier \"" + fields.identifier + "\" of " +
                                 std::to_string(identifierLength) +
                                 " bytes does not fit a directory record");
    }
    buffer[dir_record::kLength] = static_cast<uint8_t>(length);
    putBoth32(buffer, dir_record::kExtent, fields.extent);
    putBoth32(buffer, dir_record::kDataLength, fields.dataLength);
    if (fields.recordingDate != nullptr) {
        safeMemcpy(buffer + dir_record::kRecordingDate, kRecordDateSize, fields.recordingDate,
                   kRecordDateSize);
    }
    buffer[dir_record::kFlags] =
        static_cast<uint8_t>((fields.isDirectory ? dir_record::kFlagDirectory : 0) |
                             (fields.multiExtent ? dir_record::kFlagMultiExtent : 0) |
                             (fields.hidden ? dir_record::kFlagHidden : 0));
    putBoth16(buffer, dir_record::kVolumeSequenceNumber, fields.volumeSequenceNumber);
    buffer[dir_record::kIdentifierLength] = static_cast<uint8_t>(identifierLength);
    if (fields.kind == DirectoryRecordFields::Kind::Self) {
        buffer[dir_record::kIdentifier] = dir_record::kSelfIdentifier;
    } else if (fields.kind == DirectoryRecordFields::Kind::Parent) {
        buffer[dir_record::kIdentifier] = dir_record::kParentIdentifier;
    } else {
        safeMemcpy(buffer + dir_record::kIdentifier,
                   static_cast<uint32_t>(bufferSize - dir_record::kIdentifier),
                   fields.identifier.data(), static_cast<uint32_t>(identifierLength));
    }
    return length;
}

static void putPathTableNumbers(uint8_t* buffer, uint32_t extent, uint16_t parentNumber,
                                bool bigEndian) {
    if (bigEndian) {
        putBe32(buffer, path_record::kExtent, extent);
        putBe16(buffer, path_record::kParentNumber, parentNumber);
    } else {
        putLe32(buffer, path_record::kExtent, extent);
        putLe16(buffer, path_record::kParentNumber, parentNumber);
    }
}

uint32_t encodePathTableRecord(const std::string& identifier, uint32_t extent,
                               uint16_t parentNumber, bool bigEndian, uint8_t* buffer,
                               uint32_t bufferSize) {
    const uint32_t length = pathTableRecordLength(identifier.size());
    if (identifier.size() > 255 || length > bufferSize) {
        throw std::runtime_error("identifier \"" + identifier + "\" of " +
                                 std::to_string(identifier.size()) +
                                 " bytes does not fit a path table record");
    }
    std::memset(buffer, 0, length);
    buffer[path_record::kIdentifierLength] = static_cast<uint8_t>(identifier.size());
    putPathTableNumbers(buffer, extent, parentNumber, bigEndian);
    safeMemcpy(buffer + path_record::kIdentifier,
               static_cast<uint32_t>(bufferSize - path_record::kIdentifier), identifier.data(),
               static_cast<uint32_t>(identifier.size()));
    return length;
}

uint32_t encodeRootPathTableRecord(uint32_t extent, bool bigEndian, uint8_t* buffer,
                                   uint32_t bufferSize) {
    const uint32_t length = pathTableRecordLength(1);
    if (length > bufferSize) {
        throw std::runtime_error("buffer too small for the root path table record");
    }
    std::memset(buffer, 0, length);
    buffer[path_record::kIdentifierLength] = 1;
    putPathTableNumbers(buffer, extent, 1, bigEndian);
    return length;
}

static void putStandardHeader(uint8_t* buffer, uint8_t type) {
    buffer[descriptor::kType] = type;
    std::memcpy(buffer + descriptor::kStandardId, kStandardIdentifier, kStandardIdentifierLength);
    buffer[descriptor::kVersion] = 1;
}

void putDescriptorText(uint8_t* buffer, size_t offset, size_t fieldSize, const std::string& text) {
    safeMemcpy(buffer + offset, static_cast<uint32_t>(fieldSize), text.data(),
               static_cast<uint32_t>(text.size()));
}

void encodePrimaryDescriptor(const PrimaryDescriptorFields& fields, uint8_t* buffer) {
    std::memset(buffer, 0, kDescriptorSize);
    putStandardHeader(buffer, descriptor::kPrimaryType);
    putBoth32(buffer, pvd::kVolumeSpaceSize, fields.volumeSpaceSize);
    putBoth16(buffer, pvd::kVolumeSetSize, 1);
    putBoth16(buffer, pvd::kVolumeSequenceNumber, 1);
    putBoth16(buffer, pvd::kLogicalBlockSize, fields.logicalBlockSize);
    putBoth32(buffer, pvd::kPathTableSize, fields.pathTableSize);
    putLe32(buffer, pvd::kTypeLPathTable, fields.typeLPathTable);
    putBe32(buffer, pvd::kTypeMPathTable, fields.typeMPathTable);
    if (fields.rootRecord != nullptr) {
        safeMemcpy(buffer + pvd::kRootDirectoryRecord, pvd::kRootDirectoryRecordLength,
                   fields.rootRecord, pvd::kRootDirectoryRecordLength);
    }
    if (fields.creationDate != nullptr) {
        safeMemcpy(buffer + pvd::kCreationDate, kVolumeDateSize, fields.creationDate,
                   kVolumeDateSize);
    }
    buffer[pvd::kFileStructureVersion] = 1;
}

void encodeBootRecord(uint32_t catalogBlock, uint8_t* buffer) {
    std::memset(buffer, 0, kDescriptorSize);
    putStandardHeader(buffer, descriptor::kBootRecordType);
    std::memcpy(buffer + boot_record::kBootSystemId, boot_record::kElToritoId,
                boot_record::kElToritoIdLength);
    putLe32(buffer, boot_record::kCatalogPointer, catalogBlock);
}

void encodeSetTerminator(uint8_t* buffer) {
    std::memset(buffer, 0, kDescriptorSize);
    putStandardHeader(buffer, descriptor::kTerminatorType);
}

void encodeValidationEntry(uint8_t* entry) {
    std::memset(entry, 0, kCatalogEntrySize);
    entry[validation_entry::kHeaderId] = validation_entry::kHeader;
    entry[validation_entry::kPlatformId] = 0;
    safeMemcpy(entry + validation_entry::kIdString, validation_entry::kIdStringLength,
               kValidationIdString, sizeof kValidationIdString - 1);
    putLe16(entry, validation_entry::kChecksum, kValidationChecksum);
    entry[validation_entry::kKey55] = validation_entry::kKey55Value;
    entry[validation_entry::kKeyAA] = validation_entry::kKeyAAValue;
}

void encodeInitialEntry(uint8_t systemType, uint16_t sectorCount, uint32_t loadRba,
                        uint8_t* entry) {
    std::memset(entry, 0, kCatalogEntrySize);
    entry[initial_entry::kBootIndicator] = initial_entry::kBootable;
    entry[initial_entry::kMediaType] = 0;
    putLe16(entry, initial_entry::kLoadSegment, 0);
    entry[initial_entry::kSystemType] = systemType;
    putLe16(entry, initial_entry::kSectorCount, sectorCount);
    putLe32(entry, initial_entry::kLoadRba, loadRba);
}

uint16_t catalogEntryWordSum(const uint8_t* entry) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kCatalogEntrySize; i += 2) {
        sum += getLe16(entry, i);
    }
    return static_cast<uint16_t>(sum);
}

}  // namespace iso_record
