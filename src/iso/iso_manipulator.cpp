#include "iso/iso_manipulator.h"

#include <cstdio>

ISOManipulator::~ISOManipulator() = default;

void ISOManipulator::advanceProgress(uint32_t bytes) {
    bytesDone += bytes;
    if (totalBytes == 0) {
        return;
    }
    const double ratio = static_cast<double>(bytesDone) / static_cast<double>(totalBytes);
    if (percentShown * 0.01 > ratio) {
        return;
    }
    const long count = static_cast<long>((ratio - percentShown * 0.01) * 100);
    for (long i = 0; i <= count && percentShown <= 100; ++i) {
        if (percentShown % 10 == 0) {
            std::printf("%d%%", percentShown);
            if (percentShown == 100) {
                std::printf("\n");
            }
        } else {
            std::printf(".");
        }
        ++percentShown;
    }
    std::fflush(stdout);
}
