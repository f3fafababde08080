// Patching BOOTFIX.BIN, the boot loader's "press any key" routine, to return at once.
#include <boost/filesystem.hpp>
#include <stdexcept>
#include <string>

#include "base/console_log.h"
#include "editor/cd_files.h"
#include "editor/winpe_editor.h"
#include "platform/local_file.h"

namespace fs = boost::filesystem;

namespace {

// The x86 far return: the patched routine returns before it asks.
const char kFarReturn = static_cast<char>(0xCB);

bool startsWithFarReturn(const std::string& path) {
    uint64_t size = 0;
    char first = 0;
    try {
        const OpenFile in = local_file::openForReading(path, size);
        return file_io::readAt(in.fd(), 0, &first, 1).done == 1 && first == kFarReturn;
    } catch (const std::runtime_error&) {
        return false;
    }
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
            OpenFile out;
            try {
                out = local_file::rewrite(bootFix);
            } catch (const std::runtime_error&) {
                logInfo(
                    "disabling the \"press an key\" option failed - unable to open BOOTFIX.BIN");
                return 1;
            }
            std::string patched(1, kFarReturn);
            uint64_t size = 0;
            OpenFile in;
            try {
                in = local_file::openForReading(backup, size);
            } catch (const std::runtime_error&) {
                logWarning("disabling the \"press any key\" option failed -");
                logWarning(" unable to open backup file BOOTFIX.BIN.bak");
                return 1;
            }
            patched.resize(1 + static_cast<size_t>(size));
            if (file_io::readSome(in.fd(), &patched[1], patched.size() - 1).done != size) {
                throw std::runtime_error("can not read " + backup);
            }
            if (file_io::writeAll(out.fd(), patched.data(), patched.size()).done !=
                    patched.size() ||
                !out.close()) {
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
