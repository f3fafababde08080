#include "platform/mount_points.h"

#include <libmount.h>
#include <sys/stat.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <memory>

namespace mount_points {

namespace {

struct TableRelease {
    void operator()(libmnt_table* table) const { mnt_unref_table(table); }
};
struct IteratorRelease {
    void operator()(libmnt_iter* iterator) const { mnt_free_iter(iterator); }
};

}  // namespace

std::vector<std::string> list() {
    std::vector<std::string> points;
    // libmount reads the mount point field with its octal escapes of blanks, tabs, new
    // lines and backslashes.
    const std::unique_ptr<libmnt_table, TableRelease> table(
        mnt_new_table_from_file("/proc/self/mountinfo"));
    const std::unique_ptr<libmnt_iter, IteratorRelease> iterator(mnt_new_iter(MNT_ITER_FORWARD));
    if (!table || !iterator) {
        return points;
    }
    libmnt_fs* entry = nullptr;
    while (mnt_table_next_fs(table.get(), iterator.get(), &entry) == 0) {
        if (const char* target = mnt_fs_get_target(entry)) {
            points.emplace_back(target);
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
