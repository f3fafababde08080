// Feeds arbitrary bytes as an image to ISOReader (load, look-ups, unpack into a fresh
// temporary directory) and to ISOBootImageReader (load, extract).
#include <boost/filesystem.hpp>
#include <cstdint>
#include <cstdio>
#include <string>

#include "iso/boot_image_reader.h"
#include "iso/image_source.h"
#include "iso/iso_reader.h"

namespace fs = boost::filesystem;

namespace {

fs::path workRoot;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers report every step on standard output; keep the fuzzer's own log readable.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return 1;
    }
    workRoot = fs::temp_directory_path() / fs::unique_path("winpe-fuzz-%%%%-%%%%");
    fs::create_directories(workRoot);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ImageSourceOpener opener = memoryImageOpener(data, size);
    {
        ISOReader reader("fuzz.iso", opener);
        reader.FileExists("\\WINBOM.INI");
        reader.DirectoryExists("\\I386\\SYSTEM32");
        reader.FileExists("\\A\\B\\C");
        const fs::path destination = workRoot / "unpack";
        fs::remove_all(destination);
        fs::create_directory(destination);
        reader.UnpackImage(destination.string());
        reader.RetrieveFile("\\BLOCK.BIN", (workRoot / "retrieved").string());
        fs::remove(workRoot / "retrieved");
        fs::remove_all(destination);
    }
    {
        ISOBootImageReader boot("fuzz.iso", opener);
        if (boot.LoadBootImage() == 0) {
            boot.ExtractBootImage((workRoot / "boot.img").string());
        }
    }
    return 0;
}
