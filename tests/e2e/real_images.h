// Boot CDs with real loaders and several boot catalog entries, made at test time, and
// what third-party tools say about them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace real_images {

// One boot catalog entry as `xorriso -report_el_torito plain` lists it.
struct BootEntry {
    std::string platform;  // "BIOS", "UEFI", ...
    std::string media;     // "none", "fd1.4", "hd", ...
    uint32_t sectors = 0;
    uint32_t lba = 0;
};

std::vector<BootEntry> bootEntries(const std::string& image);

// The first block of the file at `isoPath` ("/DIR/NAME", its ISO 9660 name without
// version), as isoinfo lists it.
uint32_t extentOf(const std::string& image, const std::string& isoPath);

// The little-endian 32-bit number at `at` of `bytes`.
uint32_t le32(const std::string& bytes, size_t at);

// `count` bytes of the image file from block `lba` on.
std::string imageBytes(const std::string& image, uint32_t lba, size_t count);

// A FAT image at `path` (its directories made), a 1.44 MB floppy or `kilobytes` (a
// multiple of 32) long, holding one file at `file` ("::/DIR/NAME", directories made as
// needed): a copy of the local file `source`, or a small text. Made with mtools.
void makeFatImage(const std::string& path, const std::string& file, const std::string& source = "",
                  unsigned kilobytes = 1440);

}  // namespace real_images
