#include "cli/image_swap.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

// Writes the file's data (or a directory's entries) through to the disk.
void flushToDisk(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        fail("can not open for flushing", path, errno);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        fail("can not flush to disk", path, error);
    }
    ::close(fd);
}

std::string directoryOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

// A second name for the old image: a hard link when the file system allows one,
// otherwise a full copy flushed to disk.
void keepBackup(const std::string& imagePath, const std::string& backupPath) {
    if (::link(imagePath.c_str(), backupPath.c_str()) == 0) {
        return;
    }
    const int linkError = errno;
    boost::system::error_code ec;
    fs::copy_file(imagePath, backupPath, ec);
    if (ec) {
        fs::remove(backupPath);
        throw std::runtime_error("can not keep the old image at " + backupPath +
                                 ": link: " + std::strerror(linkError) + "; copy: " + ec.message());
    }
    flushToDisk(backupPath, O_RDONLY);
}

}  // namespace

void swapInNewImage(const std::string& imagePath, const std::string& newImagePath,
                    const std::string& backupPath) {
    flushToDisk(newImagePath, O_RDONLY);
    if (fs::exists(fs::symlink_status(backupPath))) {
        fs::remove_all(backupPath);
    }
    keepBackup(imagePath, backupPath);
    if (std::rename(newImagePath.c_str(), imagePath.c_str()) != 0) {
        fail("can not rename the new image to", imagePath, errno);
    }
    // Makes the new names durable; the swap itself is complete either way.
    try {
        flushToDisk(directoryOf(imagePath), O_RDONLY | O_DIRECTORY);
    } catch (const std::runtime_error&) {
    }
}
