// Adding files and directories to the work tree, the name-conflict dialogue and the
// PROGRAMS directory rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>

#include "editor/editor_fixture.h"

namespace fs = boost::filesystem;

namespace {

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

class CopyingTest : public EditorTest {};

TEST_F(CopyingTest, BinaryGoesToANewProgramsDirectory) {
    writeFile(source("tool.exe"), "tool bytes");
    buildImage();
    ASSERT_FALSE(fs::exists(work("PROGRAMS")));
    const Console console = edited(
        [&](WinpeEditor& editor) { EXPECT_EQ("tool.exe", editor.addBinary(source("tool.exe"))); });
    EXPECT_EQ("Log: adding file tool.exe ...\nLog: adding file tool.exe succeeded\n", console.out);
    EXPECT_EQ("", console.err);
    EXPECT_EQ("tool bytes", readFile(work("PROGRAMS/tool.exe")));
}

TEST_F(CopyingTest, PackageIsCopiedWholeUnderTheNameOfItsLastComponent) {
    writeFile(source("kit/a.txt"), "a");
    writeFile(source("kit/sub/Deep.Bin"), "deep");
    fs::create_directories(source("kit/empty"));
    const Console console = edited(
        [&](WinpeEditor& editor) { EXPECT_EQ("kit", editor.addPackage(source("kit") + "//")); });
    EXPECT_EQ("Log: adding directory kit ...\nLog: adding directory kit succeeded\n", console.out);
    EXPECT_EQ(
        (std::vector<std::string>{"kit", "kit/a.txt", "kit/empty", "kit/sub", "kit/sub/Deep.Bin"}),
        test_support::listLocal(work("PROGRAMS")));
    EXPECT_EQ("deep", readFile(work("PROGRAMS/kit/sub/Deep.Bin")));
}

TEST_F(CopyingTest, ChangedNameAfterAConflict) {
    writeFile(cdTree() + "/PROGRAMS/TOOL.EXE", "on the cd");
    writeFile(source("TOOL.EXE"), "new");
    buildImage();
    answer(" c\nTOOL2.EXE\n");
    const Console console = edited(
        [&](WinpeEditor& editor) { EXPECT_EQ("TOOL2.EXE", editor.addBinary(source("TOOL.EXE"))); });
    EXPECT_EQ(
        "Log: adding file TOOL.EXE ...\n"
        "Log: a file or directory with same name exists\n"
        "Log: change the destination file name or abort\n"
        "Log: press 'c' to change name, other key to abort\n"
        "Log: please enter the new name for the binary file TOOL.EXE\n"
        "Log: adding file TOOL2.EXE succeeded\n",
        console.out);
    EXPECT_EQ("new", readFile(work("PROGRAMS/TOOL2.EXE")));
    EXPECT_FALSE(fileExists(work("PROGRAMS/TOOL.EXE")));
}

TEST_F(CopyingTest, ANewNameThatClashesAgainAsksAgain) {
    fs::create_directories(cdTree() + "/PROGRAMS/KIT");
    writeFile(cdTree() + "/PROGRAMS/KIT2", "a file of that name");
    writeFile(source("KIT/x"), "x");
    buildImage();
    answer("c KIT2 c KIT3");
    const Console console =
        edited([&](WinpeEditor& editor) { EXPECT_EQ("KIT3", editor.addPackage(source("KIT"))); });
    EXPECT_EQ(2u, count(console.out, "Log: a file or directory with same name exists\n"));
    EXPECT_EQ(2u, count(console.out, "Log: change the destination directory name, abort\n"));
    EXPECT_NE(std::string::npos,
              console.out.find("please enter the new name for the directory KIT\n"));
    EXPECT_NE(std::string::npos,
              console.out.find("please enter the new name for the directory KIT2\n"));
    EXPECT_TRUE(fileExists(work("PROGRAMS/KIT3/x")));
}

TEST_F(CopyingTest, AnythingButLowerCaseCAbortsTheAdd) {
    fs::create_directories(cdTree() + "/PROGRAMS/KIT");
    writeFile(cdTree() + "/PROGRAMS/TOOL.EXE", "x");
    writeFile(source("KIT/x"), "x");
    writeFile(source("TOOL.EXE"), "x");
    auto editor = makeEditor();
    // Upper-case C, end of input, and 'c' followed by end of input.
    for (const char* input : {"C\nNEW.EXE\n", "", "c"}) {
        answer(input);
        Console console = test_support::captureConsole(
            [&] { EXPECT_EQ("", editor->addBinary(source("TOOL.EXE"))); });
        EXPECT_EQ("Warning: adding file TOOL.EXE failed - file name conflict, aborted by user\n",
                  console.err);

        answer(input);
        ConsoleCapture again;
        EXPECT_EQ("", editor->addPackage(source("KIT")));
        console = again.finish();
        EXPECT_EQ("Warning: adding directory KIT failed - package name conflict, aborted by user\n",
                  console.err);
    }
    EXPECT_TRUE(fs::is_empty(work("PROGRAMS")));
}

TEST_F(CopyingTest, TypedNamesMustBeOneValidEntryName) {
    writeFile(cdTree() + "/PROGRAMS/TOOL.EXE", "x");
    fs::create_directories(cdTree() + "/PROGRAMS/KIT");
    writeFile(source("TOOL.EXE"), "x");
    writeFile(source("KIT/x"), "x");
    auto editor = makeEditor();
    // The empty PROGRAMS directory is made before the name is asked for.
    std::vector<std::string> before = test_support::listLocal(temp_.path());
    before.push_back("work/image_file_dir/PROGRAMS");
    std::sort(before.begin(), before.end());
    for (const std::string& bad :
         std::vector<std::string>{"..", ".", "../../ESCAPE", "a\\b", "a:b", "a|b", "NAME."}) {
        answer("c " + bad);
        Console console = test_support::captureConsole(
            [&] { EXPECT_EQ("", editor->addBinary(source("TOOL.EXE"))) << bad; });
        EXPECT_EQ(0u, console.err.find("Warning: adding file failed, exception: "))
            << bad << console.out << console.err;

        answer("c " + bad);
        ConsoleCapture again;
        EXPECT_EQ("", editor->addPackage(source("KIT"))) << bad;
        console = again.finish();
        EXPECT_NE(std::string::npos, console.out.find("Log: adding directory failed, exception: "))
            << bad;
    }
    // Nothing else was written anywhere, inside or outside the work tree.
    EXPECT_EQ(before, test_support::listLocal(temp_.path()));
}

TEST_F(CopyingTest, AFileNamedProgramsOnTheCdBlocksBinariesAndPackages) {
    writeFile(cdTree() + "/PROGRAMS", "not a directory");
    writeFile(source("tool.exe"), "x");
    fs::create_directories(source("kit"));
    buildImage();
    const std::string warning =
        "Warning: adding binary file failed - a file named \"PROGRAMS\" exists,\n"
        "Warning:  manually delete it to allow create \"PROGRAMS\" directory\n";
    const Console console = edited([&](WinpeEditor& editor) {
        EXPECT_EQ("", editor.addBinary(source("tool.exe")));
        EXPECT_EQ("", editor.addPackage(source("kit")));
    });
    EXPECT_EQ(warning + warning, console.err);
    EXPECT_EQ("", console.out);
    EXPECT_FALSE(fs::exists(work("PROGRAMS")));
}

TEST_F(CopyingTest, ADirectoryNamedProgramsOnTheCdIsMergedInto) {
    writeFile(cdTree() + "/PROGRAMS/OLD.EXE", "x");
    writeFile(source("tool.exe"), "x");
    auto editor = makeEditor();
    ConsoleCapture capture;
    EXPECT_EQ("tool.exe", editor->addBinary(source("tool.exe")));
}

TEST_F(CopyingTest, AddingTheSameEntryTwiceFailsAtTheCopy) {
    writeFile(source("tool.exe"), "x");
    writeFile(source("kit/a"), "a");
    const Console console = edited([&](WinpeEditor& editor) {
        EXPECT_EQ("tool.exe", editor.addBinary(source("tool.exe")));
        EXPECT_EQ("", editor.addBinary(source("tool.exe")));
        EXPECT_EQ("kit", editor.addPackage(source("kit")));
        EXPECT_EQ("", editor.addPackage(source("kit")));
    });
    EXPECT_EQ(0u, console.err.find("Warning: adding file failed, exception: "));
    EXPECT_NE(std::string::npos,
              console.out.find("Log: adding directory failed, exception: copy_directory fails: a "
                               "directory with same name exists\n"));
}

TEST_F(CopyingTest, MissingParentDirectoryOrSource) {
    writeFile(source("tool.exe"), "x");
    const Console console = edited([&](WinpeEditor& editor) {
        EXPECT_EQ("", editor.addFile(source("tool.exe"), "NOWHERE"));
        EXPECT_EQ("", editor.addDirectory(source("tool.exe"), "NOWHERE\\DEEPER"));
        EXPECT_EQ("", editor.addFile(source("absent.exe"), "MIRALDA"));
    });
    EXPECT_EQ(0u, console.err.find(
                      "Warning: adding file tool.exe failed - parent directory does not exists\n"
                      "Warning: adding directory tool.exe failed - parent directory does not "
                      "exist\n"
                      "Warning: adding file failed, exception: "));
}

TEST_F(CopyingTest, CopyDirectoryUpperCasesInnerNamesOnRequestAndRefusesExistingTargets) {
    writeFile(source("drv/Disk.sys"), "d");
    writeFile(source("drv/sub/inner.inf"), "i");
    auto editor = makeEditor();
    const auto kAsGiven = WinpeEditor::EntryNames::asGiven;
    editor->copy_directory(source("drv"), temp_ / "plain", kAsGiven);
    editor->copy_directory(source("drv"), temp_ / "upper", WinpeEditor::EntryNames::upperCased);
    EXPECT_EQ((std::vector<std::string>{"Disk.sys", "sub", "sub/inner.inf"}),
              test_support::listLocal(temp_ / "plain"));
    EXPECT_EQ((std::vector<std::string>{"DISK.SYS", "SUB", "SUB/INNER.INF"}),
              test_support::listLocal(temp_ / "upper"));
    EXPECT_EQ("copy_directory fails: a directory with same name exists",
              test_support::failureOf(
                  [&] { editor->copy_directory(source("drv"), temp_ / "plain", kAsGiven); }));
    EXPECT_EQ("copy_directory fails: a file with same name exists", test_support::failureOf([&] {
                  editor->copy_directory(source("drv"), temp_ / "plain/Disk.sys", kAsGiven);
              }));
    EXPECT_THROW(editor->copy_directory(source("absent"), temp_ / "x", kAsGiven), std::exception);
}

}  // namespace
