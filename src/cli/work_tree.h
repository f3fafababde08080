// The work directory of a run and the tree below it that mirrors the image's paths.
#pragma once

#include <string>

// Local paths of the work tree, each built by plain concatenation from the work
// directory, so a work directory given with a trailing separator yields a doubled one.
struct WorkTree {
    std::string workDirectory;
    std::string treeRoot;       // the image's root directory
    std::string bootImageFile;  // the extracted El Torito boot image
    std::string i386;
    std::string system32;
    std::string config;
    std::string drivers;
    std::string inf;
    std::string programs;  // made by the editor when it adds programs
    std::string product;   // the job file's directory, \MIRALDA

    explicit WorkTree(const std::string& workDirectory);

    // Makes, in this order: tree root, I386, SYSTEM32, CONFIG, DRIVERS, INF, product
    // directory. Throws when one can not be made.
    void createDirectories() const;
};

// True when removing `workDirectory` would remove `imagePath`: the work directory is the
// image itself, the directory holding it or any directory above. Symbolic links and
// relative parts are resolved first.
bool workDirectoryHoldsImage(const std::string& workDirectory, const std::string& imagePath);

// Empties the user's work directory or makes it: returns whether anything stood at the
// path before (it is removed with its contents and made again, empty). The parent
// directory must exist. Throws on failure.
bool prepareWorkDirectory(const std::string& workDirectory);

// Logs "clean up ...", then removes the work directory with its contents, making it
// again empty when it existed before the run. Logs "failed to clean up" and returns 1
// when that fails, else logs "clean up succeeded" and returns 0. When the run has not
// prepared the directory yet (`prepared` false) nothing at the path is touched.
int cleanUpWorkDirectory(bool existedBefore, const std::string& workDirectory,
                         bool prepared = true);
