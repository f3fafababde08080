// The Joliet tree of a new image: a directory hierarchy of its own, with its own path
// tables, over the same files as the ISO 9660 tree. Each file's Joliet record points at
// the extent its ISO 9660 record has in the new image; the Joliet directories lie in an
// area of their own after everything else the image holds.
//
// The tree is built and laid out from the ISO 9660 tree once that is laid out; it keeps
// pointers into that tree, which must outlive it unchanged.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "iso/directory_node.h"
#include "iso/iso_writer_layout.h"

class ImageSink;

namespace joliet {

class Tree {
  public:
    // The Joliet tree of the ISO 9660 tree below `rootList`: entries of the image under
    // their old Joliet names (those without one are left out), added entries under the
    // Joliet name of their local name. Throws iso_layout::LimitError for an added name
    // that cannot be a Joliet name, or a name too long for a record.
    explicit Tree(const DirectoryNode* rootList);
    ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    // Path Table Size in bytes and blocks of the directory area, with 2048-byte blocks.
    uint32_t pathTableSize() const { return pathTableSize_; }
    uint64_t directoryBlocks() const { return directoryBlocks_; }

    // The 2048-byte descriptor of the new image: the old Joliet descriptor `old` with
    // the new sizes, path tables and root record.
    void makeDescriptor(const std::vector<uint8_t>& old, const iso_layout::ImageLayout& layout,
                        uint8_t* descriptor) const;
    // Both path tables at their blocks.
    void writePathTables(const iso_layout::ImageLayout& layout, ImageSink& out) const;
    // Every Joliet directory at its blocks.
    void writeDirectories(const iso_layout::ImageLayout& layout, ImageSink& out) const;

    struct Directory;

  private:
    std::unique_ptr<Directory> root_;
    uint32_t pathTableSize_ = 0;
    uint64_t directoryBlocks_ = 0;
};

}  // namespace joliet
