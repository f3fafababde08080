// A sign of life on standard error for a long phase of a run: one line that overwrites
// itself with the bytes done, the total and the rate, and is cleared when the phase
// ends. Shown only when standard error is a terminal and the phase moves at least
// kShownFrom bytes; otherwise nothing at all is written.
//
// The copy loops report every piece they move with progress_line::advance; the pieces
// count for the phase open at that time, and for nothing when none is.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/copy_progress.h"

namespace progress_line {

constexpr uint64_t kShownFrom = uint64_t{64} * 1024 * 1024;

// The text of the line: "WHAT: 12.0 MiB of 600.0 MiB, 80.5 MiB/s".
std::string describe(const std::string& what, uint64_t done, uint64_t total, double seconds);

// One phase. Phases do not nest: a phase opened while another is open shows nothing.
// The open phase also counts what the platform's copy loops move.
class Phase : private copy_progress::Observer {
  public:
    Phase(std::string what, uint64_t total);
    ~Phase();
    Phase(const Phase&) = delete;
    Phase& operator=(const Phase&) = delete;

    void advance(uint64_t bytes);
    bool visible() const { return shown_; }
    void clear();

  private:
    void moved(uint64_t bytes) override { advance(bytes); }
    bool seen() const override { return shown_; }
    void draw();

    std::string what_;
    uint64_t total_;
    uint64_t done_ = 0;
    bool shown_ = false;
    bool current_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point drawn_;
};

// Adds `bytes` to the open phase, if any.
void advance(uint64_t bytes);

// True while the open phase shows its line.
bool shown();

// Clears the shown line before a line of text is written to standard output or (when
// `toStandardError`) standard error, where that stream is the terminal too; the next
// piece draws it again below that text.
void makeRoomForText(bool toStandardError);

}  // namespace progress_line
