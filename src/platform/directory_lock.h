// One run per work directory at a time: an exclusive lock (flock) on the directory
// itself, so no lock file is left in it and a run that ends in any way releases it.
#pragma once

#include <string>

#include "platform/open_file.h"

class DirectoryLock {
  public:
    enum class Outcome {
        locked,  // this run holds the lock
        busy     // another run holds it, or the directory was replaced meanwhile
    };

    DirectoryLock() = default;
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Takes the lock on the directory `directory` leads to (a link is followed), without
    // waiting. Throws std::runtime_error naming the directory when it can not be opened.
    Outcome acquire(const std::string& directory);

    void release();

  private:
    OpenFile file_;
};
