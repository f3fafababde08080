#include "support/test_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace test_support {

TempDir::TempDir() {
    const fs::path path = fs::temp_directory_path() / fs::unique_path("winpe-test-%%%%-%%%%-%%%%");
    fs::create_directories(path);
    path_ = path.string();
}

TempDir::~TempDir() {
    boost::system::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string& relative) const {
    return path_ + "/" + relative;
}

void writeFile(const std::string& path, const std::string& content) {
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

void writeFile(const std::string& path, const std::vector<uint8_t>& content) {
    writeFile(path, std::string(content.begin(), content.end()));
}

void writeFiles(const std::string& root,
                const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [relative, content] : files) {
        writeFile(root + "/" + relative, content);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<uint8_t> readBytes(const std::string& path) {
    const std::string content = readFile(path);
    return std::vector<uint8_t>(content.begin(), content.end());
}

std::vector<uint8_t> patternBytes(size_t count, uint32_t seed) {
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

std::string patternText(size_t count, uint32_t seed) {
    const std::vector<uint8_t> bytes = patternBytes(count, seed);
    return std::string(bytes.begin(), bytes.end());
}

void writePatternFiles(const std::string& root,
                       const std::vector<std::pair<std::string, size_t>>& files) {
    uint32_t seed = 1;
    for (const auto& [relative, size] : files) {
        writeFile(root + "/" + relative, patternBytes(size, seed++));
    }
}

bool fileExists(const std::string& path) {
    return fs::exists(path);
}

bool onOtherFileSystems(const std::string& one, const std::string& other) {
    struct stat first, second;
    return ::stat(one.c_str(), &first) == 0 && ::stat(other.c_str(), &second) == 0 &&
           first.st_dev != second.st_dev;
}

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

std::vector<std::string> listLocal(const std::string& directory) {
    std::vector<std::string> entries;
    for (fs::recursive_directory_iterator it(directory), end; it != end; ++it) {
        entries.push_back(fs::relative(it->path(), directory).string());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<std::string> linesWith(const std::string& text, const std::string& part) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(part) != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> found;
    for (std::string word; in >> word;) {
        found.push_back(word);
    }
    return found;
}

}  // namespace test_support
