#include "platform/path_limits.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace path_limits {

int creationError(const std::string& directory) {
    // The effective user and groups decide, as they do for the files the run makes.
    return ::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

long longestName(const std::string& directory) {
    const long limit = ::pathconf(directory.c_str(), _PC_NAME_MAX);
    return limit > 0 ? limit : NAME_MAX;
}

long longestPath() {
    return PATH_MAX;
}

}  // namespace path_limits
