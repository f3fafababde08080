// The fixed order of the edits; the first failure ends the run of edits.
#include "editor/winpe_editor.h"

int WinpeEditor::apply() {
    for (const std::string& value : storageDrivers) {
        if (addStorageDriver(value) != 0) {
            return 1;
        }
    }
    for (const std::string& value : networkDrivers) {
        if (addNetworkDriver(value) != 0) {
            return 1;
        }
    }
    for (const std::string& value : binaries) {
        if (addBinary(value).empty()) {
            return 1;
        }
    }
    for (const std::string& value : startBinaries) {
        const std::string name = addBinary(value);
        if (name.empty() || addStartUp(name) != 0) {
            return 1;
        }
    }
    for (const std::string& value : packages) {
        if (addPackage(value).empty()) {
            return 1;
        }
    }
    for (const std::string& value : startPackages) {
        if (!addStartPackage(value)) {
            return 1;
        }
    }
    if (firewallOff && disableFirewall() != 0) {
        return 1;
    }
    if (!vncValue.empty() && addVncPackage(vncValue) != 0) {
        return 1;
    }
    return 0;
}
