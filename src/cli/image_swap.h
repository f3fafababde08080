// Puts a newly written image in the place of the old one, keeping the old one beside it.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/file_identity.h"

// A swap that failed. When `newImageKept` is true the finished new image stays at the new
// image path (the final rename failed) and must not be removed.
class ImageSwapError : public std::runtime_error {
  public:
    ImageSwapError(const std::string& what, bool newImageKept)
        : std::runtime_error(what), newImageKept_(newImageKept) {}
    bool newImageKept() const { return newImageKept_; }

  private:
    bool newImageKept_;
};

// Puts the new image at `newImagePath` in the place of the image at `imagePath`:
// 1. checks that `newImagePath` still names the file `written` (any file when `written`
//    is unknown), flushes it to disk and gives it the old image's owner and group (where
//    the process may set them), extended attributes with the access control list, and
//    permission bits; for a symbolic link as the image, those of the link's target. What
//    can not be carried over is a warning, and the file keeps no more than the bits it was
//    created with;
// 2. makes the new backup complete under a fresh name beside `backupPath`: a hard link to
//    the old image (to a link's target) where the file system allows one, otherwise a copy
//    flushed to disk. This may take long and stops with interrupt::Interrupted when a
//    signal comes; the old backup is not touched;
// 3. renames the new backup over `backupPath` (the old backup goes only with this rename),
//    then the new image over `imagePath`; a link there is replaced itself, its target is
//    left as it is.
// Step 3 runs with the signals of interrupt::Deferral held back, so it completes or does
// not start; a signal noted before it stops the swap with interrupt::Interrupted.
// Throws ImageSwapError naming the step and the file when a step fails; `imagePath` then
// still holds the old image and `backupPath` whatever it held before, unless the final
// rename failed.
void swapInNewImage(const std::string& imagePath, const std::string& newImagePath,
                    const std::string& backupPath, const FileIdentity& written = FileIdentity());
