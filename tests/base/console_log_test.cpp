#include "base/console_log.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/console_answer.h"
#include "support/console_capture.h"

TEST(ConsoleLog, InfoGoesToStandardOutputAndWarningToStandardError) {
    const test_support::Console console = test_support::captureConsole([] {
        logInfo("%s", "");
        logInfo("adding file %s ...", "a.exe");
        logWarning("can not find binary file %s", "C:\\bin\\tool.exe");
    });
    EXPECT_EQ(console.out, "Log: \nLog: adding file a.exe ...\n");
    EXPECT_EQ(console.err, "Warning: can not find binary file C:\\bin\\tool.exe\n");
}

TEST(ConsoleLog, FormatTextWritesNothingAndKeepsLongTexts) {
    const std::string longPath(5000, 'p');
    const test_support::Console console = test_support::captureConsole([&] {
        EXPECT_EQ(formatText("block %u of %s", 17u, longPath.c_str()), "block 17 of " + longPath);
        EXPECT_EQ(formatText("%s", ""), "");
    });
    EXPECT_EQ(console.out + console.err, "");
}

TEST(ConsoleAnswer, KeysSkipWhiteSpaceAndEndOfInputAborts) {
    std::istringstream in(" c\nnewname rest\nC");
    EXPECT_EQ(readAnswerKey(in), 'c');
    std::string word;
    EXPECT_TRUE(readAnswerWord(word, in));
    EXPECT_EQ(word, "newname");
    EXPECT_EQ(readAnswerKey(in), 'r') << "typed-ahead characters are seen by the next read";
    EXPECT_TRUE(readAnswerWord(word, in));
    EXPECT_EQ(word, "est");
    EXPECT_EQ(readAnswerKey(in), 'C');
    EXPECT_EQ(readAnswerKey(in), '\0');
    EXPECT_FALSE(readAnswerWord(word, in));
    EXPECT_EQ(word, "est") << "a failed read leaves the word alone";
}
