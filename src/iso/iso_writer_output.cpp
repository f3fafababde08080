#include "iso/iso_writer_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "iso/limits.h"

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

uint64_t pageSize() {
    static const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

std::runtime_error sourceEndsEarly(const std::string& sourcePath, uint64_t at) {
    return std::runtime_error("source file " + sourcePath + " ends at byte " + std::to_string(at) +
                              ", before the data of the entry");
}

}  // namespace

ImageOutput::~ImageOutput() {
    closeSource();
    if (fd >= 0) {
        ::close(fd);
    }
}

int ImageOutput::openSource(const std::string& source) {
    if (openSourceFd >= 0 && source == openSourcePath) {
        return openSourceFd;
    }
    closeSource();
    openSourceFd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (openSourceFd < 0) {
        throw std::runtime_error("can not open source file " + source + ": " + errorText(errno));
    }
    openSourcePath = source;
    return openSourceFd;
}

void ImageOutput::closeSource() {
    if (openSourceFd >= 0) {
        ::close(openSourceFd);
        openSourceFd = -1;
    }
    openSourcePath.clear();
}

void ImageOutput::create(const std::string& outputPath) {
    path = outputPath;
    fd = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("can not create " + outputPath + ": " + errorText(errno));
    }
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

void ImageOutput::queueCopy(const std::string& sourcePath, uint64_t sourceOffset, uint64_t offset,
                            uint64_t size, uint32_t blockSize,
                            const std::function<void(uint32_t)>& progress) {
    if (runWaiting && sourcePath == run.source && offset >= run.start &&
        sourceOffset >= run.sourceStart && offset - run.start == sourceOffset - run.sourceStart) {
        const uint64_t relative = offset - run.start;
        const uint64_t blockEnd = (run.length + blockSize - 1) / blockSize * blockSize;
        if (relative == blockEnd && relative + size <= iso_limits::kMaxCopyRun &&
            sourceBytesAreZero(sourcePath, run.sourceStart + run.length, blockEnd - run.length)) {
            if (size > 0) {
                run.files.emplace_back(relative, relative + size);
                run.length = relative + size;
            }
            return;
        }
    }
    if (size == 0) {
        openSource(sourcePath);  // a missing source fails even when there is nothing to copy
        return;
    }
    flushCopies();
    openSource(sourcePath);
    run = CopyRun();
    run.source = sourcePath;
    run.sourceStart = sourceOffset;
    run.start = offset;
    run.length = size;
    run.files.emplace_back(0, size);
    run.progress = progress;
    runWaiting = true;
}

bool ImageOutput::sourceBytesAreZero(const std::string& source, uint64_t offset, uint64_t size) {
    if (size == 0) {
        return true;
    }
    uint8_t bytes[iso_limits::kDefaultBlockSize];
    if (size > sizeof bytes) {
        return false;
    }
    const int sourceFd = openSource(source);
    const ssize_t got = ::pread(sourceFd, bytes, size, static_cast<off_t>(offset));
    if (got != static_cast<ssize_t>(size)) {
        return false;
    }
    return std::all_of(bytes, bytes + size, [](uint8_t byte) { return byte == 0; });
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
    copyFrom(waiting.source, waiting.sourceStart, waiting.start, waiting.length, piece);
}

void ImageOutput::copyFrom(const std::string& sourcePath, uint64_t sourceOffset, uint64_t offset,
                           uint64_t size, const std::function<void(uint32_t)>& piece) {
    if (fd < 0) {
        throw std::runtime_error("the image file " + path + " is not open");
    }
    flushCopies();
    const int source = openSource(sourcePath);
    if (size == 0) {
        return;
    }
    uint64_t from = sourceOffset;
    uint64_t to = offset;
    // The kernel copies fast only when source and image offsets lie at the same place
    // within a memory page; otherwise a copy through a buffer costs less.
    const uint64_t page = pageSize();
    const bool pagesMatch = sourceOffset % page == offset % page;
    if (kernelCopy && pagesMatch && copyInKernel(source, from, to, size, piece, sourcePath)) {
        return;
    }
    const uint64_t done = to - offset;
    copyThroughBuffer(source, from, to, size - done, piece, sourcePath);
}

bool ImageOutput::copyInKernel(int source, uint64_t& sourceOffset, uint64_t& offset, uint64_t size,
                               const std::function<void(uint32_t)>& piece,
                               const std::string& sourcePath) {
    uint64_t remaining = size;
    while (remaining > 0) {
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(remaining, iso_limits::kKernelCopyPieceSize));
        // The progress marks come per piece, so a piece is copied completely first.
        size_t pieceDone = 0;
        while (pieceDone < want) {
            loff_t in = static_cast<loff_t>(sourceOffset);
            loff_t out = static_cast<loff_t>(offset);
            const ssize_t copied = ::copy_file_range(source, &in, fd, &out, want - pieceDone, 0);
            if (copied < 0) {
                const int error = errno;
                if (error == EINTR) {
                    continue;
                }
                if (pieceDone == 0 && remaining == size &&
                    (error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
                     error == EBADF || error == EPERM)) {
                    kernelCopy = false;
                    return false;
                }
                throw std::runtime_error(
                    "copying " + std::to_string(want - pieceDone) + " bytes from byte " +
                    std::to_string(sourceOffset) + " of " + sourcePath + " to byte " +
                    std::to_string(offset) + " of " + path + " failed: " + errorText(error));
            }
            if (copied == 0) {
                throw sourceEndsEarly(sourcePath, sourceOffset);
            }
            pieceDone += static_cast<size_t>(copied);
            sourceOffset += static_cast<uint64_t>(copied);
            offset += static_cast<uint64_t>(copied);
        }
        remaining -= want;
        piece(static_cast<uint32_t>(want));
    }
    return true;
}

void ImageOutput::copyThroughBuffer(int source, uint64_t sourceOffset, uint64_t offset,
                                    uint64_t size, const std::function<void(uint32_t)>& piece,
                                    const std::string& sourcePath) {
    buffer.resize(iso_limits::kCopyPieceSize);
    uint64_t remaining = size;
    while (remaining > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
        size_t got = 0;
        while (got < want) {
            const ssize_t n = ::pread(source, buffer.data() + got, want - got,
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
        writeAt(offset, buffer.data(), want);
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
