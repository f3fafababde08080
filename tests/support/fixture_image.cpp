#include "support/fixture_image.h"

#include <stdexcept>

#include "support/tool_runner.h"

namespace test_support {

namespace {

std::string bootArgs(const std::string& bootImage) {
    if (bootImage.empty()) {
        return "";
    }
    return " -b " + shellQuote(bootImage) + " -no-emul-boot -boot-load-size 4 -c boot.cat";
}

// Makes a fixture image. xorriso has been seen to die of SIGSEGV now and then on a busy
// machine (it reports "UNIX-SIGNAL"); such a crash of the tool, which says nothing about
// the code under test, is retried once.
void run(const std::string& command) {
    CommandResult result = runCommand(command);
    if (result.exitCode != 0 && result.output.find("UNIX-SIGNAL") != std::string::npos) {
        result = runCommand(command);
    }
    if (result.exitCode != 0) {
        throw std::runtime_error("command failed: " + command + "\n" + result.output);
    }
}

}  // namespace

void makeIsoWithXorriso(const std::string& tree, const std::string& image,
                        const std::string& bootImage, const std::vector<std::string>& extraArgs) {
    std::string command =
        "xorriso -as mkisofs -quiet -untranslated-filenames -iso-level 3 -o " + shellQuote(image);
    command += bootArgs(bootImage);
    for (const std::string& arg : extraArgs) {
        command += " " + shellQuote(arg);
    }
    command += " " + shellQuote(tree);
    run(command);
}

void makeIsoWithGenisoimage(const std::string& tree, const std::string& image,
                            const std::string& bootImage) {
    std::string command = "genisoimage -quiet -untranslated-filenames -iso-level 4 -o " +
                          shellQuote(image) + bootArgs(bootImage) + " " + shellQuote(tree);
    run(command);
}

}  // namespace test_support
