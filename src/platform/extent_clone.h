// Sharing file data between two files instead of copying it, on file systems whose files
// can share extents (btrfs, XFS with reflink): the blocks of the target then refer to the
// source's blocks, and a later write to either file gives it its own copy of that block.
#pragma once

#include <cstdint>

namespace extent_clone {

// The part of a range that was shared, relative to the range's start; empty (begin ==
// end) when nothing was.
struct Shared {
    uint64_t begin = 0;
    uint64_t end = 0;
    bool empty() const { return begin == end; }
};

// Shares the whole file-system blocks of `size` bytes at `sourceOffset` of `source` with
// `target` at `targetOffset`, where the two offsets lie alike within a block. The bytes
// before `begin` and from `end` on are left for the caller to copy. Nothing is shared
// where the offsets lie differently, the range holds no whole block, or the file system
// refuses (no shared extents, another file system, a file it will not clone).
Shared shareBlocks(int source, uint64_t sourceOffset, int target, uint64_t targetOffset,
                   uint64_t size);

}  // namespace extent_clone
