// Network drivers spread over the system directories, storage driver packages below
// \I386\SYSTEM32\DRIVERS and their names in WINPEOEM.SIF.
#include <boost/filesystem.hpp>
#include <vector>

#include "base/console_log.h"
#include "base/letter_case.h"
#include "base/name_conflict.h"
#include "editor/cd_files.h"
#include "editor/text_lines.h"
#include "editor/winpe_editor.h"
#include "iso/image_path.h"
#include "platform/local_file.h"
#include "platform/local_tree.h"

namespace fs = boost::filesystem;

namespace {

const char* const kDriversDir = "\\I386\\SYSTEM32\\DRIVERS";

// Where a network driver file goes, by its extension; "" for files that are not copied.
const char* networkDriverDestination(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos) {
        return "";
    }
    const std::string extension = lowerCase(fileName.substr(dot));
    if (extension == ".inf") {
        return "\\I386\\INF";
    }
    if (extension == ".sys") {
        return "\\I386\\SYSTEM32\\DRIVERS";
    }
    if (extension == ".dll" || extension == ".exe" || extension == ".din") {
        return "\\I386\\SYSTEM32";
    }
    return "";
}

std::string driverImagePath(const std::string& driversDir, const std::string& name) {
    return image_path::join(driversDir, upperCase(name));
}

bool startsWithSemicolon(std::string_view line) {
    return !line.empty() && line[0] == ';';
}

bool contains(std::string_view line, const char* text) {
    return line.find(text) != std::string_view::npos;
}

// An OemDriverDirs line with `name` appended: right after a final '=' (blanks kept
// before it), otherwise after ", ".
std::string withDriverDir(std::string_view line, const std::string& name) {
    std::string result(line);
    const size_t last = result.find_last_not_of(' ');
    if (last != std::string::npos && result[last] == '=') {
        result += name;
    } else {
        result += ", " + name;
    }
    return result;
}

}  // namespace

int WinpeEditor::addNetworkDriver(std::string source) {
    try {
        std::string trimmed = source;
        trimTrailingSeparators(trimmed);
        const std::string name = fs::path(trimmed).filename().string();
        logInfo("adding network driver %s", name.c_str());
        // Which files go where is settled, and their names checked, before any is copied.
        struct Copy {
            std::string from;
            std::string to;
            checked_file::Route route;
        };
        std::vector<Copy> copies;
        for (const local_tree::Entry& entry : local_tree::scan(
                 source, local_tree::Depth::topOnly, {}, image_path::requireLocalFileSize)) {
            if (entry.directory) {
                continue;
            }
            const std::string destination = networkDriverDestination(entry.name);
            if (destination.empty()) {
                continue;
            }
            const std::string from = trimmed + "/" + entry.name;
            image_path::requireLocalEntryName(entry.name, from);
            copies.push_back({from, localPath(destination) + "/" + entry.name, entry.route});
        }
        for (const Copy& copy : copies) {
            uint64_t size = 0;
            const OpenFile file = checked_file::openFile(copy.route, copy.from, size);
            local_file::copyOpenFile(file.fd(), copy.from, copy.to);
        }
        logInfo("adding network driver %s succeeded", name.c_str());
        return 0;
    } catch (const std::exception& e) {
        logWarning("adding network driver failed - exception: %s", e.what());
        return 1;
    }
}

int WinpeEditor::addStorageDriver(std::string packageDirectory) {
    try {
        std::string source = packageDirectory;
        trimTrailingSeparators(packageDirectory);
        std::string name = fs::path(packageDirectory).filename().string();
        logInfo("adding storage driver %s", name.c_str());
        static const NameConflictTexts texts = {
            "change the storage driver package name or abort",
            "adding storage driver package %s failed - file name conflict, aborted by user",
            "please enter the new name for the storage driver %s"};
        if (!askForFreeName(name, kDriversDir, driverImagePath, texts)) {
            return 1;
        }
        const std::string upper = upperCase(name);
        copy_directory(source, localPath(kDriversDir) + "/" + upper, EntryNames::upperCased);
        if (addDriverName(upper) != 0) {
            return 1;
        }
        logInfo("adding storage driver %s succeeded", name.c_str());
        return 0;
    } catch (const std::exception& e) {
        logWarning("adding storage driver failed - exception: %s", e.what());
        return 1;
    }
}

int WinpeEditor::addDriverName(const std::string& driverName) {
    logInfo("adding driver name %s", driverName.c_str());
    const std::string settingsFile = localPath(cd_files::kOemSettings.imagePath);
    text_lines::Lines lines;
    if (!text_lines::read(settingsFile, lines)) {
        logInfo("adding driver name failed - unable to open file %s", settingsFile.c_str());
        return 1;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!contains(lines[i], "[OemDriverParams]")) {
            continue;
        }
        if (startsWithSemicolon(lines[i])) {
            lines.set(i, lines[i].substr(1));
        }
        const size_t rootLine = i + 1;
        if (rootLine >= lines.size() || !contains(lines[rootLine], "OemDriverRoot")) {
            return 1;
        }
        lines.set(rootLine, "OemDriverRoot=\"Drivers\"");
        const size_t dirsLine = rootLine + 1;
        if (dirsLine >= lines.size() || !contains(lines[dirsLine], "OemDriverDirs")) {
            return 1;
        }
        if (startsWithSemicolon(lines[dirsLine])) {
            lines.set(dirsLine, lines[dirsLine].substr(1));
        }
        lines.set(dirsLine, withDriverDir(lines[dirsLine], driverName));
        i = dirsLine;
    }
    if (!text_lines::write(settingsFile, lines, text_lines::EmptyLastLine::written)) {
        logInfo("adding driver name failed - unable to open file %s", settingsFile.c_str());
        return 1;
    }
    logInfo("adding driver name succeeded");
    return 0;
}
