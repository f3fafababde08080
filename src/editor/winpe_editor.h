// Applies the requested changes to the work tree of a boot CD: programs and start-up
// entries, drivers, the firewall switch, the boot-prompt patch and the VNC package.
#pragma once

#include <cstdint>
#include <string>

#include "editor/edit_request.h"

class ISOReader;
struct NameConflictTexts;

class WinpeEditor {
  public:
    // Edits the work tree below `treeRoot` as `request` asks; `reader` (the image as it
    // lies on disk, not null) answers which names are taken.
    WinpeEditor(const EditRequest& request, const std::string& treeRoot, ISOReader* reader);
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
    // The names the entries of a copied directory get.
    enum class EntryNames { asGiven, upperCased };
    void copy_directory(const std::string& source, const std::string& destination,
                        EntryNames names);

    // DES-encrypts an 8-byte password block in place with the key the VNC server reads
    // stored passwords with.
    static void encryptVncPassword(uint8_t block[8]);

  private:
    // Which image path a candidate name would take.
    using ImagePathOf = std::string (*)(const std::string& destDir, const std::string& name);

    // Asks the user for new names while `imagePathOf(destDir, name)` is taken in the
    // image. Returns false when the user aborts (the abort warning is logged); throws
    // std::invalid_argument when a typed name is not one valid entry name.
    bool askForFreeName(std::string& name, const std::string& destDir, ImagePathOf imagePathOf,
                        const NameConflictTexts& texts);
    bool existsInImage(const std::string& imagePath);
    // Refuses (false, two warnings) when the image holds a file \PROGRAMS; otherwise
    // creates the PROGRAMS directory of the work tree when missing.
    bool ensureProgramsDirectory();
    // Adds a start package "package%executable" and its start-up entry.
    bool addStartPackage(const std::string& value);
    // The start-up path below \PROGRAMS of `executable`, the EXE part of -P or -v, in the
    // package added as `packageName`: '/' is taken as '\' and leading separators are
    // dropped. Warns, and goes on, when the package holds no such file. Empty when
    // nothing names a program.
    std::string startProgramPath(const std::string& packageName, std::string executable);
    // The local path of an image path below the tree root.
    std::string localPath(const std::string& imagePath) const;

    EditRequest request_;
    std::string treeRoot_;
    ISOReader* reader_;
};
