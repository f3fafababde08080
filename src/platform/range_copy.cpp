#include "platform/range_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/extent_clone.h"
#include "platform/interrupt.h"

namespace range_copy {

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

std::runtime_error sourceEndsEarly(const std::string& sourcePath, uint64_t at) {
    return std::runtime_error(sourceEndsEarlyText(sourcePath, at));
}

// What a move of file data returns instead of a byte count: call again (the call was
// interrupted), or the kernel refuses this way of moving.
constexpr ssize_t kMoveAgain = -1;
constexpr ssize_t kMoveRefused = -2;

// Moves `size` bytes in pieces of at most `pieceSize`, reporting each piece to `piece`
// once it has moved completely. `move(want, first)` moves up to `want` bytes and returns
// how many, kMoveAgain or kMoveRefused; `first` says that nothing has moved yet, the only
// time a refusal may end the copy (returning false). A noted interrupt ends the copy with
// interrupt::Interrupted.
template <typename Move>
bool movePieces(uint64_t size, uint32_t pieceSize, Move& move, const Piece& piece) {
    uint64_t remaining = size;
    while (remaining > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, pieceSize));
        size_t pieceDone = 0;
        while (pieceDone < want) {
            interrupt::throwIfRequested();
            const ssize_t moved = move(want - pieceDone, remaining == size && pieceDone == 0);
            if (moved == kMoveAgain) {
                continue;
            }
            if (moved == kMoveRefused) {
                return false;
            }
            pieceDone += static_cast<size_t>(moved);
        }
        remaining -= want;
        piece(static_cast<uint32_t>(want));
    }
    return true;
}

// Reports `bytes` that moved without a copy (shared or left as a hole) in kernel pieces.
void reportUncopied(uint64_t bytes, uint32_t pieceSize, const Piece& piece) {
    while (bytes > 0) {
        const uint64_t step = std::min<uint64_t>(bytes, pieceSize);
        piece(static_cast<uint32_t>(step));
        bytes -= step;
    }
}

}  // namespace

std::string sourceEndsEarlyText(const std::string& source, uint64_t at) {
    return "source file " + source + " ends at byte " + std::to_string(at) +
           ", before the data of the entry";
}

void RangeCopier::writeAt(uint64_t offset, const uint8_t* bytes, size_t size) {
    interrupt::throwIfRequested();
    const file_io::Transfer put = file_io::writeAt(target_, offset, bytes, size);
    const uint64_t at = offset + put.done;
    if (put.failed()) {
        throw std::runtime_error("writing " + std::to_string(size - put.done) + " bytes at byte " +
                                 std::to_string(at) + " of " + path_ +
                                 " failed: " + errorText(put.error));
    }
    if (put.done < size) {
        throw std::runtime_error("writing at byte " + std::to_string(at) + " of " + path_ +
                                 " failed: nothing was written");
    }
}

void RangeCopier::zeroGapsInKernelCopy(int source, uint64_t sourceStart, uint64_t start,
                                       const FileSpans& files) {
    gap_.resize(sizes_.maxGap);
    for (size_t i = 0; i + 1 < files.size(); ++i) {
        const uint64_t gapStart = files[i].second;
        const size_t gap = static_cast<size_t>(files[i + 1].first - gapStart);
        if (gap == 0) {
            continue;
        }
        if (gap > gap_.size()) {
            throw std::logic_error("gap of " + std::to_string(gap) + " bytes between two files");
        }
        const file_io::Transfer got =
            file_io::readAt(source, sourceStart + gapStart, gap_.data(), gap);
        if (!got.failed() && got.done == gap &&
            std::all_of(gap_.begin(), gap_.begin() + static_cast<std::ptrdiff_t>(gap),
                        [](uint8_t byte) { return byte == 0; })) {
            continue;
        }
        std::fill(gap_.begin(), gap_.begin() + static_cast<std::ptrdiff_t>(gap), uint8_t{0});
        writeAt(start + gapStart, gap_.data(), gap);
    }
}

void RangeCopier::zeroGapsInBuffer(uint64_t relative, size_t size, const FileSpans& files,
                                   size_t& nextFile) {
    // Gap i lies between file i and file i + 1.
    const uint64_t end = relative + size;
    while (nextFile + 1 < files.size() && files[nextFile + 1].first <= relative) {
        ++nextFile;
    }
    for (size_t i = nextFile; i + 1 < files.size() && files[i].second < end; ++i) {
        const uint64_t from = std::max(files[i].second, relative);
        const uint64_t to = std::min(files[i + 1].first, end);
        if (from < to) {
            std::memset(buffer_.data() + (from - relative), 0, static_cast<size_t>(to - from));
        }
    }
}

