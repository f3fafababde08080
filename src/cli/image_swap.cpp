#include "cli/image_swap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/interrupt.h"

namespace fs = boost::filesystem;

namespace {

constexpr size_t kCopyBufferSize = 1024 * 1024;

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw ImageSwapError(what + " " + path + ": " + std::strerror(error), false);
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::string directoryOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

// Owner and group where the process may set them (root may; others keep their own, or
// take the group when they belong to it), then the permission bits.
void carryOverOwnerAndMode(int fd, const struct stat& old, const std::string& path) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        if (errno != EPERM) {
            fail("can not give the old image's owner to", path, errno);
        }
        if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM) {
            fail("can not give the old image's group to", path, errno);
        }
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        fail("can not give the old image's mode to", path, errno);
    }
}

// A copy of the file `imagePath` leads to, as a new file at `backupPath` with the old
// image's mode and owner, flushed to disk.
void copyBackup(const std::string& imagePath, const std::string& backupPath,
                const struct stat& old) {
    const Descriptor source(::open(imagePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0) {
        fail("can not open the old image", imagePath, errno);
    }
    const Descriptor target(
        ::open(backupPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (target.get() < 0) {
        fail("can not create the backup", backupPath, errno);
    }
    std::vector<char> buffer(kCopyBufferSize);
    for (;;) {
        const ssize_t got = ::read(source.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            fail("can not read the old image", imagePath, errno);
        }
        if (got == 0) {
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t written = ::write(target.get(), buffer.data() + done, got - done);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                fail("can not write the backup", backupPath, written < 0 ? errno : ENOSPC);
            }
            done += written;
        }
    }
    carryOverOwnerAndMode(target.get(), old, backupPath);
    if (::fsync(target.get()) != 0) {
        fail("can not flush to disk", backupPath, errno);
    }
}

// A second name for the old image: a hard link when the file system allows one,
// otherwise a full copy. A link as the image is followed: the backup is its target.
void keepBackup(const std::string& imagePath, const std::string& backupPath,
                const struct stat& old) {
    if (::linkat(AT_FDCWD, imagePath.c_str(), AT_FDCWD, backupPath.c_str(), AT_SYMLINK_FOLLOW) ==
        0) {
        return;
    }
    const int linkError = errno;
    try {
        copyBackup(imagePath, backupPath, old);
    } catch (const ImageSwapError& e) {
        boost::system::error_code ec;
        fs::remove(backupPath, ec);
        throw ImageSwapError("can not keep the old image at " + backupPath +
                                 ": link: " + std::strerror(linkError) + "; copy: " + e.what(),
                             false);
    }
}

void flushDirectory(const std::string& directory) {
    const Descriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) {
        ::fsync(fd.get());
    }
}

void checkStillWritten(const std::string& newImagePath, const FileIdentity& written) {
    if (written.known && file_identity::ofEntry(newImagePath) != written) {
        throw ImageSwapError("the new image " + newImagePath +
                                 " is no longer the file that was written; the image is "
                                 "left as it was",
                             false);
    }
}

}  // namespace

void swapInNewImage(const std::string& imagePath, const std::string& newImagePath,
                    const std::string& backupPath, const FileIdentity& written) {
    const Descriptor fresh(::open(newImagePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fresh.get() < 0) {
        fail("can not open the new image", newImagePath, errno);
    }
    struct stat status;
    if (::fstat(fresh.get(), &status) != 0) {
        fail("can not query the new image", newImagePath, errno);
    }
    if (written.known && file_identity::of(status) != written) {
        checkStillWritten(newImagePath, written);
    }
    if (::fsync(fresh.get()) != 0) {
        fail("can not flush to disk", newImagePath, errno);
    }
    struct stat old;
    if (::stat(imagePath.c_str(), &old) != 0) {
        fail("can not query the image", imagePath, errno);
    }
    carryOverOwnerAndMode(fresh.get(), old, newImagePath);

    interrupt::throwIfRequested();
    const interrupt::Deferral deferral;
    interrupt::throwIfRequested();
    checkStillWritten(newImagePath, written);
    if (fs::exists(fs::symlink_status(backupPath))) {
        boost::system::error_code ec;
        fs::remove_all(backupPath, ec);
        if (ec) {
            throw ImageSwapError(
                "can not remove the old backup " + backupPath + ": " + ec.message(), false);
        }
    }
    keepBackup(imagePath, backupPath, old);
    if (std::rename(newImagePath.c_str(), imagePath.c_str()) != 0) {
        const int error = errno;
        throw ImageSwapError("can not rename the new image to " + imagePath + ": " +
                                 std::strerror(error) + "; the new image stays at " + newImagePath,
                             true);
    }
    // Makes the new names durable; the swap itself is complete either way.
    flushDirectory(directoryOf(imagePath));
}
