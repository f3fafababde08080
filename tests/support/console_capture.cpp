#include "support/console_capture.h"

#include <gtest/gtest.h>

#include <iostream>

namespace test_support {

ConsoleCapture::ConsoleCapture() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
}

ConsoleCapture::~ConsoleCapture() {
    if (running_) {
        finish();
    }
}

Console ConsoleCapture::finish() {
    running_ = false;
    Console console;
    console.out = testing::internal::GetCapturedStdout();
    console.err = testing::internal::GetCapturedStderr();
    return console;
}

Console captureConsole(const std::function<void()>& action) {
    ConsoleCapture capture;
    action();
    return capture.finish();
}

std::string captureStdout(const std::function<void()>& action) {
    return captureConsole(action).out;
}

StandardInput::StandardInput(const std::string& text) : input_(text) {
    saved_ = std::cin.rdbuf(input_.rdbuf());
}

StandardInput::~StandardInput() {
    std::cin.rdbuf(saved_);
    std::cin.clear();
}

void StandardInput::replace(const std::string& text) {
    input_.clear();
    input_.str(text);
    std::cin.clear();
}

}  // namespace test_support
