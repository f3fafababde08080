// Construction of the editor and the conflict-aware copying shared by the edits.
#include <boost/filesystem.hpp>
#include <stdexcept>

#include "base/console_log.h"
#include "base/letter_case.h"
#include "base/name_conflict.h"
#include "editor/winpe_editor.h"
#include "iso/image_path.h"
#include "iso/iso_reader.h"
#include "platform/checked_file.h"
#include "platform/local_file.h"
#include "platform/local_tree.h"

namespace fs = boost::filesystem;

namespace {

// The last component of a local path after trailing separators are removed.
std::string leafName(std::string path) {
    trimTrailingSeparators(path);
    return fs::path(path).filename().string();
}

// The first step of copy_directory: the destination must not exist yet.
void requireFreeDestination(const std::string& destination) {
    if (fs::exists(destination)) {
        if (fs::is_directory(destination)) {
            throw std::runtime_error("copy_directory fails: a directory with same name exists");
        }
        throw std::runtime_error("copy_directory fails: a file with same name exists");
    }
}

// The name a copied entry gets.
std::string copiedName(const std::string& name, WinpeEditor::EntryNames names) {
    return names == WinpeEditor::EntryNames::upperCased ? upperCase(name) : name;
}

// Copies the listed entries of `source` into the existing directory `destination`.
void copyEntries(const std::string& source, const std::string& destination,
                 const std::vector<local_tree::Entry>& entries, WinpeEditor::EntryNames names) {
    for (const local_tree::Entry& entry : entries) {
        const std::string from = source + "/" + entry.name;
        const std::string to = destination + "/" + copiedName(entry.name, names);
        if (entry.directory) {
            // Names that differ only in case meet here once they are upper-cased.
            requireFreeDestination(to);
            fs::create_directory(to);
            copyEntries(from, to, entry.children, names);
        } else {
            // The file the listing checked, or the copy fails naming it.
            uint64_t size = 0;
            const OpenFile file = checked_file::openFile(entry.route, from, size);
            local_file::copyOpenFile(file.fd(), from, to);
        }
    }
}

std::string imagePathBelow(const std::string& destDir, const std::string& name) {
    return image_path::join(destDir, name);
}

// Every name the editor gives to a new entry must be one valid name of the image.
void requireEntryName(const std::string& name) {
    image_path::requireEntryName(name, "file or directory name");
}

}  // namespace

WinpeEditor::WinpeEditor(const EditRequest& request, const std::string& treeRoot, ISOReader* reader)
    : request_(request), treeRoot_(treeRoot), reader_(reader) {
    if (reader_ == nullptr) {
        throw std::invalid_argument("null ISOReader pointer");
    }
}

WinpeEditor::~WinpeEditor() = default;

std::string WinpeEditor::localPath(const std::string& imagePath) const {
    std::string local = treeRoot_;
    std::string relative = imagePath;
    trimLeadingSeparators(relative);
    for (const std::string& component : image_path::split(relative)) {
        local += '/';
        local += component;
    }
    return local;
}

bool WinpeEditor::existsInImage(const std::string& imagePath) {
    return reader_->NameTaken(imagePath);
}

bool WinpeEditor::askForFreeName(std::string& name, const std::string& destDir,
                                 ImagePathOf imagePathOf, const NameConflictTexts& texts) {
    requireEntryName(name);
    const auto taken = [this, &destDir, imagePathOf](const std::string& candidate) {
        return existsInImage(imagePathOf(destDir, candidate));
    };
    return ::resolveNameConflict(name, taken, requireEntryName, texts, OverwriteOffer::no) ==
           NameConflictOutcome::free;
}

std::string WinpeEditor::addFile(const std::string& source, const std::string& destDir) {
    try {
        std::string name = leafName(source);
        logInfo("adding file %s ...", name.c_str());
        const std::string targetDir = localPath(destDir);
        if (!fs::exists(targetDir)) {
            logWarning("adding file %s failed - parent directory does not exists", name.c_str());
            return "";
        }
        static const NameConflictTexts texts = {
            "change the destination file name or abort",
            "adding file %s failed - file name conflict, aborted by user",
            "please enter the new name for the binary file %s"};
        if (!askForFreeName(name, destDir, imagePathBelow, texts)) {
            return "";
        }
        uint64_t size = 0;
        const OpenFile file = local_file::openForReading(source, size);
        image_path::requireLocalFileSize(source, size);
        local_file::copyOpenFile(file.fd(), source, targetDir + "/" + name);
        logInfo("adding file %s succeeded", name.c_str());
        return name;
    } catch (const std::exception& e) {
        logWarning("adding file failed, exception: %s", e.what());
        return "";
    }
}

std::string WinpeEditor::addDirectory(const std::string& source, const std::string& destDir) {
    try {
        std::string name = leafName(source);
        logInfo("adding directory %s ...", name.c_str());
        const std::string targetDir = localPath(destDir);
        if (!fs::exists(targetDir)) {
            logWarning("adding directory %s failed - parent directory does not exist",
                       name.c_str());
            return "";
        }
        static const NameConflictTexts texts = {
            "change the destination directory name, abort",
            "adding directory %s failed - package name conflict, aborted by user",
            "please enter the new name for the directory %s"};
        if (!askForFreeName(name, destDir, imagePathBelow, texts)) {
            return "";
        }
        copy_directory(source, targetDir + "/" + name, EntryNames::asGiven);
        logInfo("adding directory %s succeeded", name.c_str());
        return name;
    } catch (const std::exception& e) {
        logInfo("adding directory failed, exception: %s", e.what());
        logWarning("adding directory %s failed: %s", source.c_str(), e.what());
        return "";
    }
}

void WinpeEditor::copy_directory(const std::string& source, const std::string& destination,
                                 EntryNames names) {
    requireFreeDestination(destination);
    // The whole tree is looked at first: a name the image can not hold, a link leading
    // out of it, a special file or a file too large for the image stops the copy before
    // anything is copied.
    const std::vector<local_tree::Entry> entries = local_tree::scan(
        source, local_tree::Depth::whole,
        [names](const std::string& name, const std::string& path) {
            image_path::requireLocalEntryName(copiedName(name, names), path);
        },
        image_path::requireLocalFileSize);
    fs::create_directory(destination);
    copyEntries(source, destination, entries, names);
}

bool WinpeEditor::ensureProgramsDirectory() {
    if (reader_->FileExists("\\PROGRAMS")) {
        logWarning("adding binary file failed - a file named \"PROGRAMS\" exists,");
        logWarning(" manually delete it to allow create \"PROGRAMS\" directory");
        return false;
    }
    const std::string programs = localPath("PROGRAMS");
    if (!fs::exists(programs)) {
        fs::create_directory(programs);
    }
    return true;
}
