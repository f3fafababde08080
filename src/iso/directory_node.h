// The one node type of the directory trees the reader builds from an image and the
// writer builds from local directories.
//
// A directory is a singly linked list of nodes that starts with its "." and ".." nodes.
// Each node owns the next node of its list and, for a directory, the list of its own
// entries; destroying a list frees every subtree below it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/checked_file.h"

struct DirectoryNode;
using NodeList = std::unique_ptr<DirectoryNode>;

enum : int32_t { kNodeDirectory = 1, kNodeFile = 2 };

// Where the writer's layout puts an entry in the new image. Set by the layout
// (numberDirectories, layoutDirectory) and read by the emit; nothing else uses it, and it
// means nothing before a layout.
struct Placement {
    // First block of the entry's data in the new image, counted from the start of the
    // directory area (directories) or of the file area (files); the emit adds the
    // area's first block.
    uint32_t areaExtent = 0;
    // The Data Length written into the entry's record: a directory's records as laid
    // out, a file's size.
    uint32_t dataLength = 0;
    uint32_t recordLength = 0;  // length of the entry's directory record
    uint32_t recordBlock = 0;   // block of that record, counted from the directory area
    uint32_t recordOffset = 0;  // byte offset of that record inside its block
    // Path table number of the directory that holds the entry; on the first node of a
    // list, the number of the directory the list belongs to.
    uint16_t parentNumber = 0;
    uint16_t directoryNumber = 0;  // a directory's own path table number
    // First of the System Use continuation areas of the entry's record (one block each),
    // counted from the first continuation block of the image.
    uint32_t continuationBlock = 0;
};

// One record of a file that an image stores in several records, because its size does not
// fit one record's 32-bit Data Length (Multi-Extent): where that record's data lies in the
// old image, and where the new image puts the record and its data.
struct FileSection {
    uint32_t extent = 0;  // first block of the section's data in the old image
    uint32_t size = 0;    // bytes of data of the section
    Placement placement;  // set by the layout like an entry's own
};

struct DirectoryNode {
    std::string path;        // directory that holds the entry (image path, or local path)
    std::string name;        // name for look-ups, extraction and local reads
    std::string identifier;  // bytes written as File/Directory Identifier
    int32_t type = kNodeFile;
    // For an entry read from an image: the first block of its data in that image. The
    // writer copies the data of such a file from there; it never changes this block.
    uint32_t extent = 0;
    // Bytes of the entry's data: the Data Length read from the image, or the size of the
    // local file. A local file may be larger than an image can hold; the layout refuses
    // it.
    uint64_t size = 0;
    NodeList children;     // a directory's own entry list; null for files and "."/".."
    NodeList next;         // next entry of the same directory
    bool inImage = false;  // data in the old image at `extent`; else in the local file
    // For a local file: how the check at its add found it. The pack opens it along this
    // route, so that what it copies is the file that was checked; without one (a tree
    // built by hand), by its path.
    checked_file::Route checked;
    Placement placement;  // where the new image has it
    // For a file of the image stored in several records: every record, in their order,
    // the first included (its extent is `extent`; the sizes add up to `size`). The new
    // image writes them again one after the other, the Multi-Extent flag on all but the
    // last. Empty for every other entry.
    std::vector<FileSection> sections;
    // The record of an entry of the image is marked hidden; the new image marks it so too.
    // Look-ups and extraction pass such an entry by.
    bool hidden = false;
    // The entry's Joliet identifier (UCS-2 big-endian bytes): the one it had in the old
    // image's Joliet tree, or the one of the entry it replaced. Empty for an entry of an
    // image without Joliet, or left out of the old Joliet tree; an added entry gets one
    // from its local name when the new image is laid out.
    std::string joliet;
    bool jolietHidden = false;  // its Joliet record is marked hidden
    // The SUSP entries (Rock Ridge among them) of the entry's record and its continuation
    // areas, without the CE entries; for an image without SUSP the record's System Use
    // field as it was. Written into the new record.
    std::vector<uint8_t> systemUse;
    DirectoryNode() = default;
    DirectoryNode(const DirectoryNode&) = delete;
    DirectoryNode& operator=(const DirectoryNode&) = delete;
    // Frees the rest of the list without recursing along `next`, so that a directory of
    // many thousand entries cannot exhaust the stack.
    ~DirectoryNode();

    bool isDirectory() const { return type == kNodeDirectory; }
    bool isFile() const { return type == kNodeFile; }
    bool isDotEntry() const { return name == "." || name == ".."; }
    bool isMultiExtent() const { return !sections.empty(); }
};

// A "." or ".." node: a directory entry of size 0 without children.
NodeList makeDotNode(const std::string& name, const std::string& path, uint32_t extent,
                     bool inImage);

// Builds an entry list front to back; appending at the tail keeps large directories
// linear.
class NodeListBuilder {
  public:
    // Appends `node` (one node, its `next` empty) and returns it.
    DirectoryNode* append(NodeList node);
    // Hands the list over; the builder is empty again.
    NodeList take();

  private:
    NodeList head_;
    DirectoryNode* tail_ = nullptr;
};

// Puts `node` (one node, its `next` empty) into a list right after `previous`.
void insertAfter(DirectoryNode& previous, NodeList node);

// The last node of a list, or null for an empty list.
DirectoryNode* lastNode(DirectoryNode* head);
