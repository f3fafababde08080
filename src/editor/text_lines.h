// Line rules of the text files the editor changes (job file, WINPEOEM.SIF, WINBOM.INI):
// read in binary, split at LF with a CR before the LF dropped, written back with CR LF.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace text_lines {

// Largest file edited in memory. The real files are a few KiB; the bound keeps a file of
// millions of empty lines from taking the memory of a run (its lines cost 8 bytes each).
constexpr uint64_t kMaxFileSize = 8 * 1024 * 1024;

// The lines of a file: their text in one buffer and, per line, where it lies in it, so
// that a file takes little more memory than its size even when its lines are short.
class Lines {
  public:
    Lines() = default;
    Lines(std::initializer_list<std::string_view> lines);

    size_t size() const { return spans_.size(); }
    bool empty() const { return spans_.empty(); }
    // Valid until the next change of the lines.
    std::string_view operator[](size_t index) const {
        return std::string_view(text_.data() + spans_[index].begin, spans_[index].length);
    }

    // Replaces line `index` by `line`.
    void set(size_t index, std::string_view line);
    // Inserts `line` before line `index` (at the end when `index` is size()).
    void insert(size_t index, std::string_view line);

    friend bool operator==(const Lines& a, const Lines& b);

  private:
    struct Span {
        uint32_t begin;
        uint32_t length;
    };
    // Puts `line` at the end of the buffer and returns where it lies.
    Span append(std::string_view line);

    std::string text_;
    std::vector<Span> spans_;

    friend bool read(const std::string& path, Lines& lines);
};

// Reads the whole file at `path` into `lines`. The text after the last line end counts
// as a last line, empty when the file ends with a line end (an empty file is one empty
// line). False when the file cannot be opened or read, and, after a warning naming the
// file, when it is larger than kMaxFileSize.
bool read(const std::string& path, Lines& lines);

// What write() does with an empty last line.
enum class EmptyLastLine { dropped, written };

// Replaces the content of `path` with `lines`, each followed by CR LF. An empty last
// line is left out unless `emptyLast` is EmptyLastLine::written. False when the file
// cannot be opened or written.
bool write(const std::string& path, const Lines& lines, EmptyLastLine emptyLast);

}  // namespace text_lines
