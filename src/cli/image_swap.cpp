#include "cli/image_swap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/console_log.h"
#include "base/progress_line.h"
#include "platform/file_attributes.h"
#include "platform/flush_file.h"
#include "platform/interrupt.h"
#include "platform/local_file.h"
#include "platform/temp_name.h"

namespace fs = boost::filesystem;

namespace {

// Fresh names tried for the new backup before the swap gives up.
constexpr int kBackupNameTries = 64;

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw ImageSwapError(what + " " + path + ": " + std::strerror(error), false);
}

std::string directoryOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

// What can not be carried over is reported and the run goes on: the file keeps the bits
// it was created with, which give no one more than the old image did.
void warnNotCarried(const std::string& what, const std::string& path, int error) {
    logWarning("can not give the old image's %s to %s: %s", what.c_str(), path.c_str(),
               std::strerror(error));
}

// Owner and group where the process may set them (root may; others keep their own, or
// take the group when they belong to it), the extended attributes with the access
// control list, then the permission bits, as `cp -a` carries them. Without the old
// image's access control list its mode would open the group bits to the list's mask,
// so the file then keeps no more than the owner's bits it was created with.
void carryOverAttributes(int fd, int oldFd, const struct stat& old, const std::string& path) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        if (errno != EPERM) {
            warnNotCarried("owner", path, errno);
        } else if (::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0 && errno != EPERM) {
            warnNotCarried("group", path, errno);
        }
    }
    bool accessListLost = false;
    for (const file_attributes::Failure& failure : file_attributes::copyAll(oldFd, fd)) {
        if (failure.name.empty()) {
            warnNotCarried("extended attributes", path, failure.error);
        } else {
            warnNotCarried("extended attribute " + failure.name, path, failure.error);
        }
        accessListLost =
            accessListLost || failure.name.empty() || failure.name == file_attributes::kAccessList;
    }
    const mode_t mode = accessListLost ? (old.st_mode & 0600) : (old.st_mode & 07777);
    if (::fchmod(fd, mode) != 0) {
        warnNotCarried("mode", path, errno);
    }
}

// The new backup while it has its fresh name: removed again unless it was renamed to
// the backup path.
class PendingBackup {
  public:
    PendingBackup() = default;
    ~PendingBackup() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    PendingBackup(const PendingBackup&) = delete;
    PendingBackup& operator=(const PendingBackup&) = delete;

    void name(const std::string& path) { path_ = path; }
    const std::string& path() const { return path_; }

    // Renames it over `backupPath`; the old backup goes only with this rename.
    void renameTo(const std::string& backupPath) {
        if (std::rename(path_.c_str(), backupPath.c_str()) != 0) {
            const int error = errno;
            throw ImageSwapError("can not rename the new backup " + path_ + " to " + backupPath +
                                     ": " + std::strerror(error) + "; the image is left as it was",
                                 false);
        }
        // A rename between two names of one file does nothing; the fresh name then goes.
        if (file_identity::ofEntry(path_) == file_identity::ofEntry(backupPath)) {
            ::unlink(path_.c_str());
        }
        path_.clear();
    }

  private:
    std::string path_;
};

// A fresh name beside the backup path: hidden, short enough for any directory, and
// taken by no entry.
std::string freshBackupName(const std::string& backupPath, int attempt) {
    const unsigned number = temp_name::drawNonZeroNumber() + static_cast<unsigned>(attempt);
    return directoryOf(backupPath) + "/." + temp_name::formLeafName(number);
}

// A copy of the old image at the fresh name of `pending`, with the old image's owner,
// attributes and mode, flushed to disk.
void copyBackup(const OpenFile& source, const std::string& imagePath, const struct stat& old,
                const std::string& backupPath, PendingBackup& pending) {
    OpenFile target;
    for (int attempt = 0; attempt < kBackupNameTries && target.fd() < 0; ++attempt) {
        const std::string name = freshBackupName(backupPath, attempt);
        target = OpenFile(
            ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (target.fd() >= 0) {
            pending.name(name);
        } else if (errno != EEXIST) {
            fail("can not create", name, errno);
        }
    }
    if (target.fd() < 0) {
        fail("can not find a free name for the new backup beside", backupPath, EEXIST);
    }
    if (::lseek(source.fd(), 0, SEEK_SET) != 0) {
        fail("can not read", imagePath, errno);
    }
    local_file::copyContents(source.fd(), target.fd(), imagePath, pending.path());
    carryOverAttributes(target.fd(), source.fd(), old, backupPath);
    if (::fsync(target.fd()) != 0) {
        fail("can not flush to disk", pending.path(), errno);
    }
}

// A second name for the old image, made under a fresh name beside the backup path: a
// hard link when the file system allows one, otherwise a full copy. A link as the image
// is followed: the backup is its target. The copy may take long and stops when the run
// is interrupted; the old backup is not touched.
void makeBackup(const OpenFile& source, const std::string& imagePath, const struct stat& old,
                const std::string& backupPath, PendingBackup& pending) {
    int linkError = EEXIST;
    for (int attempt = 0; attempt < kBackupNameTries && linkError == EEXIST; ++attempt) {
        const std::string name = freshBackupName(backupPath, attempt);
        if (::linkat(AT_FDCWD, imagePath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            pending.name(name);
            return;
        }
        linkError = errno;
    }
    try {
        copyBackup(source, imagePath, old, backupPath, pending);
    } catch (const interrupt::Interrupted&) {
        throw;
    } catch (const std::runtime_error& e) {
        throw ImageSwapError("can not keep the old image at " + backupPath +
                                 ": link: " + std::strerror(linkError) + "; copy: " + e.what(),
                             false);
    }
}

void flushDirectory(const std::string& directory) {
    const OpenFile fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
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
    const OpenFile fresh(::open(newImagePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
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
    uint64_t size = 0;
    OpenFile source;
    try {
        source = local_file::openForReading(imagePath, size, "old image");
    } catch (const std::runtime_error& e) {
        throw ImageSwapError(e.what(), false);
    }
    struct stat old;
    if (::fstat(source.fd(), &old) != 0) {
        fail("can not query the image", imagePath, errno);
    }
    carryOverAttributes(fresh.fd(), source.fd(), old, newImagePath);

    interrupt::throwIfRequested();
    PendingBackup backup;
    makeBackup(source, imagePath, old, backupPath, backup);

    const interrupt::Deferral deferral;
    interrupt::throwIfRequested();
    checkStillWritten(newImagePath, written);
    backup.renameTo(backupPath);
    if (std::rename(newImagePath.c_str(), imagePath.c_str()) != 0) {
        const int error = errno;
        throw ImageSwapError("can not rename the new image to " + imagePath + ": " +
                                 std::strerror(error) + "; the new image stays at " + newImagePath,
                             true);
    }
    // Makes the new names durable; the swap itself is complete either way.
    flushDirectory(directoryOf(imagePath));
}
