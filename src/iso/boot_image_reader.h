// Takes the El Torito boot image out of a bootable CD image: the boot record volume
// descriptor (block 17), the first two entries of its Boot Catalog and the bytes of the
// default boot image, which it writes to a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "iso/image_source.h"
#include "iso/iso_manipulator.h"

class ISOBootImageReader : public ISOManipulator {
  public:
    explicit ISOBootImageReader(const std::string& imageFile);
    // Reads the image through `opener` instead of from the file at `imageFile`.
    ISOBootImageReader(const std::string& imageFile, ImageSourceOpener opener);
    ~ISOBootImageReader() override;

    // Reads the boot records and the boot image; 0 when the image is a bootable CD.
    int LoadBootImage();
    // Writes the loaded boot image (Sector Count × 512 bytes) to `path`.
    int ExtractBootImage(const std::string& path);
    // True when the last load found a bootable El Torito CD and read its boot image.
    bool isBootCD();

  private:
    void releaseBuffers();

    std::string imagePath;
    // The loaded boot image, Sector Count virtual sectors; null while none is loaded.
    std::unique_ptr<uint8_t[]> bootImage;
    uint32_t sectorCount = 0;
    ImageSourceOpener openSource;
};
