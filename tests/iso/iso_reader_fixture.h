// Fixture images for the reader suites, made by xorriso from a known tree, and helpers
// to patch their bytes into hostile variants.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reader_fixture {

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

}  // namespace reader_fixture
