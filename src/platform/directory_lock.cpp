#include "platform/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/file_identity.h"

DirectoryLock::~DirectoryLock() {
    release();
}

DirectoryLock::Outcome DirectoryLock::acquire(const std::string& directory) {
    release();
    OpenFile file(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const int fd = file.fd();
    if (fd < 0) {
        throw std::runtime_error("can not open the work directory " + directory + ": " +
                                 std::strerror(errno));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            return Outcome::busy;
        }
        throw std::runtime_error("can not lock the work directory " + directory + ": " +
                                 std::strerror(error));
    }
    struct stat opened;
    if (::fstat(fd, &opened) != 0 ||
        file_identity::of(opened) != file_identity::ofTarget(directory)) {
        return Outcome::busy;
    }
    file_ = std::move(file);
    return Outcome::locked;
}

void DirectoryLock::release() {
    file_ = OpenFile();
}
