// The question asked when the name of an entry about to be added is taken: the user
// changes the name, overwrites the entry (where that is offered) or aborts.
#pragma once

#include <functional>
#include <string>

// The texts of one name-conflict dialogue.
struct NameConflictTexts {
    const char* changeLine;    // what to change
    const char* abortWarning;  // logged with the current name when the user aborts
    const char* nameRequest;   // asks for a new name, with the current name
};

// Whether the user may keep the name and replace what holds it.
enum class OverwriteOffer { no, yes };

enum class NameConflictOutcome {
    free,       // `name` (possibly changed) is not taken
    overwrite,  // the user chose to replace the entry that holds `name`
    aborted     // the user aborted; the abort warning is logged
};

// Asks the user while `taken(name)` holds: the key 'c' reads a new name, checked by
// `requireName` (which throws when the name is refused), 'o' chooses to overwrite when
// offered, any other key, the end of input or an interrupt aborts.
NameConflictOutcome resolveNameConflict(std::string& name,
                                        const std::function<bool(const std::string&)>& taken,
                                        const std::function<void(const std::string&)>& requireName,
                                        const NameConflictTexts& texts, OverwriteOffer offer);
