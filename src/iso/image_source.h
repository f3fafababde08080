// The bytes of an image, read through a narrow interface: a file on disk, or memory in
// tests and the fuzz target. Offsets are 64-bit, so images beyond 2 GiB are read whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/local_file.h"

class ImageSource {
  public:
    virtual ~ImageSource() = default;

    // Size of the image in bytes.
    virtual uint64_t size() const = 0;

    // Reads exactly `count` bytes at byte `offset` into `buffer`, or throws a
    // std::runtime_error naming the offset and the image when fewer bytes are there.
    virtual void read(uint64_t offset, void* buffer, size_t count) = 0;

    // True when `count` bytes starting at `offset` lie inside the image.
    bool contains(uint64_t offset, uint64_t count) const {
        return offset <= size() && count <= size() - offset;
    }

    // The open file descriptor of a source that is a file, for copies the kernel makes
    // (it stays the source's: never closed by the caller); -1 for any other source.
    virtual int fileDescriptor() const { return -1; }
};

// Opens the image at a path for one operation; throws std::runtime_error when it cannot.
using ImageSourceOpener = std::function<std::unique_ptr<ImageSource>(const std::string& path)>;

// A regular file on disk, read at explicit offsets.
class FileImageSource : public ImageSource {
  public:
    // Throws std::runtime_error naming the path when the file cannot be opened or is not
    // a regular file (a FIFO or a device is refused without waiting on it).
    explicit FileImageSource(const std::string& path);

    uint64_t size() const override { return size_; }
    void read(uint64_t offset, void* buffer, size_t count) override;
    int fileDescriptor() const override { return file_.fd(); }

  private:
    std::string path_;
    uint64_t size_ = 0;  // before file_, whose opening sets it
    OpenFile file_;
};

// Bytes held by the caller; they must outlive the source.
class MemoryImageSource : public ImageSource {
  public:
    MemoryImageSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint64_t size() const override { return size_; }
    void read(uint64_t offset, void* buffer, size_t count) override;

  private:
    const uint8_t* data_;
    size_t size_;
};

// The opener every image class uses unless told otherwise: a FileImageSource.
std::unique_ptr<ImageSource> openImageFile(const std::string& path);

// An opener that serves `data` (owned by the caller) whatever path it is asked for.
ImageSourceOpener memoryImageOpener(const uint8_t* data, size_t size);

// Text of a failed read, shared by the sources.
std::string shortReadText(const std::string& image, uint64_t offset, size_t count,
                          uint64_t imageSize);
