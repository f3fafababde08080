// Takes the El Torito boot image out of a bootable CD image: the boot record volume
// descriptor (block 17), its whole Boot Catalog and the bytes of the default boot image,
// which it writes to a file. An emulated boot image is read at the size of the disk it
// emulates, a no-emulation one as Sector Count x 512 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "iso/boot_catalog.h"
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
    // Writes the loaded boot image to `path`.
    int ExtractBootImage(const std::string& path);
    // True when the last load found a bootable El Torito CD and read its boot image.
    bool isBootCD();

    // The catalog the last successful load read; empty before.
    const boot_catalog::Catalog& catalog() const { return catalog_; }

  private:
    void releaseBuffers();
    // Bytes of the default boot image, from its entry's media type.
    static uint64_t bootImageBytes(ImageSource& source,
                                   const iso_record::InitialEntry& initialEntry,
                                   uint64_t imageOffset);

    std::string imagePath;
    // The loaded boot image, `bootImageSize` bytes; null while none is loaded.
    std::unique_ptr<uint8_t[]> bootImage;
    uint64_t bootImageSize = 0;
    boot_catalog::Catalog catalog_;
    ImageSourceOpener openSource;
};
