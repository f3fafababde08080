#include "cli/copy_back.h"

#include <boost/filesystem.hpp>
#include <initializer_list>
#include <vector>

#include "base/console_log.h"
#include "cli/work_tree.h"
#include "editor/cd_files.h"
#include "iso/iso_modifier.h"
#include "iso/iso_reader.h"

namespace fs = boost::filesystem;

namespace {

// What a local directory lists, in the order the listing yields it.
struct ListedEntry {
    std::string path;
    std::string name;
    bool isDirectory;
};

std::vector<ListedEntry> listDirectory(const std::string& directory) {
    std::vector<ListedEntry> entries;
    for (fs::directory_iterator it(directory), end; it != end; ++it) {
        entries.push_back(ListedEntry{it->path().string(), it->path().filename().string(),
                                      fs::is_directory(it->status())});
    }
    return entries;
}

int copyBackFiles(const WorkTree& tree, ISOModifier& modifier,
                  std::initializer_list<const CdFile*> files) {
    for (const CdFile* file : files) {
        if (modifier.AddSingleFile(tree.pathOf(*file), file->imagePath, true) != 0) {
            logWarning("%s", file->copyBackWarning);
            return 1;
        }
    }
    return 0;
}

int copyBackPrograms(const WorkTree& tree, ISOReader& reader, ISOModifier& modifier) {
    if (!fs::exists(tree.programs)) {
        return 0;
    }
    if (!reader.DirectoryExists("\\PROGRAMS")) {
        if (modifier.AddSingleDirectory(tree.programs, "\\PROGRAMS", true) != 0) {
            logWarning("copy back directory programs failed");
            return 1;
        }
        return 0;
    }
    for (const ListedEntry& entry : listDirectory(tree.programs)) {
        const std::string target = "\\PROGRAMS\\" + entry.name;
        const int result = entry.isDirectory ? modifier.AddSingleDirectory(entry.path, target, true)
                                             : modifier.AddSingleFile(entry.path, target, true);
        if (result != 0) {
            logWarning("copy back directoy programs failed");
            return 1;
        }
    }
    return 0;
}

// Adds the driver packages (directories) and driver files found in DRIVERS.
int copyBackDrivers(const WorkTree& tree, ISOModifier& modifier) {
    for (const ListedEntry& entry : listDirectory(tree.drivers)) {
        const std::string target = "\\I386\\SYSTEM32\\DRIVERS\\" + entry.name;
        if (entry.isDirectory) {
            if (modifier.AddSingleDirectory(entry.path, target, true) != 0) {
                logWarning("copy back storage driver failed");
                return 1;
            }
        } else if (modifier.AddSingleFile(entry.path, target, true) != 0) {
            logWarning("copy back network driver failed");
            return 1;
        }
    }
    return 0;
}

// Adds the files (not the subdirectories) of a local directory below `imageDirectory`.
int copyBackDriverFiles(const std::string& localDirectory, const std::string& imageDirectory,
                        ISOModifier& modifier) {
    for (const ListedEntry& entry : listDirectory(localDirectory)) {
        if (entry.isDirectory) {
            continue;
        }
        if (modifier.AddSingleFile(entry.path, imageDirectory + entry.name, true) != 0) {
            logWarning("copy back network driver failed");
            return 1;
        }
    }
    return 0;
}

}  // namespace

int copyBackWorkTree(const WorkTree& tree, ISOReader& reader, ISOModifier& modifier) {
    // The programs go back between the boot loader and the start-up script.
    using namespace cd_files;
    if (copyBackFiles(tree, modifier, {&kWinbom, &kOemSettings, &kDefaultHive, &kBootFix}) != 0 ||
        copyBackPrograms(tree, reader, modifier) != 0 ||
        copyBackFiles(tree, modifier, {&kStartNet, &kJobFile}) != 0) {
        return 1;
    }
    if (copyBackDrivers(tree, modifier) != 0) {
        return 1;
    }
    if (copyBackDriverFiles(tree.inf, "\\I386\\INF\\", modifier) != 0) {
        return 1;
    }
    // SYSTEM32's files include WINPEOEM.SIF and STARTNET.CMD, added here a second time.
    return copyBackDriverFiles(tree.system32, "\\I386\\SYSTEM32\\", modifier);
}

DirectAddValue splitDirectAddValue(const std::string& value) {
    const std::string::size_type percent = value.find('%');
    if (percent == std::string::npos) {
        return DirectAddValue{value, ""};
    }
    return DirectAddValue{value.substr(0, percent), value.substr(percent + 1)};
}
