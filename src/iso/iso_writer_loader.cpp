// The writer's own source tree: a local directory and everything below it.
#include <boost/filesystem.hpp>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "iso/image_path.h"
#include "iso/iso_writer.h"
#include "iso/limits.h"
#include "platform/local_tree.h"

namespace fs = boost::filesystem;

NodeList ISOWriter::loadSourceDirectory(const std::string& directory) {
    std::vector<local_tree::Entry> listing;
    try {
        // The whole tree is looked at before any node is made: every name must be one the
        // image can hold and its reader accepts, links must stay inside the tree, and only
        // regular files and directories are taken.
        listing = local_tree::scan(directory, local_tree::Depth::whole,
                                   image_path::requireLocalEntryName);
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        std::fflush(stdout);
        return nullptr;
    }
    return loadLocalDirectory(directory, listing, 0);
}

NodeList ISOWriter::loadLocalDirectory(const std::string& directory,
                                       const std::vector<local_tree::Entry>& listing,
                                       unsigned depth) {
    NodeListBuilder list;
    try {
        list.append(makeDotNode(".", directory, 0, false));
        list.append(makeDotNode("..", directory, 0, false));
        if (depth >= iso_limits::kMaxDirectoryDepth) {
            throw std::runtime_error("local directory " + directory + " lies more than " +
                                     std::to_string(iso_limits::kMaxDirectoryDepth) +
                                     " levels deep");
        }
        const fs::path directoryPath(directory);
        for (const local_tree::Entry& entry : listing) {
            auto node = std::make_unique<DirectoryNode>();
            node->name = entry.name;
            node->identifier = node->name;
            node->path = directory;
            node->inImage = false;
            DirectoryNode* added = list.append(std::move(node));
            const fs::path entryPath = directoryPath / added->name;
            if (entry.directory) {
                added->type = kNodeDirectory;
                added->children = loadLocalDirectory(entryPath.string(), entry.children, depth + 1);
                if (added->children == nullptr) {
                    throw std::runtime_error("load local directory information failed");
                }
            } else {
                added->type = kNodeFile;
                const uint64_t size = entry.size;
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
        return list.take();
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        std::fflush(stdout);
        return nullptr;
    }
}
