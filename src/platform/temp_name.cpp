#include "platform/temp_name.h"

#include <sys/stat.h>

#include <boost/filesystem/operations.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace temp_name {

namespace {

// Each try draws a new number; 16 bits give 65535 names, so a few hundred tries find
// a free one unless the temporary directory is crowded with leftovers.
constexpr int kMaxTries = 256;

// The next number of the generator, drawn again while it is 0.
unsigned nextNonZeroNumber() {
    unsigned number = 0;
    while (number == 0) {
        number = static_cast<unsigned>(std::rand()) & 0xFFFFu;
    }
    return number;
}

}  // namespace

std::string systemTempDirectory() {
    std::string directory = "/tmp";
    for (const char* name : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            directory = value;
            break;
        }
    }
    boost::system::error_code ec;
    if (!boost::filesystem::is_directory(directory, ec)) {
        throw std::runtime_error("the temporary directory " + directory + " is not a directory");
    }
    return directory;
}

unsigned drawNonZeroNumber() {
    const auto tick = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
    std::srand(static_cast<unsigned>(tick));
    return nextNonZeroNumber();
}

std::string formLeafName(unsigned number) {
    char leaf[16];
    std::snprintf(leaf, sizeof leaf, "WPE%X.TMP", number & 0xFFFFu);
    return leaf;
}

std::string formTempPath(unsigned number) {
    return (boost::filesystem::path(systemTempDirectory()) / formLeafName(number)).string();
}

std::string createWorkDirectory() {
    drawNonZeroNumber();  // seeds the generator
    for (int attempt = 0; attempt < kMaxTries; ++attempt) {
        const std::string path = formTempPath(nextNonZeroNumber());
        // mkdir fails with EEXIST for any existing path, so a name is never taken over,
        // also when another run creates the same name at the same moment.
        if (::mkdir(path.c_str(), 0700) == 0) {
            return path;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    throw std::runtime_error("can not generate random temporary directory name");
}

}  // namespace temp_name
