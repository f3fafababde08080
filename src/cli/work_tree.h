// The work directory of a run and the tree below it that mirrors the image's paths.
#pragma once

#include <string>
#include <vector>

#include "editor/cd_files.h"

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

    // Where one of the six CD files lies in the work tree.
    std::string pathOf(const CdFile& file) const;

    // Makes, in this order: tree root, I386, SYSTEM32, CONFIG, DRIVERS, INF, product
    // directory. Throws when one can not be made.
    void createDirectories() const;
};

// True when removing `workDirectory` would remove `imagePath`: the work directory is the
// image itself, the directory holding it or any directory above. Symbolic links and
// relative parts are resolved first.
bool workDirectoryHoldsImage(const std::string& workDirectory, const std::string& imagePath);

// What a -t work directory must neither be nor lie above: emptying it would delete it.
struct ProtectedPath {
    enum class Kind {
        image,             // the image, its .tmp or its .bak path
        currentDirectory,  // the directory the program runs in
        optionPath         // a local path named by the run's options
    };
    std::string path;
    Kind kind;
};

// Empty when the user's `workDirectory` may be emptied and used; otherwise the warning
// that refuses it: it is or lies above one of `protectedPaths`, lies inside one of the
// local paths named by the options, exists and is not a directory, is a mount point or
// holds one, is shared with other users (writable by all, or sticky), or belongs to
// another user. A link to a directory is judged by its target, which is what the run
// empties. Directories are compared as files (device and inode of every directory from
// each protected path up to the root, and of the path's target where it is a link), so
// links, "..", bind mounts and doubled separators are all seen through; paths that do
// not exist yet are compared by their resolved names, or placed by their nearest
// existing parent.
std::string refuseWorkDirectory(const std::string& workDirectory,
                                const std::vector<ProtectedPath>& protectedPaths);

// Removes everything inside the directory `workDirectory` leads to (a link to a
// directory is followed and stays) and gives the directory mode 0700. The directory
// itself stays, so a lock held on it holds on. Throws on failure.
void emptyWorkDirectory(const std::string& workDirectory);

// Empties the user's work directory in place or makes it: returns whether anything stood
// at the path before (it is emptied and given mode 0700) or not (it is made with mode
// 0700). The parent directory must exist. Throws on failure; `existedBefore`, when
// given, is set before anything is removed.
bool prepareWorkDirectory(const std::string& workDirectory, bool* existedBefore = nullptr);

// Logs "clean up ...", then empties the work directory when it existed before the run,
// or removes it with its contents. Logs "failed to clean up" and returns 1 when that
// fails, else logs "clean up succeeded" and returns 0. When the run has not prepared the
// directory yet (`prepared` false) nothing at the path is touched.
int cleanUpWorkDirectory(bool existedBefore, const std::string& workDirectory,
                         bool prepared = true);
