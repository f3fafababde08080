// The three standard descriptors of the process.
#pragma once

namespace standard_descriptors {

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so that no file
// the run opens later takes its number: a lock or an image opened as descriptor 0 would
// otherwise be read as the answers to a prompt, or written as progress lines.
void makeValid();

}  // namespace standard_descriptors
