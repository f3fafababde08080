// --dry-run: what the pack would write, reported instead of writing it. A dry run goes
// through every step of a run up to the pack (the checks, the lock, the work tree, the
// six files, the edits, the clash decisions and the write-back into the in-memory tree);
// then this report takes the place of the pack and the swap.
#pragma once

#include <string>

class ISOModifier;
class ISOReader;

// Prints, as "Log: " lines, one line per entry the changed tree of `modifier` takes from
// local files ("dry run: add|replace file|dir SIZE PATH", replace where `original`, the
// reader of the unchanged image, has that path) and the size of the new image that the
// layout gives for that tree and the boot image at `bootImagePath`. 0, or 1 after a
// warning when the tree does not fit the format (the pack would refuse it).
int printDryRunReport(ISOModifier& modifier, ISOReader& original, const std::string& bootImagePath);
