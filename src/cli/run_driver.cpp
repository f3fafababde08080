#include "cli/run_driver.h"

#include <boost/filesystem.hpp>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "cli/console_log.h"
#include "cli/copy_back.h"
#include "cli/image_swap.h"
#include "cli/options.h"
#include "cli/work_tree.h"
#include "editor/winpe_editor.h"
#include "iso/boot_image_reader.h"
#include "iso/direct_add.h"
#include "iso/iso_modifier.h"
#include "iso/iso_reader.h"
#include "platform/temp_name.h"

namespace fs = boost::filesystem;

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// The state of a run's work directory, for the clean-up at the end or on a failure.
struct WorkDirectoryState {
    bool generated = false;      // made by this run under a fresh temporary name
    bool prepared = false;       // made or emptied by this run
    bool existedBefore = false;  // the user's path existed before the run
};

// The values and objects of one run. The objects are made in the order of the
// members and released in the reverse order.
class Run {
  public:
    explicit Run(RunOptions options) : options_(std::move(options)) {}

    int execute();

  private:
    int nameWorkDirectory();
    int retrieveConfiguration();
    int extractBootImage();
    int writeBack();
    int directAdds();
    int packAndSwap();
    int fail(const char* warning);
    int failQuietly();
    int cleanUp();
    void removeNewImage();

    RunOptions options_;
    std::string newImagePath_;
    std::string backupPath_;
    WorkDirectoryState work_;
    std::unique_ptr<WorkTree> tree_;
    bool packStarted_ = false;

    std::unique_ptr<ISOReader> reader_;
    std::unique_ptr<WinpeEditor> editor_;
    std::unique_ptr<ISOBootImageReader> bootReader_;
    std::unique_ptr<ISOModifier> modifier_;
};

int Run::cleanUp() {
    return cleanUpWorkDirectory(work_.existedBefore, options_.workDirectory, work_.prepared);
}

int Run::fail(const char* warning) {
    logWarning("%s", warning);
    return failQuietly();
}

int Run::failQuietly() {
    cleanUp();
    return kFailure;
}

// Removes what the pack left at the new image's path; never a directory, which the pack
// can not have made.
void Run::removeNewImage() {
    boost::system::error_code ec;
    const fs::file_status status = fs::symlink_status(newImagePath_, ec);
    if (fs::exists(status) && !fs::is_directory(status)) {
        fs::remove(newImagePath_, ec);
    }
}

// The user's directory, or a fresh directory in the system's temporary directory. A
// generated name is made at once, atomically, so that no existing path and no other run
// can take it; it is removed again when the checks fail. A -t given with an empty value
// names the empty path, which the preparation then refuses.
int Run::nameWorkDirectory() {
    if (options_.workDirectoryGiven) {
        return kSuccess;
    }
    try {
        fs::temp_directory_path();
    } catch (const std::exception&) {
        logWarning("can not get temporary directory");
        return kFailure;
    }
    try {
        options_.workDirectory = temp_name::createWorkDirectory();
    } catch (const std::exception&) {
        logWarning("can not generate random temporary directory name");
        return kFailure;
    }
    work_.generated = true;
    work_.prepared = true;
    return kSuccess;
}

int Run::retrieveConfiguration() {
    const WorkTree& t = *tree_;
    struct Retrieve {
        const char* imagePath;
        std::string localPath;
        const char* warning;
    };
    const Retrieve retrieves[] = {
        {"\\WINBOM.INI", t.treeRoot + "/WINBOM.INI", "retrieve winbom.ini failed"},
        {"\\I386\\SYSTEM32\\WINPEOEM.SIF", t.system32 + "/WINPEOEM.SIF",
         "retrieve winpeoem.sif failed"},
        {"\\I386\\SYSTEM32\\CONFIG\\DEFAULT", t.config + "/DEFAULT", "retrieve default failed"},
        {"\\I386\\BOOTFIX.BIN", t.i386 + "/BOOTFIX.BIN", "retrieve bootfix.bin failed"},
        {"\\I386\\SYSTEM32\\STARTNET.CMD", t.system32 + "/STARTNET.CMD",
         "retrieve startnet.cmd failed"},
        {"\\MIRALDA\\TASKDECK.XML", t.product + "/TASKDECK.XML", "retrieve taskdeck.xml failed"},
    };
    for (const Retrieve& retrieve : retrieves) {
        if (reader_->RetrieveFile(retrieve.imagePath, retrieve.localPath) != 0) {
            return fail(retrieve.warning);
        }
    }
    return kSuccess;
}

