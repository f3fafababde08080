#include "support/test_files.h"

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
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

bool fileExists(const std::string& path) {
    return fs::exists(path);
}

void makeFifo(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    if (::mkfifo(path.c_str(), 0600) != 0) {
        throw std::runtime_error("cannot make the FIFO " + path + ": " + std::strerror(errno));
    }
}

void makeSocket(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("cannot make the socket " + path + ": the path is too long");
    }
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound =
        sock >= 0 && ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const int error = errno;
    if (sock >= 0) {
        ::close(sock);  // the socket's file stays
    }
    if (!bound) {
        throw std::runtime_error("cannot make the socket " + path + ": " + std::strerror(error));
    }
}

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

ScopedMount::ScopedMount(const std::string& source, const std::string& target,
                         const std::string& type)
    : target_(target) {
    fs::create_directories(target);
    const int result = type.empty()
                           ? ::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr)
                           : ::mount(source.c_str(), target.c_str(), type.c_str(), 0, "size=1m");
    if (result != 0) {
        why_ = "mounting " + (type.empty() ? "a bind mount" : "a " + type) + " at " + target +
               " is not allowed here: " + std::strerror(errno);
    }
}

ScopedMount::~ScopedMount() {
    if (mounted()) {
        ::umount2(target_.c_str(), MNT_DETACH);
    }
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace test_support
