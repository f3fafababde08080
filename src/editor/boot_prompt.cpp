// Patching BOOTFIX.BIN, the boot loader's "press any key" routine, to return at once.
#include <boost/filesystem.hpp>
#include <fstream>

#include "base/console_log.h"
#include "editor/cd_files.h"
#include "editor/winpe_editor.h"
#include "platform/local_file.h"

namespace fs = boost::filesystem;

namespace {

// The x86 far return: the patched routine returns before it asks.
const char kFarReturn = static_cast<char>(0xCB);
// Bytes copied at a time from the saved routine.
const size_t kCopyPieceSize = 2048;

bool startsWithFarReturn(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char first = 0;
    return in.get(first) && first == kFarReturn;
}

}  // namespace

int WinpeEditor::disablePressAnyKey() {
    logInfo("disabling the \"press any key\" option ...");
    try {
        const std::string bootFix = localPath(cd_files::kBootFix.imagePath);
        if (startsWithFarReturn(bootFix)) {
            // Patched by an earlier run: one return is all it takes.
            logInfo("BOOTFIX.BIN returns at once already, it is left as it is");
            return 0;
        }
        const std::string backup = bootFix + ".bak";
        local_file::copyFile(bootFix, backup);
        {
            std::ofstream out(bootFix, std::ios::binary | std::ios::trunc);
            if (!out) {
                logInfo(
                    "disabling the \"press an key\" option failed - unable to open BOOTFIX.BIN");
                return 1;
            }
            out.put(kFarReturn);
            uintmax_t remaining = fs::file_size(backup);
            std::ifstream in(backup, std::ios::binary);
            if (!in) {
                logWarning("disabling the \"press any key\" option failed -");
                logWarning(" unable to open backup file BOOTFIX.BIN.bak");
                return 1;
            }
            char piece[kCopyPieceSize];
            while (remaining > 0) {
                const size_t count =
                    remaining < kCopyPieceSize ? static_cast<size_t>(remaining) : kCopyPieceSize;
                if (!in.read(piece, static_cast<std::streamsize>(count))) {
                    throw std::runtime_error("can not read " + backup);
                }
                out.write(piece, static_cast<std::streamsize>(count));
                remaining -= count;
            }
            out.close();
            if (out.fail()) {
                throw std::runtime_error("can not write " + bootFix);
            }
        }
        fs::remove(backup);
        return 0;
    } catch (const std::exception& e) {
        logWarning("disabling the \"press any key\" option failed - exception %s", e.what());
        return 1;
    }
}
