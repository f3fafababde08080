// The VNC remote-console package: its files, start-up entry, password settings in the
// CD's default user hive, the firewall switch and the boot-prompt patch.
#include <cstring>
#include <vector>

#include "base/console_log.h"
#include "editor/cd_files.h"
#include "editor/des.h"
#include "editor/winpe_editor.h"
#include "platform/registry_hive.h"

namespace {

const char* const kVendorKey = "Software\\RealVNC";
const char* const kServerKey = "Software\\RealVNC\\WinVNC4";

// The key the VNC server decrypts stored passwords with. Its bytes enter DES with their
// bit order mirrored (the least significant bit is the first key bit of the byte).
const uint8_t kVncKey[8] = {23, 82, 107, 6, 35, 78, 88, 7};

uint8_t mirrorBits(uint8_t byte) {
    uint8_t mirrored = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (byte & (1u << bit)) {
            mirrored = static_cast<uint8_t>(mirrored | (0x80u >> bit));
        }
    }
    return mirrored;
}

// The first 8 bytes of the password, padded with zero bytes.
std::vector<uint8_t> passwordBlock(const std::string& password) {
    std::vector<uint8_t> block(8, 0);
    std::memcpy(block.data(), password.data(), password.size() < 8 ? password.size() : 8);
    return block;
}

// Logs and releases after a failure once the hive is open; the keys themselves need
// no closing with a hive file.
void unwind(RegistryHive& hive) {
    const bool committed = hive.commit();
    const bool closed = hive.close();
    if (!committed || !closed) {
        logWarning("                            - unable to unload registry key");
    }
}

}  // namespace

void WinpeEditor::encryptVncPassword(uint8_t block[8]) {
    uint8_t key[8];
    for (int i = 0; i < 8; ++i) {
        key[i] = mirrorBits(kVncKey[i]);
    }
    des::encryptBlock(key, block);
}

int WinpeEditor::setVncPassword(const std::string& password) {
    const std::string hivePath = localPath(cd_files::kDefaultHive.imagePath);
    logInfo("setting VNC password ...");
    RegistryHive hive;
    if (!hive.open(hivePath)) {
        logWarning("setting VNC password failed - unable to load registry hive");
        return 1;
    }
    RegistryHive::Key vendorKey = 0;
    RegistryHive::Key serverKey = 0;
    if (!hive.openOrCreateKey(kVendorKey, vendorKey) ||
        !hive.openOrCreateKey(kServerKey, serverKey)) {
        logWarning("setting VNC password failed - unable to create registry key");
        unwind(hive);
        return 1;
    }
    std::string securityTypes = "None";
    if (!password.empty()) {
        std::vector<uint8_t> block = passwordBlock(password);
        encryptVncPassword(block.data());
        if (!hive.setBinaryValue(serverKey, "Password", block)) {
            logWarning("setting VNC password failed - unable to set registry key valuen");
            unwind(hive);
            return 1;
        }
        securityTypes = "VncAuth";
    }
    if (!hive.setStringValue(serverKey, "SecurityTypes", securityTypes)) {
        logWarning("setting VNC password failed - unable to set registry key value");
        unwind(hive);
        return 1;
    }
    // The settings only count once they are in the file: a failed commit fails the edit.
    const bool committed = hive.commit();
    const bool closed = hive.close();
    if (!committed || !closed) {
        logWarning("setting VNC password error - unable to close registry key");
    }
    if (!committed) {
        return 1;
    }
    logInfo("setting VNC password succeeded");
    return 0;
}

int WinpeEditor::addVncPackage(const std::string& value) {
    try {
        const size_t first = value.find('%');
        const std::string package = value.substr(0, first);
        logInfo("adding VNC package %s ...", package.c_str());
        std::string executable;
        std::string password;
        if (first != std::string::npos) {
            const size_t second = value.find('%', first + 1);
            if (second == std::string::npos) {
                executable = value.substr(first + 1);
            } else {
                executable = value.substr(first + 1, second - first - 1);
                password = value.substr(second + 1);
            }
        }
        const std::string name = addPackage(package);
        const std::string program =
            name.empty() ? std::string() : startProgramPath(name, executable);
        const bool done = !program.empty() && setVncPassword(password) == 0 &&
                          addStartUp(program) == 0 && disableFirewall() == 0 &&
                          disablePressAnyKey() == 0;
        if (!done) {
            logWarning("adding VNC package failed");
            return 1;
        }
        logInfo("adding VNC package succeeded");
        return 0;
    } catch (const std::exception& e) {
        logWarning("adding VNC package failed, exception: %s", e.what());
        return 1;
    }
}
