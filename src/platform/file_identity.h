// Files told apart by what they are, not by how they are named: the device and inode
// that a path leads to.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool known = false;

    bool operator==(const FileIdentity& other) const {
        return known && other.known && device == other.device && inode == other.inode;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

namespace file_identity {

FileIdentity of(const struct stat& status);

// The file that `path` names itself (a link is not followed); unknown when it is missing.
FileIdentity ofEntry(const std::string& path);

// The file that `path` leads to (links followed); unknown when it can not be reached.
FileIdentity ofTarget(const std::string& path);

// The directory `directory` and every directory above it up to the root, nearest first.
// The walk goes through "..", so it follows the directories as the kernel finds them:
// through links, bind mounts and doubled separators alike. Empty when `directory` can
// not be reached.
std::vector<FileIdentity> directoryChain(const std::string& directory);

// True when removing the entry `entry` (never followed) would take away the file that
// `path` leads to: the entry is where `path` finally leads, or it is that file's only
// name. A symbolic link to the file, or another hard link of it, may go.
bool removalTakes(const std::string& entry, const std::string& path);

}  // namespace file_identity
