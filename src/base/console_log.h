// The console log: "Log: " lines on standard output, "Warning: " lines on standard
// error, printf-style, each flushed before the call returns; and the same formatting for
// a message's text.
#pragma once

#include <string>
#include <vector>

void logInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text a printf-style format makes, for messages that are thrown or logged later:
// formatText("block %u of %s", block, path.c_str()).
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace console_log {

// What the console has shown so far, for a run that ends in a failure: the number of
// warnings written, and the last progress line of standard output (a "Log: " line
// without its prefix, or a line of the image classes).
unsigned warningsWritten();
const std::string& lastOutputLine();
// The last few progress lines, oldest first.
std::vector<std::string> recentOutputLines();
void noteOutputLine(const std::string& line);

}  // namespace console_log
