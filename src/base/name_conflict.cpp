#include "base/name_conflict.h"

#include "base/console_answer.h"
#include "base/console_log.h"

NameConflictOutcome resolveNameConflict(std::string& name,
                                        const std::function<bool(const std::string&)>& taken,
                                        const std::function<void(const std::string&)>& requireName,
                                        const NameConflictTexts& texts, OverwriteOffer offer) {
    const bool overwriteOffered = offer == OverwriteOffer::yes;
    while (taken(name)) {
        logInfo("a file or directory with same name exists");
        logInfo("%s", texts.changeLine);
        logInfo("%s", overwriteOffered
                          ? "press 'c' to change name, 'o' to overwrite, other key to abort"
                          : "press 'c' to change name, other key to abort");
        const char key = readAnswerKey();
        if (key == 'o' && overwriteOffered) {
            return NameConflictOutcome::overwrite;
        }
        if (key != 'c') {
            logWarning(texts.abortWarning, name.c_str());
            return NameConflictOutcome::aborted;
        }
        logInfo(texts.nameRequest, name.c_str());
        std::string typed;
        if (!readAnswerWord(typed)) {
            // No more input: nobody is there to answer, so the add ends here.
            logWarning(texts.abortWarning, name.c_str());
            return NameConflictOutcome::aborted;
        }
        requireName(typed);
        name = typed;
    }
    return NameConflictOutcome::free;
}
