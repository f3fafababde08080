// Switching the firewall of the preinstallation environment off in WINBOM.INI.
#include <vector>

#include "base/console_log.h"
#include "editor/cd_files.h"
#include "editor/text_lines.h"
#include "editor/winpe_editor.h"

namespace {

const char* const kNetSection = "[WinPE.Net]";
const char* const kFirewallKey = "WinPEFirewall";
const char* const kFirewallOff = "WinPEFirewall=off";

}  // namespace

int WinpeEditor::disableFirewall() {
    logInfo("disabling firewall ...");
    const std::string settingsFile = localPath(cd_files::kWinbom.imagePath);
    text_lines::Lines lines;
    if (!text_lines::read(settingsFile, lines)) {
        logWarning("disabling firewall failed - unable to open file %s", settingsFile.c_str());
        return 1;
    }
    bool replaced = false;
    size_t sectionLine = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find(kFirewallKey) != std::string_view::npos) {
            lines.set(i, kFirewallOff);
            replaced = true;
        }
        if (sectionLine == lines.size() && lines[i].find(kNetSection) != std::string_view::npos) {
            sectionLine = i;
        }
    }
    if (!replaced) {
        if (sectionLine < lines.size()) {
            lines.insert(sectionLine + 1, kFirewallOff);
        } else {
            lines.insert(0, kFirewallOff);
            lines.insert(0, kNetSection);
        }
    }
    if (!text_lines::write(settingsFile, lines, text_lines::EmptyLastLine::dropped)) {
        logWarning("disabling firewall failed - unable to open file %s", settingsFile.c_str());
        return 1;
    }
    logInfo("disabling firewall succeeded");
    return 0;
}