int Run::extractBootImage() {
    bootReader_ = std::make_unique<ISOBootImageReader>(options_.imagePath);
    if (bootReader_->LoadBootImage() != 0) {
        return failQuietly();
    }
    if (bootReader_->ExtractBootImage(tree_->bootImageFile) != 0) {
        return failQuietly();
    }
    return kSuccess;
}

int Run::directAdds() {
    for (const std::string& value : options_.directories) {
        const DirectAddValue add = splitDirectAddValue(value);
        if (addDirectoryToImage(add.localPath, add.imagePath, reader_.get(), modifier_.get()) !=
            0) {
            logWarning("copy back directory %s failed", add.localPath.c_str());
            return failQuietly();
        }
    }
    for (const std::string& value : options_.files) {
        const DirectAddValue add = splitDirectAddValue(value);
        if (addFileToImage(add.localPath, add.imagePath, reader_.get(), modifier_.get()) != 0) {
            logWarning("copy back file %s failed", add.localPath.c_str());
            return failQuietly();
        }
    }
    return kSuccess;
}

int Run::writeBack() {
    modifier_ = std::make_unique<ISOModifier>(options_.imagePath);
    if (copyBackWorkTree(*tree_, *reader_, *modifier_) != 0) {
        return failQuietly();
    }
    return directAdds();
}

int Run::packAndSwap() {
    logInfo("pack image file back ...");
    packStarted_ = true;
    if (modifier_->PackImage(newImagePath_, tree_->bootImageFile) != 0) {
        cleanUp();
        removeNewImage();
        return kFailure;
    }
    logInfo("pack image file back succeeded");
    swapInNewImage(options_.imagePath, newImagePath_, backupPath_);
    return kSuccess;
}

int Run::execute() {
    if (nameWorkDirectory() != kSuccess) {
        return kFailure;
    }
    tree_ = std::make_unique<WorkTree>(options_.workDirectory);
    newImagePath_ = options_.imagePath + ".tmp";
    backupPath_ = options_.imagePath + ".bak";
    try {
        reader_ = std::make_unique<ISOReader>(options_.imagePath);
        editor_ = std::make_unique<WinpeEditor>(
            options_.storageDrivers, options_.networkDrivers, options_.binaries,
            options_.startBinaries, options_.packages, options_.startPackages, options_.directories,
            options_.files, options_.vncValue, options_.firewallOff, tree_->treeRoot,
            reader_.get());
        if (editor_->checkOptions() != 0 || editor_->checkFileExistence() != 0) {
            if (work_.generated) {
                // Still empty: made by this run a moment ago.
                boost::system::error_code ec;
                fs::remove(options_.workDirectory, ec);
            }
            return kFailure;
        }
        if (!work_.generated && !options_.imagePath.empty()) {
            // Emptying a directory that holds the image would delete the image; one that
            // is (or holds) the new image's or the backup's path would be deleted by the
            // swap, or would take the backup with it at the clean-up.
            for (const std::string* path : {&options_.imagePath, &newImagePath_, &backupPath_}) {
                if (workDirectoryHoldsImage(options_.workDirectory, *path)) {
                    logWarning("work directory %s holds the image %s, choose another one with -t",
                               options_.workDirectory.c_str(), path->c_str());
                    return kFailure;
                }
            }
        }
        if (!work_.generated) {
            work_.existedBefore = prepareWorkDirectory(options_.workDirectory);
            work_.prepared = true;
        }
        tree_->createDirectories();
        if (retrieveConfiguration() != kSuccess || extractBootImage() != kSuccess) {
            return kFailure;
        }
        if (editor_->apply() != 0) {
            return failQuietly();
        }
        if (writeBack() != kSuccess || packAndSwap() != kSuccess) {
            return kFailure;
        }
        modifier_.reset();
        bootReader_.reset();
        editor_.reset();
        cleanUp();
        return kSuccess;
    } catch (const std::exception& e) {
        logWarning("exception: %s", e.what());
        cleanUp();
        if (packStarted_) {
            removeNewImage();
        }
        return kFailure;
    }
}

}  // namespace

int runWinpeIso(int argc, const char* const argv[]) {
    RunOptions options;
    switch (parseCommandLine(argc, argv, options, std::cout)) {
        case ParseOutcome::helpShown:
            return kSuccess;
        case ParseOutcome::failed:
            return kFailure;
        case ParseOutcome::run:
            break;
    }
    Run run(std::move(options));
    return run.execute();
}
