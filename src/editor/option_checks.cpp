// The two checks of the option values that run before anything is created.
#include <boost/filesystem.hpp>

#include "base/console_log.h"
#include "editor/winpe_editor.h"

namespace fs = boost::filesystem;

namespace {

// The part of a value before its last '%', the whole value without one.
std::string beforeLastPercent(const std::string& value) {
    const size_t percent = value.rfind('%');
    return percent == std::string::npos ? value : value.substr(0, percent);
}

bool isDirectory(const std::string& path) {
    return fs::is_directory(path);
}

bool isFile(const std::string& path) {
    return fs::exists(path) && !fs::is_directory(path);
}

}  // namespace

int WinpeEditor::checkOptions() {
    logInfo("checking options ...");
    std::string invalid;
    bool valid = true;
    for (const std::string& value : request_.startPackages) {
        if (value.find('%') == std::string::npos) {
            invalid = value;
            valid = false;
            break;
        }
    }
    if (valid && !request_.vncValue.empty() && request_.vncValue.find('%') == std::string::npos) {
        invalid = request_.vncValue;
        valid = false;
    }
    if (valid) {
        return 0;
    }
    logWarning("invalid option format: %s", invalid.c_str());
    logWarning("need to use '%c' to specify the start up executable", '%');
    return 1;
}

int WinpeEditor::checkFileExistence() {
    logInfo("checking file existence ...");
    try {
        for (const std::string& value : request_.storageDrivers) {
            if (!isDirectory(value)) {
                logWarning("can not find storage driver package %s", value.c_str());
                return 1;
            }
        }
        for (const std::string& value : request_.networkDrivers) {
            if (!isDirectory(value)) {
                logWarning("can not find network driver package %s", value.c_str());
                return 1;
            }
        }
        for (const std::vector<std::string>* list : {&request_.binaries, &request_.startBinaries}) {
            for (const std::string& value : *list) {
                if (!isFile(value)) {
                    logWarning("can not find binary file %s", value.c_str());
                    return 1;
                }
            }
        }
        for (const std::string& value : request_.packages) {
            if (!isDirectory(value)) {
                logWarning("can not find software package %s", value.c_str());
                return 1;
            }
        }
        for (const std::string& value : request_.startPackages) {
            const std::string package = beforeLastPercent(value);
            if (!isDirectory(package)) {
                logWarning("can not find software package %s", package.c_str());
                return 1;
            }
        }
        for (const std::string& value : request_.files) {
            if (!isFile(beforeLastPercent(value))) {
                logWarning("can not find file %s", value.c_str());
                return 1;
            }
        }
        for (const std::string& value : request_.directories) {
            if (!isDirectory(beforeLastPercent(value))) {
                logWarning("can not find directory %s", value.c_str());
                return 1;
            }
        }
    } catch (const std::exception& e) {
        logWarning("exception: %s", e.what());
        return 1;
    }
    return 0;
}
