#include "cli/work_tree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <climits>
#include <cstdio>

#include "base/console_log.h"
#include "platform/file_identity.h"
#include "platform/mount_points.h"

namespace fs = boost::filesystem;

namespace {

// Local paths join with the native separator.
const std::string kSeparator = "/";

// The absolute form with symbolic links, "." and ".." resolved as far as the path exists.
fs::path resolved(const std::string& path) {
    return fs::weakly_canonical(fs::absolute(fs::path(path)));
}

// A directory of the work tree, private to the user of the run.
void makePrivateDirectory(const fs::path& path) {
    if (::mkdir(path.c_str(), 0700) != 0) {
        throw fs::filesystem_error(
            "can not create the directory", path,
            boost::system::error_code(errno, boost::system::system_category()));
    }
}

// The directories whose removal takes `path` with it: the path itself when it leads to a
// directory, the directories holding its entry and, for a link, holding its target, each
// with every directory above.
std::vector<FileIdentity> directoriesHolding(const std::string& path) {
    std::vector<FileIdentity> holding;
    auto add = [&holding](const std::string& directory) {
        const std::vector<FileIdentity> chain = file_identity::directoryChain(directory);
        holding.insert(holding.end(), chain.begin(), chain.end());
    };
    struct stat status;
    if (::stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            add(path);
        } else {
            boost::system::error_code error;
            const fs::path target = fs::canonical(path, error);
            if (!error) {
                add(target.parent_path().string());
            }
        }
    }
    // The nearest existing directory of the path as written.
    fs::path parent = fs::path(path).parent_path();
    boost::system::error_code ec;
    while (!parent.empty() && !fs::is_directory(parent, ec)) {
        parent = parent.parent_path();
    }
    add(parent.empty() ? "." : parent.string());
    return holding;
}

bool holds(const std::string& workDirectory, const FileIdentity& work, const std::string& path) {
    if (workDirectoryHoldsImage(workDirectory, path)) {
        return true;
    }
    if (!work.known) {
        return false;
    }
    const std::vector<FileIdentity> holding = directoriesHolding(path);
    return std::find(holding.begin(), holding.end(), work) != holding.end();
}

// The work directory is the directory `input` leads to or lies below it. A work
// directory that does not exist yet is placed by its nearest existing parent.
bool liesInside(const std::string& workDirectory, const std::string& input) {
    struct stat status;
    if (workDirectory.empty() || ::stat(input.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return false;
    }
    fs::path existing = fs::absolute(fs::path(workDirectory));
    boost::system::error_code ec;
    while (!existing.empty() && !fs::is_directory(existing, ec)) {
        existing = existing.parent_path();
    }
    const std::vector<FileIdentity> chain = file_identity::directoryChain(existing.string());
    return std::find(chain.begin(), chain.end(), file_identity::of(status)) != chain.end();
}

std::string octal(unsigned mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode);
    return text;
}

}  // namespace

WorkTree::WorkTree(const std::string& work)
    : workDirectory(work),
      treeRoot(work + kSeparator + "image_file_dir"),
      bootImageFile(work + kSeparator + "BootImage.bin"),
      i386(treeRoot + kSeparator + "I386"),
      system32(i386 + kSeparator + "SYSTEM32"),
      config(system32 + kSeparator + "CONFIG"),
      drivers(system32 + kSeparator + "DRIVERS"),
      inf(i386 + kSeparator + "INF"),
      programs(treeRoot + kSeparator + "PROGRAMS"),
      product(treeRoot + kSeparator + "MIRALDA") {}

std::string WorkTree::pathOf(const CdFile& file) const {
    return treeRoot + kSeparator + file.treePath;
}

void WorkTree::createDirectories() const {
    for (const std::string* directory :
         {&treeRoot, &i386, &system32, &config, &drivers, &inf, &product}) {
        fs::create_directory(fs::path(*directory));
    }
}

