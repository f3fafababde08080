// What of an old image a rewrite does not keep: the new image holds the ISO 9660 tree,
// hidden entries included, its Joliet tree and the boot records, and nothing else. One
// text per thing, naming it, for the warnings given before a pack (and for a run that
// only shows what it would do).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DirectoryNode;
class ImageSource;

namespace dropped_features {

// Each thing of `image` (whose tree, as the reader loaded it, is `rootList`) that a
// rewrite drops: supplementary volume descriptors other than Joliet's, partition
// descriptors, a UDF bridge, a System Area that is not zero and not repatched (or the
// parts of one that are not), and boot catalog entries or boot info tables that cannot
// be carried over. Every text starts "the new image will not keep". Throws
// std::runtime_error only when the image cannot be read at all.
std::vector<std::string> find(ImageSource& image, const DirectoryNode* rootList,
                              uint32_t blockSize);

}  // namespace dropped_features
