// The System Use field of directory records: SUSP entries (Rock Ridge's PX, NM, SL, TF
// among them) read from a record and the continuation areas its CE entries name, kept on
// the entry as one run of entries, and written back into a new record with continuation
// areas of their own where the record has no room. An image without SUSP keeps each
// record's field as it was when it fits.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "iso/records.h"

class ImageSource;

namespace system_use {

constexpr size_t kEntryHeader = iso_record::susp::kHeaderSize;
constexpr size_t kContinuationLength = iso_record::susp_continuation::kSize;
// A directory record's length is one byte.
constexpr size_t kMaxRecordLength = 255;

// Whether the root's "." field (`field`) starts with the SUSP indicator SP.
bool startsWithSusp(const uint8_t* field, size_t size);

// The entries of the field `field` (`size` bytes) and of the continuation areas its CE
// entries name in `image`, in order, without the CE, ST and PD entries. Without SUSP
// (`susp` false) the field's bytes as they are. `budget` counts the continuation bytes
// read for the whole tree and may not exceed the image. Throws std::runtime_error, with
// `where` in its text, for a continuation area past the end of the image or larger than
// a block, a loop of continuations, too many of them, or a spent budget.
std::vector<uint8_t> gather(ImageSource& image, const uint8_t* field, size_t size, bool susp,
                            uint32_t blockSize, uint64_t& budget, const std::string& where);

// How entries are written for a record whose fixed part and identifier take `base` bytes:
// what goes into the record and the continuation areas (each at most one block, its
// own CE to the next area included).
struct Split {
    std::vector<uint8_t> inRecord;  // the CE to the first area not included
    std::vector<std::vector<uint8_t>> areas;
};
// A field of an image without SUSP always fits the record it came from.
Split split(const std::vector<uint8_t>& entries, size_t base, uint32_t blockSize);

// Bytes the record's field takes (a CE included, padded to an even record length).
size_t fieldLength(const Split& split, size_t base);

// Writes the record's field at `field` (fieldLength bytes), its CE naming `firstBlock`,
// and fills in the CE of each area for the one after it (areas at consecutive blocks).
void encode(Split& split, uint32_t firstBlock, size_t base, uint8_t* field);

// `entries` with the directory blocks of their CL and PL entries (Rock Ridge's links of
// relocated directories) replaced by `moved(old)`.
std::vector<uint8_t> withDirectoryLinks(const std::vector<uint8_t>& entries,
                                        const std::function<uint32_t(uint32_t)>& moved);

// Rock Ridge.
// Whether the entries hold Rock Ridge (RR, PX or NM).
bool hasRockRidge(const std::vector<uint8_t>& entries);
// PX (`mode`, one link, owner 0), NM (`name`, none for "" ) and TF (modify, access and
// attribute change at `modified`), for an entry added from a local file.
std::vector<uint8_t> rockRidgeEntries(uint32_t mode, const std::string& name, std::time_t modified);
// `entries` with their TF replaced by one at `modified` and, unless `name` is "", their NM
// by `name`.
std::vector<uint8_t> withTimes(const std::vector<uint8_t>& entries, std::time_t modified,
                               const std::string& name = "");

}  // namespace system_use
