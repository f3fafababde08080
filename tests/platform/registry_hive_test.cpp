#include "platform/registry_hive.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <boost/filesystem.hpp>

#include "support/hive_check.h"
#include "support/test_files.h"

namespace fs = boost::filesystem;
using test_support::readBytes;

namespace {

class RegistryHiveTest : public ::testing::Test {
  protected:
    void SetUp() override { fs::copy_file(WINPE_SOURCE_DIR "/tests/fixtures/minimal.hive", hive); }
    test_support::TempDir temp;
    const std::string hive = temp / "DEFAULT";
};

TEST_F(RegistryHiveTest, CreatesKeysSetsValuesAndCommitsThemIntoTheFile) {
    RegistryHive registry;
    ASSERT_TRUE(registry.open(hive));
    RegistryHive::Key outer = 0;
    RegistryHive::Key inner = 0;
    ASSERT_TRUE(registry.openOrCreateKey("Software\\Vendor", outer));
    ASSERT_TRUE(registry.openOrCreateKey("\\Software\\Vendor\\Tool\\", inner));
    EXPECT_NE(outer, inner);
    ASSERT_TRUE(registry.setBinaryValue(inner, "Blob", {1, 2, 0xFF}));
    ASSERT_TRUE(registry.setStringValue(inner, "Mode", "On"));
    // Setting a value again replaces it instead of adding a second one.
    ASSERT_TRUE(registry.setStringValue(inner, "Mode", "Off"));
    ASSERT_TRUE(registry.commit());
    ASSERT_TRUE(registry.close());

    EXPECT_EQ(std::vector<std::string>{"Software"}, hive_check::listKeys(hive, "\\"));
    EXPECT_EQ(std::vector<std::string>{"Tool"}, hive_check::listKeys(hive, "\\Software\\Vendor"));
    EXPECT_EQ("\"Blob\"=hex(3):01,02,ff\n\"Mode\"=\"Off\"\n",
              hive_check::listValues(hive, "\\Software\\Vendor\\Tool"));
    const hive_check::Value mode = hive_check::rawValue(hive, "\\Software\\Vendor\\Tool", "Mode");
    ASSERT_TRUE(mode.found);
    EXPECT_EQ(hive_t_REG_SZ, mode.type);
    EXPECT_EQ((std::vector<uint8_t>{'O', 0, 'f', 0, 'f', 0, 0, 0}), mode.data);
}

TEST_F(RegistryHiveTest, ExistingKeysAreReusedNotDuplicated) {
    for (int pass = 0; pass < 2; ++pass) {
        RegistryHive registry;
        ASSERT_TRUE(registry.open(hive));
        RegistryHive::Key key = 0;
        ASSERT_TRUE(registry.openOrCreateKey("Software\\Vendor", key));
        ASSERT_TRUE(registry.setStringValue(key, "Pass", pass == 0 ? "first" : "second"));
        ASSERT_TRUE(registry.commit());
    }
    EXPECT_EQ(std::vector<std::string>{"Software"}, hive_check::listKeys(hive, "\\"));
    EXPECT_EQ(std::vector<std::string>{"Vendor"}, hive_check::listKeys(hive, "\\Software"));
    EXPECT_EQ("\"Pass\"=\"second\"\n", hive_check::listValues(hive, "\\Software\\Vendor"));
}

TEST_F(RegistryHiveTest, ClosingWithoutCommitLeavesTheFileAsItWas) {
    const std::vector<uint8_t> before = readBytes(hive);
    {
        RegistryHive registry;
        ASSERT_TRUE(registry.open(hive));
        RegistryHive::Key key = 0;
        ASSERT_TRUE(registry.openOrCreateKey("Software", key));
    }
    EXPECT_EQ(before, readBytes(hive));
}

TEST_F(RegistryHiveTest, RefusesFilesThatAreNoHiveAndOperationsWithoutAHive) {
    test_support::writeFile(temp / "text", std::string(8192, 'x'));
    RegistryHive registry;
    EXPECT_FALSE(registry.open(temp / "text"));
    EXPECT_FALSE(registry.open(temp / "missing"));
    EXPECT_FALSE(registry.isOpen());
    RegistryHive::Key key = 0;
    EXPECT_FALSE(registry.openOrCreateKey("Software", key));
    EXPECT_FALSE(registry.setStringValue(key, "x", "y"));
    EXPECT_FALSE(registry.commit());
    EXPECT_TRUE(registry.close());
}

}  // namespace
