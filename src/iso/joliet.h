// The Joliet namespace of an image: its supplementary volume descriptor, the UCS-2 names
// of its tree, and the names an added entry gets in it.
//
// An image's Joliet tree holds the same files as its ISO 9660 tree under other names:
// a file's Joliet record points at the same extent as its ISO 9660 record. The reader
// reads the old Joliet tree once and gives each entry of the ISO 9660 tree the Joliet
// name of its counterpart (DirectoryNode::joliet); the writer builds the new image's
// Joliet tree from those names (joliet_tree.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iso/directory_node.h"

class ImageSource;

namespace joliet {

// Longest name an added entry gets: 64 UCS-2 characters.
constexpr size_t kMaxNameCharacters = 64;

// True for a supplementary volume descriptor (type 2) with the escape sequence %/@,
// %/C or %/E: UCS-2 names.
bool isJolietDescriptor(const uint8_t* descriptor);

// The first Joliet descriptor of the set after the primary one (kDescriptorSize bytes),
// or empty when the image has none. The search ends at the terminator, at a block that
// is no descriptor, or after a bounded number of blocks.
std::vector<uint8_t> findDescriptor(ImageSource& image);

// Reads the Joliet tree of `descriptor` and gives every entry of the ISO 9660 tree below
// `rootList` the name of its Joliet counterpart: a file is the record with the same
// extent and size, of the same name (letter case and decorations ignored) where one is;
// a directory the record of the same name, else the one holding a file of the same
// extent, else the next one left. Names are matched first in every directory, so the
// order of the records does not decide. Entries without a
// counterpart keep an empty name. Throws std::runtime_error, naming the directory, for a
// Joliet tree that loops, lies too deep, repeats directories, runs past the image or
// holds a broken record; the tree is then not taken.
// Returns the Joliet entries that have no counterpart ("\\DIR\\NAME", the topmost of a
// subtree only): the new image does not have them.
std::vector<std::string> readNames(ImageSource& image, const std::vector<uint8_t>& descriptor,
                                   DirectoryNode* rootList, uint32_t blockSize);

// The Joliet name of a local name (UTF-8): UCS-2 big-endian, at most kMaxNameCharacters
// characters, none of them a control character or one of * / : ; ? \. Throws
// std::invalid_argument saying why a name cannot be one.
std::string encodeName(const std::string& name);

// A Joliet name as UTF-8, for messages.
std::string shownName(const std::string& ucs2);

}  // namespace joliet
