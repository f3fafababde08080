// The six configuration files of the boot CD that a run copies out of the image into
// the work tree, lets the editor change and puts back into the image.
#pragma once

struct CdFile {
    const char* imagePath;        // inside the image
    const char* treePath;         // below the root of the work tree, "/"-separated
    const char* retrieveWarning;  // when copying it out of the image fails
    const char* copyBackWarning;  // when putting it back into the image fails
};

namespace cd_files {

inline constexpr CdFile kWinbom = {"\\WINBOM.INI", "WINBOM.INI", "retrieve winbom.ini failed",
                                   "copy back winbom.ini failed"};
inline constexpr CdFile kOemSettings = {
    "\\I386\\SYSTEM32\\WINPEOEM.SIF", "I386/SYSTEM32/WINPEOEM.SIF", "retrieve winpeoem.sif failed",
    "copy back winpeoem.sif failed"};
inline constexpr CdFile kDefaultHive = {"\\I386\\SYSTEM32\\CONFIG\\DEFAULT",
                                        "I386/SYSTEM32/CONFIG/DEFAULT", "retrieve default failed",
                                        "copy back default failed"};
inline constexpr CdFile kBootFix = {"\\I386\\BOOTFIX.BIN", "I386/BOOTFIX.BIN",
                                    "retrieve bootfix.bin failed", "copy back bootfix.bin failed"};
inline constexpr CdFile kStartNet = {"\\I386\\SYSTEM32\\STARTNET.CMD", "I386/SYSTEM32/STARTNET.CMD",
                                     "retrieve startnet.cmd failed",
                                     "copy back startnet.cmd failed"};
inline constexpr CdFile kJobFile = {"\\MIRALDA\\TASKDECK.XML", "MIRALDA/TASKDECK.XML",
                                    "retrieve taskdeck.xml failed",
                                    "copy back taskdeck.xml failed"};

// In the order a run retrieves them and puts them back.
inline constexpr const CdFile* kAll[] = {&kWinbom,  &kOemSettings, &kDefaultHive,
                                         &kBootFix, &kStartNet,    &kJobFile};

}  // namespace cd_files
