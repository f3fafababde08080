#include "iso/image_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "iso/image_source.h"
#include "iso/limits.h"
#include "platform/extent_clone.h"
#include "platform/interrupt.h"
#include "platform/local_file.h"

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
bool movePieces(uint64_t size, uint32_t pieceSize, Move& move,
                const std::function<void(uint32_t)>& piece) {
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

}  // namespace

ImageOutput::~ImageOutput() {
    closePipe();
    closeSource();
    if (fd >= 0) {
        ::close(fd);
    }
}

int ImageOutput::openSource(const CopySource& source) {
    if (source.image != nullptr) {
        if (source != openSourceKey) {
            closeSource();
            openSourceKey = source;
        }
        return source.image->fileDescriptor();
    }
    if (openSourceFd >= 0 && source == openSourceKey) {
        return openSourceFd;
    }
    closeSource();
    openSourceFd = openLocalSource(source).release();
    ownsSourceFd = true;
    openSourceKey = source;
    return openSourceFd;
}

void ImageOutput::closeSource() {
    if (openSourceFd >= 0 && ownsSourceFd) {
        ::close(openSourceFd);
    }
    openSourceFd = -1;
    ownsSourceFd = false;
    openSourceKey = CopySource(std::string());
}

void ImageOutput::create(const std::string& outputPath) {
    path = outputPath;
    struct stat status;
    if (::lstat(outputPath.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            throw std::runtime_error("can not create " + outputPath + ": " + errorText(EISDIR));
        }
        if (::unlink(outputPath.c_str()) != 0 && errno != ENOENT) {
            throw std::runtime_error("can not remove what stands at " + outputPath + ": " +
                                     errorText(errno));
        }
    }
    // Something planted between the removal and this call makes it fail, never followed.
    fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::runtime_error("can not create " + outputPath + ": " + errorText(errno));
    }
    if (::fstat(fd, &status) != 0) {
        throw std::runtime_error("can not query " + outputPath + ": " + errorText(errno));
    }
    created = file_identity::of(status);
}

void ImageOutput::writeAt(uint64_t offset, const void* data, size_t size) {
    if (fd < 0) {
        throw std::runtime_error("the image file " + path + " is not open");
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (staging && offset >= stagedOffset && size <= staged.size() &&
        offset - stagedOffset <= staged.size() - size) {
        std::memcpy(staged.data() + (offset - stagedOffset), bytes, size);
        return;
    }
    writeThrough(offset, bytes, size);
}

void ImageOutput::stageRegion(uint64_t offset, size_t size) {
    staged.assign(size, 0);
    stagedOffset = offset;
    staging = true;
}

void ImageOutput::flushStaged() {
    if (!staging) {
        return;
    }
    staging = false;
    std::vector<uint8_t> region;
    region.swap(staged);
    writeAt(stagedOffset, region.data(), region.size());
}

void ImageOutput::writeThrough(uint64_t offset, const uint8_t* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        interrupt::throwIfRequested();
        const ssize_t written =
            ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::runtime_error("writing " + std::to_string(size - done) + " bytes at byte " +
                                     std::to_string(offset + done) + " of " + path +
                                     " failed: " + errorText(errno));
        }
        if (written == 0) {
            throw std::runtime_error("writing at byte " + std::to_string(offset + done) + " of " +
                                     path + " failed: nothing was written");
        }
        done += static_cast<size_t>(written);
    }
}

void ImageOutput::queueCopy(const CopySource& source, uint64_t sourceOffset, uint64_t offset,
                            uint64_t size, uint32_t blockSize,
                            const std::function<void(uint32_t)>& progress) {
    if (runWaiting && source == run.source && offset >= run.start &&
        sourceOffset >= run.sourceStart && offset - run.start == sourceOffset - run.sourceStart) {
        const uint64_t relative = offset - run.start;
        const uint64_t blockEnd = (run.length + blockSize - 1) / blockSize * blockSize;
        if (relative == blockEnd && relative + size <= iso_limits::kMaxCopyRun) {
            if (size > 0) {
                run.files.emplace_back(relative, relative + size);
                run.length = relative + size;
            }
            return;
        }
    }
    if (size == 0) {
        openSource(source);  // a missing source fails even when there is nothing to copy
        return;
    }
    flushCopies();
    openSource(source);
    run = CopyRun();
    run.source = source;
    run.sourceStart = sourceOffset;
    run.start = offset;
    run.length = size;
    run.files.emplace_back(0, size);
    run.progress = progress;
    runWaiting = true;
}