void RangeCopier::copy(const Source& from, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                       const Piece& piece, const FileSpans* files) {
    interrupt::throwIfRequested();
    if (size == 0) {
        return;
    }
    const int source = from.fd;
    if (source < 0) {
        // Bytes without a descriptor (an image in memory): only a buffer can move them.
        copyThroughBuffer(from, sourceOffset, offset, size, piece, files);
        return;
    }
    if (ways_ == Ways::fastest && size >= sizes_.minHoleProbe &&
        copyAroundHoles(from, sourceOffset, offset, size, piece)) {
        if (files != nullptr) {
            zeroGapsInKernelCopy(source, sourceOffset, offset, *files);
        }
        return;
    }
    // Where the file system shares extents between files, the whole blocks are shared
    // and only the bytes before and after them copied.
    const extent_clone::Shared shared =
        ways_ == Ways::fastest
            ? extent_clone::shareBlocks(source, sourceOffset, target_, offset, size)
            : extent_clone::Shared{};
    if (!shared.empty()) {
        copy(from, sourceOffset, offset, shared.begin, piece, nullptr);
        reportUncopied(shared.end - shared.begin, sizes_.kernelPiece, piece);
        copy(from, sourceOffset + shared.end, offset + shared.end, size - shared.end, piece,
             nullptr);
        if (files != nullptr) {
            zeroGapsInKernelCopy(source, sourceOffset, offset, *files);
        }
        return;
    }
    // The kernel copies fast only when source and target offsets lie at the same place
    // within the large page-cache units it writes (measured: a third slower otherwise);
    // elsewhere it moves the pages through a pipe faster than a copy through a buffer.
    const uint64_t unit = sizes_.kernelAlignment;
    const bool unitsMatch = sourceOffset % unit == offset % unit;
    const bool inKernel = ways_ == Ways::fastest && kernelCopy_ && unitsMatch &&
                          copyInKernel(from, sourceOffset, offset, size, piece);
    const bool throughPipe = !inKernel && ways_ != Ways::bufferOnly && pipeCopy_ &&
                             copyThroughPipe(from, sourceOffset, offset, size, piece);
    if (inKernel || throughPipe) {
        if (files != nullptr) {
            zeroGapsInKernelCopy(source, sourceOffset, offset, *files);
        }
        return;
    }
    // A kernel copy or a move that is refused is refused before it moves anything.
    copyThroughBuffer(from, sourceOffset, offset, size, piece, files);
}

bool RangeCopier::copyAroundHoles(const Source& from, uint64_t sourceOffset, uint64_t offset,
                                  uint64_t size, const Piece& piece) {
    const int source = from.fd;
    const uint64_t end = sourceOffset + size;
    struct stat status;
    // A source shorter than the range is left to the copy, which says where it ends.
    if (::fstat(source, &status) != 0 || static_cast<uint64_t>(status.st_size) < end) {
        return false;
    }
    // Where the next data lies from `at` on; `end` when only a hole follows.
    auto nextData = [source, end](uint64_t at, bool& known) {
        const off_t data = ::lseek(source, static_cast<off_t>(at), SEEK_DATA);
        known = data >= 0 || errno == ENXIO;
        return data < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(data), end);
    };
    auto nextHole = [source, end](uint64_t at) {
        const off_t hole = ::lseek(source, static_cast<off_t>(at), SEEK_HOLE);
        return hole < 0 ? end : std::min<uint64_t>(static_cast<uint64_t>(hole), end);
    };
    bool known = false;
    const uint64_t firstData = nextData(sourceOffset, known);
    if (!known || (firstData == sourceOffset && nextHole(sourceOffset) == end)) {
        return false;
    }
    for (uint64_t at = sourceOffset; at < end;) {
        interrupt::throwIfRequested();
        const uint64_t data = at == sourceOffset ? firstData : nextData(at, known);
        reportUncopied(data - at, sizes_.kernelPiece, piece);
        if (data == end) {
            break;
        }
        // At least one byte moves, whatever the file system answers meanwhile.
        const uint64_t hole = std::max(nextHole(data), data + 1);
        // One piece of data, without holes: the copy below does not look for any.
        copy(from, data, offset + (data - sourceOffset), hole - data, piece, nullptr);
        at = hole;
    }
    return true;
}

