// The bytes the long phases of a run move, for their progress lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DirectoryNode;
struct EditRequest;

// The bytes of the regular files the edits copy into the work directory: the programs,
// packages and drivers the request names (links followed, as the copies follow them).
uint64_t bytesOfLocalInputs(const EditRequest& edits);

// The bytes of the files of the tree below `rootList`, as the pack copies them.
uint64_t bytesOfFiles(const DirectoryNode* rootList);
