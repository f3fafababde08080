#include "base/name_conflict.h"

#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "base/letter_case.h"
#include "support/console_capture.h"

namespace {

const NameConflictTexts kTexts = {"change the name or abort", "adding %s failed - aborted",
                                  "please enter the new name for %s"};

const char* const kTakenLine = "Log: a file or directory with same name exists\n";
const char* const kChangeLine = "Log: change the name or abort\n";
const char* const kKeysWithoutOverwrite = "Log: press 'c' to change name, other key to abort\n";
const char* const kKeysWithOverwrite =
    "Log: press 'c' to change name, 'o' to overwrite, other key to abort\n";

// One dialogue with `answers` on standard input, against names taken in `taken`.
struct Dialogue {
    NameConflictOutcome outcome = NameConflictOutcome::free;
    std::string name;
    std::string out;
    std::string err;
    std::vector<std::string> checked;  // the names given to the name check
};

Dialogue run(const std::string& start, const std::set<std::string>& taken,
             const std::string& answers, OverwriteOffer offer) {
    Dialogue dialogue;
    dialogue.name = start;
    test_support::StandardInput input(answers);
    test_support::ConsoleCapture capture;
    dialogue.outcome = resolveNameConflict(
        dialogue.name, [&taken](const std::string& name) { return taken.count(name) != 0; },
        [&dialogue](const std::string& name) {
            dialogue.checked.push_back(name);
            if (name == "bad:name") {
                throw std::invalid_argument("refused " + name);
            }
        },
        kTexts, offer);
    const test_support::Console console = capture.finish();
    dialogue.out = console.out;
    dialogue.err = console.err;
    return dialogue;
}

}  // namespace

TEST(NameConflict, AFreeNameAsksNothingAndChangedNamesAreAskedAgain) {
    const Dialogue free = run("NEW", {"OLD"}, "", OverwriteOffer::no);
    EXPECT_EQ(free.outcome, NameConflictOutcome::free);
    EXPECT_EQ(free.out, "");
    EXPECT_TRUE(free.checked.empty());

    const Dialogue changed = run("A", {"A", "B"}, "c B c C", OverwriteOffer::no);
    EXPECT_EQ(changed.outcome, NameConflictOutcome::free);
    EXPECT_EQ(changed.name, "C");
    EXPECT_EQ(changed.checked, (std::vector<std::string>{"B", "C"}));
    const std::string round = std::string(kTakenLine) + kChangeLine + kKeysWithoutOverwrite;
    EXPECT_EQ(changed.out, round + "Log: please enter the new name for A\n" + round +
                               "Log: please enter the new name for B\n");
    EXPECT_EQ(changed.err, "");
}

TEST(NameConflict, OverwriteOnlyWhereOfferedAndEveryOtherAnswerAborts) {
    const Dialogue overwrite = run("A", {"A"}, "o", OverwriteOffer::yes);
    EXPECT_EQ(overwrite.outcome, NameConflictOutcome::overwrite);
    EXPECT_EQ(overwrite.name, "A");
    EXPECT_EQ(overwrite.out, std::string(kTakenLine) + kChangeLine + kKeysWithOverwrite);
    EXPECT_EQ(overwrite.err, "");

    const Dialogue notOffered = run("A", {"A"}, "o", OverwriteOffer::no);
    EXPECT_EQ(notOffered.outcome, NameConflictOutcome::aborted);
    EXPECT_EQ(notOffered.err, "Warning: adding A failed - aborted\n");

    for (const std::string answers : {"", "x", "c"}) {
        const Dialogue aborted = run("A", {"A"}, answers, OverwriteOffer::yes);
        EXPECT_EQ(aborted.outcome, NameConflictOutcome::aborted) << answers;
        EXPECT_EQ(aborted.name, "A");
        EXPECT_EQ(aborted.err, "Warning: adding A failed - aborted\n") << answers;
    }
}

TEST(NameConflict, ARefusedNameEndsTheDialogueWithTheCheckFailure) {
    Dialogue dialogue;
    EXPECT_THROW(dialogue = run("A", {"A"}, "c bad:name", OverwriteOffer::no),
                 std::invalid_argument);
}

TEST(LetterCase, ChangesOnlyLetters) {
    EXPECT_EQ(upperCase("raid-1.sys"), "RAID-1.SYS");
    EXPECT_EQ(lowerCase("NET.INF"), "net.inf");
    EXPECT_EQ(upperCase(std::string("a\xe4", 2)), std::string("A\xe4", 2));
}
