#include "editor/text_lines.h"

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace {

using Lines = text_lines::Lines;

TEST(TextLines, SplitsAtLfAndDropsTheCrBeforeIt) {
    test_support::TempDir temp;
    struct Case {
        std::string content;
        Lines lines;
    };
    const Case cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b", ""}},
        {"a\nb", {"a", "b"}},
        {"a\r\n\r\nb\n", {"a", "", "b", ""}},
        // Only a CR directly before the LF belongs to the line end.
        {"a\rb\r\r\nc\r", {"a\rb\r", "c\r"}},
        {std::string("x\0y\n", 4), {std::string("x\0y", 3), ""}},
    };
    for (const Case& c : cases) {
        test_support::writeFile(temp / "f", c.content);
        Lines lines = {"left over"};
        ASSERT_TRUE(text_lines::read(temp / "f", lines));
        EXPECT_EQ(c.lines, lines) << testing::PrintToString(c.content);
    }
    Lines lines;
    EXPECT_FALSE(text_lines::read(temp / "missing", lines));
}

TEST(TextLines, WritesCrLfAndLeavesOutAnEmptyLastLineOnRequest) {
    using text_lines::EmptyLastLine;
    test_support::TempDir temp;
    const std::string path = temp / "f";
    test_support::writeFile(path, "old content that is longer");
    ASSERT_TRUE(text_lines::write(path, {"a", "", "b", ""}, EmptyLastLine::dropped));
    EXPECT_EQ("a\r\n\r\nb\r\n", test_support::readFile(path));
    ASSERT_TRUE(text_lines::write(path, {"a", "", "b", ""}, EmptyLastLine::written));
    EXPECT_EQ("a\r\n\r\nb\r\n\r\n", test_support::readFile(path));
    ASSERT_TRUE(text_lines::write(path, {"a", "b"}, EmptyLastLine::dropped));
    EXPECT_EQ("a\r\nb\r\n", test_support::readFile(path));
    ASSERT_TRUE(text_lines::write(path, {""}, EmptyLastLine::dropped));
    EXPECT_EQ("", test_support::readFile(path));
    ASSERT_TRUE(text_lines::write(path, {}, EmptyLastLine::written));
    EXPECT_EQ("", test_support::readFile(path));
    EXPECT_FALSE(text_lines::write(temp / "no/such/dir/f", {"a"}, EmptyLastLine::dropped));
}

}  // namespace
