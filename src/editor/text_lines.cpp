#include "editor/text_lines.h"

#include <fstream>
#include <iterator>

namespace text_lines {

bool read(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    const std::string content((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (in.bad()) {
        return false;
    }
    lines.clear();
    size_t start = 0;
    for (;;) {
        const size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(content.substr(start));
            break;
        }
        size_t length = end - start;
        if (length > 0 && content[end - 1] == '\r') {
            --length;
        }
        lines.push_back(content.substr(start, length));
        start = end + 1;
    }
    return true;
}

bool write(const std::string& path, const std::vector<std::string>& lines,
           bool writeEmptyLastLine) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    size_t count = lines.size();
    if (!writeEmptyLastLine && count > 0 && lines.back().empty()) {
        --count;
    }
    for (size_t i = 0; i < count; ++i) {
        out << lines[i] << "\r\n";
    }
    out.close();
    return !out.fail();
}

}  // namespace text_lines
