// Puts a newly written image in the place of the old one, keeping the old one beside it.
#pragma once

#include <string>

// Flushes `newImagePath` to disk, keeps the image at `imagePath` under `backupPath`
// (a hard link, or a copy where no link can be made, after removing whatever stood at
// `backupPath`) and renames the new image over `imagePath` in one atomic step.
// Throws std::runtime_error naming the step and the file when a step fails; `imagePath`
// then still holds the old image.
void swapInNewImage(const std::string& imagePath, const std::string& newImagePath,
                    const std::string& backupPath);
