#include "platform/file_identity.h"

#include <boost/filesystem.hpp>

namespace file_identity {

namespace {

// Far deeper than any real path; only ends a walk through a broken file system.
constexpr int kMaxChainLength = 4096;

}  // namespace

FileIdentity of(const struct stat& status) {
    FileIdentity identity;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.known = true;
    return identity;
}

FileIdentity ofEntry(const std::string& path) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        return FileIdentity();
    }
    return of(status);
}

FileIdentity ofTarget(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        return FileIdentity();
    }
    return of(status);
}

std::vector<FileIdentity> directoryChain(const std::string& directory) {
    std::vector<FileIdentity> chain;
    std::string current = directory.empty() ? "." : directory;
    struct stat status;
    if (::stat(current.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return chain;
    }
    chain.push_back(of(status));
    for (int step = 0; step < kMaxChainLength; ++step) {
        current += "/..";
        if (::stat(current.c_str(), &status) != 0) {
            break;
        }
        const FileIdentity parent = of(status);
        if (parent == chain.back()) {
            break;  // the root is its own parent
        }
        chain.push_back(parent);
    }
    return chain;
}

bool removalTakes(const std::string& entry, const std::string& path) {
    struct stat status;
    if (::lstat(entry.c_str(), &status) != 0 || S_ISLNK(status.st_mode)) {
        return false;
    }
    if (of(status) != ofTarget(path)) {
        return false;
    }
    if (status.st_nlink < 2) {
        return true;
    }
    // Two names of one file: the entry must not be the very name the path ends at.
    namespace fs = boost::filesystem;
    boost::system::error_code targetError;
    boost::system::error_code directoryError;
    const fs::path target = fs::canonical(path, targetError);
    const fs::path named = fs::absolute(fs::path(entry));
    const fs::path entryDirectory = fs::canonical(named.parent_path(), directoryError);
    return targetError || directoryError || target == entryDirectory / named.filename();
}

}  // namespace file_identity
