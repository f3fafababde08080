#include "base/console_log.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/console_answer.h"

TEST(ConsoleLog, InfoGoesToStandardOutputAndWarningToStandardError) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    logInfo("%s", "");
    logInfo("adding file %s ...", "a.exe");
    logWarning("can not find binary file %s", "C:\\bin\\tool.exe");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "Log: \nLog: adding file a.exe ...\n");
    EXPECT_EQ(err, "Warning: can not find binary file C:\\bin\\tool.exe\n");
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
