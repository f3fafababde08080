// What one run asks the editor to change on the boot CD, as the command line gave it:
// each list in command-line order, empty strings and lists for absent options.
#pragma once

#include <string>
#include <vector>

struct EditRequest {
    std::vector<std::string> storageDrivers;  // -d: driver package directories
    std::vector<std::string> networkDrivers;  // -n: driver directories
    std::vector<std::string> binaries;        // -b: program files
    std::vector<std::string> startBinaries;   // -B: program files started at boot
    std::vector<std::string> packages;        // -p: package directories
    std::vector<std::string> startPackages;   // -P: PACKAGE%EXE
    std::vector<std::string> directories;     // -X: DIR[%IMAGEDIR]
    std::vector<std::string> files;           // -Y: FILE[%IMAGEDIR]
    std::string vncValue;                     // -v: DIR%EXE[%PW]
    bool firewallOff = false;                 // -f
};
