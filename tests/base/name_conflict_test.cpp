#include "base/name_conflict.h"

#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "base/clash_policy.h"
#include "base/letter_case.h"
#include "support/console_capture.h"
#include "support/test_files.h"

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

namespace {

// Sets the process's clash policy while it lives.
class PolicyScope : test_support::Unique {
  public:
    explicit PolicyScope(ClashPolicy policy) { clash_policy::set(policy); }
    ~PolicyScope() { clash_policy::set(ClashPolicy::ask); }
};

}  // namespace

TEST(NameConflict, APolicyAnswersWithoutReadingAndLogsTheQuestionAndItsAnswer) {
    const std::string question = std::string(kTakenLine) + kChangeLine;
    using Outcome = NameConflictOutcome;
    const struct {
        ClashPolicy policy;
        OverwriteOffer offer;
        const char* taken;  // the names taken, space separated
        Outcome outcome;
        const char* name;
        const char* answer;
    } cases[] = {
        {ClashPolicy::abort, OverwriteOffer::yes, "A.TXT", Outcome::aborted, "A.TXT",
         "Log: --on-clash abort: abort\n"},
        {ClashPolicy::overwrite, OverwriteOffer::yes, "A.TXT", Outcome::overwrite, "A.TXT",
         "Log: --on-clash overwrite: overwrite A.TXT\n"},
        {ClashPolicy::overwrite, OverwriteOffer::no, "A.TXT", Outcome::aborted, "A.TXT",
         "Log: --on-clash overwrite: overwrite is not offered, abort\n"},
        // A_2.TXT is taken and "bad:name" style candidates never come up; A_3.TXT is free.
        {ClashPolicy::rename, OverwriteOffer::yes, "A.TXT A_2.TXT", Outcome::free, "A_3.TXT",
         "Log: --on-clash rename: change name A.TXT to A_3.TXT\n"},
    };
    for (const auto& c : cases) {
        const PolicyScope scope(c.policy);
        // The answers on standard input would overwrite or change the name: unread.
        const std::vector<std::string> taken = test_support::words(c.taken);
        const Dialogue dialogue = run("A.TXT", {taken.begin(), taken.end()}, "o c B.TXT", c.offer);
        EXPECT_EQ(dialogue.outcome, c.outcome) << c.answer;
        EXPECT_EQ(dialogue.name, c.name);
        EXPECT_EQ(dialogue.out, question +
                                    (c.offer == OverwriteOffer::yes ? kKeysWithOverwrite
                                                                    : kKeysWithoutOverwrite) +
                                    c.answer);
        EXPECT_EQ(dialogue.err, c.outcome == NameConflictOutcome::aborted
                                    ? "Warning: adding A.TXT failed - aborted\n"
                                    : "");
    }
}

TEST(ClashPolicy, NamesAndTheFirstFreeNameThatPassesTheRules) {
    for (const ClashPolicy policy :
         {ClashPolicy::ask, ClashPolicy::abort, ClashPolicy::overwrite, ClashPolicy::rename}) {
        ClashPolicy parsed = ClashPolicy::ask;
        EXPECT_TRUE(clash_policy::parse(clash_policy::name(policy), parsed));
        EXPECT_EQ(parsed, policy);
    }
    ClashPolicy untouched = ClashPolicy::rename;
    EXPECT_FALSE(clash_policy::parse("Abort", untouched));
    EXPECT_EQ(untouched, ClashPolicy::rename);

    const auto firstOf = [](const std::string& name, const std::set<std::string>& refused) {
        return clash_policy::firstFreeName(name, [&refused](const std::string& candidate) {
            return refused.count(candidate) == 0;
        });
    };
    EXPECT_EQ(firstOf("README.TXT", {}), "README_2.TXT");
    EXPECT_EQ(firstOf("README.TXT", {"README_2.TXT", "README_3.TXT"}), "README_4.TXT");
    EXPECT_EQ(firstOf("ARCHIVE.TAR.GZ", {}), "ARCHIVE.TAR_2.GZ") << "the extension is the last";
    EXPECT_EQ(firstOf("kit", {}), "kit_2");
    EXPECT_EQ(firstOf(".profile", {}), ".profile_2") << "a leading dot starts no extension";
    EXPECT_EQ(clash_policy::firstFreeName("A", [](const std::string&) { return false; }), "");
}
