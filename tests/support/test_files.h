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
// A FIFO and a bound Unix socket at these paths (parents made), for the refusals of
// special files.
void makeFifo(const std::string& path);
void makeSocket(const std::string& path);
// The text of what `action` throws, "" when it throws nothing.
std::string failureOf(const std::function<void()>& action);

// A file system mounted at the directory `target` while the object lives: a bind mount
// of `source` when `type` is empty, else a small file system of that type. Where the
// machine does not allow it, mounted() is false and why() says why.
class ScopedMount {
  public:
    ScopedMount(const std::string& source, const std::string& target, const std::string& type);
    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    bool mounted() const { return why_.empty(); }
    const std::string& why() const { return why_; }

  private:
    std::string target_;
    std::string why_;
};

// Whether `part` occurs anywhere in `text` (for checking lines of a program's output).
bool contains(const std::string& text, const std::string& part);

}  // namespace test_support
