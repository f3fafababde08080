// The one owner of an open file descriptor, and the reads and writes at byte positions
// that every file of the program goes through: they retry a call a signal interrupted
// and go on after a short read or write, so callers see a whole transfer, the end of the
// file, or the system's error.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// An open file descriptor, closed when the object goes away.
class OpenFile {
  public:
    OpenFile() = default;
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile();
    OpenFile(OpenFile&& other) noexcept : fd_(other.release()) {}
    OpenFile& operator=(OpenFile&& other) noexcept;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor now; false (errno set) when closing reports an error, such as
    // data that could not be written out. Closing a file that is not open succeeds.
    bool close();

  private:
    int fd_ = -1;
};

namespace file_io {

// How far a transfer came: `done` bytes moved; `error` is the errno of the call that
// failed, 0 when none did. A read with no error that moved fewer bytes than asked for
// met the end of the file; such a write found no room (the call wrote nothing).
struct Transfer {
    size_t done = 0;
    int error = 0;
    bool failed() const { return error != 0; }
};

// Reads up to `count` bytes at byte `offset` of `fd` (pread), until all are read, the
// file ends or a call fails.
Transfer readAt(int fd, uint64_t offset, void* buffer, size_t count);

// Reads up to `count` bytes from the current offset of `fd` (read), the same way.
Transfer readSome(int fd, void* buffer, size_t count);

// Writes `count` bytes at byte `offset` of `fd` (pwrite), until all are written or a
// call fails or writes nothing.
Transfer writeAt(int fd, uint64_t offset, const void* data, size_t count);

// Writes `count` bytes at the current offset of `fd` (write), the same way.
Transfer writeAll(int fd, const void* data, size_t count);

}  // namespace file_io
