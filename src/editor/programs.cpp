// Executables and software packages below \PROGRAMS and their start-up entries in the
// job file.
#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <vector>

#include "base/console_log.h"
#include "editor/cd_files.h"
#include "editor/text_lines.h"
#include "editor/winpe_editor.h"
#include "editor/xml_text.h"

namespace {

const char* const kJobFileEnd = "</taskDeck>";
const char* const kProgramsDir = "\\PROGRAMS\\";

// The exec element that starts `relPath`, a path below \PROGRAMS, in its own directory.
std::string execElement(const std::string& relPath) {
    const size_t lastSeparator = relPath.rfind('\\');
    const std::string dirPart =
        lastSeparator == std::string::npos ? std::string() : relPath.substr(0, lastSeparator);
    return "<exec processName=\"\\PROGRAMS\\" + xml_text::escapeAttribute(relPath) +
           "\" currentDir=\"\\PROGRAMS\\" + xml_text::escapeAttribute(dirPart) + "\" />";
}

}  // namespace

std::string WinpeEditor::addBinary(const std::string& source) {
    try {
        if (!ensureProgramsDirectory()) {
            return "";
        }
    } catch (const std::exception& e) {
        logWarning("adding binary file failed, exception: %s", e.what());
        return "";
    }
    return addFile(source, "PROGRAMS");
}

std::string WinpeEditor::addPackage(const std::string& source) {
    try {
        if (!ensureProgramsDirectory()) {
            return "";
        }
    } catch (const std::exception& e) {
        logWarning("adding software package failed, exception: %s", e.what());
        return "";
    }
    return addDirectory(source, "PROGRAMS");
}

bool WinpeEditor::addStartPackage(const std::string& value) {
    const size_t percent = value.find('%');
    const std::string package = value.substr(0, percent);
    const std::string executable =
        percent == std::string::npos ? std::string() : value.substr(percent + 1);
    const std::string name = addPackage(package);
    if (name.empty()) {
        return false;
    }
    const std::string program = startProgramPath(name, executable);
    return !program.empty() && addStartUp(program) == 0;
}

std::string WinpeEditor::startProgramPath(const std::string& packageName, std::string executable) {
    std::replace(executable.begin(), executable.end(), '/', '\\');
    executable.erase(0, executable.find_first_not_of('\\'));
    if (executable.empty()) {
        return "";
    }
    const std::string program = packageName + "\\" + executable;
    if (!boost::filesystem::is_regular_file(localPath(std::string(kProgramsDir) + program))) {
        logWarning(
            "start program %s is not a file of the package %s, the start entry names it "
            "all the same",
            executable.c_str(), packageName.c_str());
    }
    return program;
}

int WinpeEditor::addStartUp(const std::string& executable) {
    logInfo("adding start up ...");
    const std::string jobFile = localPath(cd_files::kJobFile.imagePath);
    text_lines::Lines lines;
    if (!text_lines::read(jobFile, lines)) {
        logInfo("adding start up failed - unable to open file %s", jobFile.c_str());
        return 1;
    }
    size_t end = 0;
    while (end < lines.size() && lines[end] != kJobFileEnd) {
        ++end;
    }
    if (end == lines.size()) {
        logWarning("adding start up failed - unexpected file format at taskdeck.xml");
        return 1;
    }
    lines.insert(end, execElement(executable));
    if (!text_lines::write(jobFile, lines, text_lines::EmptyLastLine::dropped)) {
        logWarning("adding start up failed - unable to open file %s", jobFile.c_str());
        return 1;
    }
    logInfo("adding start up succeeded");
    return 0;
}
