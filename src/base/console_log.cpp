#include "base/console_log.h"

#include <cstdarg>
#include <cstdio>

namespace {

void writeLine(std::FILE* stream, const char* prefix, const char* format, va_list arguments) {
    std::fputs(prefix, stream);
    std::vfprintf(stream, format, arguments);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

void logInfo(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLine(stdout, "Log: ", format, arguments);
    va_end(arguments);
}

void logWarning(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLine(stderr, "Warning: ", format, arguments);
    va_end(arguments);
}
