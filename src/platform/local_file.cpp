#include "platform/local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/copy_progress.h"
#include "platform/interrupt.h"

namespace local_file {

namespace {

// Bytes asked of the kernel per in-kernel copy; it needs no buffer, so pieces are large.
constexpr size_t kKernelCopyPiece = 8 * 1024 * 1024;
// Buffer of the plain read/write copy.
constexpr size_t kBufferedCopyPiece = 1024 * 1024;

std::string errorText(int error) {
    return std::strerror(error);
}

std::runtime_error openFailure(const char* what, const std::string& path,
                               const std::string& reason) {
    return std::runtime_error(std::string("cannot open ") + what + " " + path + ": " + reason);
}

// Refuses a mode that is not a regular file's, naming the path and what it is.
void requireRegular(mode_t mode, const char* what, const std::string& path) {
    if (!S_ISREG(mode)) {
        throw openFailure(what, path, "it is " + kindOf(mode) + ", not a regular file");
    }
}

std::runtime_error copyFailure(const std::string& source, const std::string& target, int error) {
    return std::runtime_error("copying " + source + " to " + target +
                              " failed: " + errorText(error));
}

// The kernel refuses an in-kernel copy with these between some pairs of file systems, or
// for some kinds of files; the plain copy then does it.
bool kernelCopyRefused(int error) {
    return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP ||
           error == EINVAL;
}

}  // namespace

void copyContents(int in, int out, const std::string& source, const std::string& target) {
    bool copied = false;
    for (;;) {
        interrupt::throwIfRequested();
        const ssize_t count = ::copy_file_range(in, nullptr, out, nullptr, kKernelCopyPiece, 0);
        if (count > 0) {
            copied = true;
            copy_progress::moved(static_cast<uint64_t>(count));
            continue;
        }
        if (count == 0) {
            if (copied) {
                return;
            }
            // Some file systems report no data for files that have some; the plain copy
            // below reads what is there and ends at once for an empty file.
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (kernelCopyRefused(errno)) {
            break;
        }
        throw copyFailure(source, target, errno);
    }
    std::vector<char> buffer(kBufferedCopyPiece);
    for (;;) {
        interrupt::throwIfRequested();
        const file_io::Transfer got = file_io::readSome(in, buffer.data(), buffer.size());
        if (got.failed()) {
            throw copyFailure(source, target, got.error);
        }
        const file_io::Transfer put = file_io::writeAll(out, buffer.data(), got.done);
        if (put.done < got.done) {
            throw copyFailure(source, target, put.failed() ? put.error : ENOSPC);
        }
        if (got.done > 0) {
            copy_progress::moved(static_cast<uint64_t>(got.done));
        }
        if (got.done < buffer.size()) {
            return;  // the end of the file
        }
    }
}

std::string kindOf(unsigned mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return "a regular file";
        case S_IFDIR:
            return "a directory";
        case S_IFIFO:
            return "a FIFO";
        case S_IFSOCK:
            return "a socket";
        case S_IFCHR:
            return "a character device";
        case S_IFBLK:
            return "a block device";
        case S_IFLNK:
            return "a symbolic link";
        default:
            return "a special file";
    }
}

OpenFile openForReading(const std::string& path, uint64_t& size, const char* what) {
    // The kind is looked at before opening, as opening some devices acts on them and a
    // socket can not be opened at all; the opened file is looked at again below, in case
    // the path was changed in between.
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        throw openFailure(what, path, errorText(errno));
    }
    requireRegular(status.st_mode, what, path);
    // Non-blocking, so that a FIFO put in its place meanwhile does not wait for a writer.
    OpenFile file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.fd() < 0) {
        throw openFailure(what, path, errorText(errno));
    }
    if (::fstat(file.fd(), &status) != 0) {
        throw openFailure(what, path, errorText(errno));
    }
    requireRegular(status.st_mode, what, path);
    const int flags = ::fcntl(file.fd(), F_GETFL);
    if (flags < 0 || ::fcntl(file.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throw openFailure(what, path, errorText(errno));
    }
    size = static_cast<uint64_t>(status.st_size);
    return file;
}

OpenFile createNew(const std::string& path, unsigned mode) {
    OpenFile file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         static_cast<mode_t>(mode)));
    if (file.fd() < 0) {
        throw std::runtime_error("cannot create " + path + ": " + errorText(errno));
    }
    return file;
}

OpenFile rewrite(const std::string& path, unsigned mode) {
    auto refused = [&path](const std::string& reason) {
        return std::runtime_error("cannot create " + path + ": " + reason);
    };
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        throw refused("it is " + kindOf(status.st_mode) + ", not a regular file");
    }
    // Non-blocking, so that a FIFO put in its place meanwhile does not wait for a reader;
    // emptied only once it is known to be a regular file.
    OpenFile file(::open(path.c_str(),
                         O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                         static_cast<mode_t>(mode)));
    if (file.fd() < 0) {
        throw refused(errorText(errno));
    }
    if (::fstat(file.fd(), &status) != 0) {
        throw refused(errorText(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw refused("it is " + kindOf(status.st_mode) + ", not a regular file");
    }
    const int flags = ::fcntl(file.fd(), F_GETFL);
    if (flags < 0 || ::fcntl(file.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::ftruncate(file.fd(), 0) != 0) {
        throw refused(errorText(errno));
    }
    return file;
}

OpenFile createAfresh(const std::string& path, unsigned mode, FileIdentity& identity) {
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            throw std::runtime_error("can not create " + path + ": " + errorText(EISDIR));
        }
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            throw std::runtime_error("can not remove what stands at " + path + ": " +
                                     errorText(errno));
        }
    }
    // Something planted between the removal and this call makes it fail, never followed.
    OpenFile file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         static_cast<mode_t>(mode)));
    if (!file.isOpen()) {
        throw std::runtime_error("can not create " + path + ": " + errorText(errno));
    }
    if (::fstat(file.fd(), &status) != 0) {
        throw std::runtime_error("can not query " + path + ": " + errorText(errno));
    }
    identity = file_identity::of(status);
    return file;
}

void extendTo(int fd, const std::string& path, uint64_t size) {
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        throw std::runtime_error("can not query the size of " + path + ": " + errorText(errno));
    }
    if (static_cast<uint64_t>(status.st_size) < size &&
        ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        throw std::runtime_error("extending " + path + " to " + std::to_string(size) +
                                 " bytes failed: " + errorText(errno));
    }
}

void copyFile(const std::string& source, const std::string& target) {
    uint64_t size = 0;
    const OpenFile in = openForReading(source, size);
    copyOpenFile(in.fd(), source, target);
}

void copyOpenFile(int in, const std::string& source, const std::string& target) {
    // The copy keeps the source's permission bits (an image that records modes takes them
    // from it), and is always the run's own to rewrite and remove.
    struct stat status;
    const unsigned mode =
        ::fstat(in, &status) == 0 ? (static_cast<unsigned>(status.st_mode) & 0777u) | 0600u : 0644u;
    OpenFile out;
    try {
        out = createNew(target, mode);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("copying " + source + " failed: " + e.what());
    }
    try {
        copyContents(in, out.fd(), source, target);
        if (!out.close()) {
            throw copyFailure(source, target, errno);
        }
    } catch (...) {
        ::unlink(target.c_str());
        throw;
    }
}

}  // namespace local_file
