#include "iso/image_path.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(Separators, TrimTrailingAndLeading) {
    std::string path = "C:\\work\\/";
    trimTrailingSeparators(path);
    EXPECT_EQ(path, "C:\\work");
    path = "\\";
    trimTrailingSeparators(path);
    EXPECT_EQ(path, "");
    path = "C:\\";
    trimTrailingSeparators(path);
    EXPECT_EQ(path, "C:");
    path = "";
    trimTrailingSeparators(path);
    EXPECT_EQ(path, "");
    path = "a\\b";
    trimTrailingSeparators(path);
    EXPECT_EQ(path, "a\\b");

    path = "\\/I386\\\\X\\";
    trimLeadingSeparators(path);
    EXPECT_EQ(path, "I386\\\\X\\");
}

TEST(ImagePath, SplitFollowsTheWindowsRules) {
    using image_path::split;
    EXPECT_EQ(split("I386\\SYSTEM32/CONFIG"),
              (std::vector<std::string>{"I386", "SYSTEM32", "CONFIG"}));
    EXPECT_EQ(split("I386\\.\\X"), (std::vector<std::string>{"I386", "X"}));
    EXPECT_EQ(split("."), (std::vector<std::string>{"."}));
    EXPECT_EQ(split("A\\..\\B"), (std::vector<std::string>{"A", "..", "B"}));
    EXPECT_EQ(split("I386\\"), (std::vector<std::string>{"I386"}));
    EXPECT_EQ(split("I386\\SYSTEM32/"), (std::vector<std::string>{"I386", "SYSTEM32"}));
    EXPECT_THROW(split("I386\\\\"), std::invalid_argument);
    EXPECT_THROW(split("A\\B:C"), std::invalid_argument);
    EXPECT_THROW(split("A\\\\B"), std::invalid_argument);
    EXPECT_THROW(split("NAME."), std::invalid_argument);
}

TEST(ImagePath, JoinLeafBranch) {
    EXPECT_EQ(image_path::join({"I386", "SYSTEM32"}), "I386\\SYSTEM32");
    EXPECT_EQ(image_path::join("", "I386"), "I386");
    EXPECT_EQ(image_path::join("I386", "SYSTEM32"), "I386\\SYSTEM32");
    EXPECT_EQ(image_path::leaf("\\PROGRAMS\\tool.exe"), "tool.exe");
    EXPECT_EQ(image_path::leaf("C:\\data\\tools\\"), "tools");
    EXPECT_EQ(image_path::leaf("\\"), "");
    EXPECT_EQ(image_path::branch("\\I386\\SYSTEM32\\X"), "I386\\SYSTEM32");
    EXPECT_EQ(image_path::branch("/X"), "");
}

TEST(ImagePath, EntryNamesRefuseDotsSeparatorsAndReservedCharacters) {
    EXPECT_TRUE(image_path::isValidEntryName("WINBOM.INI"));
    EXPECT_TRUE(image_path::isValidEntryName("readme.txt;1"));
    EXPECT_FALSE(image_path::isValidEntryName("."));
    EXPECT_FALSE(image_path::isValidEntryName(".."));
    EXPECT_FALSE(image_path::isValidEntryName(""));
    EXPECT_FALSE(image_path::isValidEntryName("a\\b"));
    EXPECT_FALSE(image_path::isValidEntryName("a/b"));
    EXPECT_FALSE(image_path::isValidEntryName("trailing."));
    EXPECT_FALSE(image_path::isValidEntryName("x<y"));
    EXPECT_FALSE(image_path::isValidEntryName(std::string("ctl\x01", 4)));
}
