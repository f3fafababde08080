#include "iso/image_source.h"

#include <unistd.h>

#include <cerrno>
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
    char* at = static_cast<char*>(buffer);
    while (count > 0) {
        const ssize_t got = ::pread(file_.fd(), at, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw std::runtime_error("reading image " + path_ + " at byte " +
                                     std::to_string(offset) + " failed: " + std::strerror(errno));
        }
        if (got == 0) {
            throw std::runtime_error(shortReadText(path_, offset, count, size_));
        }
        at += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
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
