// The image classes write their progress and failure lines straight to standard
// output, without a prefix, each followed by a line end and flushed at once.
#pragma once

#include <cstdio>
#include <string>

#include "base/console_log.h"

// While set, the lines are noted but not printed: a listing of the image keeps its
// standard output to itself.
inline bool& imageLinesHeld() {
    static bool held = false;
    return held;
}

inline void printImageLine(const std::string& line) {
    console_log::noteOutputLine(line);
    if (imageLinesHeld()) {
        return;
    }
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// A name read from an image, made printable: control bytes and bytes above 126
// appear as \xHH.
inline std::string printableName(const std::string& name) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) {
            text += "\\x";
            text += digits[byte >> 4];
            text += digits[byte & 0x0F];
        } else {
            text += c;
        }
    }
    return text;
}
