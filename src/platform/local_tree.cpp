#include "platform/local_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const SizeCheck& checkSize;
    checked_file::Route top;
    struct stat topStatus;
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

// The names in the open directory `directory`, in the order the file system lists them.
std::vector<std::string> namesIn(int directory, const std::string& shown) {
    OpenFile copy(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
    DIR* listing = copy.isOpen() ? ::fdopendir(copy.fd()) : nullptr;
    if (listing == nullptr) {
        throw std::runtime_error("can not list directory " + shown + ": " + std::strerror(errno));
    }
    copy.release();  // the listing owns it from here on
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (entry == nullptr) {
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    const int error = errno;
    ::closedir(listing);
    if (error != 0) {
        throw std::runtime_error("can not list directory " + shown + ": " + std::strerror(error));
    }
    return names;
}

// The entry `name` of the open directory `directory` (route `route`), as the listing
// finds it: `status` is what it is, or what the link there leads to (`linked`); returns
// its route and sets `resolved` to its resolved path.
checked_file::Route lookAt(const Walk& walk, int directory, const checked_file::Route& route,
                           const std::string& name, const std::string& path, struct stat& status,
                           std::string& resolved, bool& linked) {
    if (::fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::runtime_error("can not look at " + path + ": " + std::strerror(errno));
    }
    resolved = walk.chain.back() + "/" + name;
    linked = S_ISLNK(status.st_mode);
    if (!linked) {
        return checked_file::extend(route, name, status);
    }
    // Resolved once; what it leads to is then walked to from the top, following no link.
    resolved = followLink(walk, path);
    if (resolved == walk.topResolved) {
        status = walk.topStatus;
        return walk.top;
    }
    const size_t below = walk.topResolved == "/" ? 1 : walk.topResolved.size() + 1;
    const std::string relative = resolved.substr(below);
    checked_file::Route followed = checked_file::follow(walk.top, relative, path, status);
    if (S_ISLNK(status.st_mode)) {
        throw std::runtime_error("symbolic link " + path + " can not be followed: " + resolved +
                                 " changed while it was looked at");
    }
    return followed;
}

void listDirectory(Walk& walk, int directory, const checked_file::Route& route,
                   const std::string& listed, std::vector<Entry>& entries) {
    for (const std::string& name : namesIn(directory, listed)) {
        Entry entry;
        entry.name = name;
        const std::string path = listed + "/" + entry.name;
        if (walk.checkName) {
            walk.checkName(entry.name, path);
        }
        struct stat status;
        std::string resolved;
        bool linked = false;
        entry.route = lookAt(walk, directory, route, name, path, status, resolved, linked);
        if (S_ISDIR(status.st_mode)) {
            entry.directory = true;
            if (std::find(walk.chain.begin(), walk.chain.end(), resolved) != walk.chain.end()) {
                throw std::runtime_error("symbolic link " + path + " leads back to " + resolved +
                                         ", a directory that holds it");
            }
            if (walk.depth == Depth::whole) {
                // Opened as it was seen: the entry itself, or what the link leads to.
                const OpenFile below =
                    linked ? checked_file::openDirectory(entry.route, path)
                           : checked_file::openDirectoryAt(directory, name, status, path);
                walk.chain.push_back(resolved);
                listDirectory(walk, below.fd(), entry.route, path, entry.children);
                walk.chain.pop_back();
            }
        } else if (S_ISREG(status.st_mode)) {
            entry.size = static_cast<uint64_t>(status.st_size);
            if (walk.checkSize) {
                walk.checkSize(path, entry.size);
            }
        } else {
            throw std::runtime_error("local entry " + path + " is " +
                                     local_file::kindOf(status.st_mode) +
                                     ", neither a regular file nor a directory");
        }
        entries.push_back(std::move(entry));
    }
}

}  // namespace

std::vector<Entry> scan(const std::string& top, Depth depth, const NameCheck& checkName,
                        const SizeCheck& checkSize) {
    OpenFile directory;
    const checked_file::Route start = checked_file::startAtDirectory(top, directory);
    Walk walk{start->name, depth, checkName, checkSize, start, {}, {start->name}};
    if (::fstat(directory.fd(), &walk.topStatus) != 0) {
        throw std::runtime_error("can not list directory " + top + ": " + std::strerror(errno));
    }
    std::string listed = top;  // messages name entries as "top/name", not "top//name"
    while (listed.size() > 1 && listed.back() == '/') {
        listed.pop_back();
    }
    std::vector<Entry> entries;
    listDirectory(walk, directory.fd(), start, listed, entries);
    return entries;
}

}  // namespace local_tree
