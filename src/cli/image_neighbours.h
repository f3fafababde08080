// The paths beside the image that a run writes: IMAGE.tmp, where the new image is made,
// and IMAGE.bak, where the old one is kept.
#pragma once

#include <string>
#include <vector>

struct ImageNeighbours {
    std::string image;
    std::string newImage;  // image + ".tmp"
    std::string backup;    // image + ".bak"
};

// Empty when the run can make its new image and its backup beside the image; otherwise
// the warning that refuses the run before any work is done:
// - a directory stands at IMAGE.tmp or IMAGE.bak (the run never replaces one);
// - the image is a symbolic link that leads to IMAGE.tmp or IMAGE.bak, which the run
//   removes or replaces;
// - one of `localInputs` is IMAGE.tmp, by its resolved path or as the same file;
// - the image's directory is not writable by the process;
// - the image's name is too long for IMAGE.tmp or IMAGE.bak.
// Nothing is checked for an empty image path or an image that can not be reached.
std::string refuseImageNeighbours(const ImageNeighbours& paths,
                                  const std::vector<std::string>& localInputs);
