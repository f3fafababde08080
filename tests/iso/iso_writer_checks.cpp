#include "iso/iso_writer_checks.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/test_files.h"
#include "support/tool_runner.h"

using test_support::runCommand;
using test_support::shellQuote;

namespace writer_checks {

std::string mustRun(const std::string& command) {
    const test_support::CommandResult result = runCommand(command);
    if (result.exitCode != 0) {
        throw std::runtime_error("command failed (" + std::to_string(result.exitCode) +
                                 "): " + command + "\n" + result.output);
    }
    return result.output;
}

void makeBootImage(const std::string& path) {
    mustRun(shellQuote(std::string(WINPE_SOURCE_DIR) + "/scripts/make-boot-image") + " " +
            shellQuote(path));
}

std::string isovfyErrors(const std::string& image) {
    const test_support::CommandResult result = runCommand("isovfy " + shellQuote(image));
    if (result.exitCode == 0 && result.output.find("No errors found") != std::string::npos) {
        return "";
    }
    return result.output.empty() ? "isovfy printed nothing" : result.output;
}

void extractAll(const std::string& image, const std::string& directory) {
    mustRun("xorriso -osirrox on -indev " + shellQuote(image) + " -extract / " +
            shellQuote(directory));
}

std::string treeDifferences(const std::string& left, const std::string& right) {
    return runCommand("diff -r " + shellQuote(left) + " " + shellQuote(right)).output;
}

std::string isoinfoDescriptor(const std::string& image) {
    return mustRun("isoinfo -d -i " + shellQuote(image));
}

std::string isoinfoListing(const std::string& image) {
    return mustRun("isoinfo -l -i " + shellQuote(image));
}

std::string elToritoReport(const std::string& image) {
    return mustRun("xorriso -indev " + shellQuote(image) + " -report_el_torito plain");
}

std::string isoReadFile(const std::string& image, const std::string& isoPath) {
    test_support::TempDir temp;
    const std::string out = temp / "read";
    mustRun("iso-read -i " + shellQuote(image) + " -e " + shellQuote(isoPath) + " -o " +
            shellQuote(out));
    return test_support::readFile(out);
}

std::string bootInQemu(const std::string& image) {
    return runCommand("timeout 60 qemu-system-x86_64 -cdrom " + shellQuote(image) +
                      " -boot d -display none -serial stdio -nodefaults -no-reboot"
                      " -device isa-debug-exit,iobase=0xf4,iosize=0x04")
        .output;
}

}  // namespace writer_checks
