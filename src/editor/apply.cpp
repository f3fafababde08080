// The fixed order of the edits; the first failure ends the run of edits.
#include "editor/winpe_editor.h"

int WinpeEditor::apply() {
    for (const std::string& value : request_.storageDrivers) {
        if (addStorageDriver(value) != 0) {
            return 1;
        }
    }
    for (const std::string& value : request_.networkDrivers) {
        if (addNetworkDriver(value) != 0) {
            return 1;
        }
    }
    for (const std::string& value : request_.binaries) {
        if (addBinary(value).empty()) {
            return 1;
        }
    }
    for (const std::string& value : request_.startBinaries) {
        const std::string name = addBinary(value);
        if (name.empty() || addStartUp(name) != 0) {
            return 1;
        }
    }
    for (const std::string& value : request_.packages) {
        if (addPackage(value).empty()) {
            return 1;
        }
    }
    for (const std::string& value : request_.startPackages) {
        if (!addStartPackage(value)) {
            return 1;
        }
    }
    if (request_.firewallOff && disableFirewall() != 0) {
        return 1;
    }
    if (!request_.vncValue.empty() && addVncPackage(request_.vncValue) != 0) {
        return 1;
    }
    return 0;
}
