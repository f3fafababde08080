#include "image_round_trip.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "iso/boot_image_reader.h"
#include "iso/image_sink.h"
#include "iso/image_source.h"
#include "iso/iso_modifier.h"
#include "iso/iso_reader.h"

namespace {

// A memory sink of this many bytes holds any image of at most the tree's file bytes plus
// its directories, which are bounded by the size of the input.
constexpr uint64_t kSinkSlack = 64ull * 1024 * 1024;

class TreeReader : public ISOReader {
  public:
    using ISOReader::ISOReader;
    bool load() { return loadImage() == 0; }
    const DirectoryNode* tree() const { return root.get(); }
    uint16_t blockSize() const { return logicalBlockSize; }
};

[[noreturn]] void mismatch(const std::string& path, const std::string& what) {
    std::fprintf(stderr, "round trip: \\%s: %s\n", path.c_str(), what.c_str());
    std::abort();
}

// Sum of the file sizes below `list`, stopping once it passes `bound`.
uint64_t fileBytes(const DirectoryNode* list, uint64_t bound) {
    uint64_t sum = 0;
    for (const DirectoryNode* node = list; node != nullptr && sum <= bound;
         node = node->next.get()) {
        if (node->isFile()) {
            sum += node->size;
        } else if (!node->isDotEntry()) {
            sum += fileBytes(node->children.get(), bound - sum);
        }
    }
    return sum;
}

struct Image {
    const uint8_t* data;
    size_t size;
    uint16_t blockSize;
};

// The data of a file, from each of its records in turn when it has several.
std::vector<uint8_t> fileData(const Image& image, const DirectoryNode& node) {
    std::vector<FileSection> pieces = node.sections;
    if (pieces.empty()) {
        pieces.push_back(FileSection{node.extent, 0, {}});
    }
    std::vector<uint8_t> data;
    for (const FileSection& piece : pieces) {
        const uint64_t size = node.isMultiExtent() ? piece.size : node.size;
        const uint64_t start = uint64_t(piece.extent) * image.blockSize;
        if (start > image.size || size > image.size - start) {
            return {};
        }
        data.insert(data.end(), image.data + start, image.data + start + size);
    }
    return data;
}

// The Joliet names of a list, sorted, each with its hidden mark: the Joliet tree holds
// them in its own order, and which of several empty files of one extent takes which
// name is not fixed.
std::vector<std::string> jolietNames(const DirectoryNode* list) {
    std::vector<std::string> names;
    for (const DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (!node->joliet.empty()) {
            names.push_back(node->joliet + (node->jolietHidden ? "H" : "V"));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void compareLists(const DirectoryNode* before, const Image& old, const DirectoryNode* after,
                  const Image& packed, const std::string& path) {
    if (jolietNames(before) != jolietNames(after)) {
        mismatch(path, "the Joliet names differ");
    }
    while (before != nullptr || after != nullptr) {
        if (before != nullptr && before->isDotEntry()) {
            before = before->next.get();
            continue;
        }
        if (after != nullptr && after->isDotEntry()) {
            after = after->next.get();
            continue;
        }
        if (before == nullptr || after == nullptr) {
            mismatch(path, before != nullptr ? "entry " + before->name + " is missing"
                                             : "entry " + after->name + " is new");
        }
        const std::string entry = path.empty() ? before->name : path + "\\" + before->name;
        if (before->name != after->name) {
            mismatch(entry, "packed as " + after->name);
        }
        if (before->type != after->type) {
            mismatch(entry, "changed its kind");
        }
        if (before->hidden != after->hidden) {
            mismatch(entry, "changed its hidden mark");
        }
        if (before->isFile()) {
            if (before->size != after->size) {
                mismatch(entry, "size " + std::to_string(before->size) + " became " +
                                    std::to_string(after->size));
            }
            if (fileData(old, *before) != fileData(packed, *after)) {
                mismatch(entry, "the data differs");
            }
        } else {
            compareLists(before->children.get(), old, after->children.get(), packed, entry);
        }
        before = before->next.get();
        after = after->next.get();
    }
}

}  // namespace

RoundTrip roundTripImage(const uint8_t* data, size_t size, uint64_t maxFileBytes) {
    TreeReader original("fuzz.iso", memoryImageOpener(data, size));
    if (!original.load()) {
        return RoundTrip::refused;
    }
    if (fileBytes(original.tree(), maxFileBytes) > maxFileBytes) {
        return RoundTrip::tooLarge;
    }
    MemoryImageSink sink(maxFileBytes + size + kSinkSlack);
    {
        ISOModifier modifier("fuzz.iso", memoryImageOpener(data, size));
        if (modifier.PackImageTo(sink, "") != 0) {
            return RoundTrip::notPacked;
        }
    }
    const std::vector<uint8_t>& bytes = sink.bytes();
    TreeReader packed("packed.iso", memoryImageOpener(bytes.data(), bytes.size()));
    if (!packed.load()) {
        mismatch("", "the packed image does not load");
    }
    compareLists(original.tree(), {data, size, original.blockSize()}, packed.tree(),
                 {bytes.data(), bytes.size(), packed.blockSize()}, "");
    return RoundTrip::same;
}

void bootRoundTrip(const uint8_t* data, size_t size, const std::string& bootImagePath,
                   uint64_t maxFileBytes) {
    TreeReader original("fuzz.iso", memoryImageOpener(data, size));
    if (!original.load() || fileBytes(original.tree(), maxFileBytes) > maxFileBytes) {
        return;
    }
    MemoryImageSink sink(maxFileBytes + 2 * size + kSinkSlack);
    {
        ISOModifier modifier("fuzz.iso", memoryImageOpener(data, size));
        if (modifier.PackImageTo(sink, bootImagePath) != 0) {
            return;
        }
    }
    const std::vector<uint8_t>& bytes = sink.bytes();
    ISOBootImageReader packed("packed.iso", memoryImageOpener(bytes.data(), bytes.size()));
    if (packed.LoadBootImage() != 0) {
        mismatch("", "the boot image of the packed image does not load");
    }
    for (const boot_catalog::Entry* entry : packed.catalog().entries()) {
        if (uint64_t{entry->loadRba} * 2048 >= bytes.size()) {
            mismatch("", "a boot catalog entry points past the packed image");
        }
    }
}
