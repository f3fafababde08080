#include "iso/iso_modifier.h"
#include "iso/image_console.h"

#include <boost/filesystem.hpp>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/entry_name.h"
#include "iso/image_path.h"
#include "iso/limits.h"
#include "iso/records.h"
#include "iso/system_use.h"
#include "platform/checked_file.h"
#include "platform/file_identity.h"
#include "platform/local_file.h"

namespace fs = boost::filesystem;

namespace {

// Sum of the sizes of the files in an entry and below it, modulo 2^32 like `totalBytes`.
// The Rock Ridge mode bits of a local file type.
constexpr uint32_t kModeDirectory = 0040000;
constexpr uint32_t kModeFile = 0100000;

// The local file's permissions and modification time, for its Rock Ridge entries; a file
// that can not be asked gets read and execute for all, and the time 0.
void localAttributes(const std::string& path, bool directory, uint32_t& mode,
                     std::time_t& modified) {
    boost::system::error_code error;
    const fs::file_status status = fs::status(path, error);
    const uint32_t permissions =
        error ? 0555u : static_cast<uint32_t>(status.permissions()) & 07777u;
    mode = (directory ? kModeDirectory : kModeFile) | permissions;
    modified = fs::last_write_time(path, error);
    if (error) {
        modified = 0;
    }
}

uint32_t fileBytesBelow(const DirectoryNode& entry) {
    if (entry.isFile()) {
        return static_cast<uint32_t>(entry.size);
    }
    uint32_t sum = 0;
    for (const DirectoryNode* child = entry.children.get(); child != nullptr;
         child = child->next.get()) {
        sum += fileBytesBelow(*child);
    }
    return sum;
}

}  // namespace

ISOModifier::ISOModifier(const std::string& imageFile)
    : ISOReader(imageFile), ISOWriter("", imageFile) {}

ISOModifier::ISOModifier(const std::string& imageFile, ImageSourceOpener opener)
    : ISOReader(imageFile, std::move(opener)), ISOWriter("", imageFile) {}

ISOModifier::~ISOModifier() = default;

int ISOModifier::UnpackImage(const std::string&) {
    return 0;
}

int ISOModifier::RetrieveFile(const std::string&, const std::string&) {
    return 0;
}

int ISOModifier::RetrieveDir(const std::string&, const std::string&) {
    return 0;
}

bool ISOModifier::FileExists(const std::string&) {
    return true;
}

bool ISOModifier::DirectoryExists(const std::string&) {
    return true;
}

ISOModifier::Insertion ISOModifier::prepareInsertion(const std::string& localPath,
                                                     const std::string& isoPath, bool overwrite) {
    Insertion insertion;
    const std::string parentPath = image_path::branch(isoPath);
    insertion.identifier = image_path::leaf(isoPath);
    if (!image_path::isValidEntryName(insertion.identifier)) {
        throw std::invalid_argument("image path \"" + isoPath +
                                    "\" does not end in a valid entry name");
    }
    // A bad component of the parent path fails the add here, with the add's own line.
    if (!parentPath.empty()) {
        image_path::split(parentPath);
    }
    std::string local = localPath;
    trimTrailingSeparators(local);
    const fs::path localFsPath(local);
    insertion.localParent = localFsPath.parent_path().string();
    insertion.localName = localFsPath.filename().string();

    if (loadImage() != 0) {
        return Insertion();
    }
    DirectoryNode* list = findDirectoryRecord(parentPath);
    if (list == nullptr || list->name != ".") {
        return Insertion();
    }

    // Entries are matched and ordered by the identifier they are written with. For entries
    // of the image that is their name; for entries added here the local name may differ,
    // and matching on it would leave two entries of one name in the directory. The match
    // is the one the question before the add asks (ISOReader::NameTaken).
    DirectoryNode* before = nullptr;
    for (DirectoryNode* node = list; node != nullptr; before = node, node = node->next.get()) {
        if (node->isDotEntry() || !entry_name::same(node->identifier, insertion.identifier,
                                                    entry_name::LetterCase::ignored)) {
            continue;
        }
        // A hidden entry is not shown, so nobody is asked about it: the add takes its place.
        if (!overwrite && !node->hidden) {
            return Insertion();
        }
        if (before == nullptr) {
            throw std::runtime_error("entry \"" + node->identifier +
                                     "\" heads its directory's list " + "and can not be replaced");
        }
        NodeList old = std::move(before->next);
        before->next = std::move(old->next);
        insertion.oldSystemUse = std::move(old->systemUse);
        insertion.oldIdentifier = old->identifier;
        insertion.oldType = old->type;
        // An entry coming back under its own name keeps the identifier it was stored with
        // (WINBOM.INI;1 stays WINBOM.INI;1); a name the user spelt in another case is
        // written as the user gave it.
        if (entry_name::same(old->identifier, insertion.identifier,
                             entry_name::LetterCase::exact)) {
            insertion.identifier = old->identifier;
        }
        // The Joliet name stays, whatever the spelling of the add.
        insertion.joliet = old->joliet;
        // The replaced data is not copied, so the progress display no longer counts it.
        totalBytes -= fileBytesBelow(*old);
        break;  // `old` goes with its whole subtree here
    }

    // Sorted position: after the dot entries and every name that sorts before it.
    DirectoryNode* previous = list;
    while (previous->next != nullptr &&
           (previous->next->isDotEntry() ||
            entry_name::sortsBefore(previous->next->identifier, insertion.identifier))) {
        previous = previous->next.get();
    }
    insertion.list = list;
    insertion.previous = previous;
    return insertion;
}

