// The file a new image is written to: writes at absolute 64-bit byte positions and
// copies of file data, made by range_copy (from a local file, or an image source that
// is a file; data of an image in memory moves through a buffer). Every failure throws
// std::runtime_error saying what was written where and why it failed.
//
// The bytes of an image do not depend on the order of its writes, so small writes can be
// gathered: a staged region (the directory area) is built in memory and written in one
// piece, and a source file stays open while consecutive copies read from it.
//
// Every copy and write first looks whether SIGINT, SIGTERM or SIGHUP has come and then
// throws interrupt::Interrupted, so an interrupted pack ends within one piece.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "iso/image_sink.h"
#include "platform/file_identity.h"
#include "platform/open_file.h"
#include "platform/range_copy.h"

class ImageOutput : public ImageSink {
  public:
    // The ways file data may move (see range_copy::Ways).
    using CopyPaths = range_copy::Ways;

    explicit ImageOutput(CopyPaths copyPaths = CopyPaths::fastest);
    ImageOutput(const ImageOutput&) = delete;
    ImageOutput& operator=(const ImageOutput&) = delete;

    // Creates `path` as a new file of mode 0600. Whatever stands at the path, except a
    // directory, is removed first as an entry: a link there is never followed, a FIFO
    // never opened. Throws when the path is a directory or the file can not be made
    // afresh. Bytes never written read as zeros; copies rely on that (the holes of a
    // sparse source are not written), so every range of the image is filled only once.
    void create(const std::string& path);
    bool isOpen() const { return imageFile.isOpen(); }
    // The file that `create` made, to recognise it again at its path.
    const FileIdentity& identity() const { return created; }

    void writeAt(uint64_t offset, const void* data, size_t size) override;

    // From here on, writes that lie wholly inside [offset, offset + size) are gathered in
    // memory; `flushStaged` writes the region (zeros where nothing was written).
    void stageRegion(uint64_t offset, size_t size) override;
    void flushStaged() override;

    // Copies `size` bytes of `source` from `sourceOffset` to `offset` of the image,
    // calling `piece` after each piece with its length. Throws when the source cannot be
    // opened or ends early, or a write fails.
    void copyFrom(const CopySource& source, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                  const std::function<void(uint32_t)>& piece) override;

    // Like copyFrom, but the copy may wait: copies from one source that continue each
    // other block for block, in the source and in the image, are made as one, and the
    // bytes between two files come out as zeros whatever the source holds there.
    // `progress` learns of the file bytes only, never of those between files.
    // Failures of a waiting copy are thrown by a later queueCopy or by flushCopies.
    void queueCopy(const CopySource& source, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                   uint32_t blockSize, const std::function<void(uint32_t)>& progress) override;
    void flushCopies() override;

    // Makes the file at least `size` bytes long; the added bytes read as zeros.
    void extendTo(uint64_t size) override;

    // Closes the file; throws when closing reports an error (data that could not be
    // written out).
    void close() override;

  private:
    // The descriptor to copy from: a local file is opened (and kept open for the next
    // copy), an image source lends its own; -1 for a source without one.
    int openSource(const CopySource& source);
    void closeSource();
    using FileSpans = range_copy::FileSpans;

    // Copies `size` bytes; with `files`, the bytes outside them are made zeros.
    void copyRange(const CopySource& source, uint64_t sourceOffset, uint64_t offset, uint64_t size,
                   const std::function<void(uint32_t)>& piece, const FileSpans* files);

    // Copies waiting to be made as one: the data of each file, relative to the run's start.
    struct CopyRun {
        CopySource source = CopySource(std::string());
        uint64_t sourceStart = 0;
        uint64_t start = 0;
        uint64_t length = 0;  // to the end of the last file's data
        FileSpans files;
        std::function<void(uint32_t)> progress;
    };

    OpenFile imageFile;
    bool runWaiting = false;
    CopyRun run;
    std::string path;
    FileIdentity created;
    range_copy::RangeCopier copier;
    // The source of the last copy, kept open for the next one from the same source;
    // `ownedSource` holds it when it was opened here, an image source lends its own.
    int sourceFd = -1;
    OpenFile ownedSource;
    CopySource openSourceKey = CopySource(std::string());
    // The staged region, when there is one.
    uint64_t stagedOffset = 0;
    std::vector<uint8_t> staged;
    bool staging = false;
};
