// What the fuzz target does with one input, shared with the regression test that
// replays the seed corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Treats `data` as an image: loads it with ISOReader, looks paths up, unpacks it into
// a fresh directory below `workDir` and retrieves a file; then loads and extracts its
// boot image with ISOBootImageReader. Everything it creates below `workDir` is removed.
void exerciseImage(const uint8_t* data, size_t size, const std::string& workDir);
