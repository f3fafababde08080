// Running third-party tools from tests.
#pragma once

#include <string>

namespace test_support {

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error, interleaved
};

// Runs `command` through /bin/sh with standard input from /dev/null.
CommandResult runCommand(const std::string& command);

// True when `tool` is found on PATH.
bool haveTool(const std::string& tool);

// Quotes a string for /bin/sh.
std::string shellQuote(const std::string& text);

}  // namespace test_support
