#include "base/progress_line.h"

#include <cstdio>

#include "platform/terminal.h"

namespace progress_line {

namespace {

constexpr double kMebibyte = 1024.0 * 1024.0;
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

Phase* openPhase = nullptr;

}  // namespace

std::string describe(const std::string& what, uint64_t done, uint64_t total, double seconds) {
    const double rate = seconds > 0 ? static_cast<double>(done) / kMebibyte / seconds : 0.0;
    char text[128];
    std::snprintf(text, sizeof text, ": %.1f MiB of %.1f MiB, %.1f MiB/s",
                  static_cast<double>(done) / kMebibyte, static_cast<double>(total) / kMebibyte,
                  rate);
    return what + text;
}

Phase::Phase(std::string what, uint64_t total)
    : what_(std::move(what)), total_(total), start_(std::chrono::steady_clock::now()) {
    if (openPhase != nullptr) {
        return;
    }
    openPhase = this;
    current_ = true;
    copy_progress::observe(this);
    shown_ = total_ >= kShownFrom && terminal::errorIsTerminal();
    if (shown_) {
        draw();
    }
}

Phase::~Phase() {
    if (!current_) {
        return;
    }
    openPhase = nullptr;
    copy_progress::observe(nullptr);
    if (shown_) {
        clear();
    }
}

void Phase::clear() {
    // Back to the start of the line, and the line cleared.
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = std::chrono::steady_clock::time_point();
}

void Phase::advance(uint64_t bytes) {
    done_ += bytes;
    if (shown_ && std::chrono::steady_clock::now() - drawn_ >= kRedrawInterval) {
        draw();
    }
}

void Phase::draw() {
    drawn_ = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(drawn_ - start_).count();
    const uint64_t done = done_ < total_ ? done_ : total_;
    std::fprintf(stderr, "\r%s\033[K", describe(what_, done, total_, seconds).c_str());
    std::fflush(stderr);
}

void advance(uint64_t bytes) {
    if (openPhase != nullptr) {
        openPhase->advance(bytes);
    }
}

}  // namespace progress_line

namespace progress_line {

bool shown() {
    return openPhase != nullptr && openPhase->visible();
}

void makeRoomForText(bool toStandardError) {
    if (shown() && (toStandardError || terminal::outputIsTerminal())) {
        openPhase->clear();
    }
}

}  // namespace progress_line
