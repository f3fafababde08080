// The writer's own source tree: a local directory and everything below it.
#include <boost/filesystem.hpp>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "iso/iso_writer.h"
#include "iso/limits.h"

namespace fs = boost::filesystem;

NodeList ISOWriter::loadSourceDirectory(const std::string& directory) {
    return loadLocalDirectory(directory, 0);
}

NodeList ISOWriter::loadLocalDirectory(const std::string& directory, unsigned depth) {
    NodeList entries;
    DirectoryNode* last = nullptr;  // appending at the tail keeps large directories linear
    try {
        if (depth >= iso_limits::kMaxDirectoryDepth) {
            // Also what stops a symbolic link that points at one of its own parents.
            throw std::runtime_error("local directory " + directory + " lies more than " +
                                     std::to_string(iso_limits::kMaxDirectoryDepth) +
                                     " levels deep");
        }
        const fs::path directoryPath(directory);
        for (fs::directory_iterator it(directoryPath), end; it != end; ++it) {
            auto node = std::make_unique<DirectoryNode>();
            node->name = it->path().filename().string();
            node->identifier = node->name;
            node->path = directory;
            node->inImage = false;
            DirectoryNode* added = node.get();
            (last == nullptr ? entries : last->next) = std::move(node);
            last = added;
            const fs::path entryPath = directoryPath / added->name;
            if (fs::is_directory(entryPath)) {
                added->type = kNodeDirectory;
                added->children = loadLocalDirectory(entryPath.string(), depth + 1);
                if (added->children == nullptr) {
                    throw std::runtime_error("load local directory information failed");
                }
            } else {
                added->type = kNodeFile;
                const uintmax_t size = fs::file_size(entryPath);
                if (size > iso_limits::kMaxFileSize) {
                    throw std::runtime_error("local file " + entryPath.string() + " is " +
                                             std::to_string(size) +
                                             " bytes; an image file holds at most " +
                                             std::to_string(iso_limits::kMaxFileSize));
                }
                added->size = static_cast<uint32_t>(size);
                totalBytes += added->size;
            }
        }
        NodeList list = makeDotNode(".", directory, 0, false);
        NodeList parent = makeDotNode("..", directory, 0, false);
        parent->next = std::move(entries);
        list->next = std::move(parent);
        return list;
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        std::fflush(stdout);
        return nullptr;
    }
}
