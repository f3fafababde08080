#include "e2e/e2e_helpers.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <sstream>
#include <stdexcept>

#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;
using test_support::runCommand;
using test_support::shellQuote;

namespace e2e {

std::string programPath() {
    return std::string(WINPE_BINARY_DIR) + "/winpe-iso";
}

ProgramRun runProgram(const std::string& directory, const std::vector<std::string>& args,
                      const std::string& input, const std::string& prefix,
                      const std::string& environment) {
    const test_support::TempDir streams;
    test_support::writeFile(streams / "in", input);
    std::string command = "cd " + shellQuote(directory) + " && " + prefix;
    command += " env " + environment + " " + shellQuote(programPath());
    for (const std::string& arg : args) {
        command += " " + shellQuote(arg);
    }
    command += " <" + shellQuote(streams / "in") + " >" + shellQuote(streams / "out") + " 2>" +
               shellQuote(streams / "err");
    const test_support::CommandResult result = runCommand("bash -c " + shellQuote(command));
    ProgramRun run;
    run.exitCode = result.exitCode;
    run.out = test_support::readFile(streams / "out");
    run.err = test_support::readFile(streams / "err");
    return run;
}

std::string mustRun(const std::string& command) {
    const test_support::CommandResult result = runCommand(command);
    if (result.exitCode != 0) {
        throw std::runtime_error("command failed: " + command + "\n" + result.output);
    }
    return result.output;
}

void makeSampleCd(const std::string& tree, const std::string& image) {
    mustRun("bash " + shellQuote(std::string(WINPE_SOURCE_DIR) + "/tests/fixtures/make-sample-cd") +
            " " + shellQuote(tree) + " " + shellQuote(image));
}

std::string readFromImage(const std::string& image, const std::string& isoPath) {
    const test_support::TempDir temp;
    mustRun("iso-read -i " + shellQuote(image) + " -e " + shellQuote(isoPath) + " -o " +
            shellQuote(temp / "file"));
    return test_support::readFile(temp / "file");
}

std::vector<std::string> listImage(const std::string& image) {
    std::istringstream lines(mustRun("isoinfo -f -i " + shellQuote(image)));
    std::vector<std::string> paths;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            paths.push_back(line);
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool bootsUnderQemu(const std::string& image, std::string& console) {
    // The boot image leaves QEMU through isa-debug-exit once it has printed its line;
    // the time limit only ends a boot that went wrong.
    const test_support::CommandResult result =
        runCommand("timeout 120 qemu-system-x86_64 -cdrom " + shellQuote(image) +
                   " -boot d -m 64 -display none -serial stdio -device isa-debug-exit,iobase=0xf4"
                   " -no-reboot");
    console = result.output;
    return console.find("WINPE-ISO BOOT OK") != std::string::npos;
}

std::vector<std::string> listLocal(const std::string& directory) {
    std::vector<std::string> entries;
    for (fs::recursive_directory_iterator it(directory), end; it != end; ++it) {
        entries.push_back(fs::relative(it->path(), directory).string());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace e2e
