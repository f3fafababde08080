#include "base/name_conflict.h"

#include <cstdio>
#include <exception>

#include "base/clash_policy.h"
#include "base/console_answer.h"
#include "base/console_log.h"
#include "platform/terminal.h"

namespace {

// The lines of the question. When the answer is typed on a terminal while standard
// output goes elsewhere (a log file), the question is shown on standard error as well,
// so that whoever types sees what is asked.
class Question {
  public:
    explicit Question(bool answeredHere)
        : mirrored_(answeredHere && terminal::inputIsTerminal() && !terminal::outputIsTerminal()) {}

    void line(const char* text) const { write("%s", text); }

    // `format` holds one %s.
    void line(const char* format, const std::string& name) const { write(format, name.c_str()); }

  private:
    void write(const char* format, const char* argument) const {
        logInfo(format, argument);
        if (mirrored_) {
            std::fputs("Log: ", stderr);
            std::fprintf(stderr, format, argument);
            std::fputc('\n', stderr);
            std::fflush(stderr);
        }
    }

    bool mirrored_;
};

NameConflictOutcome abortAdd(const std::string& name, const NameConflictTexts& texts) {
    logWarning(texts.abortWarning, name.c_str());
    return NameConflictOutcome::aborted;
}

// The answer of a policy chosen up front, logged beside the question it answers.
NameConflictOutcome answerByPolicy(ClashPolicy policy, std::string& name,
                                   const std::function<bool(const std::string&)>& taken,
                                   const std::function<void(const std::string&)>& requireName,
                                   const NameConflictTexts& texts, bool overwriteOffered) {
    const char* policyName = clash_policy::name(policy);
    if (policy == ClashPolicy::overwrite && overwriteOffered) {
        logInfo("--on-clash %s: overwrite %s", policyName, name.c_str());
        return NameConflictOutcome::overwrite;
    }
    if (policy == ClashPolicy::rename) {
        const std::string renamed =
            clash_policy::firstFreeName(name, [&](const std::string& candidate) {
                try {
                    requireName(candidate);
                } catch (const std::exception&) {
                    return false;
                }
                return !taken(candidate);
            });
        if (!renamed.empty()) {
            logInfo("--on-clash %s: change name %s to %s", policyName, name.c_str(),
                    renamed.c_str());
            name = renamed;
            return NameConflictOutcome::free;
        }
        logInfo("--on-clash %s: no free name for %s, abort", policyName, name.c_str());
        return abortAdd(name, texts);
    }
    logInfo(policy == ClashPolicy::overwrite ? "--on-clash %s: overwrite is not offered, abort"
                                             : "--on-clash %s: abort",
            policyName);
    return abortAdd(name, texts);
}

}  // namespace

NameConflictOutcome resolveNameConflict(std::string& name,
                                        const std::function<bool(const std::string&)>& taken,
                                        const std::function<void(const std::string&)>& requireName,
                                        const NameConflictTexts& texts, OverwriteOffer offer) {
    const bool overwriteOffered = offer == OverwriteOffer::yes;
    const ClashPolicy policy = clash_policy::current();
    const Question question(policy == ClashPolicy::ask);
    while (taken(name)) {
        question.line("a file or directory with same name exists");
        question.line(texts.changeLine);
        question.line(overwriteOffered
                          ? "press 'c' to change name, 'o' to overwrite, other key to abort"
                          : "press 'c' to change name, other key to abort");
        if (policy != ClashPolicy::ask) {
            return answerByPolicy(policy, name, taken, requireName, texts, overwriteOffered);
        }
        const char key = readAnswerKey();
        if (key == 'o' && overwriteOffered) {
            return NameConflictOutcome::overwrite;
        }
        if (key != 'c') {
            return abortAdd(name, texts);
        }
        question.line(texts.nameRequest, name);
        std::string typed;
        if (!readAnswerWord(typed)) {
            // No more input: nobody is there to answer, so the add ends here.
            return abortAdd(name, texts);
        }
        requireName(typed);
        name = typed;
    }
    return NameConflictOutcome::free;
}
