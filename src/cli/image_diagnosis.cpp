#include "cli/image_diagnosis.h"

#include <boost/filesystem.hpp>
#include <cinttypes>
#include <fstream>
#include <vector>

#include "base/console_log.h"
#include "iso/entry_name.h"
#include "iso/image_path.h"
#include "iso/iso_reader.h"
#include "iso/limits.h"

namespace fs = boost::filesystem;

namespace {

constexpr char kStandardIdentifier[] = "CD001";
constexpr size_t kIdentifierOffset = 1;  // after the descriptor type byte
constexpr size_t kIdentifierLength = sizeof kStandardIdentifier - 1;

// What the image classes said since the line `start` of their last attempt, joined.
std::string linesSince(const std::string& start) {
    const std::vector<std::string> lines = console_log::recentOutputLines();
    size_t first = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == start) {
            first = i + 1;
        }
    }
    std::string text;
    for (size_t i = first; i < lines.size(); ++i) {
        text += (text.empty() ? "" : ": ") + lines[i];
    }
    return text.empty() ? "no reason given" : text;
}

// The cause when the file at `imagePath` can not be an ISO 9660 image at all; empty when
// it can be one.
std::string fileCause(const std::string& imagePath) {
    if (imagePath.empty()) {
        return "no image was named: give it with -i IMAGE";
    }
    boost::system::error_code ec;
    const fs::file_status status = fs::status(imagePath, ec);
    if (!fs::exists(status)) {
        return "the image " + imagePath + " does not exist";
    }
    if (fs::is_directory(status)) {
        return "the image " + imagePath + " is a directory, not an image file";
    }
    if (!fs::is_regular_file(status)) {
        return "the image " + imagePath + " is not a regular file";
    }
    const uintmax_t size = fs::file_size(imagePath, ec);
    const uint64_t needed = iso_limits::kPrimaryDescriptorOffset + iso_limits::kDefaultBlockSize;
    if (ec || size < needed) {
        const std::string found =
            size == 0 ? std::string("an empty file")
                      : formatText("%" PRIu64 " bytes, too short", static_cast<uint64_t>(size));
        return formatText("%s is not an ISO 9660 image (%s: no volume descriptor at block 16)",
                          imagePath.c_str(), found.c_str());
    }
    std::ifstream in(imagePath, std::ios::binary);
    char identifier[kIdentifierLength] = {};
    in.seekg(static_cast<std::streamoff>(iso_limits::kPrimaryDescriptorOffset + kIdentifierOffset));
    if (!in.read(identifier, kIdentifierLength)) {
        return "the image " + imagePath + " can not be read";
    }
    if (std::string(identifier, kIdentifierLength) != kStandardIdentifier) {
        return imagePath + " is not an ISO 9660 image (no volume descriptor at block 16)";
    }
    return "";
}

// The path of the entry whose name components equal those of `path` but for letter
// case; empty when there is none.
std::string caseVariant(ISOReader& reader, const std::string& path) {
    std::string found;
    DirectoryNode* list = reader.findDirectoryRecord("");
    const std::vector<std::string> components = image_path::split(path);
    for (size_t i = 0; i < components.size(); ++i) {
        const DirectoryNode* match =
            entry_name::findInList(list, components[i], entry_name::LetterCase::ignored);
        if (match == nullptr || (i + 1 < components.size() && !match->isDirectory())) {
            return "";
        }
        found += "\\" + entry_name::undecorated(match->name);
        list = match->children.get();
    }
    return found;
}

}  // namespace

std::string lastImageStepFailure() {
    const std::vector<std::string> lines = console_log::recentOutputLines();
    std::string text;
    for (size_t i = lines.size(); i-- > 0;) {
        const std::string& line = lines[i];
        const size_t start = line.find_first_not_of(' ');
        const bool announcement = line.size() > 4 && line.compare(line.size() - 4, 4, " ...") == 0;
        if (announcement && !text.empty()) {
            break;
        }
        if (start != std::string::npos) {
            text += (text.empty() ? "" : ": ") + line.substr(start);
        }
        if (announcement) {
            break;
        }
    }
    return text.empty() ? "no reason given" : text;
}

std::string unreadableImageCause(const std::string& imagePath) {
    const std::string notAnImage = fileCause(imagePath);
    if (!notAnImage.empty()) {
        return notAnImage;
    }
    return "the image " + imagePath + " can not be read: " + linesSince("load ISO image ...");
}

std::string retrieveFailureCause(const std::string& imagePath, ISOReader& reader,
                                 const CdFile& file) {
    if (reader.findDirectoryRecord("") == nullptr) {
        return unreadableImageCause(imagePath);
    }
    std::string relative = file.imagePath;
    trimLeadingSeparators(relative);
    const DirectoryNode* node = reader.findDirectoryRecord(relative);
    if (node != nullptr && node->isFile()) {
        return "copying " + std::string(file.imagePath) + " out of " + imagePath +
               " failed: " + console_log::lastOutputLine();
    }
    std::string cause = imagePath + " has no " + file.imagePath;
    if (node != nullptr) {
        cause += " (that name is a directory there)";
    } else {
        const std::string variant = caseVariant(reader, relative);
        if (!variant.empty() && variant != file.imagePath) {
            cause += " (it holds " + variant + ", a name that differs only in letter case)";
        }
    }
    if (&file == &cd_files::kWinbom) {
        cause += ": this is not a WinPE CD image";
    }
    return cause;
}
