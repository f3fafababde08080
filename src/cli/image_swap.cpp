#include "cli/image_swap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/progress_line.h"
#include "platform/flush_file.h"
#include "platform/interrupt.h"
#include "platform/local_file.h"

namespace fs = boost::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw ImageSwapError(what + " " + path + ": " + std::strerror(error), false);
}

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
    uint64_t size = 0;
    const local_file::OpenFile source = local_file::openForReading(imagePath, size, "old image");
    const local_file::OpenFile target = local_file::createNew(backupPath, 0600);
    local_file::copyContents(source.fd(), target.fd(), imagePath, backupPath);
    carryOverOwnerAndMode(target.fd(), old, backupPath);
    if (::fsync(target.fd()) != 0) {
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
    } catch (const std::runtime_error& e) {
        boost::system::error_code ec;
        fs::remove(backupPath, ec);
        throw ImageSwapError("can not keep the old image at " + backupPath +
                                 ": link: " + std::strerror(linkError) + "; copy: " + e.what(),
                             false);
    }
}

void flushDirectory(const std::string& directory) {
    const local_file::OpenFile fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.fd() >= 0) {
        ::fsync(fd.fd());
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
    const local_file::OpenFile fresh(
        ::open(newImagePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fresh.fd() < 0) {
        fail("can not open the new image", newImagePath, errno);
    }
    struct stat status;
    if (::fstat(fresh.fd(), &status) != 0) {
        fail("can not query the new image", newImagePath, errno);
    }
    if (written.known && file_identity::of(status) != written) {
        checkStillWritten(newImagePath, written);
    }
    {
        const progress_line::Phase flushing("flush " + newImagePath,
                                            static_cast<uint64_t>(status.st_size));
        if (flush_file::flushToDisk(fresh.fd(), static_cast<uint64_t>(status.st_size)) != 0) {
            fail("can not flush to disk", newImagePath, errno);
        }
    }
    struct stat old;
    if (::stat(imagePath.c_str(), &old) != 0) {
        fail("can not query the image", imagePath, errno);
    }
    carryOverOwnerAndMode(fresh.fd(), old, newImagePath);

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
