// Adds files and directories to an existing image's directory tree in memory and writes
// the changed image anew: untouched entries are copied from the old image, added ones
// from their local files. The old image is only read.
//
// The reader side loads the tree and the writer side packs it; both share the one
// ISOManipulator and so the one tree.
#pragma once

#include <string>
#include <vector>

#include "iso/iso_reader.h"
#include "iso/iso_writer.h"

class ISOModifier : public ISOReader, public ISOWriter {
  public:
    explicit ISOModifier(const std::string& imageFile);
    // Reads the old image through `opener` instead of from the file at `imageFile`.
    ISOModifier(const std::string& imageFile, ImageSourceOpener opener);
    ~ISOModifier() override;

    // The reader's queries do nothing here; ask a separate ISOReader what the image holds.
    int UnpackImage(const std::string& destination) override;
    int RetrieveFile(const std::string& isoPath, const std::string& localPath) override;
    int RetrieveDir(const std::string& isoPath, const std::string& localDir) override;
    bool FileExists(const std::string& isoPath) override;
    bool DirectoryExists(const std::string& isoPath) override;

    // Puts the local file at `isoPath` (parent directory and new name); an entry of the
    // same name, compared without regard to case, is replaced when `overwrite` is set.
    // Returns 0 when the entry is in the tree, 1 otherwise.
    virtual int AddSingleFile(const std::string& localPath, const std::string& isoPath,
                              bool overwrite);
    // The same for a local directory with everything below it.
    virtual int AddSingleDirectory(const std::string& localPath, const std::string& isoPath,
                                   bool overwrite);

    // Loads the image when needed, then writes the changed image to `outputPath`, which
    // must not be the image being modified.
    int PackImage(const std::string& outputPath, const std::string& bootImagePath) override;
    int PackImageTo(ImageSink& out, const std::string& bootImagePath) override;
    uint64_t PlannedImageBytes(const std::string& bootImagePath) override;

  protected:
    // Opens the old image once for the whole pack: its descriptor and the data of its
    // entries are read through that one source.
    int packInto(ImageSink& out, const std::string& bootImagePath) override;
    // Carries the old image's boot catalog over, and finds the loader whose boot info
    // table must name its new block.
    void planBoot() override;
    // Carries the old image's System Area over when it holds what can be repatched.
    void planSystemArea(bool hasBootImage) override;
    // The tree of the image, with every change made so far.
    NodeList loadSourceDirectory(const std::string& directory) override;
    // The new descriptor keeps the identifiers of the old image's descriptor; throws when
    // the old descriptor cannot be read.
    void CreateNewPVD(uint32_t volumeSpaceSize, uint32_t pathTableSize, uint32_t typeLPathTable,
                      uint32_t typeMPathTable, const uint8_t* rootRecord,
                      uint8_t* descriptor) override;

  private:
    // Where a new entry goes: its parent's list with the old entry of the same name
    // removed (when allowed), and the node it is linked in after. Null list when the
    // parent is missing or the name is taken and `overwrite` is false.
    struct Insertion {
        DirectoryNode* list = nullptr;
        DirectoryNode* previous = nullptr;
        std::string identifier;
        std::string localParent;
        std::string localName;
        std::string joliet;  // the Joliet name of the entry replaced, if it had one
        // Of the entry the new one replaces.
        std::vector<uint8_t> oldSystemUse;
        std::string oldIdentifier;
        int32_t oldType = kNodeFile;
    };
    // When the image uses Rock Ridge: the PX, NM and TF of the local file for `node` and
    // everything below it; an entry that replaces one of its kind keeps the old entry's
    // fields with new times (and the new name when it is spelt otherwise).
    void giveRockRidge(DirectoryNode& node, const Insertion& insertion);
    Insertion prepareInsertion(const std::string& localPath, const std::string& isoPath,
                               bool overwrite);

    // Why the old image could not be opened for the pack, when it could not.
    std::string oldImageFailure;
};
