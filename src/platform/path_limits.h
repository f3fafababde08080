// Whether new files can be made in a directory, and how long their names may be.
#pragma once

#include <string>

namespace path_limits {

// 0 when the process may create and remove entries in `directory`, else the system's
// error number (EACCES, EROFS, ENOENT, ...).
int creationError(const std::string& directory);

// The longest name of an entry that `directory`'s file system takes (NAME_MAX where it
// does not say).
long longestName(const std::string& directory);

// The longest path the system takes (PATH_MAX).
long longestPath();

}  // namespace path_limits
