#include "platform/temp_name.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <regex>
#include <set>

TEST(TempName, FormsWpeHexTmpInsideTheTemporaryDirectoryWithoutCreatingIt) {
    EXPECT_EQ(temp_name::formLeafName(0x1A2B), "WPE1A2B.TMP");
    EXPECT_EQ(temp_name::formLeafName(0x12345), "WPE2345.TMP");
    EXPECT_NE(temp_name::drawNonZeroNumber(), 0u);
    const std::string path = temp_name::formTempPath(0xBEEF);
    EXPECT_EQ(boost::filesystem::path(path).parent_path(),
              boost::filesystem::temp_directory_path());
    EXPECT_TRUE(std::regex_match(boost::filesystem::path(path).filename().string(),
                                 std::regex("WPE[0-9A-F]{1,4}\\.TMP")));
}

TEST(TempName, WorkDirectoriesAreNewPrivateAndNeverShared) {
    std::set<std::string> made;
    for (int i = 0; i < 20; ++i) {
        const std::string path = temp_name::createWorkDirectory();
        EXPECT_TRUE(made.insert(path).second) << "an existing path was taken over: " << path;
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
    for (const std::string& path : made) {
        boost::filesystem::remove(path);
    }
}
