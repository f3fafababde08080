#include "iso/records.h"

#include <cinttypes>
#include <cstring>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/byte_order.h"
#include "iso/limits.h"

using namespace iso_bytes;

void safeMemcpy(void* destination, uint32_t destinationSize, const void* source, uint32_t count) {
    if (destinationSize < count) {
        throw std::runtime_error(
            formatText("safe memcpy exception: destionation size smaller than length of data to "
                       "be copied - destination size %u, request size %u",
                       destinationSize, count));
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
                          formatText("directory record at byte %zu lies past the directory's "
                                     "%zu bytes",
                                     offset, size));
    }
    record.length = data[offset + dir_record::kLength];
    if (record.length == 0) {
        return record;
    }
    if (record.length < dir_record::kFixedPartSize) {
        throw RecordError(RecordError::Kind::badField,
                          formatText("directory record at byte %zu has length %u, shorter than "
                                     "its fixed part",
                                     offset, record.length));
    }
    if (record.length > size - offset) {
        throw RecordError(RecordError::Kind::badField,
                          formatText("directory record at byte %zu of length %u runs past the "
                                     "directory's %zu bytes",
                                     offset, record.length, size));
    }
    const uint8_t* bytes = data + offset;
    record.extent = getLe32(bytes, dir_record::kExtent);
    record.dataLength = getLe32(bytes, dir_record::kDataLength);
    record.flags = bytes[dir_record::kFlags];
    record.identifierLength = bytes[dir_record::kIdentifierLength];
    if (dir_record::kFixedPartSize + record.identifierLength > record.length) {
        throw RecordError(RecordError::Kind::badField,
                          formatText("directory record at byte %zu: identifier of %u bytes runs "
                                     "past the record's %u bytes",
                                     offset, record.identifierLength, record.length));
    }
    const uint8_t* identifier = bytes + dir_record::kIdentifier;
    record.special =
        record.identifierLength > 0 && (identifier[0] == dir_record::kSelfIdentifier ||
                                        identifier[0] == dir_record::kParentIdentifier);
    record.name = recordIdentifierName(identifier, record.identifierLength);
    record.identifier.assign(reinterpret_cast<const char*>(identifier), record.identifierLength);
    return record;
}

