// The file a new image is written to: writes at absolute 64-bit byte positions and
// copies of file data in large pieces, in the kernel where it can. Every failure throws
// std::runtime_error saying what was written where and why it failed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ImageOutput {
  public:
    ImageOutput() = default;
    ~ImageOutput();
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;

    // Creates `path`, or empties it when it exists.
    void create(const std::string& path);
    bool isOpen() const { return fd >= 0; }

    void writeAt(uint64_t offset, const void* data, size_t size);
    void writeZerosAt(uint64_t offset, size_t size);

    // Copies `size` bytes of the file `sourcePath` from `sourceOffset` to `offset` of
    // the image, calling `piece` after each piece with its length. Throws when the
    // source cannot be opened or ends early, or a write fails.
    void copyFrom(const std::string& sourcePath, uint64_t sourceOffset, uint64_t offset,
                  uint64_t size, const std::function<void(uint32_t)>& piece);

    // Makes the file at least `size` bytes long; the added bytes read as zeros.
    void extendTo(uint64_t size);

    // Closes the file; throws when closing reports an error (data that could not be
    // written out).
    void close();

  private:
    // The kernel-side copy; returns false when this pair of files does not allow it.
    bool copyInKernel(int source, uint64_t& sourceOffset, uint64_t& offset, uint64_t size,
                      const std::function<void(uint32_t)>& piece, const std::string& sourcePath);
    void copyThroughBuffer(int source, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                           const std::function<void(uint32_t)>& piece,
                           const std::string& sourcePath);

    int fd = -1;
    std::string path;
    bool kernelCopy = true;
    std::vector<uint8_t> buffer;
};
