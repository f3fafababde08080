#include "iso/image_source.h"

#include <cstring>
#include <stdexcept>

std::string shortReadText(const std::string& image, uint64_t offset, size_t count,
                          uint64_t imageSize) {
    return "reading " + std::to_string(count) + " bytes at byte " + std::to_string(offset) +
           " of image " + image + " failed: the image has " + std::to_string(imageSize) + " bytes";
}

FileImageSource::FileImageSource(const std::string& path)
    : path_(path), file_(local_file::openForReading(path, size_, "image file")) {}

void FileImageSource::read(uint64_t offset, void* buffer, size_t count) {
    if (!contains(offset, count)) {
        throw std::runtime_error(shortReadText(path_, offset, count, size_));
    }
    const file_io::Transfer got = file_io::readAt(file_.fd(), offset, buffer, count);
    if (got.failed()) {
        throw std::runtime_error("reading image " + path_ + " at byte " +
                                 std::to_string(offset + got.done) +
                                 " failed: " + std::strerror(got.error));
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
