// ISOReader: copying files and directory trees out of the image.
#include <boost/filesystem.hpp>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/entry_name.h"
#include "iso/image_console.h"
#include "iso/image_path.h"
#include "iso/iso_reader.h"
#include "iso/limits.h"
#include "platform/local_file.h"

namespace fs = boost::filesystem;

namespace {

std::string entryPath(const DirectoryNode& node) {
    return "\\" + printableName(image_path::join(node.path, node.name));
}

}  // namespace

int ISOReader::RetrieveFile(const std::string& isoPath, const std::string& localPath) {
    if (loadImage() != 0) {
        return 1;
    }
    try {
        std::string path = isoPath;
        trimLeadingSeparators(path);
        DirectoryNode* node = findDirectoryRecord(path);
        if (node == nullptr || !node->isFile()) {
            return 1;
        }
        return extractEntry(node, localPath, Progress::hidden);
    } catch (const std::exception& e) {
        printImageLine(std::string("ISOReader RetrieveFile exception: ") + e.what());
        return 1;
    }
}

int ISOReader::RetrieveDir(const std::string& isoPath, const std::string& localDir) {
    if (loadImage() != 0) {
        return 1;
    }
    try {
        std::string path = isoPath;
        trimLeadingSeparators(path);
        trimTrailingSeparators(path);
        DirectoryNode* node = findDirectoryRecord(path);
        if (node == nullptr || !node->isDirectory()) {
            return 1;
        }
        return extractTree(node, localDir, Progress::hidden);
    } catch (const std::exception& e) {
        printImageLine(std::string("ISOReader RetrieveDir exception: ") + e.what());
        return 1;
    }
}

namespace {

// Bytes of the hidden files below `list` (all of them below a hidden directory), modulo
// 2^32 like `totalBytes`.
uint32_t hiddenFileBytes(const DirectoryNode* list, bool insideHidden) {
    uint32_t sum = 0;
    for (const DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        const bool hidden = insideHidden || node->hidden;
        if (node->isFile() && hidden) {
            sum += static_cast<uint32_t>(node->size);
        } else if (node->isDirectory() && !node->isDotEntry()) {
            sum += hiddenFileBytes(node->children.get(), hidden);
        }
    }
    return sum;
}

}  // namespace

int ISOReader::UnpackImage(const std::string& destination) {
    if (loadImage() != 0) {
        return 1;
    }
    printImageLine("unpack ISO image ...");
    // Hidden entries are not extracted, so the progress marks count without them.
    const uint32_t hidden = hiddenFileBytes(root.get(), false);
    totalBytes -= hidden;
    const int result = extractTree(root.get(), destination, Progress::shown);
    totalBytes += hidden;
    printImageLine(result == 1 ? "unpack ISO image failed" : "unpack ISO image succeeded");
    return result;
}

int ISOReader::extractTree(DirectoryNode* node, const std::string& destination, Progress progress) {
    if (!loaded) {
        return 1;
    }
    for (; node != nullptr; node = node->next.get()) {
        // Hidden entries are kept for the new image, not shown.
        if (node->isDotEntry() || node->hidden) {
            continue;
        }
        // Names come from the image; only a plain name may become part of a local path.
        // Local files take the name without its decorations, as readers show it.
        const std::string localName = entry_name::undecorated(node->name);
        if (!image_path::isValidEntryName(localName)) {
            printImageLine("create file/directory failed, IO exception: entry " + entryPath(*node) +
                           " has no valid name");
            return 1;
        }
        const std::string target = (fs::path(destination) / localName).string();
        if (extractEntry(node, target, progress) == 1) {
            return 1;
        }
        if (node->isDirectory() && extractTree(node->children.get(), target, progress) == 1) {
            return 1;
        }
    }
    return 0;
}

int ISOReader::extractEntry(DirectoryNode* node, const std::string& target, Progress progress) {
    if (!loaded || node == nullptr) {
        return 1;
    }
    if (node->isDotEntry()) {
        return 0;
    }
    try {
        // symlink_status: a dangling link counts as existing, so nothing is written
        // through it.
        if (fs::symlink_status(fs::path(target)).type() != fs::file_not_found) {
            throw std::runtime_error("file/directory " + target + " already exists");
        }
        if (node->isFile()) {
            copyFileData(*node, target, progress);
            return 0;
        }
        if (node->isDirectory()) {
            fs::create_directory(fs::path(target));
            return 0;
        }
        return 1;
    } catch (const std::exception& e) {
        printImageLine(std::string("create file/directory failed, IO exception: ") + e.what());
        return 1;
    }
}

void ISOReader::copyFileData(const DirectoryNode& node, const std::string& target,
                             Progress progress) {
    std::unique_ptr<ImageSource> source = openImage();
    // A file stored in several records has its data in each record's extent, in order.
    std::vector<FileSection> pieces = node.sections;
    if (pieces.empty()) {
        pieces.push_back(FileSection{node.extent, 0, {}});
    }
    for (const FileSection& piece : pieces) {
        const uint64_t size = node.isMultiExtent() ? piece.size : node.size;
        const uint64_t start = static_cast<uint64_t>(piece.extent) * logicalBlockSize;
        if (!source->contains(start, size)) {
            throw std::runtime_error(
                formatText("data of %s (%" PRIu64 " bytes at block %u, byte %" PRIu64
                           ") runs past the end of the image (%" PRIu64 " bytes)",
                           entryPath(node).c_str(), size, piece.extent, start, source->size()));
        }
    }
    OpenFile out = local_file::rewrite(target);
    uint8_t buffer[iso_limits::kExtractPieceSize];
    uint64_t written = 0;
    for (const FileSection& piece : pieces) {
        uint64_t offset = static_cast<uint64_t>(piece.extent) * logicalBlockSize;
        uint64_t remaining = node.isMultiExtent() ? piece.size : node.size;
        while (remaining > 0) {
            const size_t chunk = remaining < iso_limits::kExtractPieceSize
                                     ? remaining
                                     : iso_limits::kExtractPieceSize;
            source->read(offset, buffer, chunk);
            const file_io::Transfer put = file_io::writeAll(out.fd(), buffer, chunk);
            if (put.done < chunk) {
                throw std::runtime_error(formatText(
                    "writing %s failed at byte %" PRIu64 ": %s", target.c_str(), written + put.done,
                    std::strerror(put.failed() ? put.error : ENOSPC)));
            }
            offset += chunk;
            written += chunk;
            remaining -= chunk;
            if (progress == Progress::shown) {
                advanceProgress(static_cast<uint32_t>(chunk));
            }
        }
    }
    if (!out.close()) {
        throw std::runtime_error("writing " + target + " failed: " + std::strerror(errno));
    }
}
