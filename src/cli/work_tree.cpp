#include "cli/work_tree.h"

#include <boost/filesystem.hpp>

#include "cli/console_log.h"

namespace fs = boost::filesystem;

namespace {

// Local paths join with the native separator.
const std::string kSeparator = "/";

// The absolute form with symbolic links, "." and ".." resolved as far as the path exists.
fs::path resolved(const std::string& path) {
    return fs::weakly_canonical(fs::absolute(fs::path(path)));
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

bool prepareWorkDirectory(const std::string& workDirectory) {
    const fs::path path(workDirectory);
    const bool existedBefore = fs::exists(fs::symlink_status(path));
    if (existedBefore) {
        fs::remove_all(path);
    }
    fs::create_directory(path);
    return existedBefore;
}

int cleanUpWorkDirectory(bool existedBefore, const std::string& workDirectory, bool prepared) {
    logInfo("clean up ...");
    try {
        if (prepared) {
            const fs::path path(workDirectory);
            fs::remove_all(path);
            if (existedBefore) {
                fs::create_directory(path);
            }
        }
    } catch (const std::exception&) {
        logWarning("failed to clean up");
        return 1;
    }
    logInfo("clean up succeeded");
    return 0;
}
