#include "iso/image_source.h"

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <cstring>
#include <stdexcept>

std::string shortReadText(const std::string& image, uint64_t offset, size_t count,
                          uint64_t imageSize) {
    return "reading " + std::to_string(count) + " bytes at byte " + std::to_string(offset) +
           " of image " + image + " failed: the image has " + std::to_string(imageSize) + " bytes";
}

FileImageSource::FileImageSource(const std::string& path) : path_(path) {
    boost::system::error_code ignored;
    if (boost::filesystem::is_directory(path, ignored)) {
        throw std::runtime_error("cannot open image file " + path + ": it is a directory");
    }
    stream_.open(path, std::ios::in | std::ios::binary);
    if (!stream_) {
        throw std::runtime_error("cannot open image file " + path + ": " + std::strerror(errno));
    }
    stream_.seekg(0, std::ios::end);
    const std::streamoff end = stream_.tellg();
    if (!stream_ || end < 0) {
        throw std::runtime_error("cannot determine the size of image file " + path);
    }
    size_ = static_cast<uint64_t>(end);
}

void FileImageSource::read(uint64_t offset, void* buffer, size_t count) {
    if (!contains(offset, count)) {
        throw std::runtime_error(shortReadText(path_, offset, count, size_));
    }
    if (count == 0) {
        return;
    }
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
    stream_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
    if (!stream_ || static_cast<size_t>(stream_.gcount()) != count) {
        throw std::runtime_error(shortReadText(path_, offset, count, size_));
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