int ISOModifier::AddSingleFile(const std::string& localPath, const std::string& isoPath,
                               bool overwrite) {
    try {
        Insertion insertion = prepareInsertion(localPath, isoPath, overwrite);
        if (insertion.list == nullptr) {
            return 1;
        }
        // Opened once here, so that a FIFO or a device is refused at the add, not during
        // the pack, and without waiting for a writer; so is a file too large for the
        // image. The pack opens the file that was checked here, or fails.
        uint64_t size = 0;
        OpenFile file;
        checked_file::Route checked = checked_file::startAtFile(
            (fs::path(insertion.localParent) / insertion.localName).string(), file, size);
        image_path::requireLocalFileSize(localPath, size);
        auto node = std::make_unique<DirectoryNode>();
        node->type = kNodeFile;
        node->name = insertion.localName;
        node->path = insertion.localParent;
        node->identifier = insertion.identifier;
        node->size = size;
        node->inImage = false;
        node->checked = std::move(checked);
        node->joliet = insertion.joliet;
        giveRockRidge(*node, insertion);
        totalBytes += static_cast<uint32_t>(size);
        insertAfter(*insertion.previous, std::move(node));
        return 0;
    } catch (const std::exception& e) {
        printImageLine(std::string("ISOModifier AddSingleFile exception: ") + e.what());
        return 1;
    }
}

int ISOModifier::AddSingleDirectory(const std::string& localPath, const std::string& isoPath,
                                    bool overwrite) {
    try {
        Insertion insertion = prepareInsertion(localPath, isoPath, overwrite);
        if (insertion.list == nullptr) {
            return 1;
        }
        auto node = std::make_unique<DirectoryNode>();
        node->type = kNodeDirectory;
        node->name = insertion.localName;
        node->path = insertion.localParent;
        node->identifier = insertion.identifier;
        node->size = 0;
        node->inImage = false;
        node->joliet = insertion.joliet;
        node->children = ISOWriter::loadSourceDirectory(localPath);
        if (node->children == nullptr) {
            // A directory without its entry list would make a broken image; it is not added.
            return 1;
        }
        giveRockRidge(*node, insertion);
        insertAfter(*insertion.previous, std::move(node));
        return 0;
    } catch (const std::exception& e) {
        printImageLine(std::string("ISOModifier AddSingleDirectory exception: ") + e.what());
        return 1;
    }
}

int ISOModifier::PackImage(const std::string& outputPath, const std::string& bootImagePath) {
    if (loadImage() != 0) {
        return 1;
    }
    if (file_identity::removalTakes(outputPath, imagePath)) {
        // What stands at the output is removed first, and with the image every byte still
        // to be copied. A link to the image, or another name of it, may go.
        printImageLine("pack ISO image failed - the output file " + outputPath +
                       " is the image being modified");
        return 1;
    }
    return ISOWriter::PackImage(outputPath, bootImagePath);
}

int ISOModifier::PackImageTo(ImageSink& out, const std::string& bootImagePath) {
    if (loadImage() != 0) {
        return 1;
    }
    return ISOWriter::PackImageTo(out, bootImagePath);
}

uint64_t ISOModifier::PlannedImageBytes(const std::string& bootImagePath) {
    if (loadImage() != 0) {
        throw std::runtime_error("the tree of " + imagePath + " can not be loaded");
    }
    // The boot records are planned from the old image, as the pack plans them.
    const std::unique_ptr<ImageSource> source = openImage();
    oldImage = source.get();
    try {
        const uint64_t bytes = ISOWriter::PlannedImageBytes(bootImagePath);
        oldImage = nullptr;
        return bytes;
    } catch (...) {
        oldImage = nullptr;
        throw;
    }
}

