#include "iso/direct_add.h"

#include <boost/filesystem/path.hpp>
#include <stdexcept>

#include "base/console_log.h"
#include "base/name_conflict.h"
#include "iso/image_path.h"
#include "iso/iso_modifier.h"
#include "iso/iso_reader.h"

namespace {

// The texts that differ between adding a directory and adding a file.
struct AddTexts {
    const char* adding;
    const char* parentMissing;
    NameConflictTexts conflict;
    const char* addFailed;
    const char* succeeded;
    const char* exception;
    bool exceptionAsWarning;
};

const AddTexts kDirectoryTexts = {
    "adding directory %s ...",
    "adding directory %s failed - parent directory does not exist",
    {"change the destination directory name, overwrite or abort",
     "adding directory %s failed - package name conflict, aborted by user",
     "please enter the new name for the directory %s"},
    "adding directory %s failed - failed to add file into ISO",
    "adding directory %s succeeded",
    "adding directory failed, exception: %s",
    false,
};

const AddTexts kFileTexts = {
    "adding file %s ...",
    "adding file %s failed - parent directory does not exists",
    {"change the destination file name, overwrite or abort",
     "adding file %s failed - file name conflict, aborted by user",
     "please enter the new name for the binary file %s"},
    "adding file %s failed - failed to add file into ISO",
    "adding file %s succeeded",
    "adding file failed, exception: %s",
    true,
};

// The name an entry gets inside the image: a valid Windows name, never "." or "..".
void requireName(const std::string& name) {
    image_path::requireEntryName(name, "name for an entry of the image");
}

// What a direct add puts into the image.
enum class AddedEntry { directory, file };

int addToImage(const std::string& localPath, const std::string& imageDirectory, ISOReader* reader,
               ISOModifier* modifier, AddedEntry entry, const AddTexts& texts) {
    if (reader == nullptr || modifier == nullptr) {
        return 1;
    }
    try {
        std::string local = localPath;
        trimTrailingSeparators(local);
        std::string name = boost::filesystem::path(local).filename().string();
        requireName(name);
        std::string parent = imageDirectory;
        trimTrailingSeparators(parent);

        logInfo(texts.adding, name.c_str());
        if (!reader->DirectoryExists(parent)) {
            logWarning(texts.parentMissing, name.c_str());
            return 1;
        }
        const auto taken = [reader, &parent](const std::string& candidate) {
            return reader->NameTaken(image_path::join(parent, candidate));
        };
        if (resolveNameConflict(name, taken, requireName, texts.conflict, OverwriteOffer::yes) ==
            NameConflictOutcome::aborted) {
            return 1;
        }
        const std::string target = image_path::join(parent, name);
        const int added = entry == AddedEntry::directory
                              ? modifier->AddSingleDirectory(localPath, target, true)
                              : modifier->AddSingleFile(localPath, target, true);
        if (added != 0) {
            logWarning(texts.addFailed, name.c_str());
            return 1;
        }
        logInfo(texts.succeeded, name.c_str());
        return 0;
    } catch (const std::exception& e) {
        if (texts.exceptionAsWarning) {
            logWarning(texts.exception, e.what());
        } else {
            logInfo(texts.exception, e.what());
            logWarning("adding %s failed: %s", localPath.c_str(), e.what());
        }
        return 1;
    }
}

}  // namespace

int addDirectoryToImage(const std::string& localPath, const std::string& imageDirectory,
                        ISOReader* reader, ISOModifier* modifier) {
    return addToImage(localPath, imageDirectory, reader, modifier, AddedEntry::directory,
                      kDirectoryTexts);
}

int addFileToImage(const std::string& localPath, const std::string& imageDirectory,
                   ISOReader* reader, ISOModifier* modifier) {
    return addToImage(localPath, imageDirectory, reader, modifier, AddedEntry::file, kFileTexts);
}