namespace {

std::string byteText(uint64_t at) {
    return formatText("byte %" PRIu64, at);
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

template <size_t N>
bool fieldIs(const std::array<uint8_t, N>& field, const char* text, size_t length) {
    return length <= N && std::memcmp(field.data(), text, length) == 0;
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

bool DescriptorHeader::hasIdentifier(const char* id) const {
    return fieldIs(identifier, id, kStandardIdentifierLength);
}

DescriptorHeader decodeDescriptorHeader(const uint8_t* bytes) {
    DescriptorHeader header;
    header.type = bytes[descriptor::kType];
    header.identifier = fieldBytes<kStandardIdentifierLength>(bytes, descriptor::kStandardId);
    header.version = bytes[descriptor::kVersion];
    return header;
}

bool PrimaryDescriptor::isJoliet() const {
    const uint8_t level = escapeSequences[2];
    return header.type == descriptor::kSupplementaryType && header.isStandard() &&
           fieldIs(escapeSequences, "%/", 2) && (level == '@' || level == 'C' || level == 'E');
}

PrimaryDescriptor decodePrimaryDescriptorFields(const uint8_t* bytes) {
    PrimaryDescriptor descriptor;
    descriptor.header = decodeDescriptorHeader(bytes);
    descriptor.logicalBlockSize = getLe16(bytes, pvd::kLogicalBlockSize);
    descriptor.volumeSpaceSize = getLe32(bytes, pvd::kVolumeSpaceSize);
    const uint8_t* root = bytes + pvd::kRootDirectoryRecord;
    descriptor.rootExtent = getLe32(root, dir_record::kExtent);
    descriptor.rootDataLength = getLe32(root, dir_record::kDataLength);
    descriptor.volumeId = fieldBytes<pvd::kVolumeIdLength>(bytes, pvd::kVolumeId);
    descriptor.volumeSetId = fieldBytes<pvd::kLongIdLength>(bytes, pvd::kVolumeSetId);
    descriptor.publisherId = fieldBytes<pvd::kLongIdLength>(bytes, pvd::kPublisherId);
    descriptor.dataPreparerId = fieldBytes<pvd::kLongIdLength>(bytes, pvd::kDataPreparerId);
    descriptor.applicationId = fieldBytes<pvd::kLongIdLength>(bytes, pvd::kApplicationId);
    descriptor.escapeSequences =
        fieldBytes<svd::kEscapeSequencesLength>(bytes, svd::kEscapeSequences);
    return descriptor;
}

void checkPrimaryDescriptor(const PrimaryDescriptor& descriptor, uint64_t at) {
    if (!descriptor.header.isStandard()) {
        throw notThisRecord("primary volume descriptor at " + byteText(at) +
                            ": no standard identifier CD001 at " + byteText(at + pvd::kStandardId));
    }
    // Only sizes that divide the 2048-byte sector are accepted; 0 would divide by zero
    // and odd sizes would misplace every extent.
    if (!isSupportedBlockSize(descriptor.logicalBlockSize)) {
        throw RecordError(
            RecordError::Kind::badField,
            formatText("logical block size %u at %s is not 512, 1024 or 2048",
                       descriptor.logicalBlockSize, byteText(at + pvd::kLogicalBlockSize).c_str()));
    }
}

PrimaryDescriptor decodePrimaryDescriptor(const uint8_t* bytes, uint64_t at) {
    PrimaryDescriptor descriptor = decodePrimaryDescriptorFields(bytes);
    checkPrimaryDescriptor(descriptor, at);
    return descriptor;
}

BootRecord decodeBootRecordFields(const uint8_t* bytes) {
    BootRecord record;
    record.header = decodeDescriptorHeader(bytes);
    record.bootSystemId =
        fieldBytes<boot_record::kBootSystemIdLength>(bytes, boot_record::kBootSystemId);
    record.catalogBlock = getLe32(bytes, boot_record::kCatalogPointer);
    return record;
}

void checkBootRecord(const BootRecord& record, uint64_t at) {
    const std::string place = "boot record at " + byteText(at) + ": ";
    if (record.header.type != descriptor::kBootRecordType) {
        throw notThisRecord(
            formatText("%sboot record indicator %u, not 0", place.c_str(), record.header.type));
    }
    if (!record.header.isStandard()) {
        throw notThisRecord(place + "no standard identifier CD001 at " +
                            byteText(at + boot_record::kStandardId));
    }
    if (record.header.version != descriptor::kCurrentVersion) {
        throw notThisRecord(
            formatText("%sversion %u, not 1", place.c_str(), record.header.version));
    }
    if (!fieldIs(record.bootSystemId, boot_record::kElToritoId, boot_record::kElToritoIdLength)) {
        throw notThisRecord(place + "the boot system identifier at " +
                            byteText(at + boot_record::kBootSystemId) + " is not \"" +
                            boot_record::kElToritoId + "\"");
    }
}

BootRecord decodeBootRecord(const uint8_t* bytes, uint64_t at) {
    BootRecord record = decodeBootRecordFields(bytes);
    checkBootRecord(record, at);
    return record;
}

ValidationEntry decodeValidationEntryFields(const uint8_t* bytes) {
    ValidationEntry entry;
    entry.headerId = bytes[validation_entry::kHeaderId];
    entry.platformId = bytes[validation_entry::kPlatformId];
    entry.checksum = getLe16(bytes, validation_entry::kChecksum);
    entry.key55 = bytes[validation_entry::kKey55];
    entry.keyAA = bytes[validation_entry::kKeyAA];
    return entry;
}

void checkValidationEntry(const ValidationEntry& entry, uint64_t at) {
    const std::string place = "validation entry at " + byteText(at) + ": ";
    if (entry.headerId != validation_entry::kHeader) {
        throw notThisRecord(formatText("%sheader ID %u, not 1", place.c_str(), entry.headerId));
    }
    if (entry.key55 != validation_entry::kKey55Value ||
        entry.keyAA != validation_entry::kKeyAAValue) {
        throw notThisRecord(formatText("%skey bytes %u %u, not 85 170 (0x55 0xAA)", place.c_str(),
                                       entry.key55, entry.keyAA));
    }
}

ValidationEntry decodeValidationEntry(const uint8_t* bytes, uint64_t at) {
    ValidationEntry entry = decodeValidationEntryFields(bytes);
    checkValidationEntry(entry, at);
    return entry;
}

InitialEntry decodeInitialEntryFields(const uint8_t* bytes) {
    InitialEntry entry;
    entry.bootIndicator = bytes[initial_entry::kBootIndicator];
    entry.mediaType = bytes[initial_entry::kMediaType];
    entry.loadSegment = getLe16(bytes, initial_entry::kLoadSegment);
    entry.systemType = bytes[initial_entry::kSystemType];
    entry.sectorCount = getLe16(bytes, initial_entry::kSectorCount);
    entry.loadRba = getLe32(bytes, initial_entry::kLoadRba);
    return entry;
}

void checkInitialEntry(const InitialEntry& entry, uint64_t at) {
    if (!entry.bootable()) {
        throw notThisRecord(
            formatText("initial entry at %s: boot indicator %u, not 136 (0x88, "
                       "bootable)",
                       byteText(at).c_str(), entry.bootIndicator));
    }
}

InitialEntry decodeInitialEntry(const uint8_t* bytes, uint64_t at) {
    InitialEntry entry = decodeInitialEntryFields(bytes);
    checkInitialEntry(entry, at);
    return entry;
}

void encodeEntryImage(uint8_t* entry, uint32_t loadRba, uint16_t sectorCount) {
    putLe32(entry, initial_entry::kLoadRba, loadRba);
    putLe16(entry, initial_entry::kSectorCount, sectorCount);
}

SectionHeader decodeSectionHeader(const uint8_t* bytes) {
    SectionHeader header;
    header.indicator = bytes[section_header::kIndicator];
    header.platformId = bytes[section_header::kPlatformId];
    header.entryCount = getLe16(bytes, section_header::kEntryCount);
    return header;
}

void encodeSectionHeaderCount(uint8_t* header, bool final, uint16_t entryCount) {
    header[section_header::kIndicator] = final ? section_header::kFinal : section_header::kMore;
    putLe16(header, section_header::kEntryCount, entryCount);
}

SectionExtension decodeSectionExtension(const uint8_t* bytes) {
    SectionExtension extension;
    extension.indicator = bytes[section_extension::kIndicator];
    extension.flags = bytes[section_extension::kFlags];
    return extension;
}

BootInfoTableFields decodeBootInfoTable(const uint8_t* loader) {
    BootInfoTableFields table;
    table.primaryDescriptorBlock = getLe32(loader, boot_info_table::kPrimaryDescriptorBlock);
    table.fileLba = getLe32(loader, boot_info_table::kFileLba);
    table.fileLength = getLe32(loader, boot_info_table::kFileLength);
    table.checksum = getLe32(loader, boot_info_table::kChecksum);
    return table;
}

uint32_t addLoaderWords(uint32_t sum, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; i += 4) {
        uint8_t word[4] = {};
        for (size_t b = 0; b < 4 && i + b < count; ++b) {
            word[b] = bytes[i + b];
        }
        sum += getLe32(word, 0);
    }
    return sum;
}

uint64_t decodeGrubPointer(const uint8_t* bytes) {
    return getLe64(bytes, 0);
}

void encodeBootInfoLocation(uint8_t* bytes, uint32_t fileLba, uint32_t fileLength) {
    putLe32(bytes, 0, fileLba);
    putLe32(bytes, boot_info_table::kFileLength - boot_info_table::kFileLba, fileLength);
}

void encodeBootInfoChecksum(uint8_t* bytes, uint32_t checksum) {
    putLe32(bytes, 0, checksum);
}

void encodeGrubPointer(uint8_t* bytes, uint64_t pointer) {
    putLe64(bytes, 0, pointer);
}

uint32_t directoryDataLength(const uint8_t* record) {
    return getLe32(record, dir_record::kDataLength);
}

uint8_t decodeDirectoryRecordLength(const uint8_t* record) {
    return record[dir_record::kLength];
}

void encodeDirectoryRecordLength(uint8_t* record, uint8_t length) {
    record[dir_record::kLength] = length;
}

void encodeRecordDate(const DateFields& date, uint8_t* bytes) {
    bytes[0] = static_cast<uint8_t>(date.yearsSince1900);
    bytes[1] = static_cast<uint8_t>(date.month);
    bytes[2] = static_cast<uint8_t>(date.day);
    bytes[3] = static_cast<uint8_t>(date.hour);
    bytes[4] = static_cast<uint8_t>(date.minute);
    bytes[5] = static_cast<uint8_t>(date.second);
    bytes[6] = static_cast<uint8_t>(date.gmtOffset);
}

void encodeVolumeDate(const DateFields& date, uint8_t* bytes) {
    constexpr size_t kDigits = kVolumeDateSize - 1;
    const std::string digits =
        formatText("%04d%02d%02d%02d%02d%02d00", (date.yearsSince1900 + 1900) % 10000, date.month,
                   date.day, date.hour, date.minute, date.second);
    std::memcpy(bytes, digits.data(), kDigits);
    bytes[kDigits] = static_cast<uint8_t>(date.gmtOffset);
}

uint32_t encodeDirectoryRecord(const DirectoryRecordFields& fields, uint8_t* buffer,
                               uint32_t bufferSize) {
    std::memset(buffer, 0, bufferSize);
    const bool named = fields.kind == DirectoryRecordFields::Kind::Named;
    const size_t identifierLength = named ? fields.identifier.size() : 1;
    const uint32_t length = directoryRecordLength(identifierLength);
    if (identifierLength > iso_limits::kMaxIdentifierLength || length > bufferSize) {
        throw std::runtime_error(
            formatText("identifier \"%s\" of %zu bytes does not fit a "
                       "directory record",
                       fields.identifier.c_str(), identifierLength));
    }
    encodeDirectoryRecordLength(buffer, static_cast<uint8_t>(length));
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
    if (identifier.size() > path_record::kMaxIdentifierLength || length > bufferSize) {
        throw std::runtime_error(
            formatText("identifier \"%s\" of %zu bytes does not fit a path "
                       "table record",
                       identifier.c_str(), identifier.size()));
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
    buffer[descriptor::kVersion] = descriptor::kCurrentVersion;
}

void putDescriptorText(uint8_t* buffer, size_t offset, size_t fieldSize, const std::string& text) {
    safeMemcpy(buffer + offset, static_cast<uint32_t>(fieldSize), text.data(),
               static_cast<uint32_t>(text.size()));
}

void encodeVolumeNumbers(const PrimaryDescriptorFields& fields, uint8_t* buffer) {
    putBoth32(buffer, pvd::kVolumeSpaceSize, fields.volumeSpaceSize);
    putBoth16(buffer, pvd::kVolumeSetSize, 1);
    putBoth16(buffer, pvd::kVolumeSequenceNumber, 1);
    putBoth16(buffer, pvd::kLogicalBlockSize, fields.logicalBlockSize);
    putBoth32(buffer, pvd::kPathTableSize, fields.pathTableSize);
    putLe32(buffer, pvd::kTypeLPathTable, fields.typeLPathTable);
    putLe32(buffer, pvd::kOptionalTypeLPathTable, 0);
    putBe32(buffer, pvd::kTypeMPathTable, fields.typeMPathTable);
    putBe32(buffer, pvd::kOptionalTypeMPathTable, 0);
    if (fields.rootRecord != nullptr) {
        safeMemcpy(buffer + pvd::kRootDirectoryRecord, pvd::kRootDirectoryRecordLength,
                   fields.rootRecord, pvd::kRootDirectoryRecordLength);
    }
}

void encodePrimaryDescriptor(const PrimaryDescriptorFields& fields, uint8_t* buffer) {
    std::memset(buffer, 0, kDescriptorSize);
    putStandardHeader(buffer, descriptor::kPrimaryType);
    encodeVolumeNumbers(fields, buffer);
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
    encodeEntryImage(entry, loadRba, sectorCount);
}

uint16_t catalogEntryWordSum(const uint8_t* entry) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kCatalogEntrySize; i += 2) {
        sum += getLe16(entry, i);
    }
    return static_cast<uint16_t>(sum);
}

}  // namespace iso_record

