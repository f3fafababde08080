// The console log: "Log: " lines on standard output, "Warning: " lines on standard
// error, printf-style, each flushed before the call returns.
#pragma once

void logInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
