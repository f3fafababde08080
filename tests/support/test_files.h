// Files and directories for tests: a temporary directory removed at the end, and
// whole-file reads and writes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace test_support {

// A fresh directory below the system's temporary directory, removed with its contents
// when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const;

  private:
    std::string path_;
};

// Writes `content` to `path`, creating missing parent directories.
void writeFile(const std::string& path, const std::string& content);
void writeFile(const std::string& path, const std::vector<uint8_t>& content);
std::string readFile(const std::string& path);
std::vector<uint8_t> readBytes(const std::string& path);
// Deterministic pseudo-random bytes.
std::vector<uint8_t> patternBytes(size_t count, uint32_t seed);
bool fileExists(const std::string& path);
// The text of what `action` throws, "" when it throws nothing.
std::string failureOf(const std::function<void()>& action);
// Whether `part` occurs anywhere in `text` (for checking lines of a program's output).
bool contains(const std::string& text, const std::string& part);

}  // namespace test_support
