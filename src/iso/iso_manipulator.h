// Common base of the image classes: the directory tree, the block sizes and the
// progress counters that the reader, the writer and the modifier share.
#pragma once

#include <cstdint>
#include <vector>

#include "iso/directory_node.h"
#include "iso/limits.h"

class ISOManipulator {
  public:
    virtual ~ISOManipulator() = 0;

  protected:
    ISOManipulator() = default;
    ISOManipulator(const ISOManipulator&) = delete;
    ISOManipulator& operator=(const ISOManipulator&) = delete;

    // Progress marks after a piece of `bytes` bytes was copied: "0%", nine dots, "10%",
    // ... "100%" and a line end over a whole copy of `totalBytes` bytes.
    void advanceProgress(uint32_t bytes);

    NodeList root;  // the root directory's list, starting with its "." node
    // The old image's Joliet descriptor (2048 bytes) when it has one, else empty: the new
    // image then gets a Joliet tree of its own.
    std::vector<uint8_t> jolietDescriptor;
    uint16_t logicalBlockSize = iso_limits::kDefaultBlockSize;
    // The entries' System Use fields hold SUSP entries (the root's "." field starts with
    // SP): the writer may then continue them in areas of their own.
    bool systemUseIsSusp = false;
    uint16_t virtualSectorSize = iso_limits::kVirtualSectorSize;
    uint32_t totalBytes = 0;
    uint32_t bytesDone = 0;
    int32_t percentShown = 0;
};
