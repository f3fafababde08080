#include "cli/image_neighbours.h"

#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <cstring>

#include "base/console_log.h"
#include "platform/file_identity.h"
#include "platform/path_limits.h"

namespace fs = boost::filesystem;

namespace {

bool isDirectoryEntry(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The image is a link whose final target is the entry `neighbour` itself.
bool leadsTo(const std::string& image, const std::string& neighbour) {
    const FileIdentity target = file_identity::ofTarget(image);
    return target != file_identity::ofEntry(image) && target == file_identity::ofEntry(neighbour);
}

fs::path resolved(const std::string& path) {
    boost::system::error_code ec;
    const fs::path absolute = fs::absolute(fs::path(path));
    const fs::path canonical = fs::weakly_canonical(absolute, ec);
    return ec ? absolute.lexically_normal() : canonical;
}

// The input is the new image's path: writing the new image would remove it.
bool isNewImage(const std::string& input, const std::string& newImage) {
    if (resolved(input) == resolved(newImage)) {
        return true;
    }
    return file_identity::ofTarget(input) == file_identity::ofEntry(newImage);
}

std::string directoryOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

}  // namespace

std::string refuseImageNeighbours(const ImageNeighbours& paths,
                                  const std::vector<std::string>& localInputs) {
    struct stat image;
    if (paths.image.empty() || ::stat(paths.image.c_str(), &image) != 0) {
        return "";  // nothing to keep; the first read of the image reports it
    }
    for (const std::string* neighbour : {&paths.newImage, &paths.backup}) {
        if (isDirectoryEntry(*neighbour)) {
            return "a directory stands at " + *neighbour + ", where this run writes " +
                   (neighbour == &paths.newImage ? "the new image" : "the backup") +
                   "; move it away first";
        }
        if (leadsTo(paths.image, *neighbour)) {
            return "the image " + paths.image + " is a link to " + *neighbour +
                   ", which this run replaces; give the link's target as the image";
        }
    }
    for (const std::string& input : localInputs) {
        if (!input.empty() && isNewImage(input, paths.newImage)) {
            const std::string named =
                input == paths.newImage ? " is" : " is " + paths.newImage + ",";
            return "the local input " + input + named +
                   " where this run writes the new image; rename it first";
        }
    }
    const std::string directory = directoryOf(paths.image);
    if (const int error = path_limits::creationError(directory)) {
        return "the directory " + directory + " of the image is not writable (" +
               std::strerror(error) + "), the new image can not be made there";
    }
    const std::string leaf = fs::path(paths.backup).filename().string();
    const long longestName = path_limits::longestName(directory);
    if (static_cast<long>(leaf.size()) > longestName ||
        static_cast<long>(paths.backup.size()) >= path_limits::longestPath()) {
        return formatText(
            "the name of the image %s is too long for %s and %s (at most %ld characters in %s)",
            paths.image.c_str(), paths.newImage.c_str(), paths.backup.c_str(), longestName - 4,
            directory.c_str());
    }
    return "";
}
