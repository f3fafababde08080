// Replays the fuzz target's seed corpus and every input that once made it fail
// (fuzz/regressions), in the normal and the sanitizer build, the round trip through an
// in-memory pack included.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "image_reader_exercise.h"
#include "support/console_capture.h"
#include "support/test_files.h"

namespace fs = boost::filesystem;
using namespace test_support;

TEST(IsoReaderFuzzRegression, CorpusAndRegressionInputsRunCleanly) {
    int inputs = 0;
    int roundTrips = 0;
    for (const char* folder : {"fuzz/corpus", "fuzz/regressions"}) {
        const fs::path directory = fs::path(WINPE_SOURCE_DIR) / folder;
        if (!fs::is_directory(directory)) {
            continue;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
            if (!fs::is_regular_file(entry.path()) || entry.path().filename() == "README") {
                continue;
            }
            const std::vector<uint8_t> bytes = readBytes(entry.path().string());
            TempDir work;
            RoundTrip outcome = RoundTrip::refused;
            test_support::captureStdout(
                [&] { outcome = exerciseImage(bytes.data(), bytes.size(), work.path()); });
            if (outcome == RoundTrip::same) {
                ++roundTrips;
            }
            ++inputs;
        }
    }
    EXPECT_GE(inputs, 4);
    // The seed images are sound: each of them packs and loads again to the same tree.
    EXPECT_GE(roundTrips, 4);
}
