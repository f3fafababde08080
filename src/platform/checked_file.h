// Local files opened as a check saw them. A tree that is added is looked at first (its
// links, its kinds of files, its names, its sizes) and its files are opened later, when
// they are copied into the work tree or into the new image. In between, whoever may write
// to the tree could put a link or another file in the place of one that was checked. So
// the check records how it reached every entry, a route: the directory it started from,
// by its resolved path, then the names below it, each with the device and inode the check
// saw. Opening along a route follows no link and fails when any directory on the way, or
// the file itself, is not the one that was checked.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_identity.h"
#include "platform/local_file.h"

namespace checked_file {

// One entry on a route: its name in the directory of the step before it (for the first
// step: its resolved absolute path), and what the check saw there.
struct Step {
    std::shared_ptr<const Step> before;
    std::string name;
    FileIdentity identity;
};
// Entries of one directory share the steps up to it.
using Route = std::shared_ptr<const Step>;

// The first step of a route: the directory `path` (a link there is followed, it is given
// by the user), opened. Throws std::runtime_error "can not list directory <path>: ...".
// `directory` receives the opened directory.
Route startAtDirectory(const std::string& path, OpenFile& directory);

// The first step of a route to the regular file `path` (a link there is followed),
// opened for reading like local_file::openForReading; `size` receives its size.
Route startAtFile(const std::string& path, OpenFile& file, uint64_t& size);

// `route` one entry further down: `name` in the directory at its end, seen as `status`.
Route extend(const Route& route, const std::string& name, const struct stat& status);

// Follows `relative` ("a/b/c", no "." or "..") down from the directory at the end of
// `route`, following no link: every directory on the way joins the route as it is found,
// and the last entry as `status` shows it (not followed either). Throws
// std::runtime_error naming `shown` when an entry on the way is missing, a link or no
// directory.
Route follow(const Route& route, const std::string& relative, const std::string& shown,
             struct stat& status);

// Opens the directory `name` of the open directory `parent` without following a link and
// checks that it is the directory `status` describes. `shown` names it in errors.
OpenFile openDirectoryAt(int parent, const std::string& name, const struct stat& status,
                         const std::string& shown);

// Opens the directory at the end of `route` for listing. Throws std::runtime_error
// "can not list directory <shown>: ..." when it, or one on its way, is not the one the
// check saw.
OpenFile openDirectory(const Route& route, const std::string& shown);

// Opens the regular file at the end of `route` for reading, without waiting on it.
// Throws std::runtime_error "cannot open local file <shown>: <reason>", the reason saying
// what is no longer as checked. `size` receives its size.
OpenFile openFile(const Route& route, const std::string& shown, uint64_t& size);

}  // namespace checked_file
