// Benchmark driver: adds one local file to an image with ISOModifier and writes the new
// image, as a run does at its end. Prints the peak resident memory to standard error.
//   winpe_bench_rewrite_pack IMAGE LOCAL_FILE IMAGE_PATH OUTPUT [BOOT_IMAGE]
#include <sys/resource.h>

#include <cstdio>
#include <string>

#include "iso/iso_modifier.h"

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s IMAGE LOCAL_FILE IMAGE_PATH OUTPUT [BOOT_IMAGE]\n",
                     argv[0]);
        return 2;
    }
    int result = 1;
    {
        ISOModifier modifier(argv[1]);
        if (modifier.AddSingleFile(argv[2], argv[3], true) == 0) {
            result = modifier.PackImage(argv[4], argc == 6 ? argv[5] : "");
        }
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "peak resident memory: %ld KiB\n", usage.ru_maxrss);
    return result;
}
