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

// Owns a file descriptor opened for reading.
class SourceFile {
  public:
    explicit SourceFile(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd < 0) {
            throw std::runtime_error("can not open source file " + path + ": " + errorText(errno));
        }
    }
    ~SourceFile() { ::close(fd); }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;
    int get() const { return fd; }

  private:
    int fd;
};

std::runtime_error sourceEndsEarly(const std::string& sourcePath, uint64_t at) {
    return std::runtime_error("source file " + sourcePath + " ends at byte " + std::to_string(at) +
                              ", before the data of the entry");
}

}  // namespace

ImageOutput::~ImageOutput() {
    if (fd >= 0) {
        ::close(fd);
    }
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

void ImageOutput::writeZerosAt(uint64_t offset, size_t size) {
    static const uint8_t zeros[4096] = {};
    while (size > 0) {
        const size_t piece = std::min(size, sizeof zeros);
        writeAt(offset, zeros, piece);
        offset += piece;
        size -= piece;
    }
}

void ImageOutput::copyFrom(const std::string& sourcePath, uint64_t sourceOffset, uint64_t offset,
                           uint64_t size, const std::function<void(uint32_t)>& piece) {
    if (fd < 0) {
        throw std::runtime_error("the image file " + path + " is not open");
    }
    SourceFile source(sourcePath);
    if (size == 0) {
        return;
    }
    uint64_t from = sourceOffset;
    uint64_t to = offset;
    if (kernelCopy && copyInKernel(source.get(), from, to, size, piece, sourcePath)) {
        return;
    }
    const uint64_t done = to - offset;
    copyThroughBuffer(source.get(), from, to, size - done, piece, sourcePath);
}

bool ImageOutput::copyInKernel(int source, uint64_t& sourceOffset, uint64_t& offset, uint64_t size,
                               const std::function<void(uint32_t)>& piece,
                               const std::string& sourcePath) {
    uint64_t remaining = size;
    while (remaining > 0) {
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(remaining, iso_limits::kCopyPieceSize));
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
    if (fd < 0) {
        throw std::runtime_error("the image file " + path + " is not open");
    }
    const int result = ::close(fd);
    fd = -1;
    if (result != 0) {
        throw std::runtime_error("closing " + path + " failed: " + errorText(errno));
    }
}
