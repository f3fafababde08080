// Fixture images for the reader suites, made by xorriso from a known tree, and helpers
// to patch their bytes into hostile variants.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iso/iso_reader.h"

namespace reader_fixture {

// The reader with the protected parts the tests look at.
class InspectReader : public ISOReader {
  public:
    using ISOReader::extractEntry;
    using ISOReader::ISOReader;
    using ISOReader::loadImage;
    using ISOReader::logicalBlockSize;
    using ISOReader::root;
    using ISOReader::totalBytes;
};

// The local tree every fixture image is made from:
//   WINBOM.INI, EMPTY.TXT (0 bytes), BLOCK.BIN (2048), BLOCKPLUS.BIN (2049),
//   boot.bin (2048, the El Torito no-emulation image), lower.txt,
//   I386/SYSTEM32/CONFIG/DEFAULT, I386/SYSTEM32/DRIVERS/NET.SYS,
//   PROGRAMS/A.EXE, PROGRAMS/B/B.DLL, EMPTYDIR/,
//   MANY/ with 150 files F000.DAT .. F149.DAT (a directory of several blocks).
void writeTree(const std::string& tree);

// Names of the files of the tree, relative, with "/" separators.
std::vector<std::string> treeFiles();

// Builds the image of writeTree once per process and returns its path; with `boot`,
// boot.bin becomes its El Torito boot image and boot.cat its catalog.
const std::string& sharedImage(bool boot = true);
const std::string& sharedTree();

// Byte offset of the directory record whose File Identifier is exactly `name` (the
// first one found); throws when there is none.
size_t findRecord(const std::vector<uint8_t>& image, const std::string& name);

// Byte offset of the start of the extent of the directory record at `record`.
uint64_t extentOffset(const std::vector<uint8_t>& image, size_t record, unsigned blockSize = 2048);

// Sets both halves of a both-endian 32-bit field.
void putBoth32(std::vector<uint8_t>& image, size_t offset, uint32_t value);

// A hand-made image: a primary volume descriptor at byte 32768 with any block size,
// directories and file data placed at chosen blocks. For shapes third-party tools do
// not make (other block sizes, hostile records).
class MiniImage {
  public:
    struct Entry {
        std::string identifier;  // raw File Identifier bytes
        uint32_t extent = 0;
        uint32_t size = 0;
        uint8_t flags = 0;  // 2 = directory, 1 = hidden
    };

    // An image of `blocks` blocks of `blockSize` bytes (at least up to byte 34816).
    MiniImage(uint16_t blockSize, uint32_t blocks);

    // The primary volume descriptor with the root directory at `rootExtent`.
    void descriptor(uint32_t rootExtent);
    // A directory at `extent`: its "." (size `dataLength`, 0 = what the records take,
    // rounded up to whole blocks) and ".." records, then `entries`. Records never span
    // a block boundary. Returns the directory's Data Length.
    uint32_t directory(uint32_t extent, uint32_t parentExtent, const std::vector<Entry>& entries,
                       uint32_t dataLength = 0);
    void data(uint32_t extent, const std::vector<uint8_t>& bytes);

    uint16_t blockSize() const { return blockSize_; }
    std::vector<uint8_t>& bytes() { return bytes_; }

  private:
    uint16_t blockSize_;
    std::vector<uint8_t> bytes_;
};

// Encodes one directory record at `offset`; returns its length.
size_t putRecord(std::vector<uint8_t>& image, size_t offset, const std::string& identifier,
                 uint32_t extent, uint32_t size, uint8_t flags);

}  // namespace reader_fixture