void ImageOutput::zeroGapsInKernelCopy(int source, uint64_t sourceStart, uint64_t start,
                                       const FileSpans& files) {
    uint8_t bytes[iso_limits::kDefaultBlockSize];
    for (size_t i = 0; i + 1 < files.size(); ++i) {
        const uint64_t gapStart = files[i].second;
        const size_t gap = static_cast<size_t>(files[i + 1].first - gapStart);
        if (gap == 0) {
            continue;
        }
        if (gap > sizeof bytes) {
            throw std::logic_error("gap of " + std::to_string(gap) + " bytes between two files");
        }
        const ssize_t got = ::pread(source, bytes, gap, static_cast<off_t>(sourceStart + gapStart));
        if (got == static_cast<ssize_t>(gap) &&
            std::all_of(bytes, bytes + gap, [](uint8_t byte) { return byte == 0; })) {
            continue;
        }
        std::memset(bytes, 0, gap);
        writeThrough(start + gapStart, bytes, gap);
    }
}

void ImageOutput::zeroGapsInBuffer(uint64_t relative, size_t size, const FileSpans& files,
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
            std::memset(buffer.data() + (from - relative), 0, static_cast<size_t>(to - from));
        }
    }
}

void ImageOutput::flushCopies() {
    if (!runWaiting) {
        return;
    }
    runWaiting = false;
    CopyRun waiting = std::move(run);
    run = CopyRun();
    // Pieces of the run are turned into the file bytes they held.
    uint64_t position = 0;
    size_t file = 0;
    auto piece = [&](uint32_t bytes) {
        const uint64_t end = position + bytes;
        uint64_t fileBytes = 0;
        while (file < waiting.files.size() && waiting.files[file].first < end) {
            const uint64_t from = std::max(waiting.files[file].first, position);
            const uint64_t to = std::min(waiting.files[file].second, end);
            fileBytes += to - from;
            if (waiting.files[file].second > end) {
                break;
            }
            ++file;
        }
        position = end;
        if (fileBytes > 0) {
            waiting.progress(static_cast<uint32_t>(fileBytes));
        }
    };
    copyRange(waiting.source, waiting.sourceStart, waiting.start, waiting.length, piece,
              &waiting.files);
}

void ImageOutput::copyFrom(const CopySource& source, uint64_t sourceOffset, uint64_t offset,
                           uint64_t size, const std::function<void(uint32_t)>& piece) {
    flushCopies();
    copyRange(source, sourceOffset, offset, size, piece, nullptr);
}

