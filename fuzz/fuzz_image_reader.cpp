// libFuzzer target: arbitrary bytes as an image for ISOReader and ISOBootImageReader.
#include <boost/filesystem.hpp>
#include <cstdint>
#include <cstdio>

#include "image_reader_exercise.h"

namespace fs = boost::filesystem;

namespace {

std::string workDir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers report every step on standard output; keep the fuzzer's own log readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 1;
    }
    const fs::path work = fs::temp_directory_path() / fs::unique_path("winpe-fuzz-%%%%-%%%%");
    fs::create_directories(work);
    workDir = work.string();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    exerciseImage(data, size, workDir);
    return 0;
}
