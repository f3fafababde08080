// A small program around the writer, so that tests can run a pack in a process of its
// own (under a file size limit, or with the clock held still).
//   iso_writer_pack_helper pack DIRECTORY OUTPUT [BOOT_IMAGE]
//   iso_writer_pack_helper modify IMAGE LOCAL_FILE IMAGE_PATH OUTPUT [BOOT_IMAGE]
// With `pack-memory` and `modify-memory` the same packs run wholly in memory (the old
// image read into memory, the new one built in a MemoryImageSink), and the bytes are
// then written to OUTPUT.
// Exits with the result of the pack (0 or 1), 2 on wrong usage.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "iso/image_sink.h"
#include "iso/image_source.h"
#include "iso/iso_modifier.h"
#include "iso/iso_writer.h"

namespace {

int saveBytes(const MemoryImageSink& sink, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(sink.bytes().data()),
              static_cast<std::streamsize>(sink.bytes().size()));
    out.close();
    return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool inMemory = mode == "pack-memory" || mode == "modify-memory";
    if ((mode == "pack" || mode == "pack-memory") && (argc == 4 || argc == 5)) {
        ISOWriter writer(argv[2], "");
        const std::string boot = argc == 5 ? argv[4] : "";
        if (!inMemory) {
            return writer.PackImage(argv[3], boot);
        }
        MemoryImageSink sink;
        return writer.PackImageTo(sink, boot) != 0 ? 1 : saveBytes(sink, argv[3]);
    }
    if ((mode == "modify" || mode == "modify-memory") && (argc == 6 || argc == 7)) {
        const std::string boot = argc == 7 ? argv[6] : "";
        if (!inMemory) {
            ISOModifier modifier(argv[2]);
            if (modifier.AddSingleFile(argv[3], argv[4], true) != 0) {
                return 1;
            }
            return modifier.PackImage(argv[5], boot);
        }
        std::ifstream in(argv[2], std::ios::binary);
        const std::vector<uint8_t> old((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
        ISOModifier modifier(argv[2], memoryImageOpener(old.data(), old.size()));
        if (modifier.AddSingleFile(argv[3], argv[4], true) != 0) {
            return 1;
        }
        MemoryImageSink sink;
        return modifier.PackImageTo(sink, boot) != 0 ? 1 : saveBytes(sink, argv[5]);
    }
    std::fprintf(stderr,
                 "usage: %s pack|pack-memory DIRECTORY OUTPUT [BOOT_IMAGE]\n"
                 "       %s modify|modify-memory IMAGE LOCAL_FILE IMAGE_PATH OUTPUT "
                 "[BOOT_IMAGE]\n",
                 argv[0], argv[0]);
    return 2;
}