bool RangeCopier::openPipe() {
    if (pipeRead_.isOpen()) {
        return true;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    pipeRead_ = OpenFile(ends[0]);
    pipeWrite_ = OpenFile(ends[1]);
    // A larger pipe moves a whole piece per call; the default size still works.
    ::fcntl(pipeWrite_.fd(), F_SETPIPE_SZ, static_cast<int>(sizes_.bufferPiece));
    return true;
}

void RangeCopier::closePipe() {
    pipeRead_ = OpenFile();
    pipeWrite_ = OpenFile();
}

bool RangeCopier::copyThroughPipe(const Source& from, uint64_t sourceOffset, uint64_t offset,
                                  uint64_t size, const Piece& piece) {
    if (!openPipe()) {
        pipeCopy_ = false;
        return false;
    }
    const int source = from.fd;
    loff_t in = static_cast<loff_t>(sourceOffset);
    loff_t out = static_cast<loff_t>(offset);
    auto move = [&](size_t want, bool first) {
        const ssize_t filled = ::splice(source, &in, pipeWrite_.fd(), nullptr, want, SPLICE_F_MOVE);
        if (filled < 0) {
            const int error = errno;
            if (error == EINTR) {
                return kMoveAgain;
            }
            if (first && (error == EINVAL || error == ENOSYS)) {
                pipeCopy_ = false;
                return kMoveRefused;
            }
            throw std::runtime_error("reading " + std::to_string(want) + " bytes at byte " +
                                     std::to_string(in) + " of " + from.name +
                                     " failed: " + errorText(error));
        }
        if (filled == 0) {
            throw sourceEndsEarly(from.name, static_cast<uint64_t>(in));
        }
        for (size_t drained = 0; drained < static_cast<size_t>(filled);) {
            const ssize_t moved = ::splice(pipeRead_.fd(), nullptr, target_, &out,
                                           static_cast<size_t>(filled) - drained, SPLICE_F_MOVE);
            if (moved < 0 && errno == EINTR) {
                continue;
            }
            if (moved <= 0) {
                const int error = moved < 0 ? errno : ENOSPC;
                // What is left in the pipe belongs to no later copy.
                closePipe();
                throw std::runtime_error("writing " +
                                         std::to_string(static_cast<size_t>(filled) - drained) +
                                         " bytes at byte " + std::to_string(out) + " of " + path_ +
                                         " failed: " + errorText(error));
            }
            drained += static_cast<size_t>(moved);
        }
        return filled;
    };
    return movePieces(size, sizes_.bufferPiece, move, piece);
}

bool RangeCopier::copyInKernel(const Source& from, uint64_t sourceOffset, uint64_t offset,
                               uint64_t size, const Piece& piece) {
    auto move = [&](size_t want, bool first) {
        loff_t in = static_cast<loff_t>(sourceOffset);
        loff_t out = static_cast<loff_t>(offset);
        const ssize_t copied = ::copy_file_range(from.fd, &in, target_, &out, want, 0);
        if (copied < 0) {
            const int error = errno;
            if (error == EINTR) {
                return kMoveAgain;
            }
            if (first && (error == EXDEV || error == EINVAL || error == ENOSYS ||
                          error == EOPNOTSUPP || error == EBADF || error == EPERM)) {
                kernelCopy_ = false;
                return kMoveRefused;
            }
            throw std::runtime_error("copying " + std::to_string(want) + " bytes from byte " +
                                     std::to_string(sourceOffset) + " of " + from.name +
                                     " to byte " + std::to_string(offset) + " of " + path_ +
                                     " failed: " + errorText(error));
        }
        if (copied == 0) {
            throw sourceEndsEarly(from.name, sourceOffset);
        }
        sourceOffset += static_cast<uint64_t>(copied);
        offset += static_cast<uint64_t>(copied);
        return copied;
    };
    return movePieces(size, sizes_.kernelPiece, move, piece);
}

void RangeCopier::copyThroughBuffer(const Source& from, uint64_t sourceOffset, uint64_t offset,
                                    uint64_t size, const Piece& piece, const FileSpans* files) {
    size_t nextFile = 0;
    uint64_t relative = 0;
    buffer_.resize(sizes_.bufferPiece);
    uint64_t remaining = size;
    while (remaining > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, buffer_.size()));
        interrupt::throwIfRequested();
        if (from.fd < 0) {
            from.read(sourceOffset, buffer_.data(), want);
        } else {
            const file_io::Transfer got =
                file_io::readAt(from.fd, sourceOffset, buffer_.data(), want);
            if (got.failed()) {
                throw std::runtime_error("reading " + std::to_string(want - got.done) +
                                         " bytes at byte " +
                                         std::to_string(sourceOffset + got.done) + " of " +
                                         from.name + " failed: " + errorText(got.error));
            }
            if (got.done < want) {
                throw sourceEndsEarly(from.name, sourceOffset + got.done);
            }
        }
        if (files != nullptr) {
            zeroGapsInBuffer(relative, want, *files, nextFile);
        }
        writeAt(offset, buffer_.data(), want);
        relative += want;
        sourceOffset += want;
        offset += want;
        remaining -= want;
        piece(static_cast<uint32_t>(want));
    }
}

}  // namespace range_copy
