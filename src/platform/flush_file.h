// Flushing a written file to disk, with a sign of life for a large one.
#pragma once

#include <cstdint>

namespace flush_file {

// Flushes the data and metadata of the open file `fd` of `size` bytes (fsync). While a
// progress line is shown, the data is first written back piece by piece, each piece
// counted on the line. Returns 0, or -1 with errno set.
int flushToDisk(int fd, uint64_t size);

}  // namespace flush_file
