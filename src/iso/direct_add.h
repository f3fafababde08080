// The direct add commands: one local directory or file into a chosen directory of the
// image being modified, with a question to the user when the name is taken.
#pragma once

#include <string>

class ISOReader;
class ISOModifier;

// Adds the local directory `localPath` with everything below it into `imageDirectory`
// ("" for the root). `reader` (the image as it lies on disk) answers whether the name
// is taken; `modifier` receives the entry. Returns 0 when it was added, 1 otherwise.
int addDirectoryToImage(const std::string& localPath, const std::string& imageDirectory,
                        ISOReader* reader, ISOModifier* modifier);

// The same for one local file.
int addFileToImage(const std::string& localPath, const std::string& imageDirectory,
                   ISOReader* reader, ISOModifier* modifier);
