#include "e2e/e2e_helpers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <chrono>
#include <fstream>
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

void makeGrubRescueCd(const std::string& tree, const std::string& image,
                      const std::string& grubConfig) {
    fs::remove_all(tree + "/BOOT");
    test_support::writeFile(tree + "/boot/grub/grub.cfg", grubConfig);
    fs::remove(image);
    mustRun("grub-mkrescue -o " + shellQuote(image) + " " + shellQuote(tree) + " 2>&1");
}

std::string readFromImage(const std::string& image, const std::string& isoPath) {
    const test_support::TempDir temp;
    mustRun("iso-read -i " + shellQuote(image) + " -e " + shellQuote(isoPath) + " -o " +
            shellQuote(temp / "file"));
    return test_support::readFile(temp / "file");
}

std::vector<std::string> listImage(const std::string& image, const std::string& isoinfoOption) {
    std::istringstream lines(mustRun("isoinfo " + isoinfoOption +
                                     (isoinfoOption.empty() ? "" : " ") + "-f -i " +
                                     shellQuote(image)));
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

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

BackgroundRun::BackgroundRun(const std::string& directory, const std::vector<std::string>& args,
                             const std::vector<std::string>& environment) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::runtime_error("can not make a pipe");
    }
    std::vector<std::string> argv = {programPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv) {
        pointers.push_back(&arg[0]);
    }
    pointers.push_back(nullptr);
    test_support::writeFile(streams_ / "out", "");
    const int out = ::open((streams_ / "out").c_str(), O_WRONLY | O_CLOEXEC);
    const int err = ::open((streams_ / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
        for (const std::string& setting : environment) {
            ::putenv(const_cast<char*>(setting.c_str()));
        }
        if (::dup2(pipeEnds[0], 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
            ::chdir(directory.c_str()) != 0) {
            ::_exit(127);
        }
        ::execv(pointers[0], pointers.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    ::close(pipeEnds[0]);
    input_ = pipeEnds[1];
}

BackgroundRun::~BackgroundRun() {
    if (!ended()) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
    ::close(input_);
}

bool BackgroundRun::ended() {
    if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) {
        pid_ = -1;
    }
    return pid_ <= 0;
}

void BackgroundRun::signal(int signal) const {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

bool BackgroundRun::waitUntil(const std::function<bool()>& condition, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (ended() || std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        ::usleep(2000);
    }
    return true;
}

bool BackgroundRun::readingInput() const {
    // The system call the process waits in and its first argument: read (0) of fd 0.
    std::ifstream syscall("/proc/" + std::to_string(pid_) + "/syscall");
    std::string number;
    std::string fd;
    return syscall >> number >> fd && number == "0" && fd == "0x0";
}

ProgramRun BackgroundRun::finish(int seconds) {
    ProgramRun run;
    if (!waitUntil([this] { return ended(); }, seconds)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
        pid_ = -1;
        run.err = "killed after " + std::to_string(seconds) + " seconds\n";
    }
    run.exitCode = WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    run.out = out();
    run.err += test_support::readFile(streams_ / "err");
    return run;
}

}  // namespace e2e
