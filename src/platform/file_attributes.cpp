#include "platform/file_attributes.h"

#include <sys/types.h>
#include <sys/xattr.h>

#include <cerrno>

namespace file_attributes {

const char kAccessList[] = "system.posix_acl_access";

namespace {

// The size a call reports, asked for again while the value grows between the calls.
template <typename Call>
bool readGrowing(Call call, std::vector<char>& bytes, int& error) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = call(nullptr, 0);
        if (size < 0) {
            error = errno;
            return false;
        }
        bytes.resize(static_cast<size_t>(size));
        const ssize_t read = call(bytes.data(), bytes.size());
        if (read >= 0) {
            bytes.resize(static_cast<size_t>(read));
            return true;
        }
        if (errno != ERANGE) {
            error = errno;
            return false;
        }
    }
    error = ERANGE;
    return false;
}

}  // namespace

std::vector<Failure> copyAll(int from, int to) {
    std::vector<Failure> failures;
    std::vector<char> names;
    int error = 0;
    const bool listed =
        readGrowing([from](char* buffer, size_t size) { return ::flistxattr(from, buffer, size); },
                    names, error);
    if (!listed) {
        // A file system without extended attributes has none to carry over.
        if (error != ENOTSUP) {
            failures.push_back({"", error});
        }
        return failures;
    }
    for (size_t start = 0; start < names.size();) {
        const std::string name(names.data() + start);
        start += name.size() + 1;
        std::vector<char> value;
        const bool read = readGrowing(
            [from, &name](char* buffer, size_t size) {
                return ::fgetxattr(from, name.c_str(), buffer, size);
            },
            value, error);
        if (!read) {
            failures.push_back({name, error});
        } else if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
            failures.push_back({name, errno});
        }
    }
    return failures;
}

}  // namespace file_attributes
