// Paths inside an image keep their Windows form: components separated by "\" or "/",
// an optional leading separator, written back with "\". These helpers are the only
// place that splits or joins them; local paths use Boost.Filesystem instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Removes every leading "\" and "/".
void trimLeadingSeparators(std::string& path);

// Removes every trailing "\" and "/".
void trimTrailingSeparators(std::string& path);

namespace image_path {

// True for a name the Windows name rules accept as the name of an entry: not empty,
// none of < > : " / \ | or control characters, not ending in a blank or a full stop,
// and never "." or "..".
bool isValidEntryName(const std::string& name);

// Throws std::invalid_argument "\"<name>\" is not a valid <asWhat>" when `name` fails
// isValidEntryName.
void requireEntryName(const std::string& name, const char* asWhat);

// Throws std::invalid_argument naming the local entry at `localPath` when `identifier`,
// the name it is to have in the image, fails isValidEntryName: the image would hold an
// entry that no reader of it accepts.
void requireLocalEntryName(const std::string& identifier, const std::string& localPath);

// Throws std::length_error "local file <localPath> is <size> bytes; an image file holds
// at most 4294967295" when a local file is too large for the one record an added file
// gets in the image.
void requireLocalFileSize(const std::string& localPath, uint64_t size);

// Splits a path (leading separators already removed) into its components. A "."
// component is dropped unless it is the whole path, and so is the "." that a trailing
// separator stands for ("I386\" is "I386"); ".." stays a component of its own;
// every other component must be a valid Windows name. Throws std::invalid_argument
// naming the path and the component otherwise.
std::vector<std::string> split(const std::string& path);

// Joins components with "\".
std::string join(const std::vector<std::string>& components);

// Joins a directory path ("" for the root) and a name with "\".
std::string join(const std::string& directory, const std::string& name);

// Last component of a path after trailing separators are removed ("" for the root).
std::string leaf(const std::string& path);

// Everything before the last component, without leading or trailing separators.
std::string branch(const std::string& path);

}  // namespace image_path