void ImageOutput::copyRange(const CopySource& from, uint64_t sourceOffset, uint64_t offset,
                            uint64_t size, const std::function<void(uint32_t)>& piece,
                            const FileSpans* files) {
    if (fd < 0) {
        throw std::runtime_error("the image file " + path + " is not open");
    }
    interrupt::throwIfRequested();
    const int source = openSource(from);
    if (size == 0) {
        return;
    }
    const std::string& sourcePath = from.name;
    if (source < 0) {
        // An image in memory: only a buffer can move its bytes.
        copyThroughBuffer(source, sourceOffset, offset, size, piece, from, files);
        return;
    }
    if (paths == CopyPaths::fastest && size >= iso_limits::kMinHoleProbeSize &&
        copyAroundHoles(from, source, sourceOffset, offset, size, piece)) {
        if (files != nullptr) {
            zeroGapsInKernelCopy(source, sourceOffset, offset, *files);
        }
        return;
    }
    // Where the file system shares extents between files, the whole blocks are shared
    // and only the bytes before and after them copied.
    const extent_clone::Shared shared =
        paths == CopyPaths::fastest
            ? extent_clone::shareBlocks(source, sourceOffset, fd, offset, size)
            : extent_clone::Shared{};
    if (!shared.empty()) {
        copyRange(from, sourceOffset, offset, shared.begin, piece, nullptr);
        for (uint64_t done = shared.begin; done < shared.end;) {
            const uint64_t step =
                std::min<uint64_t>(shared.end - done, iso_limits::kKernelCopyPieceSize);
            piece(static_cast<uint32_t>(step));
            done += step;
        }
        copyRange(from, sourceOffset + shared.end, offset + shared.end, size - shared.end, piece,
                  nullptr);
        if (files != nullptr) {
            zeroGapsInKernelCopy(source, sourceOffset, offset, *files);
        }
        return;
    }
    // The kernel copies fast only when source and image offsets lie at the same place
    // within the large page-cache units it writes (measured: a third slower otherwise);
    // elsewhere it moves the pages through a pipe faster than a copy through a buffer.
    const uint64_t unit = iso_limits::kKernelCopyAlignment;
    const bool unitsMatch = sourceOffset % unit == offset % unit;
    const bool inKernel = paths == CopyPaths::fastest && kernelCopy && unitsMatch &&
                          copyInKernel(source, sourceOffset, offset, size, piece, sourcePath);
    const bool throughPipe = !inKernel && paths != CopyPaths::bufferOnly && pipeCopy &&
                             copyThroughPipe(source, sourceOffset, offset, size, piece, sourcePath);
    if (inKernel || throughPipe) {
        if (files != nullptr) {
            zeroGapsInKernelCopy(source, sourceOffset, offset, *files);
        }
        return;
    }
    // A kernel copy or a move that is refused is refused before it moves anything.
    copyThroughBuffer(source, sourceOffset, offset, size, piece, from, files);
}

bool ImageOutput::copyAroundHoles(const CopySource& from, int source, uint64_t sourceOffset,
                                  uint64_t offset, uint64_t size,
                                  const std::function<void(uint32_t)>& piece) {
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
    auto skip = [&piece](uint64_t bytes) {
        while (bytes > 0) {
            const uint64_t step = std::min<uint64_t>(bytes, iso_limits::kKernelCopyPieceSize);
            piece(static_cast<uint32_t>(step));
            bytes -= step;
        }
    };
    for (uint64_t at = sourceOffset; at < end;) {
        interrupt::throwIfRequested();
        const uint64_t data = at == sourceOffset ? firstData : nextData(at, known);
        skip(data - at);
        if (data == end) {
            break;
        }
        // At least one byte moves, whatever the file system answers meanwhile.
        const uint64_t hole = std::max(nextHole(data), data + 1);
        // One piece of data, without holes: the copy below does not look for any.
        copyRange(from, data, offset + (data - sourceOffset), hole - data, piece, nullptr);
        at = hole;
    }
    return true;
}

bool ImageOutput::openPipe() {
    if (pipeEnds[0] >= 0) {
        return true;
    }
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
        return false;
    }
    // A larger pipe moves a whole piece per call; the default size still works.
    ::fcntl(pipeEnds[1], F_SETPIPE_SZ, static_cast<int>(iso_limits::kCopyPieceSize));
    return true;
}

void ImageOutput::closePipe() {
    for (int& end : pipeEnds) {
        if (end >= 0) {
            ::close(end);
            end = -1;
        }
    }
}

bool ImageOutput::copyThroughPipe(int source, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                                  const std::function<void(uint32_t)>& piece,
                                  const std::string& sourcePath) {
    if (!openPipe()) {
        pipeCopy = false;
        return false;
    }
    loff_t in = static_cast<loff_t>(sourceOffset);
    loff_t out = static_cast<loff_t>(offset);
    auto move = [&](size_t want, bool first) {
        const ssize_t filled = ::splice(source, &in, pipeEnds[1], nullptr, want, SPLICE_F_MOVE);
        if (filled < 0) {
            const int error = errno;
            if (error == EINTR) {
                return kMoveAgain;
            }
            if (first && (error == EINVAL || error == ENOSYS)) {
                pipeCopy = false;
                return kMoveRefused;
            }
            throw std::runtime_error("reading " + std::to_string(want) + " bytes at byte " +
                                     std::to_string(in) + " of " + sourcePath +
                                     " failed: " + errorText(error));
        }
        if (filled == 0) {
            throw sourceEndsEarly(sourcePath, static_cast<uint64_t>(in));
        }
        for (size_t drained = 0; drained < static_cast<size_t>(filled);) {
            const ssize_t moved = ::splice(pipeEnds[0], nullptr, fd, &out,
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
                                         " bytes at byte " + std::to_string(out) + " of " + path +
                                         " failed: " + errorText(error));
            }
            drained += static_cast<size_t>(moved);
        }
        return filled;
    };
    return movePieces(size, iso_limits::kCopyPieceSize, move, piece);
}

