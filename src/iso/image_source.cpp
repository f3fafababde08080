#include "iso/image_source.h"

#include <cinttypes>
#include <cstring>
#include <stdexcept>

#include "base/console_log.h"

std::string shortReadText(const std::string& image, uint64_t offset, size_t count,
                          uint64_t imageSize) {
    return formatText("reading %zu bytes at byte %" PRIu64
                      " of image %s failed: the image has %" PRIu64 " bytes",
                      count, offset, image.c_str(), imageSize);
}

FileImageSource::FileImageSource(const std::string& path)
    : path_(path), file_(local_file::openForReading(path, size_, "image file")) {}

void FileImageSource::read(uint64_t offset, void* buffer, size_t count) {
    if (!contains(offset, count)) {
        throw std::runtime_error(shortReadText(path_, offset, count, size_));
    }
    const file_io::Transfer got = file_io::readAt(file_.fd(), offset, buffer, count);
    if (got.failed()) {
        throw std::runtime_error(formatText("reading image %s at byte %" PRIu64 " failed: %s",
                                            path_.c_str(), offset + got.done,
                                            std::strerror(got.error)));
    }
    if (got.done < count) {
        throw std::runtime_error(shortReadText(path_, offset + got.done, count - got.done, size_));
    }
}

void MemoryImageSource::read(uint64_t offset, void* buffer, size_t count) {
    if (!contains(offset, count)) {
        throw std::runtime_error(shortReadText("in memory", offset, count, size_));
    }
    if (count > 0) {
        std::memcpy(buffer, data_ + offset, count);
    }
}

std::unique_ptr<ImageSource> openImageFile(const std::string& path) {
    return std::make_unique<FileImageSource>(path);
}

ImageSourceOpener memoryImageOpener(const uint8_t* data, size_t size) {
    return [data, size](const std::string&) -> std::unique_ptr<ImageSource> {
        return std::make_unique<MemoryImageSource>(data, size);
    };
}
