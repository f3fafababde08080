// Temporary names: "WPE", a number's low 16 bits in upper-case hexadecimal, ".TMP".
#pragma once

#include <cstdint>
#include <string>

namespace temp_name {

// The system's temporary directory: the first of TMPDIR, TMP, TEMP and TEMPDIR that is
// set and not empty (an empty value counts as unset), else /tmp. Throws
// std::runtime_error when that is not a directory.
std::string systemTempDirectory();

// A pseudo-random number that is not 0, from rand() seeded with a monotonic tick.
unsigned drawNonZeroNumber();

// "WPE" + hex + ".TMP" for the number's low 16 bits (the leaf name only).
std::string formLeafName(unsigned number);

// The leaf name inside the system's temporary directory. Creates nothing.
std::string formTempPath(unsigned number);

// Creates a fresh work directory (mode 0700) in the system's temporary directory under
// a formed name that no existing path takes. Throws std::runtime_error with
// "can not generate random temporary directory name" when no free name is found.
std::string createWorkDirectory();

}  // namespace temp_name
