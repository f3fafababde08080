#include "cli/phase_sizes.h"

#include <boost/filesystem.hpp>

#include "cli/image_listing.h"
#include "cli/options.h"
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

uint64_t bytesOfLocalInputs(const RunOptions& options) {
    uint64_t total = 0;
    for (const std::vector<std::string>* list :
         {&options.storageDrivers, &options.networkDrivers, &options.binaries,
          &options.startBinaries, &options.packages}) {
        for (const std::string& path : *list) {
            total += bytesBelow(path);
        }
    }
    for (const std::string& value : options.startPackages) {
        total += bytesBelow(beforePercent(value));
    }
    if (!options.vncValue.empty()) {
        total += bytesBelow(beforePercent(options.vncValue));
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
