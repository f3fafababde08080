#include "base/console_log.h"

#include <cstdarg>
#include <cstdio>
#include <deque>

#include "base/progress_line.h"

namespace {

constexpr size_t kRecentLines = 8;

unsigned warningCount = 0;

std::deque<std::string>& recent() {
    static std::deque<std::string> lines;
    return lines;
}

std::string formatted(const char* format, va_list arguments) {
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    text.resize(static_cast<size_t>(length));
    return text;
}

void writeLine(std::FILE* stream, const char* prefix, const std::string& text) {
    progress_line::makeRoomForText(stream == stderr);
    std::fputs(prefix, stream);
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

std::string formatText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatted(format, arguments);
    va_end(arguments);
    return text;
}

void logInfo(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    console_log::noteOutputLine(text);
    writeLine(stdout, "Log: ", text);
}

void logWarning(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const std::string text = formatted(format, arguments);
    va_end(arguments);
    ++warningCount;
    writeLine(stderr, "Warning: ", text);
}

namespace console_log {

unsigned warningsWritten() {
    return warningCount;
}

const std::string& lastOutputLine() {
    static const std::string none;
    return recent().empty() ? none : recent().back();
}

std::vector<std::string> recentOutputLines() {
    return std::vector<std::string>(recent().begin(), recent().end());
}

void noteOutputLine(const std::string& line) {
    recent().push_back(line);
    if (recent().size() > kRecentLines) {
        recent().pop_front();
    }
}

}  // namespace console_log
