// Reads an ISO 9660 image's directory tree into memory once, answers look-ups from it
// and copies files and directories out of the image.
#pragma once

#include <string>

#include "iso/iso_manipulator.h"

class ISOReader : public virtual ISOManipulator {
public:
    explicit ISOReader(const std::string& imagePath);
    ~ISOReader() override;

    // Extracts every entry of the image into `destination`, with progress marks.
    virtual int UnpackImage(const std::string& destination);
    // Copies the file at `isoPath` to the local file `localPath`.
    virtual int RetrieveFile(const std::string& isoPath, const std::string& localPath);
    // Copies the contents of the directory at `isoPath` into the local directory `localDir`.
    virtual int RetrieveDir(const std::string& isoPath, const std::string& localDir);
    virtual bool FileExists(const std::string& isoPath);
    virtual bool DirectoryExists(const std::string& isoPath);

protected:
    virtual NodeList loadDirectory(uint32_t extent, const std::string& path);
    virtual int loadImage();
    virtual int extractEntry(DirectoryNode* node, const std::string& target, bool showProgress);
    virtual int extractTree(DirectoryNode* node, const std::string& destination,
                            bool showProgress);
    virtual std::string recordName(const uint8_t* recordBuffer);

public:
    // The node of a path without leading separator: a file's node, or the "." node at the
    // head of a directory's list; null when absent or while the image is not loaded.
    virtual DirectoryNode* findDirectoryRecord(const std::string& path);

protected:
    std::string imagePath;
    bool loaded = false;
};
