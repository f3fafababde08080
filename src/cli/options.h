// The command line of a run: the option table, parsing and the help text.
#pragma once

#include <iosfwd>
#include <string>

#include "base/clash_policy.h"
#include "editor/edit_request.h"

// The values of one run, each list in command-line order; strings and lists are
// empty when their option is absent.
struct RunOptions {
    std::string imagePath;
    std::string workDirectory;
    bool workDirectoryGiven = false;  // -t was given, also with an empty value
    EditRequest edits;                // what the run changes on the CD
    // The options for scripts, outside the help text.
    ClashPolicy clashPolicy = ClashPolicy::ask;  // --on-clash
    bool dryRun = false;                         // --dry-run: check and report, write nothing
    bool listImage = false;                      // --list: print the image's tree and boot entries
};

enum class ParseOutcome {
    run,           // the values are complete and a run follows
    helpShown,     // the help text was written; the program ends with exit code 0
    versionShown,  // the version line was written; the program ends with exit code 0
    failed         // a parse error was reported; the program ends with exit code 1
};

// Parses the arguments into `options`. Writes the help text to `helpOut` when it is
// asked for or when nothing useful is asked, and the version line when --version or -V
// is the only argument; reports errors with logWarning.
ParseOutcome parseCommandLine(int argc, const char* const argv[], RunOptions& options,
                              std::ostream& helpOut);
