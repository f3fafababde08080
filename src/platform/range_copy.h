// Copies of byte ranges from one file into another at absolute 64-bit positions, the
// fastest way the two files allow: extents shared where the file system shares them,
// only the data of a sparse source (its holes stay holes), a copy in the kernel where
// source and target offsets line up, pages moved through a pipe elsewhere, and a buffer
// where the kernel refuses both. Every failure throws std::runtime_error saying what was
// copied where and why it failed; a noted interrupt ends a copy within one piece with
// interrupt::Interrupted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/open_file.h"

namespace range_copy {

// The ways data may move. `fastest`: every way above. The others leave out the faster
// ways, so that tests can reach every way.
enum class Ways { fastest, pipeOrBuffer, bufferOnly };

// The pieces copies move in, chosen by the caller.
struct Sizes {
    uint32_t bufferPiece;      // through a buffer or a pipe
    uint32_t kernelPiece;      // in the kernel (no buffer needed)
    uint64_t kernelAlignment;  // the kernel copies where offsets agree modulo this
    uint64_t minHoleProbe;     // smaller copies do not look for holes
    size_t maxGap;             // the largest gap between two files of one copy
};

// Called after each piece with its length.
using Piece = std::function<void(uint32_t)>;
// [start, end) of each file's data within a copy, relative to its start; what lies
// between two files comes out as zeros.
using FileSpans = std::vector<std::pair<uint64_t, uint64_t>>;

// Where copied bytes come from: a descriptor, or, when `fd` is -1, `read` (exactly
// `count` bytes at `offset`, or it throws). `name` names it in failure texts.
struct Source {
    int fd = -1;
    std::string name;
    std::function<void(uint64_t offset, void* buffer, size_t count)> read;
};

// The failure text of a copy whose source ends at byte `at`, before the data it should hold.
std::string sourceEndsEarlyText(const std::string& source, uint64_t at);

class RangeCopier {
  public:
    RangeCopier(Ways ways, const Sizes& sizes) : ways_(ways), sizes_(sizes) {}

    // The file copies and writes go to (borrowed, not closed here), and its name in
    // failure texts.
    void setTarget(int fd, const std::string& path) {
        target_ = fd;
        path_ = path;
    }

    // Copies `size` bytes of `source` from `sourceOffset` to `offset` of the target.
    // Throws when the source ends early or a read or write fails. With `files`, the bytes
    // outside them are made zeros. Bytes of the target never written must read as zeros
    // (the holes of a sparse source are not written).
    void copy(const Source& source, uint64_t sourceOffset, uint64_t offset, uint64_t size,
              const Piece& piece, const FileSpans* files);

    // Writes `size` bytes at `offset` of the target.
    void writeAt(uint64_t offset, const uint8_t* bytes, size_t size);

    // Lets go of the pipe, if one was made.
    void closePipe();

  private:
    void zeroGapsInKernelCopy(int source, uint64_t sourceStart, uint64_t start,
                              const FileSpans& files);
    // Copies only the data of a sparse source, leaving its holes unwritten; returns false
    // when the range holds no hole (or the file system does not say), and nothing moved.
    bool copyAroundHoles(const Source& from, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                         const Piece& piece);
    void zeroGapsInBuffer(uint64_t relative, size_t size, const FileSpans& files, size_t& nextFile);
    // The kernel-side copy; returns false when this pair of files does not allow it.
    bool copyInKernel(const Source& from, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                      const Piece& piece);
    // Moves the data through a pipe with splice; returns false when the kernel refuses
    // before anything moved.
    bool copyThroughPipe(const Source& from, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                         const Piece& piece);
    bool openPipe();
    // Through a buffer, read with pread from the source's descriptor or through its reader.
    void copyThroughBuffer(const Source& from, uint64_t sourceOffset, uint64_t offset,
                           uint64_t size, const Piece& piece, const FileSpans* files);

    Ways ways_;
    Sizes sizes_;
    int target_ = -1;
    std::string path_;
    bool kernelCopy_ = true;
    bool pipeCopy_ = true;
    OpenFile pipeRead_;
    OpenFile pipeWrite_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> gap_;
};

}  // namespace range_copy
