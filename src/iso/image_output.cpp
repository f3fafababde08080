#include "iso/image_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "iso/image_source.h"
#include "iso/limits.h"
#include "platform/interrupt.h"
#include "platform/local_file.h"

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

}  // namespace

ImageOutput::ImageOutput(CopyPaths copyPaths)
    : copier(copyPaths,
             range_copy::Sizes{iso_limits::kCopyPieceSize, iso_limits::kKernelCopyPieceSize,
                               iso_limits::kKernelCopyAlignment, iso_limits::kMinHoleProbeSize,
                               iso_limits::kDefaultBlockSize}) {}

int ImageOutput::openSource(const CopySource& source) {
    if (source.image != nullptr) {
        if (source != openSourceKey) {
            closeSource();
            openSourceKey = source;
        }
        return source.image->fileDescriptor();
    }
    if (ownedSource.isOpen() && source == openSourceKey) {
        return sourceFd;
    }
    closeSource();
    ownedSource = openLocalSource(source);
    sourceFd = ownedSource.fd();
    openSourceKey = source;
    return sourceFd;
}

void ImageOutput::closeSource() {
    ownedSource = OpenFile();
    sourceFd = -1;
    openSourceKey = CopySource(std::string());
}

void ImageOutput::create(const std::string& outputPath) {
    path = outputPath;
    imageFile = local_file::createAfresh(outputPath, 0600, created);
    copier.setTarget(imageFile.fd(), outputPath);
}

void ImageOutput::writeAt(uint64_t offset, const void* data, size_t size) {
    if (!imageFile.isOpen()) {
        throw std::runtime_error("the image file " + path + " is not open");
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (staging && offset >= stagedOffset && size <= staged.size() &&
        offset - stagedOffset <= staged.size() - size) {
        std::memcpy(staged.data() + (offset - stagedOffset), bytes, size);
        return;
    }
    copier.writeAt(offset, bytes, size);
}

void ImageOutput::stageRegion(uint64_t offset, size_t size) {
    staged.assign(size, 0);
    stagedOffset = offset;
    staging = true;
}

void ImageOutput::flushStaged() {
    if (!staging) {
        return;
    }
    staging = false;
    std::vector<uint8_t> region;
    region.swap(staged);
    writeAt(stagedOffset, region.data(), region.size());
}

void ImageOutput::queueCopy(const CopySource& source, uint64_t sourceOffset, uint64_t offset,
                            uint64_t size, uint32_t blockSize,
                            const std::function<void(uint32_t)>& progress) {
    if (runWaiting && source == run.source && offset >= run.start &&
        sourceOffset >= run.sourceStart && offset - run.start == sourceOffset - run.sourceStart) {
        const uint64_t relative = offset - run.start;
        const uint64_t blockEnd = (run.length + blockSize - 1) / blockSize * blockSize;
        if (relative == blockEnd && relative + size <= iso_limits::kMaxCopyRun) {
            if (size > 0) {
                run.files.emplace_back(relative, relative + size);
                run.length = relative + size;
            }
            return;
        }
    }
    if (size == 0) {
        openSource(source);  // a missing source fails even when there is nothing to copy
        return;
    }
    flushCopies();
    openSource(source);
    run = CopyRun();
    run.source = source;
    run.sourceStart = sourceOffset;
    run.start = offset;
    run.length = size;
    run.files.emplace_back(0, size);
    run.progress = progress;
    runWaiting = true;
}

void ImageOutput::flushCopies() {
    if (!runWaiting) {
        return;
    }
    runWaiting = false;
    CopyRun waiting = std::move(run);
    run = CopyRun();
    // Pieces of the run are turned into the file bytes they held.
    uint64_t position = 0;
    size_t file = 0;
    auto piece = [&](uint32_t bytes) {
        const uint64_t end = position + bytes;
        uint64_t fileBytes = 0;
        while (file < waiting.files.size() && waiting.files[file].first < end) {
            const uint64_t from = std::max(waiting.files[file].first, position);
            const uint64_t to = std::min(waiting.files[file].second, end);
            fileBytes += to - from;
            if (waiting.files[file].second > end) {
                break;
            }
            ++file;
        }
        position = end;
        if (fileBytes > 0) {
            waiting.progress(static_cast<uint32_t>(fileBytes));
        }
    };
    copyRange(waiting.source, waiting.sourceStart, waiting.start, waiting.length, piece,
              &waiting.files);
}

void ImageOutput::copyFrom(const CopySource& source, uint64_t sourceOffset, uint64_t offset,
                           uint64_t size, const std::function<void(uint32_t)>& piece) {
    flushCopies();
    copyRange(source, sourceOffset, offset, size, piece, nullptr);
}

void ImageOutput::copyRange(const CopySource& from, uint64_t sourceOffset, uint64_t offset,
                            uint64_t size, const std::function<void(uint32_t)>& piece,
                            const FileSpans* files) {
    if (!imageFile.isOpen()) {
        throw std::runtime_error("the image file " + path + " is not open");
    }
    interrupt::throwIfRequested();
    range_copy::Source source;
    source.fd = openSource(from);
    if (size == 0) {
        return;
    }
    source.name = from.name;
    if (source.fd < 0) {
        ImageSource& image = *from.image;
        source.read = [&image](uint64_t at, void* bytes, size_t count) {
            image.read(at, bytes, count);
        };
    }
    copier.copy(source, sourceOffset, offset, size, piece, files);
}

void ImageOutput::extendTo(uint64_t size) {
    flushCopies();
    local_file::extendTo(imageFile.fd(), path, size);
}

void ImageOutput::close() {
    flushCopies();
    copier.closePipe();
    closeSource();
    if (!imageFile.isOpen()) {
        throw std::runtime_error("the image file " + path + " is not open");
    }
    if (!imageFile.close()) {
        throw std::runtime_error("closing " + path + " failed: " + errorText(errno));
    }
}
