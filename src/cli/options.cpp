#include "cli/options.h"

#include <boost/program_options.hpp>
#include <exception>
#include <ostream>
#include <stdexcept>

#include "base/console_log.h"

namespace po = boost::program_options;

namespace {

constexpr unsigned kHelpLineLength = 80;

using StringList = std::vector<std::string>;

// The options a user sees, in the order the help text lists them.
po::options_description makeOpenOptions() {
    po::options_description open("Open options", kHelpLineLength);
    auto add = open.add_options();
    add("help,h", "produce help message");
    add("image,i", po::value<std::string>(), "specify image file");
    add("binary,b", po::value<StringList>(), "binary files to add");
    add("start_binary,B", po::value<StringList>(), "binary files to add and automatically start");
    add("vnc,v", po::value<std::string>(), "vnc package to be added");
    add("package,p", po::value<StringList>(), "software package to be added");
    add("start_package,P", po::value<StringList>(), "package to be added and automatically start");
    add("disable_firewall,f", "disable firewall");
    add("storage_driver,d", po::value<StringList>(), "add storage device driver");
    add("network_driver,n", po::value<StringList>(), "add network device driver");
    add("tmp,t", po::value<std::string>(), "specify a temporary directory");
    return open;
}

// The direct add options: accepted, never shown.
po::options_description makeHiddenOptions() {
    po::options_description hidden("Hidden options", kHelpLineLength);
    auto add = hidden.add_options();
    add("dir,X", po::value<StringList>(), "add directory");
    add("file,Y", po::value<StringList>(), "add file");
    return hidden;
}

// The options for scripts, long names only: none of them makes an abbreviation that is
// valid without them ambiguous (--v stays --vnc, --d was ambiguous already).
po::options_description makeScriptOptions() {
    po::options_description script("Script options", kHelpLineLength);
    auto add = script.add_options();
    add("on-clash", po::value<std::string>(), "answer to name clashes: ask|abort|overwrite|rename");
    add("dry-run", "check everything and report what would be written, write nothing");
    add("list", "print the image's tree and boot catalog entries");
    return script;
}

// Exactly --version or -V as the only argument. The name is no option of the table, so
// that --v keeps abbreviating --vnc.
bool asksForVersion(int argc, const char* const argv[]) {
    if (argc != 2) {
        return false;
    }
    const std::string argument = argv[1];
    return argument == "--version" || argument == "-V";
}

void showHelp(const po::options_description& open, std::ostream& helpOut) {
    helpOut << open << std::endl;
}

// Copies a string option into `target`; true when the option was given.
bool takeString(const po::variables_map& vm, const char* name, std::string& target) {
    if (vm.count(name) == 0) {
        return false;
    }
    target = vm[name].as<std::string>();
    return true;
}

bool takeList(const po::variables_map& vm, const char* name, StringList& target) {
    if (vm.count(name) == 0) {
        return false;
    }
    target = vm[name].as<StringList>();
    return true;
}

}  // namespace

ParseOutcome parseCommandLine(int argc, const char* const argv[], RunOptions& options,
                              std::ostream& helpOut) {
    if (asksForVersion(argc, argv)) {
        helpOut << "winpe-iso " << WINPE_VERSION << std::endl;
        return ParseOutcome::versionShown;
    }
    try {
        const po::options_description open = makeOpenOptions();
        const po::options_description hidden = makeHiddenOptions();
        const po::options_description script = makeScriptOptions();
        po::options_description all("All options", kHelpLineLength);
        all.add(open).add(hidden).add(script);

        po::variables_map vm;
        po::store(po::parse_command_line(argc, argv, all), vm);
        po::notify(vm);

        if (vm.count("help") != 0) {
            showHelp(open, helpOut);
            return ParseOutcome::helpShown;
        }

        RunOptions taken;
        bool useful = false;
        const bool haveImage = takeString(vm, "image", taken.imagePath);
        useful |= takeList(vm, "storage_driver", taken.edits.storageDrivers);
        useful |= takeList(vm, "network_driver", taken.edits.networkDrivers);
        taken.workDirectoryGiven = takeString(vm, "tmp", taken.workDirectory);
        useful |= takeString(vm, "vnc", taken.edits.vncValue);
        useful |= takeList(vm, "binary", taken.edits.binaries);
        useful |= takeList(vm, "start_binary", taken.edits.startBinaries);
        useful |= takeList(vm, "package", taken.edits.packages);
        useful |= takeList(vm, "start_package", taken.edits.startPackages);
        if (vm.count("disable_firewall") != 0) {
            taken.edits.firewallOff = true;
            useful = true;
        }
        useful |= takeList(vm, "dir", taken.edits.directories);
        useful |= takeList(vm, "file", taken.edits.files);
        std::string policy;
        if (takeString(vm, "on-clash", policy) && !clash_policy::parse(policy, taken.clashPolicy)) {
            throw std::runtime_error("--on-clash takes ask, abort, overwrite or rename, not '" +
                                     policy + "'");
        }
        taken.dryRun = vm.count("dry-run") != 0;
        taken.listImage = vm.count("list") != 0;
        if (taken.listImage) {
            if (!haveImage) {
                throw std::runtime_error("--list needs the image to list (-i)");
            }
            if (useful || taken.dryRun) {
                throw std::runtime_error("--list takes no changes and no --dry-run");
            }
            useful = true;
        }

        if (!useful) {
            if (!haveImage) {
                showHelp(open, helpOut);
                return ParseOutcome::helpShown;
            }
            throw std::runtime_error("should specify at least one useful option");
        }
        options = std::move(taken);
        return ParseOutcome::run;
    } catch (const std::exception& e) {
        logWarning("parsing option error, exeption: %s", e.what());
        return ParseOutcome::failed;
    }
}
