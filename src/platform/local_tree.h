// Listing a local directory that is about to be added to the image or copied into the
// work tree, with everything below it, before anything is copied or added. A symbolic
// link inside it is followed only when what it leads to lies inside the same directory;
// links leading elsewhere, links that can not be followed, links back into a directory
// that holds them, and entries that are neither regular files nor directories fail the
// listing with a message naming the entry.
//
// Every directory is opened as the listing saw it, without following a link (a link that
// is followed is resolved once, and what it leads to is walked to from the top), and
// every entry keeps the route by which it was found, so that its file is opened later as
// it was checked (platform/checked_file.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/checked_file.h"

namespace local_tree {

struct Entry {
    std::string name;  // as listed in its directory
    bool directory = false;
    uint64_t size = 0;            // of a regular file
    std::vector<Entry> children;  // of a directory, in listing order
    // How the listing reached the entry (for a link, what it leads to).
    checked_file::Route route;
};

enum class Depth { whole, topOnly };

// Called for every listed entry with its name and local path; throws to refuse it.
using NameCheck = std::function<void(const std::string& name, const std::string& path)>;
// Called for every regular file with its local path and size; throws to refuse it.
using SizeCheck = std::function<void(const std::string& path, uint64_t size)>;

// Lists `top` (given on the command line, so a link there is followed) and, with
// Depth::whole, every directory below it, in the order the file system lists them.
// `checkName` (may be empty) sees every entry before it is looked at further,
// `checkSize` (may be empty) every regular file. Throws std::runtime_error (or what a
// check throws) at the first offending entry. Local paths are `top` as given, followed
// by the names below it.
std::vector<Entry> scan(const std::string& top, Depth depth, const NameCheck& checkName = {},
                        const SizeCheck& checkSize = {});

}  // namespace local_tree
