// The places where file systems (and bind mounts) are mounted, as this process sees them.
#pragma once

#include <string>
#include <vector>

namespace mount_points {

// Every mount point, as an absolute path, from /proc/self/mountinfo; empty when that can
// not be read.
std::vector<std::string> list();

// The first mount point strictly below the directory `directory` (which is resolved
// first), "" when there is none. Removing such a directory with all its contents would
// reach into the mounted file system.
std::string firstBelow(const std::string& directory);

// True when the directory `directory` (resolved first) is itself a mount point: listed
// as one, or on another file system than its parent. Emptying it would empty the mounted
// file system.
bool isMountPoint(const std::string& directory);

}  // namespace mount_points
