// Applies the requested changes to the work tree of a boot CD: programs and start-up
// entries, drivers, the firewall switch, the boot-prompt patch and the VNC package.
#pragma once

#include <string>
#include <vector>

class ISOReader;

class WinpeEditor {
public:
    WinpeEditor(const std::vector<std::string>& storageDrivers,
                const std::vector<std::string>& networkDrivers,
                const std::vector<std::string>& binaries,
                const std::vector<std::string>& startBinaries,
                const std::vector<std::string>& packages,
                const std::vector<std::string>& startPackages,
                const std::vector<std::string>& directories,
                const std::vector<std::string>& files, const std::string& vncValue,
                bool firewallOff, const std::string& treeRoot, ISOReader* reader);
    virtual ~WinpeEditor();

    WinpeEditor(const WinpeEditor&) = delete;
    WinpeEditor& operator=(const WinpeEditor&) = delete;

    // Option checks, run before anything is created.
    int checkOptions();
    int checkFileExistence();

    // Runs every requested edit in the fixed order; stops at the first failure.
    int apply();

    int addStorageDriver(std::string packageDirectory);
    int addNetworkDriver(std::string driverDirectory);
    std::string addBinary(const std::string& source);
    std::string addPackage(const std::string& source);
    int addStartUp(const std::string& executable);
    int disableFirewall();
    int addVncPackage(const std::string& value);
    int setVncPassword(const std::string& password);
    int disablePressAnyKey();
    int addDriverName(const std::string& driverName);
    std::string addFile(const std::string& source, const std::string& destDir);
    std::string addDirectory(const std::string& source, const std::string& destDir);
    void copy_directory(const std::string& source, const std::string& destination,
                        bool upperCaseNames);

private:
    std::string treeRoot;
    std::vector<std::string> storageDrivers;
    std::vector<std::string> networkDrivers;
    std::vector<std::string> binaries;
    std::vector<std::string> startBinaries;
    bool firewallOff;
    std::string vncValue;
    std::vector<std::string> packages;
    std::vector<std::string> startPackages;
    std::vector<std::string> directories;
    std::vector<std::string> files;
    ISOReader* reader;
};
