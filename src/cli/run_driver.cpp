#include "cli/run_driver.h"

#include <boost/filesystem.hpp>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/clash_policy.h"
#include "base/console_log.h"
#include "base/progress_line.h"
#include "cli/copy_back.h"
#include "cli/dry_run.h"
#include "cli/image_diagnosis.h"
#include "cli/image_listing.h"
#include "cli/image_neighbours.h"
#include "cli/image_swap.h"
#include "cli/options.h"
#include "cli/phase_sizes.h"
#include "cli/work_tree.h"
#include "editor/cd_files.h"
#include "editor/winpe_editor.h"
#include "iso/boot_image_reader.h"
#include "iso/direct_add.h"
#include "iso/iso_modifier.h"
#include "iso/iso_reader.h"
#include "platform/directory_lock.h"
#include "platform/image_lock.h"
#include "platform/interrupt.h"
#include "platform/standard_descriptors.h"
#include "platform/temp_name.h"

namespace fs = boost::filesystem;

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

// The state of a run's work directory, for the clean-up at the end or on a failure.
struct WorkDirectoryState {
    bool generated = false;      // made by this run under a fresh temporary name
    bool created = false;        // the user's path, made by this run when it was locked
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
    void abandonGeneratedWorkDirectory();
    std::vector<std::string> localInputs() const;
    std::vector<ProtectedPath> protectedPaths() const;
    int guardWorkDirectory();
    int checkImageNeighbours();
    int lockWorkDirectory();
    int lockImage();
    int prepareWork();
    int retrieveConfiguration();
    int extractBootImage();
    int applyEdits();
    int writeBack();
    int directAdds();
    int packAndSwap();
    int reportDryRun();
    void warnOfDroppedFeatures();
    int runSteps();
    int fail(const char* warning);
    int failQuietly();
    int cleanUp();
    void reportInterruption();
    void removeNewImage();

