#include "platform/extent_clone.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>

#include <cerrno>

namespace extent_clone {

Shared shareBlocks(int source, uint64_t sourceOffset, int target, uint64_t targetOffset,
                   uint64_t size) {
    struct statfs fileSystem {};
    if (::fstatfs(target, &fileSystem) != 0 || fileSystem.f_bsize <= 0) {
        return {};
    }
    const uint64_t block = static_cast<uint64_t>(fileSystem.f_bsize);
    if (sourceOffset % block != targetOffset % block) {
        return {};
    }
    const uint64_t begin = (block - sourceOffset % block) % block;
    if (begin >= size) {
        return {};
    }
    const uint64_t end = begin + (size - begin) / block * block;
    if (end == begin) {
        return {};
    }
    struct file_clone_range range {};
    range.src_fd = source;
    range.src_offset = sourceOffset + begin;
    range.src_length = end - begin;
    range.dest_offset = targetOffset + begin;
    int result;
    do {
        result = ::ioctl(target, FICLONERANGE, &range);
    } while (result != 0 && errno == EINTR);
    // A refusal (EOPNOTSUPP, EXDEV, EINVAL, ...) changes nothing; the caller copies.
    if (result != 0) {
        return {};
    }
    return {begin, end};
}

}  // namespace extent_clone
