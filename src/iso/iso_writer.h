// Writes a complete ISO 9660 image with an El Torito boot catalog from a directory tree
// and an optional boot image file.
//
// The pack runs in two stages: the layout numbers the directories and gives every
// record, directory and file its block (a computation over the tree that refuses what
// the format cannot hold), then the emit stage writes every structure at its position.
// The data of entries read from an image is copied through the image source the modifier
// lends (`oldImage`); that of local entries from their local files, by path. The image
// goes to an ImageSink: the file at the output path, or memory.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "iso/boot_plan.h"
#include "iso/iso_manipulator.h"
#include "iso/iso_writer_layout.h"
#include "iso/system_area.h"
#include "platform/file_identity.h"

namespace local_tree {
struct Entry;
}
namespace joliet {
class Tree;
}

class ImageSink;
class ImageSource;

class ISOWriter : public virtual ISOManipulator {
  public:
    ISOWriter(const std::string& directory, const std::string& imageFile);
    ~ISOWriter() override;

    // Writes the image to `outputPath`; `bootImagePath` "" packs an image that does not
    // boot. Returns 0 when the image was written and closed, 1 otherwise.
    virtual int PackImage(const std::string& outputPath, const std::string& bootImagePath);
    // The same into `out` (memory, for tests and fuzzing), which the pack closes when
    // it succeeds.
    virtual int PackImageTo(ImageSink& out, const std::string& bootImagePath);

    // The size in bytes of the image a pack with the boot image `bootImagePath` would
    // write, laid out as the pack lays it out; nothing is written. Throws with the reason
    // when the tree can not be packed.
    virtual uint64_t PlannedImageBytes(const std::string& bootImagePath);

    // The file the last PackImage created at its output path; unknown when it made none.
    const FileIdentity& writtenImage() const { return writtenImage_; }

  protected:
    // Everything of a pack after the output is there: load, lay out, emit, close.
    virtual int packInto(ImageSink& out, const std::string& bootImagePath);

    // Whether a boot image whose size can not be read is reported as a pack step's
    // failure (the pack then goes on without its blocks) or thrown.
    enum class ReportBootImageFailure { yes, no };
    // Loads nothing: lays out the loaded tree `root` and the boot records (`bootPlan`).
    // Throws when the tree or the boot image can not be laid out.
    iso_layout::ImageLayout planLayout(const std::string& bootImagePath,
                                       ReportBootImageFailure report);

    // The tree to pack: the writer loads the local directory; the modifier hands over
    // the tree of the image it changes. Null after a failure (its text is printed).
    virtual NodeList loadSourceDirectory(const std::string& directory);

    // Decides, once the tree is loaded, how the boot records are written (`bootPlan`).
    // The writer writes its own fixed catalog; the modifier carries the old image's over.
    virtual void planBoot() {}
    // Decides, once the boot records are planned, what the System Area holds
    // (`systemAreaPlan`): the writer writes zeros; the modifier carries the old one over.
    // `hasBootImage`: the new image has boot records.
    virtual void planSystemArea(bool /*hasBootImage*/) {}

    // Numbers the System Use continuation areas of the laid out tree (into each node's
    // placement); returns the blocks they take.
    uint32_t placeContinuationAreas();

    // Gives every directory its path table number; returns the Path Table Size.
    virtual uint32_t numberDirectories(DirectoryNode* rootList);

    // Places the records of `list` and, depth first, of every directory below it (into
    // each node's `placement`); the two counters are the next free blocks of the
    // directory and the file area. The root list is laid out with the parent size
    // iso_layout::kRootParentSize. Returns the list's Data Length.
    virtual uint32_t layoutDirectory(uint32_t parentSize, uint32_t parentExtent,
                                     DirectoryNode* list, uint64_t& directoryBlocks,
                                     uint64_t& fileBlocks);

