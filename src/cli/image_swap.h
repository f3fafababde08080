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
//    is unknown), flushes it to disk and gives it the old image's permission bits and,
//    where the process may set them, its owner and group; for a symbolic link as the
//    image, those of the link's target;
// 2. keeps the old image under `backupPath`, after removing whatever stood there, as a
//    real file: a hard link to the old image (to a link's target) where the file system
//    allows one, otherwise a copy flushed to disk;
// 3. renames the new image over `imagePath`; a link there is replaced itself, its target
//    is left as it is.
// Steps 2 and 3 run with SIGINT, SIGTERM and SIGHUP held back, so they complete or do not
// start; a signal noted before them stops the swap with interrupt::Interrupted.
// Throws ImageSwapError naming the step and the file when a step fails; `imagePath` then
// still holds the old image.
void swapInNewImage(const std::string& imagePath, const std::string& newImagePath,
                    const std::string& backupPath, const FileIdentity& written = FileIdentity());
