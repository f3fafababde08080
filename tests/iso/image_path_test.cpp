#include "iso/image_path.h"

#include "iso/entry_name.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

TEST(Separators, TrimTrailingAndLeading) {
    for (const auto& [given, trimmed] : std::vector<std::pair<std::string, std::string>>{
             {"C:\\work\\/", "C:\\work"}, {"\\", ""}, {"C:\\", "C:"}, {"", ""}, {"a\\b", "a\\b"}}) {
        std::string path = given;
        trimTrailingSeparators(path);
        EXPECT_EQ(path, trimmed) << given;
    }

    std::string path = "\\/I386\\\\X\\";
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
    for (const auto& [name, valid] :
         std::vector<std::pair<std::string, bool>>{{"WINBOM.INI", true},
                                                   {"readme.txt;1", true},
                                                   {".", false},
                                                   {"..", false},
                                                   {"", false},
                                                   {"a\\b", false},
                                                   {"a/b", false},
                                                   {"trailing.", false},
                                                   {"x<y", false},
                                                   {std::string("ctl\x01", 4), false}}) {
        EXPECT_EQ(image_path::isValidEntryName(name), valid) << name;
    }
}

TEST(EntryName, DecorationsAndLetterCase) {
    using entry_name::LetterCase;
    struct Case {
        const char* name;
        const char* undecorated;
    };
    for (const Case& c : {Case{"WINBOM.INI;1", "WINBOM.INI"}, Case{"DEFAULT.;1", "DEFAULT"},
                          Case{"DEFAULT.", "DEFAULT"}, Case{"A;32767", "A"}, Case{"A;", "A"},
                          Case{"A..;1", "A."}, Case{"A;1;1", "A;1"}, Case{"A;X", "A;X"},
                          Case{"1;2", "1"}, Case{"PLAIN", "PLAIN"}, Case{";1", ""}}) {
        EXPECT_EQ(entry_name::undecorated(c.name), c.undecorated) << c.name;
    }
    EXPECT_TRUE(entry_name::same("WINBOM.INI;1", "WINBOM.INI", LetterCase::exact));
    EXPECT_TRUE(entry_name::same("DEFAULT.;1", "DEFAULT", LetterCase::exact));
    EXPECT_FALSE(entry_name::same("I386", "i386", LetterCase::exact));
    EXPECT_TRUE(entry_name::same("I386", "i386", LetterCase::ignored));
    EXPECT_TRUE(entry_name::same("README.TXT;1", "readme.txt", LetterCase::ignored));
    EXPECT_FALSE(entry_name::same("README.TXT", "README.TX", LetterCase::ignored));
    // Only ASCII letters fold: bytes above 0x7F stay as they are.
    EXPECT_FALSE(entry_name::same("\xC4", "\xE4", LetterCase::ignored));
}