bool ImageOutput::copyInKernel(int source, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                               const std::function<void(uint32_t)>& piece,
                               const std::string& sourcePath) {
    auto move = [&](size_t want, bool first) {
        loff_t in = static_cast<loff_t>(sourceOffset);
        loff_t out = static_cast<loff_t>(offset);
        const ssize_t copied = ::copy_file_range(source, &in, fd, &out, want, 0);
        if (copied < 0) {
            const int error = errno;
            if (error == EINTR) {
                return kMoveAgain;
            }
            if (first && (error == EXDEV || error == EINVAL || error == ENOSYS ||
                          error == EOPNOTSUPP || error == EBADF || error == EPERM)) {
                kernelCopy = false;
                return kMoveRefused;
            }
            throw std::runtime_error("copying " + std::to_string(want) + " bytes from byte " +
                                     std::to_string(sourceOffset) + " of " + sourcePath +
                                     " to byte " + std::to_string(offset) + " of " + path +
                                     " failed: " + errorText(error));
        }
        if (copied == 0) {
            throw sourceEndsEarly(sourcePath, sourceOffset);
        }
        sourceOffset += static_cast<uint64_t>(copied);
        offset += static_cast<uint64_t>(copied);
        return copied;
    };
    return movePieces(size, iso_limits::kKernelCopyPieceSize, move, piece);
}

void ImageOutput::copyThroughBuffer(int sourceFd, uint64_t sourceOffset, uint64_t offset,
                                    uint64_t size, const std::function<void(uint32_t)>& piece,
                                    const CopySource& source, const FileSpans* files) {
    const std::string& sourcePath = source.name;
    size_t nextFile = 0;
    uint64_t relative = 0;
    buffer.resize(iso_limits::kCopyPieceSize);
    uint64_t remaining = size;
    while (remaining > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
        size_t got = 0;
        if (sourceFd < 0) {
            interrupt::throwIfRequested();
            source.image->read(sourceOffset, buffer.data(), want);
            got = want;
        }
        while (got < want) {
            interrupt::throwIfRequested();
            const ssize_t n = ::pread(sourceFd, buffer.data() + got, want - got,
                                      static_cast<off_t>(sourceOffset + got));
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw std::runtime_error("reading " + std::to_string(want - got) +
                                         " bytes at byte " + std::to_string(sourceOffset + got) +
                                         " of " + sourcePath + " failed: " + errorText(errno));
            }
            if (n == 0) {
                throw sourceEndsEarly(sourcePath, sourceOffset + got);
            }
            got += static_cast<size_t>(n);
        }
        if (files != nullptr) {
            zeroGapsInBuffer(relative, want, *files, nextFile);
        }
        writeThrough(offset, buffer.data(), want);
        relative += want;
        sourceOffset += want;
        offset += want;
        remaining -= want;
        piece(static_cast<uint32_t>(want));
    }
}

void ImageOutput::extendTo(uint64_t size) {
    flushCopies();
    struct stat status;
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        throw std::runtime_error("can not query the size of " + path + ": " + errorText(errno));
    }
    if (static_cast<uint64_t>(status.st_size) < size &&
        ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        throw std::runtime_error("extending " + path + " to " + std::to_string(size) +
                                 " bytes failed: " + errorText(errno));
    }
}

void ImageOutput::close() {
    flushCopies();
    closePipe();
    closeSource();
    if (fd < 0) {
        throw std::runtime_error("the image file " + path + " is not open");
    }
    const int result = ::close(fd);
    fd = -1;
    if (result != 0) {
        throw std::runtime_error("closing " + path + " failed: " + errorText(errno));
    }
}
