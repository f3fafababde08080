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
    // isoinfo -l lists each directory ("Directory listing of /DIR/"), then its records:
    // ----------   0    0    0   29541 Dec  9 2026 [   1407 00]  ELTORITO.IMG;1
    std::istringstream listing(e2e::mustRun("isoinfo -l -i " + shellQuote(image)));
    const std::regex directory(R"(^Directory listing of (.*)$)");
    const std::regex record(R"(\[\s*(\d+) \d+\]\s+(.*?)\s*$)");
    std::string current;
    for (std::string line; std::getline(listing, line);) {
        std::smatch match;
        if (std::regex_match(line, match, directory)) {
            current = match[1];
        } else if (std::regex_search(line, match, record)) {
            const std::string name = match[2].str().substr(0, match[2].str().find(';'));
            if (current + name == isoPath) {
                return static_cast<uint32_t>(std::stoul(match[1]));
            }
        }
    }
    throw std::runtime_error("isoinfo lists no " + isoPath + " in " + image);
}

uint32_t le32(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
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
