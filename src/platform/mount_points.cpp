#include "platform/mount_points.h"

#include <sys/stat.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <fstream>
#include <sstream>

namespace mount_points {

namespace {

bool isOctal(const std::string& digits) {
    return digits.find_first_not_of("01234567") == std::string::npos;
}

// mountinfo writes blanks, tabs, new lines and backslashes of a path as \ooo in octal.
std::string unescape(const std::string& field) {
    std::string path;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field.substr(i + 1, 3))) {
            path += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            path += field[i];
        }
    }
    return path;
}

}  // namespace

std::vector<std::string> list() {
    std::vector<std::string> points;
    std::ifstream info("/proc/self/mountinfo");
    std::string line;
    while (std::getline(info, line)) {
        // Mount ID, parent ID, major:minor, root, then the mount point.
        std::istringstream fields(line);
        std::string skipped, point;
        if (fields >> skipped >> skipped >> skipped >> skipped >> point) {
            points.push_back(unescape(point));
        }
    }
    return points;
}

std::string firstBelow(const std::string& directory) {
    boost::system::error_code ec;
    const boost::filesystem::path resolved = boost::filesystem::canonical(directory, ec);
    if (ec) {
        return "";
    }
    const std::string prefix = resolved.string() == "/" ? "/" : resolved.string() + "/";
    for (const std::string& point : list()) {
        if (point.size() > prefix.size() && point.compare(0, prefix.size(), prefix) == 0) {
            return point;
        }
    }
    return "";
}

bool isMountPoint(const std::string& directory) {
    boost::system::error_code ec;
    const boost::filesystem::path resolved = boost::filesystem::canonical(directory, ec);
    if (ec) {
        return false;
    }
    const std::vector<std::string> points = list();
    if (std::find(points.begin(), points.end(), resolved.string()) != points.end()) {
        return true;
    }
    struct stat self;
    struct stat parent;
    return ::stat(resolved.c_str(), &self) == 0 &&
           ::stat((resolved.string() + "/..").c_str(), &parent) == 0 &&
           self.st_dev != parent.st_dev;
}

}  // namespace mount_points