    // Encodes the directory record of `node` into `recordBuffer` (545 bytes).
    virtual void makeDirectoryRecord(DirectoryNode* node, uint16_t volumeSequenceNumber,
                                     uint32_t directoryStart, uint32_t fileStart,
                                     uint8_t* recordBuffer);
    virtual int writeEntry(DirectoryNode* node, uint16_t volumeSequenceNumber,
                           uint32_t directoryStart, uint32_t fileStart, ImageSink& out);
    virtual int writeDirectoryTree(DirectoryNode* list, uint16_t volumeSequenceNumber,
                                   uint32_t directoryStart, uint32_t fileStart, ImageSink& out);
    // Encodes the path table record of `node` into `recordBuffer` (520 bytes); returns
    // its length.
    virtual uint32_t makePathTableRecord(DirectoryNode* node, uint32_t directoryStart,
                                         bool bigEndian, uint8_t* recordBuffer);
    // Both return the bytes written, 0 on failure.
    virtual uint32_t writeTypeLPathTable(DirectoryNode* rootList, uint32_t tableBlock,
                                         uint32_t directoryStart, ImageSink& out);
    virtual uint32_t writeTypeMPathTable(DirectoryNode* rootList, uint32_t tableBlock,
                                         uint32_t directoryStart, ImageSink& out);
    virtual int writeSystemArea(ImageSink& out);
    virtual int writePrimaryVolumeDescriptor(const uint8_t* descriptor, uint32_t block,
                                             ImageSink& out);
    virtual int writeSetTerminator(const uint8_t* descriptor, uint32_t block, ImageSink& out);
    // Fills the 2048-byte `descriptor`. Throws when the descriptor cannot be made; the
    // pack then fails.
    virtual void CreateNewPVD(uint32_t volumeSpaceSize, uint32_t pathTableSize,
                              uint32_t typeLPathTable, uint32_t typeMPathTable,
                              const uint8_t* rootRecord, uint8_t* descriptor);
    virtual void makeSetTerminator(uint8_t* descriptor);
    virtual void makeBootRecord(uint32_t catalogBlock, uint8_t* descriptor);
    virtual void makeValidationEntry(uint8_t* entry);
    virtual void makeInitialEntry(uint8_t systemType, uint16_t sectorCount, uint32_t loadRba,
                                  uint8_t* entry);
    virtual int writeBootRecord(const uint8_t* descriptor, uint32_t block, ImageSink& out);
    virtual int writeBootCatalog(const uint8_t* validationEntry, const uint8_t* initialEntry,
                                 uint32_t block, ImageSink& out);
    virtual int writeBootImage(const std::string& bootImagePath, uint16_t sectorCount,
                               uint32_t block, ImageSink& out);

    // Fills the fields every new primary volume descriptor has (the identifier texts
    // stay zero).
    void fillPrimaryDescriptor(uint32_t volumeSpaceSize, uint32_t pathTableSize,
                               uint32_t typeLPathTable, uint32_t typeMPathTable,
                               const uint8_t* rootRecord, uint8_t* descriptor);

    // New images are always written with 2048-byte blocks; data taken over from an old
    // image is found with the block size that image declares (`logicalBlockSize`).
    static constexpr uint32_t kWriteBlockSize = iso_limits::kDefaultBlockSize;
    uint32_t sourceBlockSize() const { return logicalBlockSize; }

    std::string sourceDirectory;
    std::string sourceImagePath;  // names the old image in failure texts
    // The old image while a pack runs, for the data of entries read from it; null otherwise.
    ImageSource* oldImage = nullptr;
    // How this pack writes its boot records (set by planBoot).
    boot_plan::Plan bootPlan;
    // What the System Area of this pack holds (set by planSystemArea).
    system_area::Plan systemAreaPlan;

  private:
    FileIdentity writtenImage_;

    int writeDescriptor(const uint8_t* descriptor, uint32_t block, ImageSink& out);
    uint32_t writePathTable(DirectoryNode* rootList, uint32_t tableBlock, uint32_t directoryStart,
                            bool bigEndian, ImageSink& out);
    void copyFileData(const DirectoryNode& node, uint64_t outputOffset, ImageSink& out);
    // The records and the data of a file of the old image stored in several records.
    void writeSections(const DirectoryNode& node, uint16_t volumeSequenceNumber,
                       uint32_t directoryStart, uint32_t fileStart, ImageSink& out);
    // The local loader: builds the nodes of `entries`, the listing of `directory`.
    NodeList loadLocalDirectory(const std::string& directory,
                                const std::vector<local_tree::Entry>& entries);
    // The emit: every structure of the image in the order of its steps, each announced
    // and reported with its own lines.
    int emitImage(const iso_layout::ImageLayout& layout, const std::string& bootImagePath,
                  ImageSink& out);
    // Writes what is still waiting, then the loader patches, and gives the file its full
    // length.
    int finishImage(const iso_layout::ImageLayout& layout, ImageSink& out);
    // The catalog and every image it names, for a catalog carried over from an old image.
    bool writeCarriedBoot(const iso_layout::ImageLayout& layout, const std::string& bootImagePath,
                          ImageSink& out);
    // Bytes written over the loader copies at the end of the emit.
    std::vector<boot_plan::Patch> pendingPatches;
    // The new image's Joliet tree, laid out with the rest; null without Joliet.
    std::unique_ptr<joliet::Tree> jolietTree;
    // The System Area this pack writes; empty: zeros.
    std::vector<uint8_t> systemAreaBytes;
    // The first block of the System Use continuation areas of this pack.
    uint32_t continuationStart = 0;
    // The new block of each directory of the old image, by its old block.
    std::map<uint32_t, uint32_t> movedDirectories;
    // Adds the System Use field of `node` to its encoded record and writes its
    // continuation areas.
    void writeSystemUse(const DirectoryNode& node, uint8_t* record, ImageSink& out);
    // The carried System Area repatched for `layout`, and its backup GPT queued.
    void repatchSystemArea(const iso_layout::ImageLayout& layout);
};