bool workDirectoryHoldsImage(const std::string& workDirectory, const std::string& imagePath) {
    if (workDirectory.empty() || imagePath.empty()) {
        return false;
    }
    const fs::path work = resolved(workDirectory);
    const fs::path image = resolved(imagePath);
    auto w = work.begin();
    auto i = image.begin();
    for (; w != work.end(); ++w, ++i) {
        // A trailing separator shows up as a final "." component.
        if (w->string() == "." && std::next(w) == work.end()) {
            break;
        }
        if (i == image.end() || *w != *i) {
            return false;
        }
    }
    return true;
}

std::string refuseWorkDirectory(const std::string& workDirectory,
                                const std::vector<ProtectedPath>& protectedPaths) {
    const FileIdentity work = file_identity::ofTarget(workDirectory);
    for (const ProtectedPath& guarded : protectedPaths) {
        if (guarded.path.empty() || !holds(workDirectory, work, guarded.path)) {
            continue;
        }
        switch (guarded.kind) {
            case ProtectedPath::Kind::image:
                return "work directory " + workDirectory + " holds the image " + guarded.path +
                       ", choose another one with -t";
            case ProtectedPath::Kind::currentDirectory:
                return "work directory " + workDirectory +
                       " holds the current directory, choose another one with -t";
            case ProtectedPath::Kind::optionPath:
                return "work directory " + workDirectory + " holds " + guarded.path +
                       ", which this run reads, choose another one with -t";
        }
    }
    for (const ProtectedPath& guarded : protectedPaths) {
        if (guarded.kind == ProtectedPath::Kind::optionPath && !guarded.path.empty() &&
            liesInside(workDirectory, guarded.path)) {
            return "work directory " + workDirectory + " lies inside " + guarded.path +
                   ", which this run reads, choose another one with -t";
        }
    }
    struct stat entry;
    if (!workDirectory.empty() && ::lstat(workDirectory.c_str(), &entry) == 0) {
        struct stat target;
        if (::stat(workDirectory.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
            return "work directory " + workDirectory +
                   " exists and is not a directory, choose another one with -t";
        }
        // Emptying it would empty whatever is mounted there, or reach into what is
        // mounted below, a bind mount of the image's directory among them.
        if (mount_points::isMountPoint(workDirectory)) {
            return "work directory " + workDirectory +
                   " is a mount point, choose another one with -t";
        }
        const std::string mounted = mount_points::firstBelow(workDirectory);
        if (!mounted.empty()) {
            return "work directory " + workDirectory + " holds the mount point " + mounted +
                   ", choose another one with -t";
        }
        // A shared directory such as /tmp holds other users' files.
        if ((target.st_mode & (S_IWOTH | S_ISVTX)) != 0) {
            return "work directory " + workDirectory + " is shared with other users (mode " +
                   octal(target.st_mode & 07777) + "), choose another one with -t";
        }
        // It is emptied and made private where it stands, so it must be the user's own.
        if (target.st_uid != ::geteuid()) {
            return "work directory " + workDirectory +
                   " belongs to another user, choose another one with -t";
        }
    }
    return "";
}

void emptyWorkDirectory(const std::string& workDirectory) {
    const fs::path path(workDirectory);
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(path), end; it != end; ++it) {
        entries.push_back(it->path());
    }
    for (const fs::path& entry : entries) {
        fs::remove_all(entry);
    }
    if (::chmod(workDirectory.c_str(), 0700) != 0) {
        throw fs::filesystem_error(
            "can not make the directory private", path,
            boost::system::error_code(errno, boost::system::system_category()));
    }
}

bool prepareWorkDirectory(const std::string& workDirectory, bool* existedBefore) {
    const fs::path path(workDirectory);
    const bool existed = fs::exists(fs::symlink_status(path));
    if (existedBefore != nullptr) {
        *existedBefore = existed;
    }
    if (existed) {
        emptyWorkDirectory(workDirectory);
    } else {
        makePrivateDirectory(path);
    }
    return existed;
}

int cleanUpWorkDirectory(bool existedBefore, const std::string& workDirectory, bool prepared) {
    logInfo("clean up ...");
    try {
        if (prepared) {
            if (existedBefore) {
                emptyWorkDirectory(workDirectory);
            } else {
                fs::remove_all(fs::path(workDirectory));
            }
        }
    } catch (const std::exception&) {
        logWarning("failed to clean up");
        return 1;
    }
    logInfo("clean up succeeded");
    return 0;
}
