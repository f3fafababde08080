// Reading and copying local files. Every local file the program reads (the image, the
// files and trees it adds) is opened here, so that anything that is not a regular file
// (a FIFO, a socket, a device) is refused at once instead of blocking the run, and every
// copy into the work tree works across file systems.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_identity.h"
#include "platform/open_file.h"

namespace local_file {

// "a FIFO", "a socket", "a character device", "a block device", "a directory", ... for
// a file mode that is not a regular file's.
std::string kindOf(unsigned mode);

// Opens the regular file at `path` for reading; a symbolic link is followed. Anything
// else is refused without blocking. Throws std::runtime_error "cannot open <what> <path>:
// <reason>", the reason being the system's error text or "it is a FIFO, not a regular
// file" and the like. `size` receives the file's size.
OpenFile openForReading(const std::string& path, uint64_t& size, const char* what = "local file");

// Creates the file `path`, which must not exist (a link standing there is not followed),
// for writing with the permission bits `mode`. Throws std::runtime_error "cannot create
// <path>: <reason>".
OpenFile createNew(const std::string& path, unsigned mode);

// Opens the work-tree file `path` for writing from its start, emptied, creating it with
// the permission bits `mode` when it is missing. As with createNew, a link standing
// there is never followed, and nothing but a regular file is written to: both are
// refused with std::runtime_error "cannot create <path>: <reason>".
OpenFile rewrite(const std::string& path, unsigned mode = 0644);

// Makes `path` afresh as an empty file with the permission bits `mode`. Whatever stands
// at the path, except a directory, is removed first as an entry: a link there is never
// followed, a FIFO never opened. `identity` receives the new file's identity. Throws
// std::runtime_error "can not create <path>: <reason>" (also for a directory), "can not
// remove what stands at <path>: <reason>" or "can not query <path>: <reason>".
OpenFile createAfresh(const std::string& path, unsigned mode, FileIdentity& identity);

// Makes the open file `fd`, which `path` names in errors, at least `size` bytes long; the
// added bytes read as zeros.
void extendTo(int fd, const std::string& path, uint64_t size);

// Copies everything from the current offset of `in` to its end to the current offset of
// `out`, in the kernel where it can. `source` and `target` name the two in errors. Stops
// with interrupt::Interrupted when the run is interrupted.
void copyContents(int in, int out, const std::string& source, const std::string& target);

// Copies the regular file `source` (a symbolic link is followed) to `target`, which must
// not exist. Works across file systems; the copy has the source's permission bits with
// the owner's read and write added, and is not flushed to disk, as it only serves the
// work tree. On failure the partial target is removed and a
// std::runtime_error names the path and the system's error text.
void copyFile(const std::string& source, const std::string& target);

// The same from the file `in`, already open for reading (from its current offset), which
// `source` names in errors.
void copyOpenFile(int in, const std::string& source, const std::string& target);

}  // namespace local_file
