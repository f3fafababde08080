// Why a run could not take one of the six configuration files out of its image, in
// words a user can act on: the image is missing, no file, no ISO 9660 image, not
// readable, or it lacks the file (perhaps holding it under a name in another letter case).
#pragma once

#include <string>

#include "editor/cd_files.h"

class ISOReader;

// The cause, for a "Warning: " line. `reader` is the run's reader of `imagePath` after
// the failed retrieve of `file`; it is asked only what it has loaded already, so the
// image is not read again.
std::string retrieveFailureCause(const std::string& imagePath, ISOReader& reader,
                                 const CdFile& file);

// The cause when the image can not be loaded at all, after `reader` failed to load it:
// for a "Warning: " line.
std::string unreadableImageCause(const std::string& imagePath);

// What the image classes said went wrong in their last step: the lines after the last
// step they announced ("... ..."), the last one first, joined by ": ".
std::string lastImageStepFailure();
