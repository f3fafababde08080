// Every limit of the image code, in one place, each with the reason it exists.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iso_limits {

// Logical block sizes a primary volume descriptor may declare; anything else
// (0 among them, which would divide by zero) marks an invalid image.
constexpr uint16_t kBlockSizes[] = {512, 1024, 2048};

// The block size every image starts with and the one the writer uses.
constexpr uint16_t kDefaultBlockSize = 2048;

// El Torito counts boot image sizes in virtual sectors of this many bytes.
constexpr uint16_t kVirtualSectorSize = 512;

// Fixed block positions, in blocks of kDefaultBlockSize bytes whatever block size the
// image declares: the system area, the primary volume descriptor right after it, the
// boot record after that, and the boot catalog the writer puts right after the
// terminator that follows the boot record.
constexpr uint32_t kSystemAreaBlocks = 16;
constexpr uint32_t kPrimaryDescriptorBlock = kSystemAreaBlocks;
constexpr uint32_t kBootRecordBlock = kPrimaryDescriptorBlock + 1;
constexpr uint32_t kBootCatalogBlock = kBootRecordBlock + 2;

// Byte offsets of the descriptors the program reads.
constexpr uint64_t kPrimaryDescriptorOffset = uint64_t{kPrimaryDescriptorBlock} * kDefaultBlockSize;
constexpr uint64_t kBootRecordOffset = uint64_t{kBootRecordBlock} * kDefaultBlockSize;

// Volume descriptors (and the UDF descriptors after the terminator) are looked for this
// many blocks far: real images have a handful, and a hostile set without a terminator
// ends the search here.
constexpr uint32_t kMaxDescriptorBlocks = 64;

// A directory may lie at most this many levels below the root of its tree (the root is
// level 0). The reader takes a deeper one as a hostile or broken image, and the writer
// refuses to write one, so it never writes an image its own reader refuses; it also
// bounds the recursion of loading, extracting and laying out a tree.
constexpr unsigned kMaxDirectoryDepth = 64;
constexpr bool exceedsDirectoryDepth(uint64_t level) {
    return level > kMaxDirectoryDepth;
}

// A directory record is at least its 33-byte fixed part plus a one-byte identifier.
constexpr unsigned kMinDirectoryRecordLength = 34;

// Longest identifier the writer puts into a directory record: a 255-byte record could
// carry 222 bytes, one is left for the System Use space common writers reserve.
constexpr unsigned kMaxIdentifierLength = 221;

// Path tables number directories with 16 bits.
constexpr uint32_t kMaxDirectories = 65535;

// Sizes and block numbers are 32-bit fields: a file (and a directory's records) holds
// at most kMaxFileSize bytes.
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;
constexpr uint64_t kMaxBlocks = 0xFFFFFFFFull;

// The boot catalog counts a boot image in 512-byte virtual sectors with 16 bits.
constexpr uint32_t kMaxBootSectorCount = 0xFFFF;

// The boot catalog is read from its one block: an entry past it, or a catalog that does
// not end inside it, marks the catalog's sections as unreadable.
constexpr uint32_t kMaxBootCatalogBytes = kDefaultBlockSize;

// Sizes of the emulated floppy disks of El Torito media types 1, 2 and 3.
constexpr uint64_t kFloppy12Bytes = 1228800;
constexpr uint64_t kFloppy144Bytes = 1474560;
constexpr uint64_t kFloppy288Bytes = 2949120;

// A boot info table validates over at most this many bytes of its file: the loaders
// that carry one are small, and the checksum reads the whole length.
constexpr uint64_t kMaxBootInfoTableLength = 64ull * 1024 * 1024;
// The checksum of a boot info table reads its file in pieces of this many bytes (a
// multiple of the table's 4-byte words).
constexpr size_t kBootInfoTablePieceSize = 64 * 1024;

// Pieces in which the writer moves file data through a buffer or a pipe: large enough
// that moving costs about what a plain file copy costs, small enough to keep the memory
// use flat.
constexpr uint32_t kCopyPieceSize = 1024 * 1024;
// Extracting a file from an image copies its data through a buffer of this many bytes,
// whatever the image's block size.
constexpr size_t kExtractPieceSize = 2048;
// Copies made by the kernel need no buffer; larger pieces save calls.
constexpr uint32_t kKernelCopyPieceSize = 8 * 1024 * 1024;
// Kernel copies are used only when source and image offsets agree modulo this many
// bytes, the size of the page-cache units the kernel fills when it writes a file;
// elsewhere the pages move through a pipe (measured: faster than both a kernel copy and
// a buffer there).
constexpr uint64_t kKernelCopyAlignment = 64 * 1024;
// A copy of at least this many bytes first asks the source where its holes are (a
// sparse file) and copies only its data: the new image reads as zeros where nothing was
// written. Smaller copies are not worth the two extra calls.
constexpr uint64_t kMinHoleProbeSize = 1024 * 1024;
// Consecutive file copies are merged into one copy of at most this many bytes.
constexpr uint64_t kMaxCopyRun = 64 * 1024 * 1024;

// The writer gathers path table records and writes them in pieces of about this many
// bytes.
constexpr size_t kPathTableWriteSize = 64 * 1024;

// The writer gathers the directory area in memory and writes it in one piece when it is
// at most this large; larger areas are written record by record.
constexpr uint64_t kMaxStagedDirectoryArea = 16 * 1024 * 1024;

// System Use continuation areas (CE) followed from one record; a longer chain is refused.
// Real images use one or two; the writer's own areas hold nearly as much as a block.
constexpr unsigned kMaxContinuationAreas = 64;

}  // namespace iso_limits
