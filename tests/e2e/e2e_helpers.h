// Running the built winpe-iso on sample boot CDs and looking into the images it writes
// with third-party tools.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "support/test_files.h"

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

// Remakes `image` from the sample tree at `tree` with grub-mkrescue and `grubConfig` as
// its /boot/grub/grub.cfg. The sample's \BOOT goes first: beside GRUB's /boot it would
// make xorriso map the names.
void makeGrubRescueCd(const std::string& tree, const std::string& image,
                      const std::string& grubConfig);

// The bytes of the file at `isoPath` ("/DIR/NAME") of `image`, read with iso-read.
// Throws when iso-read can not read it.
std::string readFromImage(const std::string& image, const std::string& isoPath);

// Every file and directory path of `image` as isoinfo -f lists them, sorted; in the
// namespace `isoinfoOption` chooses ("-J": the Joliet names).
std::vector<std::string> listImage(const std::string& image, const std::string& isoinfoOption = "");

// Output of a shell command that must succeed (throws otherwise).
std::string mustRun(const std::string& command);

// True when the image boots under QEMU and its boot image prints its line on the serial
// port. Skips nothing: callers check haveTool("qemu-system-x86_64") first.
bool bootsUnderQemu(const std::string& image, std::string& console);

using test_support::listLocal;

// True when `text` ends with `end`.
bool endsWith(const std::string& text, const std::string& end);

// A run of the program in the background, for tests that act while it runs: its
// standard output and error go to files, its standard input comes from a pipe that stays
// open until the run ends. The run is killed if it still runs when the object goes away.
class BackgroundRun : test_support::Unique {
  public:
    // `environment` holds NAME=value settings added to the test's own environment.
    BackgroundRun(const std::string& directory, const std::vector<std::string>& args,
                  const std::vector<std::string>& environment = {});
    ~BackgroundRun();

    void signal(int signal) const;
    // Polls `condition` until it holds (true), the run ends or `seconds` pass (false).
    bool waitUntil(const std::function<bool()>& condition, int seconds = 120);
    // True while the program waits in a read of its standard input.
    bool readingInput() const;
    // Waits for the end of the run (killing it after `seconds`); the exit code is
    // 128 + the signal for a run ended by a signal.
    ProgramRun finish(int seconds = 120);
    std::string out() const { return test_support::readFile(streams_ / "out"); }

  private:
    bool ended();

    test_support::TempDir streams_;
    pid_t pid_ = -1;
    int input_ = -1;
    int status_ = 0;
};

}  // namespace e2e
