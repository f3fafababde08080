#include "iso/image_path.h"

#include <boost/filesystem/path.hpp>
#include <cinttypes>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/limits.h"

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

void trimLeadingSeparators(std::string& path) {
    size_t count = 0;
    while (count < path.size() && isSeparator(path[count])) {
        ++count;
    }
    path.erase(0, count);
}

void trimTrailingSeparators(std::string& path) {
    while (!path.empty() && isSeparator(path.back())) {
        path.pop_back();
    }
}

namespace image_path {

bool isValidEntryName(const std::string& name) {
    if (name == "." || name == "..") {
        return false;
    }
    return boost::filesystem::windows_name(name);
}

namespace {

std::string refusal(const std::string& name, const char* asWhat) {
    return "\"" + name + "\" is not a valid " + asWhat;
}

}  // namespace

void requireEntryName(const std::string& name, const char* asWhat) {
    if (!isValidEntryName(name)) {
        throw std::invalid_argument(refusal(name, asWhat));
    }
}

void requireLocalEntryName(const std::string& identifier, const std::string& localPath) {
    if (!isValidEntryName(identifier)) {
        throw std::invalid_argument("local entry " + localPath + ": " +
                                    refusal(identifier, "name for an entry of the image"));
    }
}

void requireLocalFileSize(const std::string& localPath, uint64_t size) {
    if (size > iso_limits::kMaxFileSize) {
        throw std::length_error(formatText("local file %s is %" PRIu64
                                           " bytes; an image file holds at most %" PRIu64,
                                           localPath.c_str(), size, iso_limits::kMaxFileSize));
    }
}

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> components;
    if (path == ".") {
        components.push_back(path);
        return components;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !isSeparator(path[end])) {
            ++end;
        }
        const std::string component = path.substr(start, end - start);
        if (component.empty() && start == path.size() && start > 0) {
            // A trailing separator stands for the directory itself, a "." component.
            break;
        }
        if (component == "..") {
            components.push_back(component);
        } else if (component != ".") {
            if (!boost::filesystem::windows_name(component)) {
                throw std::invalid_argument("invalid name \"" + component + "\" in path \"" + path +
                                            "\"");
            }
            components.push_back(component);
        }
        if (end == path.size()) {
            break;
        }
        start = end + 1;
    }
    return components;
}

std::string join(const std::vector<std::string>& components) {
    std::string joined;
    for (const std::string& component : components) {
        if (!joined.empty()) {
            joined += '\\';
        }
        joined += component;
    }
    return joined;
}

std::string join(const std::string& directory, const std::string& name) {
    if (directory.empty()) {
        return name;
    }
    return directory + '\\' + name;
}

std::string leaf(const std::string& path) {
    std::string trimmed = path;
    trimTrailingSeparators(trimmed);
    size_t position = trimmed.size();
    while (position > 0 && !isSeparator(trimmed[position - 1])) {
        --position;
    }
    return trimmed.substr(position);
}

std::string branch(const std::string& path) {
    std::string trimmed = path;
    trimTrailingSeparators(trimmed);
    size_t position = trimmed.size();
    while (position > 0 && !isSeparator(trimmed[position - 1])) {
        --position;
    }
    std::string parent = trimmed.substr(0, position);
    trimLeadingSeparators(parent);
    trimTrailingSeparators(parent);
    return parent;
}

}  // namespace image_path
