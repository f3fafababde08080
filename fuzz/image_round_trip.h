// The round trip of the fuzz target: an image the reader accepts is packed anew, wholly
// in memory, and the packed image must load again to the same tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What became of one input.
enum class RoundTrip { refused, tooLarge, notPacked, same };

// Loads `data` as an image; when it loads and its files hold at most `maxFileBytes` in
// all, packs it with the modifier into a MemoryImageSink and loads the result. Names,
// kinds, sizes and file data must agree entry for entry; when they do not, the
// difference is printed on standard error and the process aborts (a fuzz finding). A
// pack the writer refuses (a tree the format cannot hold, data past the image's end) is
// `notPacked`, not a finding.
RoundTrip roundTripImage(const uint8_t* data, size_t size, uint64_t maxFileBytes);

// Packs `data` again with the boot image extracted from it (`bootImagePath`), so that its
// whole boot catalog is carried over, and checks that the packed image's boot image loads
// and that every catalog entry points inside it; aborts otherwise.
void bootRoundTrip(const uint8_t* data, size_t size, const std::string& bootImagePath,
                   uint64_t maxFileBytes);
