#include "platform/checked_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace fs = boost::filesystem;

namespace checked_file {

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Non-blocking, so that a FIFO put in the place of a file does not wait for a writer.
constexpr int kFileFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// What went wrong with `what` ("it", or a directory on the way), after `error`.
std::string openReason(const std::string& what, int error) {
    if (error == ELOOP) {
        return what + " was replaced by a symbolic link after it was checked";
    }
    if (error == ENOTDIR) {
        return what + " is no longer a directory";
    }
    return what + ": " + std::strerror(error);
}

std::runtime_error listFailure(const std::string& shown, const std::string& reason) {
    return std::runtime_error("can not list directory " + shown + ": " + reason);
}

std::runtime_error fileFailure(const std::string& shown, const std::string& reason) {
    return std::runtime_error("cannot open local file " + shown + ": " + reason);
}

// The steps of `route` from its first to its last.
std::vector<const Step*> stepsOf(const Route& route) {
    std::vector<const Step*> steps;
    for (const Step* step = route.get(); step != nullptr; step = step->before.get()) {
        steps.insert(steps.begin(), step);
    }
    return steps;
}

// Opens the directory `name` of the directory `at` without following a link and checks
// it against `expected`; the reason of a failure names `what`.
OpenFile openCheckedDirectory(int at, const std::string& name, const FileIdentity& expected,
                              const std::string& what, std::string& reason) {
    OpenFile directory(::openat(at, name.c_str(), kDirectoryFlags));
    struct stat status;
    if (directory.fd() < 0) {
        int error = errno;
        // A link there is refused as "no directory"; it is said what it is.
        if (error == ENOTDIR && ::fstatat(at, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(status.st_mode)) {
            error = ELOOP;
        }
        reason = openReason(what, error);
    } else if (::fstat(directory.fd(), &status) != 0) {
        reason = openReason(what, errno);
    } else if (file_identity::of(status) != expected) {
        reason = what + " is no longer the directory that was checked";
    } else {
        return directory;
    }
    return OpenFile();
}

// Opens the directories of `steps` from the first up to the one before `end`; returns
// the last one opened, or a closed file with `reason` set.
OpenFile walk(const std::vector<const Step*>& steps, size_t end, std::string& reason) {
    const Step& start = *steps.front();
    OpenFile directory = openCheckedDirectory(AT_FDCWD, start.name, start.identity,
                                              "the directory " + start.name, reason);
    for (size_t i = 1; i < end && directory.fd() >= 0; ++i) {
        const Step& step = *steps[i];
        directory = openCheckedDirectory(directory.fd(), step.name, step.identity,
                                         "the directory " + step.name + " on its way", reason);
    }
    return directory;
}

}  // namespace

Route startAtDirectory(const std::string& path, OpenFile& directory) {
    boost::system::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    if (error) {
        throw listFailure(path, error.message());
    }
    directory = OpenFile(::open(resolved.c_str(), kDirectoryFlags));
    struct stat status;
    if (directory.fd() < 0 || ::fstat(directory.fd(), &status) != 0) {
        throw listFailure(path, std::strerror(errno));
    }
    return std::make_shared<const Step>(
        Step{nullptr, resolved.string(), file_identity::of(status)});
}

Route startAtFile(const std::string& path, OpenFile& file, uint64_t& size) {
    file = local_file::openForReading(path, size);
    struct stat status;
    if (::fstat(file.fd(), &status) != 0) {
        throw fileFailure(path, std::strerror(errno));
    }
    boost::system::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    if (error) {
        throw fileFailure(path, error.message());
    }
    return std::make_shared<const Step>(
        Step{nullptr, resolved.string(), file_identity::of(status)});
}

Route extend(const Route& route, const std::string& name, const struct stat& status) {
    return std::make_shared<const Step>(Step{route, name, file_identity::of(status)});
}

Route follow(const Route& route, const std::string& relative, const std::string& shown,
             struct stat& status) {
    std::vector<std::string> names;
    for (const fs::path& part : fs::path(relative)) {
        names.push_back(part.string());
    }
    const std::vector<const Step*> steps = stepsOf(route);
    std::string reason;
    OpenFile directory = walk(steps, steps.size(), reason);
    Route followed = route;
    for (size_t i = 0; i < names.size() && directory.fd() >= 0; ++i) {
        if (::fstatat(directory.fd(), names[i].c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            reason = openReason(names[i], errno);
            break;
        }
        followed = extend(followed, names[i], status);
        if (i + 1 == names.size()) {
            return followed;
        }
        if (S_ISLNK(status.st_mode)) {
            reason = names[i] + " on its way is itself a symbolic link";
            break;
        }
        directory = openDirectoryAt(directory.fd(), names[i], status, shown);
    }
    throw std::runtime_error("symbolic link " + shown + " can not be followed: " + reason);
}

OpenFile openDirectoryAt(int parent, const std::string& name, const struct stat& status,
                         const std::string& shown) {
    std::string reason;
    OpenFile directory =
        openCheckedDirectory(parent, name, file_identity::of(status), "it", reason);
    if (directory.fd() < 0) {
        throw listFailure(shown, reason);
    }
    return directory;
}

OpenFile openDirectory(const Route& route, const std::string& shown) {
    const std::vector<const Step*> steps = stepsOf(route);
    std::string reason;
    OpenFile directory = walk(steps, steps.size(), reason);
    if (directory.fd() < 0) {
        throw listFailure(shown, reason);
    }
    return directory;
}

OpenFile openFile(const Route& route, const std::string& shown, uint64_t& size) {
    const std::vector<const Step*> steps = stepsOf(route);
    const Step& last = *steps.back();
    std::string reason;
    OpenFile directory;
    if (steps.size() > 1) {
        directory = walk(steps, steps.size() - 1, reason);
        if (directory.fd() < 0) {
            throw fileFailure(shown, reason);
        }
    }
    const int at = steps.size() > 1 ? directory.fd() : AT_FDCWD;
    // Looked at before it is opened, as opening a device may act on it.
    struct stat status;
    if (::fstatat(at, last.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        throw fileFailure(shown, openReason("it", errno));
    }
    if (S_ISLNK(status.st_mode)) {
        throw fileFailure(shown, openReason("it", ELOOP));
    }
    if (file_identity::of(status) != last.identity) {
        throw fileFailure(shown, "it is no longer the file that was checked");
    }
    OpenFile file(::openat(at, last.name.c_str(), kFileFlags));
    if (file.fd() < 0 || ::fstat(file.fd(), &status) != 0) {
        throw fileFailure(shown, openReason("it", errno));
    }
    if (file_identity::of(status) != last.identity || !S_ISREG(status.st_mode)) {
        throw fileFailure(shown, "it is no longer the file that was checked");
    }
    const int flags = ::fcntl(file.fd(), F_GETFL);
    if (flags < 0 || ::fcntl(file.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        throw fileFailure(shown, std::strerror(errno));
    }
    size = static_cast<uint64_t>(status.st_size);
    return file;
}

}  // namespace checked_file