// ---------------------------------------------------------------------------------------
// The System Area: MBR, GPT, Apple partition map.

namespace iso_record {

namespace {

Chs decodeChs(const uint8_t* bytes) {
    using namespace mbr_partition;
    Chs chs;
    chs.head = bytes[0];
    chs.sector = static_cast<uint8_t>(bytes[1] & kChsSectorMask);
    chs.cylinder = static_cast<uint16_t>(((bytes[1] >> kChsCylinderHighShift) << 8) | bytes[2]);
    return chs;
}

void encodeChs(const Chs& chs, uint8_t* bytes) {
    using namespace mbr_partition;
    bytes[0] = chs.head;
    bytes[1] = static_cast<uint8_t>((chs.sector & kChsSectorMask) |
                                    ((chs.cylinder >> 8) << kChsCylinderHighShift));
    bytes[2] = static_cast<uint8_t>(chs.cylinder);
}

bool isZeroChs(const Chs& chs) {
    return chs.cylinder == 0 && chs.head == 0 && chs.sector == 0;
}

template <size_t N>
std::array<uint8_t, N> bytesAt(const uint8_t* bytes, size_t offset) {
    std::array<uint8_t, N> field;
    std::memcpy(field.data(), bytes + offset, N);
    return field;
}

template <size_t N>
void putBytes(uint8_t* bytes, size_t offset, const std::array<uint8_t, N>& field) {
    std::memcpy(bytes + offset, field.data(), N);
}

bool isZeroGuid(const Guid& guid) {
    for (const uint8_t b : guid) {
        if (b != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool MbrPartition::unused() const {
    return status == 0 && type == 0 && startLba == 0 && sectorCount == 0 && isZeroChs(start) &&
           isZeroChs(end);
}

Mbr decodeMbr(const uint8_t* sector) {
    Mbr fields;
    fields.hasSignature = std::memcmp(sector + mbr::kSignature, mbr::kSignatureBytes,
                                      sizeof mbr::kSignatureBytes) == 0;
    fields.bootAddress = getLe64(sector, mbr::kBootAddress);
    for (size_t i = 0; i < mbr::kPartitionCount; ++i) {
        const uint8_t* entry = sector + mbr::kPartitionTable + i * mbr::kPartitionSize;
        MbrPartition& partition = fields.partitions[i];
        partition.status = entry[mbr_partition::kStatus];
        partition.start = decodeChs(entry + mbr_partition::kStartChs);
        partition.type = entry[mbr_partition::kType];
        partition.end = decodeChs(entry + mbr_partition::kEndChs);
        partition.startLba = getLe32(entry, mbr_partition::kStartLba);
        partition.sectorCount = getLe32(entry, mbr_partition::kSectorCount);
    }
    return fields;
}

void encodeMbr(const Mbr& fields, uint8_t* sector) {
    if (fields.hasSignature) {
        std::memcpy(sector + mbr::kSignature, mbr::kSignatureBytes, sizeof mbr::kSignatureBytes);
    }
    putLe64(sector, mbr::kBootAddress, fields.bootAddress);
    for (size_t i = 0; i < mbr::kPartitionCount; ++i) {
        uint8_t* entry = sector + mbr::kPartitionTable + i * mbr::kPartitionSize;
        const MbrPartition& partition = fields.partitions[i];
        entry[mbr_partition::kStatus] = partition.status;
        encodeChs(partition.start, entry + mbr_partition::kStartChs);
        entry[mbr_partition::kType] = partition.type;
        encodeChs(partition.end, entry + mbr_partition::kEndChs);
        putLe32(entry, mbr_partition::kStartLba, partition.startLba);
        putLe32(entry, mbr_partition::kSectorCount, partition.sectorCount);
    }
}

bool GptHeader::hasSignature() const {
    return std::memcmp(signature.data(), gpt_header::kSignatureText, signature.size()) == 0;
}

bool GptEntry::unused() const {
    return isZeroGuid(typeGuid);
}

namespace {

// The little-endian numbers of the GPT header and entry, each as its offset and member.
template <typename Record, typename Number>
struct NumberField {
    size_t offset;
    Number Record::*member;
};

namespace header_fields {
using namespace gpt_header;
constexpr NumberField<GptHeader, uint32_t> k32[] = {
    {kRevision, &GptHeader::revision},     {kHeaderSize, &GptHeader::headerSize},
    {kHeaderCrc, &GptHeader::headerCrc},   {kReserved, &GptHeader::reserved},
    {kEntryCount, &GptHeader::entryCount}, {kEntrySize, &GptHeader::entrySize},
    {kEntriesCrc, &GptHeader::entriesCrc}};
constexpr NumberField<GptHeader, uint64_t> k64[] = {{kMyLba, &GptHeader::myLba},
                                                    {kAlternateLba, &GptHeader::alternateLba},
                                                    {kFirstUsableLba, &GptHeader::firstUsableLba},
                                                    {kLastUsableLba, &GptHeader::lastUsableLba},
                                                    {kEntriesLba, &GptHeader::entriesLba}};
}  // namespace header_fields

constexpr NumberField<GptEntry, uint64_t> kEntry64[] = {
    {gpt_entry::kStartLba, &GptEntry::startLba},
    {gpt_entry::kEndLba, &GptEntry::endLba},
    {gpt_entry::kAttributes, &GptEntry::attributes}};

// Reads or writes each of `fields` as a little-endian number of its member's width.
template <typename Record, typename Number, size_t N>
void getNumbers(const uint8_t* bytes, const NumberField<Record, Number> (&fields)[N],
                Record& record) {
    for (const auto& field : fields) {
        if constexpr (sizeof(Number) == sizeof(uint64_t)) {
            record.*field.member = getLe64(bytes, field.offset);
        } else {
            record.*field.member = getLe32(bytes, field.offset);
        }
    }
}

template <typename Record, typename Number, size_t N>
void putNumbers(uint8_t* bytes, const NumberField<Record, Number> (&fields)[N],
                const Record& record) {
    for (const auto& field : fields) {
        if constexpr (sizeof(Number) == sizeof(uint64_t)) {
            putLe64(bytes, field.offset, record.*field.member);
        } else {
            putLe32(bytes, field.offset, record.*field.member);
        }
    }
}

}  // namespace

GptHeader decodeGptHeader(const uint8_t* header) {
    GptHeader fields;
    fields.signature = bytesAt<gpt_header::kSignatureLength>(header, gpt_header::kSignature);
    fields.diskGuid = bytesAt<gpt_header::kGuidLength>(header, gpt_header::kDiskGuid);
    getNumbers(header, header_fields::k32, fields);
    getNumbers(header, header_fields::k64, fields);
    return fields;
}

void encodeGptHeader(const GptHeader& fields, uint8_t* header) {
    putBytes(header, gpt_header::kSignature, fields.signature);
    putBytes(header, gpt_header::kDiskGuid, fields.diskGuid);
    putNumbers(header, header_fields::k32, fields);
    putNumbers(header, header_fields::k64, fields);
}

GptEntry decodeGptEntry(const uint8_t* entry) {
    GptEntry fields;
    fields.typeGuid = bytesAt<gpt_header::kGuidLength>(entry, gpt_entry::kTypeGuid);
    fields.uniqueGuid = bytesAt<gpt_header::kGuidLength>(entry, gpt_entry::kUniqueGuid);
    getNumbers(entry, kEntry64, fields);
    for (size_t i = 0; i < gpt_entry::kNameUnits; ++i) {
        fields.name[i] = getLe16(entry, gpt_entry::kName + 2 * i);
    }
    return fields;
}

void encodeGptEntry(const GptEntry& fields, uint8_t* entry) {
    putBytes(entry, gpt_entry::kTypeGuid, fields.typeGuid);
    putBytes(entry, gpt_entry::kUniqueGuid, fields.uniqueGuid);
    putNumbers(entry, kEntry64, fields);
    for (size_t i = 0; i < gpt_entry::kNameUnits; ++i) {
        putLe16(entry, gpt_entry::kName + 2 * i, fields.name[i]);
    }
}

uint16_t decodeApmBlockSize(const uint8_t* area) {
    if (std::memcmp(area, apm::kDriverSignature, apm::kSignatureLength) != 0) {
        return 0;
    }
    return getBe16(area, apm::kBlockSize);
}

bool isApmEntry(const uint8_t* block) {
    return std::memcmp(block, apm::kEntrySignature, apm::kSignatureLength) == 0;
}

}  // namespace iso_record

// ---------------------------------------------------------------------------------------
// System Use entries: SUSP and Rock Ridge.

namespace iso_record {

namespace {

void appendEntry(std::vector<uint8_t>& out, const char* signature, size_t length) {
    SuspHeader header;
    header.signature = {signature[0], signature[1]};
    header.length = static_cast<uint8_t>(length);
    const size_t at = out.size();
    out.resize(at + length, 0);
    encodeSuspHeader(header, out.data() + at);
}

}  // namespace

bool SuspHeader::is(const char* twoLetters) const {
    return signature[0] == twoLetters[0] && signature[1] == twoLetters[1];
}

SuspHeader decodeSuspHeader(const uint8_t* entry) {
    SuspHeader header;
    header.signature = {static_cast<char>(entry[susp::kSignature]),
                        static_cast<char>(entry[susp::kSignature + 1])};
    header.length = entry[susp::kLength];
    header.version = entry[susp::kVersion];
    return header;
}

void encodeSuspHeader(const SuspHeader& header, uint8_t* entry) {
    entry[susp::kSignature] = static_cast<uint8_t>(header.signature[0]);
    entry[susp::kSignature + 1] = static_cast<uint8_t>(header.signature[1]);
    entry[susp::kLength] = header.length;
    entry[susp::kVersion] = header.version;
}

SuspIndicator decodeSuspIndicator(const uint8_t* entry) {
    SuspIndicator indicator;
    indicator.header = decodeSuspHeader(entry);
    indicator.check = bytesAt<sizeof susp_indicator::kCheckBytes>(entry, susp_indicator::kCheck);
    indicator.skip = entry[susp_indicator::kSkip];
    return indicator;
}

Continuation decodeContinuation(const uint8_t* entry) {
    Continuation fields;
    fields.block = getLe32(entry, susp_continuation::kBlock);
    fields.offset = getLe32(entry, susp_continuation::kOffset);
    fields.length = getLe32(entry, susp_continuation::kLength);
    return fields;
}

void encodeContinuation(const Continuation& fields, uint8_t* entry) {
    SuspHeader header;
    header.signature = {susp_signature::kContinuation[0], susp_signature::kContinuation[1]};
    header.length = susp_continuation::kSize;
    encodeSuspHeader(header, entry);
    putBoth32(entry, susp_continuation::kBlock, fields.block);
    putBoth32(entry, susp_continuation::kOffset, fields.offset);
    putBoth32(entry, susp_continuation::kLength, fields.length);
}

uint32_t decodeDirectoryLink(const uint8_t* entry) {
    return getLe32(entry, rr_link::kBlock);
}

void encodeDirectoryLink(uint32_t block, uint8_t* entry) {
    putBoth32(entry, rr_link::kBlock, block);
}

void encodePosixAttributes(const PosixAttributes& fields, std::vector<uint8_t>& out) {
    const size_t at = out.size();
    appendEntry(out, susp_signature::kPosixAttributes, rr_posix::kSize);
    const uint32_t values[rr_posix::kFieldCount] = {fields.mode, fields.links, fields.owner,
                                                    fields.group, fields.serial};
    for (size_t i = 0; i < rr_posix::kFieldCount; ++i) {
        putBoth32(out.data() + at, rr_posix::kMode + 8 * i, values[i]);
    }
}

void encodeAlternateName(const AlternateName& fields, std::vector<uint8_t>& out) {
    if (fields.piece.size() > rr_name::kMaxPiece) {
        throw std::logic_error("a piece of a name longer than an NM entry holds");
    }
    const size_t at = out.size();
    appendEntry(out, susp_signature::kAlternateName, rr_name::kName + fields.piece.size());
    out[at + rr_name::kFlags] = fields.flags;
    std::memcpy(out.data() + at + rr_name::kName, fields.piece.data(), fields.piece.size());
}

void encodeTimestamps(const Timestamps& fields, std::vector<uint8_t>& out) {
    const size_t at = out.size();
    appendEntry(out, susp_signature::kTimestamps,
                rr_times::kDates + kRecordDateSize * fields.dates.size());
    out[at + rr_times::kFlags] = fields.flags;
    uint8_t* date = out.data() + at + rr_times::kDates;
    for (const ShortDate& when : fields.dates) {
        const uint8_t bytes[kRecordDateSize] = {when.yearsSince1900,
                                                when.month,
                                                when.day,
                                                when.hour,
                                                when.minute,
                                                when.second,
                                                static_cast<uint8_t>(when.gmtOffset)};
        std::memcpy(date, bytes, kRecordDateSize);
        date += kRecordDateSize;
    }
}

}  // namespace iso_record
