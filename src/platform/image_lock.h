// One run per image at a time: an exclusive lock on the image file itself (flock), so
// no lock file is left behind and a run that ends in any way releases it.
#pragma once

#include <string>

#include "platform/open_file.h"

class ImageLock {
  public:
    enum class Outcome {
        locked,    // this run holds the lock
        unlocked,  // nothing to lock: the path is missing, unreadable or no regular file
        busy       // another run holds the lock, or the image was replaced meanwhile
    };

    ImageLock() = default;
    ~ImageLock();
    ImageLock(const ImageLock&) = delete;
    ImageLock& operator=(const ImageLock&) = delete;

    // Takes the lock on the file `imagePath` leads to, without waiting. A lock taken on
    // a file that no longer has that name (a run that swapped it in the meantime) counts
    // as busy, so a run never works on an image that has just been replaced.
    Outcome acquire(const std::string& imagePath);

    void release();

  private:
    OpenFile file_;
};
