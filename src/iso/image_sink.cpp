#include "iso/image_sink.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/image_source.h"
#include "iso/limits.h"
#include "platform/interrupt.h"
#include "platform/local_file.h"
#include "platform/range_copy.h"

OpenFile openLocalSource(const CopySource& source) {
    uint64_t size = 0;
    if (source.route) {
        return checked_file::openFile(source.route, source.name, size);
    }
    return local_file::openForReading(source.name, size, "source file");
}

uint8_t* MemoryImageSink::reserve(uint64_t offset, uint64_t size) {
    if (closed_) {
        throw std::runtime_error("the image in memory is closed");
    }
    if (offset > limit_ || size > limit_ - offset) {
        throw std::runtime_error(formatText("writing %zu bytes at byte %" PRIu64
                                            " of the image in memory failed: it holds at most "
                                            "%" PRIu64 " bytes",
                                            size, offset, limit_));
    }
    if (offset + size > bytes_.size()) {
        bytes_.resize(static_cast<size_t>(offset + size));
    }
    return bytes_.data() + offset;
}

void MemoryImageSink::writeAt(uint64_t offset, const void* data, size_t size) {
    interrupt::throwIfRequested();
    uint8_t* at = reserve(offset, size);
    if (size > 0) {
        std::memcpy(at, data, size);
    }
}

void MemoryImageSink::copyFrom(const CopySource& source, uint64_t sourceOffset, uint64_t offset,
                               uint64_t size, const std::function<void(uint32_t)>& piece) {
    OpenFile file;
    if (source.image == nullptr) {
        file = openLocalSource(source);
    }
    if (size == 0) {
        return;
    }
    uint8_t* target = reserve(offset, size);
    uint64_t done = 0;
    while (done < size) {
        interrupt::throwIfRequested();
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(size - done, iso_limits::kCopyPieceSize));
        if (source.image != nullptr) {
            source.image->read(sourceOffset + done, target + done, want);
        } else {
            const uint64_t at = sourceOffset + done;
            const file_io::Transfer got = file_io::readAt(file.fd(), at, target + done, want);
            if (got.failed()) {
                throw std::runtime_error(formatText(
                    "reading %zu bytes at byte %" PRIu64 " of %s failed: %s", want - got.done,
                    at + got.done, source.name.c_str(), std::strerror(got.error)));
            }
            if (got.done < want) {
                throw std::runtime_error(
                    range_copy::sourceEndsEarlyText(source.name, at + got.done));
            }
        }
        done += want;
        piece(static_cast<uint32_t>(want));
    }
}

void MemoryImageSink::queueCopy(const CopySource& source, uint64_t sourceOffset, uint64_t offset,
                                uint64_t size, uint32_t,
                                const std::function<void(uint32_t)>& progress) {
    // Each file's own bytes only: what lies between files is never written, so it stays zero.
    copyFrom(source, sourceOffset, offset, size, progress);
}

void MemoryImageSink::extendTo(uint64_t size) {
    reserve(0, size);
}

void MemoryImageSink::close() {
    if (closed_) {
        throw std::runtime_error("the image in memory is closed");
    }
    closed_ = true;
}
