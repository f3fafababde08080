#include "platform/local_tree.h"

#include <sys/stat.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/local_file.h"

namespace fs = boost::filesystem;

namespace local_tree {

namespace {

struct Walk {
    std::string topResolved;  // the top directory with every link resolved
    Depth depth;
    const NameCheck& checkName;
    // Resolved paths of the directories from the top down to the one being listed.
    std::vector<std::string> chain;
};

bool liesInside(const std::string& path, const std::string& directory) {
    if (path == directory) {
        return true;
    }
    const std::string prefix = directory.back() == '/' ? directory : directory + "/";
    return path.compare(0, prefix.size(), prefix) == 0;
}

// Where the link at `path` leads, refused when that is outside the top directory.
std::string followLink(const Walk& walk, const std::string& path) {
    boost::system::error_code error;
    const fs::path target = fs::canonical(path, error);
    if (error) {
        throw std::runtime_error("symbolic link " + path +
                                 " can not be followed: " + error.message());
    }
    if (!liesInside(target.string(), walk.topResolved)) {
        throw std::runtime_error("symbolic link " + path + " leads to " + target.string() +
                                 ", outside " + walk.topResolved);
    }
    return target.string();
}

void listDirectory(Walk& walk, const std::string& directory, std::vector<Entry>& entries) {
    for (fs::directory_iterator it(directory), end; it != end; ++it) {
        Entry entry;
        entry.name = it->path().filename().string();
        const std::string path = directory + "/" + entry.name;
        if (walk.checkName) {
            walk.checkName(entry.name, path);
        }
        struct stat status;
        if (::lstat(path.c_str(), &status) != 0) {
            throw std::runtime_error("can not look at " + path + ": " + std::strerror(errno));
        }
        std::string resolved = walk.chain.back() + "/" + entry.name;
        if (S_ISLNK(status.st_mode)) {
            resolved = followLink(walk, path);
            if (::stat(resolved.c_str(), &status) != 0) {
                throw std::runtime_error("can not look at " + resolved + ", where " + path +
                                         " leads: " + std::strerror(errno));
            }
        }
        if (S_ISDIR(status.st_mode)) {
            entry.directory = true;
            if (std::find(walk.chain.begin(), walk.chain.end(), resolved) != walk.chain.end()) {
                throw std::runtime_error("symbolic link " + path + " leads back to " + resolved +
                                         ", a directory that holds it");
            }
            if (walk.depth == Depth::whole) {
                walk.chain.push_back(resolved);
                listDirectory(walk, path, entry.children);
                walk.chain.pop_back();
            }
        } else if (S_ISREG(status.st_mode)) {
            entry.size = static_cast<uint64_t>(status.st_size);
        } else {
            throw std::runtime_error("local entry " + path + " is " +
                                     local_file::kindOf(status.st_mode) +
                                     ", neither a regular file nor a directory");
        }
        entries.push_back(std::move(entry));
    }
}

}  // namespace

std::vector<Entry> scan(const std::string& top, Depth depth, const NameCheck& checkName) {
    boost::system::error_code error;
    const fs::path resolved = fs::canonical(top, error);
    if (error) {
        throw std::runtime_error("can not list directory " + top + ": " + error.message());
    }
    Walk walk{resolved.string(), depth, checkName, {resolved.string()}};
    std::string listed = top;  // messages name entries as "top/name", not "top//name"
    while (listed.size() > 1 && listed.back() == '/') {
        listed.pop_back();
    }
    std::vector<Entry> entries;
    listDirectory(walk, listed, entries);
    return entries;
}

}  // namespace local_tree
