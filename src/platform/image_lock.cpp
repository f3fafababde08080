#include "platform/image_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_identity.h"

ImageLock::~ImageLock() {
    release();
}

ImageLock::Outcome ImageLock::acquire(const std::string& imagePath) {
    release();
    // Only a regular file is opened: opening a device can have effects of its own.
    struct stat status;
    if (imagePath.empty() || ::stat(imagePath.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return Outcome::unlocked;
    }
    OpenFile file(::open(imagePath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    const int fd = file.fd();
    if (fd < 0) {
        return Outcome::unlocked;
    }
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        return Outcome::unlocked;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return error == EWOULDBLOCK ? Outcome::busy : Outcome::unlocked;
    }
    if (file_identity::of(opened) != file_identity::ofTarget(imagePath)) {
        return Outcome::busy;
    }
    file_ = std::move(file);
    return Outcome::locked;
}

void ImageLock::release() {
    file_ = OpenFile();
}
