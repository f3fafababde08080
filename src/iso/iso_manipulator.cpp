#include "iso/iso_manipulator.h"

#include <cstdio>

#include "base/progress_line.h"

ISOManipulator::~ISOManipulator() = default;

void ISOManipulator::advanceProgress(uint32_t bytes) {
    progress_line::advance(bytes);
    bytesDone += bytes;
    if (totalBytes == 0) {
        return;
    }
    // The last mark reached, floor(100 * bytesDone / totalBytes), in exact integers: with
    // floating point a piece that ends the copy could stop one mark short of "100%", and
    // the marks would depend on how the bytes were cut into pieces.
    const uint64_t reached = static_cast<uint64_t>(bytesDone) * 100 / totalBytes;
    for (;
         percentShown >= 0 && static_cast<uint64_t>(percentShown) <= reached && percentShown <= 100;
         ++percentShown) {
        if (percentShown % 10 == 0) {
            std::printf("%d%%", percentShown);
            if (percentShown == 100) {
                std::printf("\n");
            }
        } else {
            std::printf(".");
        }
    }
    std::fflush(stdout);
}
