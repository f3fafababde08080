// A small program around the writer, so that tests can run a pack in a process of its
// own (under a file size limit, for example).
//   iso_writer_pack_helper pack DIRECTORY OUTPUT [BOOT_IMAGE]
//   iso_writer_pack_helper modify IMAGE LOCAL_FILE IMAGE_PATH OUTPUT [BOOT_IMAGE]
// Exits with the result of the pack (0 or 1), 2 on wrong usage.
#include <cstdio>
#include <string>

#include "iso/iso_modifier.h"
#include "iso/iso_writer.h"

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "pack" && (argc == 4 || argc == 5)) {
        ISOWriter writer(argv[2], "");
        return writer.PackImage(argv[3], argc == 5 ? argv[4] : "");
    }
    if (mode == "modify" && (argc == 6 || argc == 7)) {
        ISOModifier modifier(argv[2]);
        if (modifier.AddSingleFile(argv[3], argv[4], true) != 0) {
            return 1;
        }
        return modifier.PackImage(argv[5], argc == 7 ? argv[6] : "");
    }
    std::fprintf(stderr,
                 "usage: %s pack DIRECTORY OUTPUT [BOOT_IMAGE]\n"
                 "       %s modify IMAGE LOCAL_FILE IMAGE_PATH OUTPUT [BOOT_IMAGE]\n",
                 argv[0], argv[0]);
    return 2;
}
