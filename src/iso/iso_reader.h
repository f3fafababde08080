// Reads an ISO 9660 image's directory tree into memory once, answers look-ups from it
// and copies files and directories out of the image.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "iso/dropped_features.h"
#include "iso/image_source.h"
#include "iso/iso_manipulator.h"

class ISOReader : public virtual ISOManipulator {
  public:
    explicit ISOReader(const std::string& imageFile);
    // Reads the image through `opener` instead of from the file at `imageFile` (memory
    // images in tests and fuzzing).
    ISOReader(const std::string& imageFile, ImageSourceOpener opener);
    ~ISOReader() override;

    // Extracts every entry of the image into `destination`, with progress marks.
    virtual int UnpackImage(const std::string& destination);
    // Copies the file at `isoPath` to the local file `localPath`.
    virtual int RetrieveFile(const std::string& isoPath, const std::string& localPath);
    // Copies the contents of the directory at `isoPath` into the local directory `localDir`.
    virtual int RetrieveDir(const std::string& isoPath, const std::string& localDir);
    virtual bool FileExists(const std::string& isoPath);
    virtual bool DirectoryExists(const std::string& isoPath);
    // True when the directory of `isoPath` holds an entry of its last component's name
    // with letter case ignored: the test of the question asked before an add, which
    // replaces such an entry (ISOModifier). The directory itself is found like any path.
    virtual bool NameTaken(const std::string& isoPath);

    // What a rewrite of the image drops (Rock Ridge, a UDF bridge, descriptors other
    // than Joliet's, the System Area, boot entries it cannot carry), one text each, to be
    // given as warnings before a pack; empty when the image cannot be loaded.
    std::vector<std::string> DroppedFeatures();

  protected:
    // Whether an extraction advances the progress marks.
    enum class Progress { hidden, shown };

    virtual NodeList loadDirectory(uint32_t extent, const std::string& path);
    virtual int loadImage();
    virtual int extractEntry(DirectoryNode* node, const std::string& target, Progress progress);
    virtual int extractTree(DirectoryNode* node, const std::string& destination, Progress progress);

  public:
    // The node of a path without leading separator: a file's node, or the "." node at the
    // head of a directory's list; null when absent or while the image is not loaded.
    virtual DirectoryNode* findDirectoryRecord(const std::string& path);

  protected:
    // Opens the image for one operation; throws std::runtime_error when it cannot.
    std::unique_ptr<ImageSource> openImage() const;

    std::string imagePath;
    bool loaded = false;

  private:
    // The directory's records, read with at most two reads: its first block, then its
    // whole extent when its "." record says it is longer.
    std::vector<uint8_t> readDirectoryData(ImageSource& source, uint32_t extent,
                                           const std::string& path);
    NodeList decodeDirectory(const std::vector<uint8_t>& data, uint32_t extent,
                             const std::string& path);
    void copyFileData(const DirectoryNode& node, const std::string& target, Progress progress);

    // The warning for `jolietOnly`.
    std::string jolietOnlyText() const;

    ImageSourceOpener openSource;
    // Entries of the old Joliet tree that the ISO 9660 tree does not hold.
    std::vector<std::string> jolietOnly;
    // While the tree loads: the image, the extents of the directories from the root to
    // the one being read (loop and depth checks) and the directory bytes read so far.
    ImageSource* loadingSource = nullptr;
    std::vector<uint32_t> loadingExtents;
    uint64_t directoryBytesLoaded = 0;
    // Bytes of System Use continuation areas read by the load so far.
    uint64_t continuationBytesLoaded = 0;
};
