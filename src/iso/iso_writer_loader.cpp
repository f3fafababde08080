// The writer's own source tree: a local directory and everything below it.
#include <algorithm>
#include <boost/filesystem.hpp>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "iso/entry_name.h"
#include "iso/image_path.h"
#include "iso/iso_writer.h"
#include "platform/local_tree.h"

namespace fs = boost::filesystem;

NodeList ISOWriter::loadSourceDirectory(const std::string& directory) {
    std::vector<local_tree::Entry> listing;
    try {
        // The whole tree is looked at before any node is made: every name must be one the
        // image can hold and its reader accepts, links must stay inside the tree, only
        // regular files and directories are taken, and no file is larger than an image
        // file can be.
        listing =
            local_tree::scan(directory, local_tree::Depth::whole, image_path::requireLocalEntryName,
                             image_path::requireLocalFileSize);
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        std::fflush(stdout);
        return nullptr;
    }
    return loadLocalDirectory(directory, listing);
}

NodeList ISOWriter::loadLocalDirectory(const std::string& directory,
                                       const std::vector<local_tree::Entry>& listing) {
    NodeListBuilder list;
    try {
        list.append(makeDotNode(".", directory, 0, false));
        list.append(makeDotNode("..", directory, 0, false));
        const fs::path directoryPath(directory);
        // In record order, not in the order the file system happens to list them.
        std::vector<const local_tree::Entry*> sorted;
        for (const local_tree::Entry& entry : listing) {
            sorted.push_back(&entry);
        }
        std::sort(sorted.begin(), sorted.end(),
                  [](const local_tree::Entry* a, const local_tree::Entry* b) {
                      return entry_name::sortsBefore(a->name, b->name);
                  });
        for (const local_tree::Entry* sortedEntry : sorted) {
            const local_tree::Entry& entry = *sortedEntry;
            auto node = std::make_unique<DirectoryNode>();
            node->name = entry.name;
            node->identifier = node->name;
            node->path = directory;
            node->inImage = false;
            node->checked = entry.route;
            DirectoryNode* added = list.append(std::move(node));
            const fs::path entryPath = directoryPath / added->name;
            if (entry.directory) {
                added->type = kNodeDirectory;
                added->children = loadLocalDirectory(entryPath.string(), entry.children);
                if (added->children == nullptr) {
                    throw std::runtime_error("load local directory information failed");
                }
            } else {
                added->type = kNodeFile;
                // A file too large for an image is refused by the layout.
                added->size = entry.size;
                totalBytes += static_cast<uint32_t>(entry.size);
            }
        }
        return list.take();
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        std::fflush(stdout);
        return nullptr;
    }
}
