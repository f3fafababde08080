// Putting the edited configuration files and everything the editor added back into
// the image being modified.
#pragma once

#include <string>

class ISOReader;
class ISOModifier;
struct WorkTree;

// Adds the six configuration files, the programs, the drivers and the files of INF and
// SYSTEM32 from the work tree to `modifier`, each replacing an entry of the same name.
// `reader` tells whether the image has a \PROGRAMS directory already. Logs the warning
// of the failed add and returns 1 at the first failure, else returns 0.
int copyBackWorkTree(const WorkTree& tree, ISOReader& reader, ISOModifier& modifier);

// The local part of a direct add value (before its first "%", all of it without one)
// and the path inside the image (after that "%", empty when there is none).
struct DirectAddValue {
    std::string localPath;
    std::string imagePath;
};
DirectAddValue splitDirectAddValue(const std::string& value);
