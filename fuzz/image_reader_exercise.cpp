#include "image_reader_exercise.h"

#include <boost/filesystem.hpp>

#include "image_round_trip.h"
#include "iso/boot_image_reader.h"
#include "iso/image_source.h"
#include "iso/iso_reader.h"

namespace fs = boost::filesystem;

RoundTrip exerciseImage(const uint8_t* data, size_t size, const std::string& workDir) {
    const ImageSourceOpener opener = memoryImageOpener(data, size);
    const fs::path work(workDir);
    {
        ISOReader reader("fuzz.iso", opener);
        reader.FileExists("\\WINBOM.INI");
        reader.DirectoryExists("\\I386\\SYSTEM32");
        reader.FileExists("\\A\\B\\C");
        reader.NameTaken("\\i386\\system32");
        reader.DroppedFeatures();
        const fs::path destination = work / "unpack";
        fs::remove_all(destination);
        fs::create_directory(destination);
        reader.UnpackImage(destination.string());
        reader.RetrieveDir("\\I386", destination.string());
        reader.RetrieveFile("\\BLOCK.BIN", (work / "retrieved").string());
        fs::remove(work / "retrieved");
        fs::remove_all(destination);
    }
    {
        ISOBootImageReader boot("fuzz.iso", opener);
        if (boot.LoadBootImage() == 0 && boot.ExtractBootImage((work / "boot.img").string()) == 0) {
            bootRoundTrip(data, size, (work / "boot.img").string(), kMaxRoundTripFileBytes);
        }
        fs::remove(work / "boot.img");
    }
    return roundTripImage(data, size, kMaxRoundTripFileBytes);
}
