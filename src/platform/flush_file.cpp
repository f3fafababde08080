#include "platform/flush_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/copy_progress.h"

namespace flush_file {

namespace {

constexpr uint64_t kPiece = uint64_t{32} * 1024 * 1024;

}  // namespace

int flushToDisk(int fd, uint64_t size) {
    if (copy_progress::seen()) {
        for (uint64_t offset = 0; offset < size; offset += kPiece) {
            const uint64_t piece = size - offset < kPiece ? size - offset : kPiece;
            // Only a way to count the bytes as they reach the disk: the fsync below is
            // what makes the file durable, so a refusal here is left to it.
            ::sync_file_range(
                fd, static_cast<off_t>(offset), static_cast<off_t>(piece),
                SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
            copy_progress::moved(piece);
        }
    }
    return ::fsync(fd);
}

}  // namespace flush_file
