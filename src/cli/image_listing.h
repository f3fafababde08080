// --list: the image as the program reads it, for scripts. One line per entry of the
// tree, depth first in the image's order:
//   dir|file SIZE BLOCK PATH        (PATH as the options take it: \DOCS\README.TXT)
// then one line per boot catalog entry, the Initial/Default Entry first, then every
// section entry in catalog order:
//   boot ENTRY PLATFORM MEDIA BLOCK SIZE
// (ENTRY counts from 1, PLATFORM is the platform ID in hex, MEDIA the media type
// number, BLOCK the Load RBA, SIZE the bytes of the boot image).
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

struct DirectoryNode;

// One boot catalog entry as a listing shows it.
struct BootEntryLine {
    uint8_t platformId = 0;
    uint8_t mediaType = 0;
    uint32_t loadBlock = 0;
    uint64_t bytes = 0;
};

// Calls `visit` for every entry of `list` and below it, depth first in list order, with
// its full image path (\DOCS\README.TXT); `parent` is the path of the list's directory,
// "" for the root. The dot entries are left out.
void forEachImageEntry(const DirectoryNode* list, const std::string& parent,
                       const std::function<void(const DirectoryNode&, const std::string&)>& visit);

// Lists the image at `imagePath` to `out`; 0, or 1 after a warning naming why the image
// can not be read. Takes no lock and writes no file.
int listImage(const std::string& imagePath, std::ostream& out);

// The boot entries of the image: the Initial/Default Entry, then every section entry.
// Empty when the image has no El Torito boot record; throws std::runtime_error when
// it has one whose catalog can not be read.
std::vector<BootEntryLine> readBootEntries(const std::string& imagePath);