int ISOModifier::packInto(ImageSink& out, const std::string& bootImagePath) {
    // A failure to open shows when the descriptor is made, the first read of the image.
    std::unique_ptr<ImageSource> source;
    oldImageFailure.clear();
    try {
        source = openImage();
    } catch (const std::exception& e) {
        oldImageFailure = e.what();
    }
    oldImage = source.get();
    const int result = ISOWriter::packInto(out, bootImagePath);
    oldImage = nullptr;
    return result;
}

void ISOModifier::planBoot() {
    if (oldImage == nullptr) {
        return;
    }
    try {
        bootPlan = boot_plan::makePlan(*oldImage, root.get(), sourceBlockSize());
    } catch (const std::exception&) {
        // Without a readable catalog the writer's own is written, as for any boot image.
        bootPlan = boot_plan::Plan();
    }
}

void ISOModifier::giveRockRidge(DirectoryNode& node, const Insertion& insertion) {
    if (root == nullptr || !system_use::hasRockRidge(root->systemUse)) {
        return;
    }
    const std::vector<uint8_t> none;
    const std::vector<uint8_t>& oldSystemUse =
        insertion.oldType == node.type ? insertion.oldSystemUse : none;
    // An entry that replaces an old one keeps that one's fields but its times.
    std::vector<std::pair<DirectoryNode*, const std::vector<uint8_t>*>> pending{
        {&node, &oldSystemUse}};
    while (!pending.empty()) {
        DirectoryNode* entry = pending.back().first;
        const std::vector<uint8_t>& old = *pending.back().second;
        pending.pop_back();
        const bool dot = entry->isDotEntry();
        // "." is the local directory itself, ".." the one above it.
        const std::string local =
            dot ? (fs::path(entry->path) / (entry->name == "." ? "" : "..")).string()
                : (fs::path(entry->path) / entry->name).string();
        uint32_t mode = 0;
        std::time_t modified = 0;
        localAttributes(local, entry->isDirectory(), mode, modified);
        // The entry added takes the name it was given in the image, those below it their
        // local names.
        const std::string name = dot              ? std::string()
                                 : entry == &node ? node.identifier
                                                  : entry->name;
        entry->systemUse =
            !old.empty()
                ? system_use::withTimes(old, modified,
                                        node.identifier == insertion.oldIdentifier ? "" : name)
                : system_use::rockRidgeEntries(mode, name, modified);
        if (entry->isDirectory() && !dot) {
            for (DirectoryNode* child = entry->children.get(); child != nullptr;
                 child = child->next.get()) {
                pending.push_back({child, &none});
            }
        }
    }
}

void ISOModifier::planSystemArea(bool hasBootImage) {
    if (oldImage == nullptr) {
        return;
    }
    try {
        systemAreaPlan = system_area::makePlan(*oldImage, root.get(), sourceBlockSize(),
                                               hasBootImage ? &bootPlan : nullptr);
    } catch (const std::exception&) {
        // An old System Area that can not be read is written as zeros, as any other.
        systemAreaPlan = system_area::Plan();
    }
}

NodeList ISOModifier::loadSourceDirectory(const std::string&) {
    return std::move(root);
}

void ISOModifier::CreateNewPVD(uint32_t volumeSpaceSize, uint32_t pathTableSize,
                               uint32_t typeLPathTable, uint32_t typeMPathTable,
                               const uint8_t* rootRecord, uint8_t* descriptor) {
    using namespace iso_record;
    PrimaryDescriptor old;
    try {
        if (oldImage == nullptr) {
            throw std::runtime_error(oldImageFailure);
        }
        uint8_t bytes[kDescriptorSize];
        oldImage->read(iso_limits::kPrimaryDescriptorOffset, bytes, sizeof bytes);
        old = decodePrimaryDescriptor(bytes, iso_limits::kPrimaryDescriptorOffset);
    } catch (const std::exception& e) {
        printImageLine(std::string("ISOModifier CreateNewPVD exception: ") + e.what());
        throw std::runtime_error(
            formatText("the primary volume descriptor of %s can not be read "
                       "at byte %" PRIu64,
                       imagePath.c_str(), iso_limits::kPrimaryDescriptorOffset));
    }
    fillPrimaryDescriptor(volumeSpaceSize, pathTableSize, typeLPathTable, typeMPathTable,
                          rootRecord, descriptor);
    // The identifiers are carried over byte for byte, whatever they hold.
    auto carry = [descriptor](size_t offset, const auto& field) {
        safeMemcpy(descriptor + offset, static_cast<uint32_t>(field.size()), field.data(),
                   static_cast<uint32_t>(field.size()));
    };
    carry(pvd::kVolumeId, old.volumeId);
    carry(pvd::kVolumeSetId, old.volumeSetId);
    carry(pvd::kPublisherId, old.publisherId);
    carry(pvd::kDataPreparerId, old.dataPreparerId);
    carry(pvd::kApplicationId, old.applicationId);
}
