// Where the writer puts a new image: a narrow interface of writes at absolute 64-bit
// byte positions and copies of file data, implemented by the image file (ImageOutput)
// and by memory (MemoryImageSink, for tests and the fuzz target). The bytes of an image
// do not depend on the order of its writes and copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/checked_file.h"
#include "platform/local_file.h"

class ImageSource;

// Where copied data comes from: a local file, opened by its path or along the route by
// which a check found it, or an image, read through its ImageSource (by its file
// descriptor where it has one).
struct CopySource {
    // A local file.
    CopySource(const std::string& path) : name(path) {}  // NOLINT: a path is a local file
    // A local file as a check saw it; `path` names it in failure texts.
    CopySource(checked_file::Route checked, const std::string& path)
        : name(path), route(std::move(checked)) {}
    // An image; `imageName` names it in failure texts.
    CopySource(ImageSource& source, const std::string& imageName)
        : name(imageName), image(&source) {}

    bool operator==(const CopySource& other) const {
        return image == other.image && name == other.name && route == other.route;
    }
    bool operator!=(const CopySource& other) const { return !(*this == other); }

    std::string name;  // the local file's path, or the image's name
    checked_file::Route route;
    ImageSource* image = nullptr;
};

// Opens the local file of `source` (not an image) for reading.
OpenFile openLocalSource(const CopySource& source);

class ImageSink {
  public:
    virtual ~ImageSink() = default;

    // Writes `size` bytes at byte `offset`; bytes never written read as zeros.
    virtual void writeAt(uint64_t offset, const void* data, size_t size) = 0;

    // From here on, writes that lie wholly inside [offset, offset + size) may be gathered
    // in memory until `flushStaged`; a sink that writes to memory anyway ignores both.
    virtual void stageRegion(uint64_t, size_t) {}
    virtual void flushStaged() {}

    // Copies `size` bytes of `source` from `sourceOffset` to `offset`, calling `piece`
    // after each piece with its length. Throws when the source cannot be opened or ends
    // early, or a write fails.
    virtual void copyFrom(const CopySource& source, uint64_t sourceOffset, uint64_t offset,
                          uint64_t size, const std::function<void(uint32_t)>& piece) = 0;

    // Like copyFrom, but the copy may wait until `flushCopies` (or the next queued copy,
    // or extendTo, or close) and be merged with copies that continue it block for block
    // (`blockSize`); the bytes between two files come out as zeros whatever the source
    // holds there. `progress` learns of the file bytes only. A missing source fails even
    // when there is nothing to copy.
    virtual void queueCopy(const CopySource& source, uint64_t sourceOffset, uint64_t offset,
                           uint64_t size, uint32_t blockSize,
                           const std::function<void(uint32_t)>& progress) = 0;
    virtual void flushCopies() {}

    // Makes the image at least `size` bytes long; the added bytes read as zeros.
    virtual void extendTo(uint64_t size) = 0;

    // Ends the image; throws when what was written cannot be kept.
    virtual void close() = 0;
};

// An image built in memory. Writes and copies beyond `limit` bytes throw, so that a
// layout claiming a huge image cannot exhaust the memory.
class MemoryImageSink : public ImageSink {
  public:
    explicit MemoryImageSink(uint64_t limit = UINT64_MAX) : limit_(limit) {}

    void writeAt(uint64_t offset, const void* data, size_t size) override;
    void copyFrom(const CopySource& source, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                  const std::function<void(uint32_t)>& piece) override;
    void queueCopy(const CopySource& source, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                   uint32_t blockSize, const std::function<void(uint32_t)>& progress) override;
    void extendTo(uint64_t size) override;
    void close() override;

    bool isClosed() const { return closed_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    // Makes room for [offset, offset + size); returns a pointer to `offset`.
    uint8_t* reserve(uint64_t offset, uint64_t size);

    uint64_t limit_;
    std::vector<uint8_t> bytes_;
    bool closed_ = false;
};
