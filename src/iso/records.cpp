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
        throw std::runtime_error("directory record at byte " + std::to_string(offset) +
                                 " lies past the directory's " + std::to_string(size) + " bytes");
    }
    record.length = data[offset + dir_record::kLength];
    if (record.length == 0) {
        return record;
    }
    if (record.length < dir_record::kFixedPartSize) {
        throw std::runtime_error("directory record at byte " + std::to_string(offset) +
                                 " has length " + std::to_string(record.length) +
                                 ", shorter than its fixed part");
    }
    if (record.length > size - offset) {
        throw std::runtime_error("directory record at byte " + std::to_string(offset) +
                                 " of length " + std::to_string(record.length) +
                                 " runs past the directory's " + std::to_string(size) + " bytes");
    }
    const uint8_t* bytes = data + offset;
    record.extent = getLe32(bytes, dir_record::kExtent);
    record.dataLength = getLe32(bytes, dir_record::kDataLength);
    record.flags = bytes[dir_record::kFlags];
    record.identifierLength = bytes[dir_record::kIdentifierLength];
    if (dir_record::kFixedPartSize + record.identifierLength > record.length) {
        throw std::runtime_error("directory record at byte " + std::to_string(offset) +
                                 ": identifier of " + std::to_string(record.identifierLength) +
                                 " bytes runs past the record's " + std::to_string(record.length) +
                                 " bytes");
    }
    record.name = recordIdentifierName(bytes + dir_record::kIdentifier, record.identifierLength);
    return record;
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
    buffer[dir_record::kFlags] = fields.isDirectory ? dir_record::kFlagDirectory : 0;
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
    safeMemcpy(buffer + path_record::kIdentifier, bufferSize - path_record::kIdentifier,
               identifier.data(), static_cast<uint32_t>(identifier.size()));
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
    buffer[0] = type;
    std::memcpy(buffer + 1, kStandardIdentifier, kStandardIdentifierLength);
    buffer[6] = 1;
}

void putDescriptorText(uint8_t* buffer, size_t offset, size_t fieldSize, const std::string& text) {
    safeMemcpy(buffer + offset, static_cast<uint32_t>(fieldSize), text.data(),
               static_cast<uint32_t>(text.size()));
}

void encodePrimaryDescriptor(const PrimaryDescriptorFields& fields, uint8_t* buffer) {
    std::memset(buffer, 0, kDescriptorSize);
    putStandardHeader(buffer, 1);
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
    putStandardHeader(buffer, 0);
    std::memcpy(buffer + boot_record::kBootSystemId, boot_record::kElToritoId,
                boot_record::kElToritoIdLength);
    putLe32(buffer, boot_record::kCatalogPointer, catalogBlock);
}

void encodeSetTerminator(uint8_t* buffer) {
    std::memset(buffer, 0, kDescriptorSize);
    putStandardHeader(buffer, 255);
}

void encodeValidationEntry(uint8_t* entry) {
    std::memset(entry, 0, kCatalogEntrySize);
    entry[validation_entry::kHeaderId] = 1;
    entry[validation_entry::kPlatformId] = 0;
    safeMemcpy(entry + validation_entry::kIdString, validation_entry::kIdStringLength,
               kValidationIdString, sizeof kValidationIdString - 1);
    putLe16(entry, validation_entry::kChecksum, kValidationChecksum);
    entry[validation_entry::kKey55] = 0x55;
    entry[validation_entry::kKeyAA] = 0xAA;
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
