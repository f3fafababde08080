// The format and existence checks of the option values.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "editor/editor_fixture.h"

namespace {

class OptionChecksTest : public EditorTest {
  protected:
    void SetUp() override {
        EditorTest::SetUp();
        buildImage();
        test_support::writeFile(source("tool.exe"), "x");
        test_support::writeFile(source("notes.txt"), "x");
        boost::filesystem::create_directories(source("pkg"));
        boost::filesystem::create_directories(source("pkg%run.exe"));
    }

    // The result of the editor's `check` for `options`; `console` gets what it wrote.
    int check(int (WinpeEditor::*step)(), const Options& options, Console& console) {
        int result = -1;
        console = edited([&](WinpeEditor& editor) { result = (editor.*step)(); }, options);
        return result;
    }
    int checkOptions(const Options& options, Console& console) {
        return check(&WinpeEditor::checkOptions, options, console);
    }
    int checkExistence(const Options& options, Console& console) {
        return check(&WinpeEditor::checkFileExistence, options, console);
    }
};

TEST_F(OptionChecksTest, FormatsNeedAPercentSign) {
    Console console;
    Options options;
    options.startPackages = {source("pkg") + "%run.exe", source("pkg")};
    options.vncValue = "novnc";
    EXPECT_EQ(1, checkOptions(options, console));
    EXPECT_EQ("Log: checking options ...\n", console.out);
    EXPECT_EQ("Warning: invalid option format: " + source("pkg") +
                  "\nWarning: need to use '%' to specify the start up executable\n",
              console.err);

    options.startPackages = {"a%b"};
    EXPECT_EQ(1, checkOptions(options, console));
    EXPECT_EQ(
        "Warning: invalid option format: novnc\n"
        "Warning: need to use '%' to specify the start up executable\n",
        console.err);

    // An empty vnc value is not checked.
    options.vncValue = "";
    EXPECT_EQ(0, checkOptions(options, console));
    EXPECT_EQ("", console.err);
    options.vncValue = "vnc%winvnc4.exe%pw";
    EXPECT_EQ(0, checkOptions(options, console));
}

TEST_F(OptionChecksTest, EveryListIsCheckedForTheRightKindInOrder) {
    struct Case {
        Options options;
        std::string warning;  // "" for success
    };
    const std::string file = source("tool.exe");
    const std::string dir = source("pkg");
    const std::string missing = source("missing");
    std::vector<Case> cases(14);
    cases[0].options.storageDrivers = {dir, file};
    cases[0].warning = "can not find storage driver package " + file;
    cases[1].options.networkDrivers = {missing};
    cases[1].warning = "can not find network driver package " + missing;
    cases[2].options.binaries = {file, dir};
    cases[2].warning = "can not find binary file " + dir;
    cases[3].options.startBinaries = {missing};
    cases[3].warning = "can not find binary file " + missing;
    cases[4].options.packages = {file};
    cases[4].warning = "can not find software package " + file;
    // The checked part of a start package ends at the last '%'.
    cases[5].options.startPackages = {dir + "%run.exe%x"};
    cases[6].options.startPackages = {file + "%run.exe"};
    cases[6].warning = "can not find software package " + file;
    cases[7].options.files = {file + "%\\DIR"};
    cases[8].options.files = {missing + "%\\DIR"};
    cases[8].warning = "can not find file " + missing + "%\\DIR";
    cases[9].options.directories = {dir + "%\\X", dir};
    cases[10].options.directories = {file};
    cases[10].warning = "can not find directory " + file;
    // The first failure in list order is the one reported.
    cases[11].options.directories = {missing};
    cases[11].options.storageDrivers = {missing};
    cases[11].warning = "can not find storage driver package " + missing;
    cases[12].options.binaries = {missing};
    cases[12].options.networkDrivers = {file};
    cases[12].warning = "can not find network driver package " + file;
    cases[13].options.storageDrivers = {dir};
    cases[13].options.networkDrivers = {dir};
    cases[13].options.binaries = {file};
    cases[13].options.startBinaries = {file};
    cases[13].options.packages = {dir};
    cases[13].options.files = {source("notes.txt")};

    for (size_t i = 0; i < cases.size(); ++i) {
        Console console;
        const int result = checkExistence(cases[i].options, console);
        EXPECT_EQ("Log: checking file existence ...\n", console.out) << "case " << i;
        if (cases[i].warning.empty()) {
            EXPECT_EQ(0, result) << "case " << i;
            EXPECT_EQ("", console.err) << "case " << i;
        } else {
            EXPECT_EQ(1, result) << "case " << i;
            EXPECT_EQ("Warning: " + cases[i].warning + "\n", console.err) << "case " << i;
        }
    }
}

TEST_F(OptionChecksTest, ConstructionWithoutReaderThrows) {
    EXPECT_EQ("null ISOReader pointer",
              test_support::failureOf([] { WinpeEditor editor(Options(), "root", nullptr); }));
}

}  // namespace
