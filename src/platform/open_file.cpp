#include "platform/open_file.h"

#include <unistd.h>

#include <cerrno>

OpenFile::~OpenFile() {
    close();
}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

bool OpenFile::close() {
    if (fd_ < 0) {
        return true;
    }
    // The descriptor is gone even when close reports an error; it is never closed twice.
    return ::close(release()) == 0;
}

namespace file_io {

namespace {

// Calls `call(done)` (one system call moving bytes from `done` on) until `count` bytes
// moved, the call moves none, or it fails with anything but EINTR.
template <typename Call>
Transfer repeat(size_t count, Call call) {
    Transfer transfer;
    while (transfer.done < count) {
        const ssize_t moved = call(transfer.done);
        if (moved < 0) {
            if (errno == EINTR) {
                continue;
            }
            transfer.error = errno;
            break;
        }
        if (moved == 0) {
            break;
        }
        transfer.done += static_cast<size_t>(moved);
    }
    return transfer;
}

}  // namespace

Transfer readAt(int fd, uint64_t offset, void* buffer, size_t count) {
    char* bytes = static_cast<char*>(buffer);
    return repeat(count, [&](size_t done) {
        return ::pread(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
    });
}

Transfer readSome(int fd, void* buffer, size_t count) {
    char* bytes = static_cast<char*>(buffer);
    return repeat(count, [&](size_t done) { return ::read(fd, bytes + done, count - done); });
}

Transfer writeAt(int fd, uint64_t offset, const void* data, size_t count) {
    const char* bytes = static_cast<const char*>(data);
    return repeat(count, [&](size_t done) {
        return ::pwrite(fd, bytes + done, count - done, static_cast<off_t>(offset + done));
    });
}

Transfer writeAll(int fd, const void* data, size_t count) {
    const char* bytes = static_cast<const char*>(data);
    return repeat(count, [&](size_t done) { return ::write(fd, bytes + done, count - done); });
}

}  // namespace file_io
