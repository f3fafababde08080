#include "e2e/real_images.h"

#include <boost/filesystem.hpp>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "e2e/e2e_helpers.h"
#include "support/tool_runner.h"

using test_support::shellQuote;

namespace real_images {

std::vector<BootEntry> bootEntries(const std::string& image) {
    const std::string report =
        e2e::mustRun("xorriso -indev " + shellQuote(image) + " -report_el_torito plain 2>&1");
    // El Torito boot img :   2  UEFI  y   none  0x0000  0x00   2880          41
    const std::regex line(
        R"(El Torito boot img :\s+\d+\s+(\S+)\s+\S+\s+(\S+)\s+\S+\s+\S+\s+(\d+)\s+(\d+))");
    std::vector<BootEntry> entries;
    for (std::sregex_iterator it(report.begin(), report.end(), line), end; it != end; ++it) {
        BootEntry entry;
        entry.platform = (*it)[1];
        entry.media = (*it)[2];
        entry.sectors = static_cast<uint32_t>(std::stoul((*it)[3]));
        entry.lba = static_cast<uint32_t>(std::stoul((*it)[4]));
        entries.push_back(entry);
    }
    return entries;
}

uint32_t extentOf(const std::string& image, const std::string& isoPath) {
    const std::string report = e2e::mustRun("xorriso -indev " + shellQuote(image) + " -find " +
                                            shellQuote(isoPath) + " -exec report_lba 2>&1");
    // File data lba:  0 ,      41 ,      720 ,    1474560 , '/EFI/EFI.IMG'
    std::smatch match;
    if (!std::regex_search(report, match, std::regex(R"(File data lba:\s+\d+\s+,\s+(\d+))"))) {
        throw std::runtime_error("xorriso reports no block of " + isoPath + ":\n" + report);
    }
    return static_cast<uint32_t>(std::stoul(match[1]));
}

std::string imageBytes(const std::string& image, uint32_t lba, size_t count) {
    std::ifstream in(image, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(lba) * 2048);
    std::string bytes(count, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(count));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

void makeFatImage(const std::string& path, const std::string& file, const std::string& source,
                  unsigned kilobytes) {
    boost::filesystem::create_directories(boost::filesystem::path(path).parent_path());
    const std::string geometry =
        kilobytes == 1440 ? "-f 1440" : "-h 2 -s 32 -t " + std::to_string(kilobytes / 32);
    std::string command = "dd if=/dev/zero of=" + shellQuote(path) +
                          " bs=1024 count=" + std::to_string(kilobytes) +
                          " 2>/dev/null && mformat -i " + shellQuote(path) + " " + geometry + " ::";
    // Each directory on the way to the file.
    for (size_t slash = file.find('/', 3); slash != std::string::npos;
         slash = file.find('/', slash + 1)) {
        command += " && mmd -i " + shellQuote(path) + " " + shellQuote(file.substr(0, slash));
    }
    command += source.empty()
                   ? " && echo 'made for winpe-iso' | mcopy -i " + shellQuote(path) + " -"
                   : " && mcopy -i " + shellQuote(path) + " " + shellQuote(source);
    e2e::mustRun(command + " " + shellQuote(file) + " 2>&1");
}

}  // namespace real_images
