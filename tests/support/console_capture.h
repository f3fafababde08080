// The console of the code under test: what it writes to standard output and standard
// error, and the text its questions read from standard input.
#pragma once

#include <functional>
#include <iosfwd>
#include <sstream>
#include <string>

#include "support/test_files.h"

namespace test_support {

// What a call wrote to the console.
struct Console {
    std::string out;  // standard output
    std::string err;  // standard error
};

// Captures standard output and standard error from construction until finish() (or
// the end of the object, which drops what was captured).
class ConsoleCapture : Unique {
  public:
    ConsoleCapture();
    ~ConsoleCapture();

    Console finish();

  private:
    bool running_ = true;
};

// Runs `action` and returns what it wrote to standard output and standard error.
Console captureConsole(const std::function<void()>& action);

// Runs `action` and returns what it wrote to standard output.
std::string captureStdout(const std::function<void()>& action);

// Standard input reads `text` while the object lives.
class StandardInput : Unique {
  public:
    explicit StandardInput(const std::string& text = "");
    ~StandardInput();

    // The text the next reads take, from its start.
    void replace(const std::string& text);

  private:
    std::istringstream input_;
    std::streambuf* saved_;
};

}  // namespace test_support
