// Fixture images made at test time by third-party tools.
#pragma once

#include <string>
#include <vector>

namespace test_support {

// Packs the local directory `tree` into `image` with `xorriso -as mkisofs`, keeping
// names exactly as they are (no ";1", no case or character mapping). With a
// `bootImage` (a path relative to `tree`) the image gets an El Torito no-emulation
// boot entry for it. `extraArgs` go to mkisofs before the tree. Throws on failure.
void makeIsoWithXorriso(const std::string& tree, const std::string& image,
                        const std::string& bootImage = "",
                        const std::vector<std::string>& extraArgs = {});

// The same with genisoimage.
void makeIsoWithGenisoimage(const std::string& tree, const std::string& image,
                            const std::string& bootImage = "");

}  // namespace test_support
