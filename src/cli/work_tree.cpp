#include "cli/work_tree.h"

#include <sys/stat.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <climits>
#include <cstdlib>

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
        } else if (char* target = ::realpath(path.c_str(), nullptr)) {
            add(fs::path(target).parent_path().string());
            std::free(target);
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
    struct stat entry;
    if (!workDirectory.empty() && ::lstat(workDirectory.c_str(), &entry) == 0) {
        struct stat target;
        if (::stat(workDirectory.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
            return "work directory " + workDirectory +
                   " exists and is not a directory, choose another one with -t";
        }
        // Emptying it would reach into whatever is mounted there, a bind mount of the
        // image's directory among them.
        const std::string mounted = mount_points::firstBelow(workDirectory);
        if (!mounted.empty()) {
            return "work directory " + workDirectory + " holds the mount point " + mounted +
                   ", choose another one with -t";
        }
    }
    return "";
}

bool prepareWorkDirectory(const std::string& workDirectory, bool* existedBefore) {
    const fs::path path(workDirectory);
    const bool existed = fs::exists(fs::symlink_status(path));
    if (existedBefore != nullptr) {
        *existedBefore = existed;
    }
    if (existed) {
        fs::remove_all(path);
    }
    makePrivateDirectory(path);
    return existed;
}

int cleanUpWorkDirectory(bool existedBefore, const std::string& workDirectory, bool prepared) {
    logInfo("clean up ...");
    try {
        if (prepared) {
            const fs::path path(workDirectory);
            fs::remove_all(path);
            if (existedBefore) {
                makePrivateDirectory(path);
            }
        }
    } catch (const std::exception&) {
        logWarning("failed to clean up");
        return 1;
    }
    logInfo("clean up succeeded");
    return 0;
}
