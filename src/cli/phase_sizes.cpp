#include "cli/phase_sizes.h"

#include <boost/filesystem.hpp>

#include "cli/image_listing.h"
#include "editor/edit_request.h"
#include "iso/directory_node.h"

namespace fs = boost::filesystem;

namespace {

// A figure for a progress line only: what can not be read counts as nothing, and the
// checks and copies report it in their own words.
uint64_t bytesBelow(const std::string& path) {
    boost::system::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        const uintmax_t size = fs::file_size(path, ec);
        return ec ? 0 : size;
    }
    if (!fs::is_directory(path, ec)) {
        return 0;
    }
    uint64_t total = 0;
    fs::recursive_directory_iterator it(path, fs::directory_options::follow_directory_symlink, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        boost::system::error_code entryError;
        if (fs::is_regular_file(it->path(), entryError)) {
            const uintmax_t size = fs::file_size(it->path(), entryError);
            total += entryError ? 0 : size;
        }
    }
    return total;
}

std::string beforePercent(const std::string& value) {
    return value.substr(0, value.find('%'));
}

}  // namespace

uint64_t bytesOfLocalInputs(const EditRequest& edits) {
    uint64_t total = 0;
    for (const std::vector<std::string>* list :
         {&edits.storageDrivers, &edits.networkDrivers, &edits.binaries, &edits.startBinaries,
          &edits.packages}) {
        for (const std::string& path : *list) {
            total += bytesBelow(path);
        }
    }
    for (const std::string& value : edits.startPackages) {
        total += bytesBelow(beforePercent(value));
    }
    if (!edits.vncValue.empty()) {
        total += bytesBelow(beforePercent(edits.vncValue));
    }
    return total;
}

uint64_t bytesOfFiles(const DirectoryNode* rootList) {
    uint64_t total = 0;
    forEachImageEntry(rootList, "", [&total](const DirectoryNode& node, const std::string&) {
        if (node.isFile()) {
            total += node.size;
        }
    });
    return total;
}
