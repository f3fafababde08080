#include "support/tool_runner.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

namespace test_support {

CommandResult runCommand(const std::string& command) {
    CommandResult result;
    const std::string full = "(" + command + ") </dev/null 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> buffer;
    size_t count = 0;
    while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        result.output.append(buffer.data(), count);
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool haveTool(const std::string& tool) {
    return runCommand("command -v " + shellQuote(tool)).exitCode == 0;
}

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace test_support
