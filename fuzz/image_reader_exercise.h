// What the fuzz target does with one input, shared with the regression test that
// replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "image_round_trip.h"

// Treats `data` as an image: loads it with ISOReader, looks paths up, unpacks it into
// a fresh directory below `workDir` and retrieves a file; then loads and extracts its
// boot image with ISOBootImageReader; then makes the round trip of image_round_trip.h
// (trees of more than kMaxRoundTripFileBytes of file data are loaded but not packed).
// Everything it creates below `workDir` is removed; returns the round trip's outcome.
constexpr uint64_t kMaxRoundTripFileBytes = 16 * 1024 * 1024;
RoundTrip exerciseImage(const uint8_t* data, size_t size, const std::string& workDir);