    RunOptions options_;
    std::string newImagePath_;
    std::string backupPath_;
    WorkDirectoryState work_;
    std::unique_ptr<WorkTree> tree_;
    DirectoryLock workLock_;
    ImageLock lock_;
    bool packStarted_ = false;
    bool newImageKept_ = false;  // the final rename failed: the new image stays at its path
    bool interruptionReported_ = false;
    // Warnings written before the run began: a failure that adds none says why itself.
    unsigned warningsBefore_ = console_log::warningsWritten();

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

// Every failure of a run ends here: the interruption that caused it is reported, the
// work directory is cleaned up and what the pack left is removed.
int Run::failQuietly() {
    reportInterruption();
    if (console_log::warningsWritten() == warningsBefore_) {
        const std::string& last = console_log::lastOutputLine();
        logWarning("the run failed: %s", last.empty() ? "no reason given" : last.c_str());
    }
    cleanUp();
    if (packStarted_ && !newImageKept_) {
        removeNewImage();
    }
    return kFailure;
}

void Run::reportInterruption() {
    if (interrupt::requested() && !interruptionReported_) {
        interruptionReported_ = true;
        logWarning("the run was interrupted by %s, the image is left as it was",
                   interrupt::signalName(interrupt::noted()).c_str());
    }
}

// Removes what the pack left at the new image's path: only the file it wrote, and never a
// directory, which the pack can not have made.
void Run::removeNewImage() {
    boost::system::error_code ec;
    const fs::file_status status = fs::symlink_status(newImagePath_, ec);
    if (!fs::exists(status) || fs::is_directory(status)) {
        return;
    }
    const FileIdentity& written = modifier_ ? modifier_->writtenImage() : FileIdentity();
    if (written.known && file_identity::ofEntry(newImagePath_) != written) {
        return;  // not this run's file
    }
    fs::remove(newImagePath_, ec);
}

// A work directory, still empty, made by this run a moment ago.
void Run::abandonGeneratedWorkDirectory() {
    if (work_.generated || work_.created) {
        boost::system::error_code ec;
        fs::remove(options_.workDirectory, ec);
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
        temp_name::systemTempDirectory();
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

// Every local path that the edits name; the values with a '%' carry it before their
// first '%'.
std::vector<std::string> Run::localInputs() const {
    const EditRequest& edits = options_.edits;
    std::vector<std::string> paths;
    for (const std::vector<std::string>* list :
         {&edits.storageDrivers, &edits.networkDrivers, &edits.binaries, &edits.startBinaries,
          &edits.packages}) {
        paths.insert(paths.end(), list->begin(), list->end());
    }
    std::vector<std::string> withPercent = edits.startPackages;
    withPercent.insert(withPercent.end(), edits.directories.begin(), edits.directories.end());
    withPercent.insert(withPercent.end(), edits.files.begin(), edits.files.end());
    if (!edits.vncValue.empty()) {
        withPercent.push_back(edits.vncValue);
    }
    for (const std::string& value : withPercent) {
        paths.push_back(value.substr(0, value.find('%')));
    }
    return paths;
}

// Every local path that the edits name, and the places of the image: a -t that is or
// lies above one of them would delete it.
std::vector<ProtectedPath> Run::protectedPaths() const {
    std::vector<ProtectedPath> paths;
    if (!options_.imagePath.empty()) {
        for (const std::string* path : {&options_.imagePath, &newImagePath_, &backupPath_}) {
            paths.push_back({*path, ProtectedPath::Kind::image});
        }
    }
    paths.push_back({".", ProtectedPath::Kind::currentDirectory});
    for (const std::string& input : localInputs()) {
        paths.push_back({input, ProtectedPath::Kind::optionPath});
    }
    return paths;
}

// A -t that the preparation would empty is checked first: it must not take with it the
// image, its neighbours, the current directory or anything the run reads.
int Run::guardWorkDirectory() {
    if (work_.generated) {
        return kSuccess;
    }
    const std::string refusal = refuseWorkDirectory(options_.workDirectory, protectedPaths());
    if (refusal.empty()) {
        return kSuccess;
    }
    logWarning("%s", refusal.c_str());
    return kFailure;
}

// Where the new image and the backup will be made is checked before any work is done.
int Run::checkImageNeighbours() {
    const std::string refusal = refuseImageNeighbours(
        ImageNeighbours{options_.imagePath, newImagePath_, backupPath_}, localInputs());
    if (refusal.empty()) {
        return kSuccess;
    }
    logWarning("%s", refusal.c_str());
    abandonGeneratedWorkDirectory();
    return kFailure;
}

// One run per -t: the directory (made here when it is missing) is locked from now until
// the run ends, so a second run naming it stops before it touches anything.
int Run::lockWorkDirectory() {
    if (work_.generated) {
        return kSuccess;
    }
    if (!boost::filesystem::exists(boost::filesystem::symlink_status(options_.workDirectory))) {
        // A failure to make it is thrown: the parent is missing, say.
        prepareWorkDirectory(options_.workDirectory);
        work_.created = true;
        work_.prepared = true;
    }
    if (workLock_.acquire(options_.workDirectory) == DirectoryLock::Outcome::locked) {
        work_.existedBefore = !work_.created;
        return kSuccess;
    }
    work_.created = false;  // another run took it over and uses it now
    work_.prepared = false;
    logWarning("work directory %s is being used by another run, choose another one with -t",
               options_.workDirectory.c_str());
    return kFailure;
}

// One run per image: a second run on an image that this one is changing stops here,
// before it touches anything.
int Run::lockImage() {
    if (lock_.acquire(options_.imagePath) != ImageLock::Outcome::busy) {
        return kSuccess;
    }
    logWarning("the image %s is being changed by another run, try again when it has finished",
               options_.imagePath.c_str());
    abandonGeneratedWorkDirectory();
    return kFailure;
}

// From here on every failure cleans up: `prepared` and `existedBefore` are set before
// anything is removed, so a preparation that fails half-way is cleaned up too.
int Run::prepareWork() {
    if (!work_.generated) {
        work_.prepared = true;
        if (work_.existedBefore) {
            emptyWorkDirectory(options_.workDirectory);
        }
    }
    tree_->createDirectories();
    return kSuccess;
}

int Run::retrieveConfiguration() {
    for (const CdFile* file : cd_files::kAll) {
        if (reader_->RetrieveFile(file->imagePath, tree_->pathOf(*file)) != 0) {
            logWarning("%s", retrieveFailureCause(options_.imagePath, *reader_, *file).c_str());
            return fail(file->retrieveWarning);
        }
    }
    return kSuccess;
}

int Run::extractBootImage() {
    bootReader_ = std::make_unique<ISOBootImageReader>(options_.imagePath);
    if (bootReader_->LoadBootImage() != 0) {
        logWarning("%s is not a bootable CD image: %s", options_.imagePath.c_str(),
                   lastImageStepFailure().c_str());
        return failQuietly();
    }
    if (bootReader_->ExtractBootImage(tree_->bootImageFile) != 0) {
        logWarning("extracting the boot image of %s failed: %s", options_.imagePath.c_str(),
                   lastImageStepFailure().c_str());
        return failQuietly();
    }
    return kSuccess;
}

int Run::directAdds() {
    for (const std::string& value : options_.edits.directories) {
        const DirectAddValue add = splitDirectAddValue(value);
        if (addDirectoryToImage(add.localPath, add.imagePath, reader_.get(), modifier_.get()) !=
            0) {
            logWarning("copy back directory %s failed", add.localPath.c_str());
            return failQuietly();
        }
    }
    for (const std::string& value : options_.edits.files) {
        const DirectAddValue add = splitDirectAddValue(value);
        if (addFileToImage(add.localPath, add.imagePath, reader_.get(), modifier_.get()) != 0) {
            logWarning("copy back file %s failed", add.localPath.c_str());
            return failQuietly();
        }
    }
    return kSuccess;
}

int Run::applyEdits() {
    int applied = 1;
    {
        const progress_line::Phase copying("copy into the work directory",
                                           bytesOfLocalInputs(options_.edits));
        applied = editor_->apply();
    }
    if (applied != 0) {
        return failQuietly();
    }
    return kSuccess;
}

int Run::writeBack() {
    modifier_ = std::make_unique<ISOModifier>(options_.imagePath);
    if (copyBackWorkTree(*tree_, *reader_, *modifier_) != 0) {
        logWarning("putting the work directory into the image's tree failed: %s",
                   lastImageStepFailure().c_str());
        return failQuietly();
    }
    return directAdds();
}

// Before the pack (or instead of it): every thing of the old image the new one will not
// have, by name.
void Run::warnOfDroppedFeatures() {
    for (const std::string& dropped : reader_->DroppedFeatures()) {
        logWarning("%s", dropped.c_str());
    }
}

// What the pack would write, instead of the pack: the run ends as one that succeeded,
// with nothing written beside the image.
int Run::reportDryRun() {
    warnOfDroppedFeatures();
    if (printDryRunReport(*modifier_, *reader_, tree_->bootImageFile) != 0) {
        return failQuietly();
    }
    lock_.release();
    return kSuccess;
}

int Run::packAndSwap() {
    warnOfDroppedFeatures();
    logInfo("pack image file back ...");
    packStarted_ = true;
    int packed = 1;
    {
        const progress_line::Phase packing("pack " + newImagePath_,
                                           bytesOfFiles(modifier_->findDirectoryRecord("")));
        packed = modifier_->PackImage(newImagePath_, tree_->bootImageFile);
    }
    if (packed != 0) {
        logWarning("pack image file back failed: %s", lastImageStepFailure().c_str());
        return failQuietly();
    }
    logInfo("pack image file back succeeded");
    try {
        swapInNewImage(options_.imagePath, newImagePath_, backupPath_, modifier_->writtenImage());
    } catch (const ImageSwapError& e) {
        newImageKept_ = e.newImageKept();
        throw;
    }
    lock_.release();
    return kSuccess;
}

// The steps from the preparation of the work directory to the swap; an interruption
// noted between two steps ends the run there.
int Run::runSteps() {
    using Step = int (Run::*)();
    const Step last = options_.dryRun ? &Run::reportDryRun : &Run::packAndSwap;
    for (Step step : {&Run::prepareWork, &Run::retrieveConfiguration, &Run::extractBootImage,
                      &Run::applyEdits, &Run::writeBack, last}) {
        if (interrupt::requested()) {
            return failQuietly();
        }
        if ((this->*step)() != kSuccess) {
            return kFailure;
        }
    }
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
        editor_ = std::make_unique<WinpeEditor>(options_.edits, tree_->treeRoot, reader_.get());
        if (editor_->checkOptions() != 0 || editor_->checkFileExistence() != 0) {
            abandonGeneratedWorkDirectory();
            return kFailure;
        }
        if (guardWorkDirectory() != kSuccess || checkImageNeighbours() != kSuccess ||
            lockWorkDirectory() != kSuccess || lockImage() != kSuccess) {
            return kFailure;
        }
        if (runSteps() != kSuccess) {
            return kFailure;
        }
        modifier_.reset();
        bootReader_.reset();
        editor_.reset();
        cleanUp();
        return kSuccess;
    } catch (const interrupt::Interrupted&) {
        return failQuietly();
    } catch (const std::exception& e) {
        logWarning("exception: %s", e.what());
        return failQuietly();
    }
}

}  // namespace

int runWinpeIso(int argc, const char* const argv[]) {
    standard_descriptors::makeValid();
    RunOptions options;
    switch (parseCommandLine(argc, argv, options, std::cout)) {
        case ParseOutcome::helpShown:
        case ParseOutcome::versionShown:
            return kSuccess;
        case ParseOutcome::failed:
            return kFailure;
        case ParseOutcome::run:
            break;
    }
    if (options.listImage) {
        return listImage(options.imagePath, std::cout) == 0 ? kSuccess : kFailure;
    }
    clash_policy::set(options.clashPolicy);
    interrupt::installHandlers();
    Run run(std::move(options));
    return run.execute();
}
