#include "editor/text_lines.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "base/console_log.h"
#include "platform/local_file.h"

namespace text_lines {

namespace {

// Lines the edits insert at most into one file; room for them is kept when it is read.
constexpr size_t kInsertedLines = 4;

}  // namespace

Lines::Lines(std::initializer_list<std::string_view> lines) {
    for (std::string_view line : lines) {
        spans_.push_back(append(line));
    }
}

Lines::Span Lines::append(std::string_view line) {
    if (line.size() > std::numeric_limits<uint32_t>::max() - text_.size()) {
        throw std::length_error("the lines of an edited file exceed 4 GiB");
    }
    const std::string copy(line);  // `line` may lie in the buffer that grows here
    const Span span{static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(copy.size())};
    text_ += copy;
    return span;
}

void Lines::set(size_t index, std::string_view line) {
    Span& span = spans_.at(index);
    if (line.size() <= span.length) {
        // Fits where the old line was; std::copy handles a `line` taken from that place.
        std::copy(line.begin(), line.end(), text_.begin() + span.begin);
        span.length = static_cast<uint32_t>(line.size());
        return;
    }
    const Span placed = append(line);
    spans_[index] = placed;
}

void Lines::insert(size_t index, std::string_view line) {
    const Span placed = append(line);
    spans_.insert(spans_.begin() + static_cast<std::ptrdiff_t>(std::min(index, spans_.size())),
                  placed);
}

bool operator==(const Lines& a, const Lines& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

bool read(const std::string& path, Lines& lines) {
    uint64_t size = 0;
    OpenFile file;
    try {
        file = local_file::openForReading(path, size);
    } catch (const std::exception&) {
        return false;
    }
    if (size > kMaxFileSize) {
        logWarning(
            "configuration file %s is %llu bytes, more than the %llu bytes an edited file "
            "may have",
            path.c_str(), static_cast<unsigned long long>(size),
            static_cast<unsigned long long>(kMaxFileSize));
        return false;
    }
    std::string text(static_cast<size_t>(size), '\0');
    const file_io::Transfer got = file_io::readSome(file.fd(), &text[0], text.size());
    if (got.failed()) {
        return false;
    }
    text.resize(got.done);  // shorter when the file shrank meanwhile
    std::vector<Lines::Span> spans;
    spans.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1 +
                  kInsertedLines);
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            spans.push_back(
                {static_cast<uint32_t>(start), static_cast<uint32_t>(text.size() - start)});
            break;
        }
        size_t length = end - start;
        if (length > 0 && text[end - 1] == '\r') {
            --length;
        }
        spans.push_back({static_cast<uint32_t>(start), static_cast<uint32_t>(length)});
        start = end + 1;
    }
    lines.text_ = std::move(text);
    lines.spans_ = std::move(spans);
    return true;
}

bool write(const std::string& path, const Lines& lines, EmptyLastLine emptyLast) {
    size_t count = lines.size();
    if (emptyLast == EmptyLastLine::dropped && count > 0 && lines[count - 1].empty()) {
        --count;
    }
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += lines[i];
        text += "\r\n";
    }
    OpenFile out;
    try {
        out = local_file::rewrite(path);
    } catch (const std::runtime_error&) {
        return false;
    }
    const file_io::Transfer put = file_io::writeAll(out.fd(), text.data(), text.size());
    return put.done == text.size() && out.close();
}

}  // namespace text_lines
