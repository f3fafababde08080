// Files and directories for tests: a temporary directory removed at the end, and
// whole-file reads and writes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

// The base of the helpers that own something until they go away: they are not copied.
class Unique {
  public:
    Unique() = default;
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
};

// A fresh directory below the system's temporary directory, removed with its contents
// when the object goes away.
class TempDir : Unique {
  public:
    TempDir();
    ~TempDir();

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const;

  private:
    std::string path_;
};

// Writes `content` to `path`, creating missing parent directories.
void writeFile(const std::string& path, const std::string& content);
void writeFile(const std::string& path, const std::vector<uint8_t>& content);
// Writes each {path below `root`, content} pair.
void writeFiles(const std::string& root,
                const std::vector<std::pair<std::string, std::string>>& files);
std::string readFile(const std::string& path);
std::vector<uint8_t> readBytes(const std::string& path);
// Deterministic pseudo-random bytes.
std::vector<uint8_t> patternBytes(size_t count, uint32_t seed);
// The same bytes as text, for tables of file contents.
std::string patternText(size_t count, uint32_t seed);
// Writes each {path below `root`, size} pair as that many patternBytes, the seeds counting
// from 1 in the order given.
void writePatternFiles(const std::string& root,
                       const std::vector<std::pair<std::string, size_t>>& files);
bool fileExists(const std::string& path);
// True when both paths exist and lie on different file systems.
bool onOtherFileSystems(const std::string& one, const std::string& other);
// The text of what `action` throws, "" when it throws nothing.
std::string failureOf(const std::function<void()>& action);
// Every entry below `directory`, as paths relative to it, sorted; empty when it is empty.
std::vector<std::string> listLocal(const std::string& directory);
// Whether `part` occurs anywhere in `text` (for checking lines of a program's output).
bool contains(const std::string& text, const std::string& part);
// The words of `text` split at white space, for argument lists and lists of names.
std::vector<std::string> words(const std::string& text);
// The lines of `text` that contain `part`, for picking entries out of a tool's listing.
std::vector<std::string> linesWith(const std::string& text, const std::string& part);

}  // namespace test_support
