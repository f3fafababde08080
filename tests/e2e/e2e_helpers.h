// Running the built winpe-iso on sample boot CDs and looking into the images it writes
// with third-party tools.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// What one run of the program left: its exit code and its two console streams.
struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The program built beside the tests.
std::string programPath();

// Runs the program in `directory` with `args`, feeding `input` to standard input.
// `prefix` is shell code run before it (for example a ulimit); `environment` holds
// NAME=value settings for the program.
ProgramRun runProgram(const std::string& directory, const std::vector<std::string>& args,
                      const std::string& input = "", const std::string& prefix = "",
                      const std::string& environment = "");

// Builds the sample boot CD of tests/fixtures/make-sample-cd: its files go below `tree`,
// the image to `image`.
void makeSampleCd(const std::string& tree, const std::string& image);

// The bytes of the file at `isoPath` ("/DIR/NAME") of `image`, read with iso-read.
// Throws when iso-read can not read it.
std::string readFromImage(const std::string& image, const std::string& isoPath);

// Every file and directory path of `image` as isoinfo -f lists them, sorted.
std::vector<std::string> listImage(const std::string& image);

// Output of a shell command that must succeed (throws otherwise).
std::string mustRun(const std::string& command);

// True when the image boots under QEMU and its boot image prints its line on the serial
// port. Skips nothing: callers check haveTool("qemu-system-x86_64") first.
bool bootsUnderQemu(const std::string& image, std::string& console);

// Every entry below `directory`, as paths relative to it, sorted; empty when it is empty.
std::vector<std::string> listLocal(const std::string& directory);

// True when `text` ends with `end`.
bool endsWith(const std::string& text, const std::string& end);

}  // namespace e2e
