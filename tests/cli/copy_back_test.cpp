// What the copy back puts where in the image, in which order, and how it stops.
#include "cli/copy_back.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>

#include "cli/work_tree.h"
#include "iso/iso_modifier.h"
#include "support/console_capture.h"
#include "support/test_files.h"

using test_support::TempDir;
using test_support::writeFile;

namespace {

// A reader that only tells whether the image has \PROGRAMS.
class ProgramsReader : public ISOReader {
  public:
    explicit ProgramsReader(bool hasPrograms) : ISOReader("unused.iso"), has_(hasPrograms) {}
    bool DirectoryExists(const std::string& isoPath) override {
        return has_ && isoPath == "\\PROGRAMS";
    }

  private:
    bool has_;
};

// A modifier that records every add as "F|D imagePath <- local path below the tree" and
// fails the one for `failing`.
class RecordingModifier : public ISOModifier {
  public:
    RecordingModifier(std::string treeRoot, std::string failing)
        : ISOModifier("unused.iso"), root_(std::move(treeRoot)), failing_(std::move(failing)) {}
    int AddSingleFile(const std::string& local, const std::string& isoPath, bool) override {
        return record("F ", local, isoPath);
    }
    int AddSingleDirectory(const std::string& local, const std::string& isoPath, bool) override {
        return record("D ", local, isoPath);
    }
    std::vector<std::string> adds;

  private:
    int record(const std::string& kind, const std::string& local, const std::string& isoPath) {
        adds.push_back(kind + isoPath + " <- " + local.substr(root_.size()));
        return isoPath == failing_ ? 1 : 0;
    }
    std::string root_, failing_;
};

class CopyBack : public testing::Test {
  protected:
    void SetUp() override {
        for (const CdFile* file : cd_files::kAll) {
            writeFile(tree.pathOf(*file), file->treePath);
        }
        writeFile(tree.programs + "/tool.exe", "MZ");
        writeFile(tree.drivers + "/RAID/raid.sys", "storage");
        writeFile(tree.inf + "/NET.INF", "[Version]");
        writeFile(tree.inf + "/SUB/skipped.inf", "not copied");
    }
    // The adds of a copy back, with what it wrote on the console.
    std::vector<std::string> copyBack(bool hasPrograms, const std::string& failing = "",
                                      int expected = 0) {
        ProgramsReader reader(hasPrograms);
        RecordingModifier modifier(tree.treeRoot, failing);
        const test_support::Console console = test_support::captureConsole(
            [&] { EXPECT_EQ(copyBackWorkTree(tree, reader, modifier), expected) << failing; });
        EXPECT_EQ(console.out, "");
        err = console.err;
        return modifier.adds;
    }
    TempDir temp;
    const WorkTree tree{temp / "work/"};
    std::string err;
};

}  // namespace

TEST_F(CopyBack, EverythingGoesBackInItsOrderAndPlace) {
    const std::vector<std::string> head = {
        "F \\WINBOM.INI <- /WINBOM.INI",
        "F \\I386\\SYSTEM32\\WINPEOEM.SIF <- /I386/SYSTEM32/WINPEOEM.SIF",
        "F \\I386\\SYSTEM32\\CONFIG\\DEFAULT <- /I386/SYSTEM32/CONFIG/DEFAULT",
        "F \\I386\\BOOTFIX.BIN <- /I386/BOOTFIX.BIN"};
    const std::vector<std::string> tail = {
        "F \\I386\\SYSTEM32\\STARTNET.CMD <- /I386/SYSTEM32/STARTNET.CMD",
        "F \\MIRALDA\\TASKDECK.XML <- /MIRALDA/TASKDECK.XML",
        "D \\I386\\SYSTEM32\\DRIVERS\\RAID <- /I386/SYSTEM32/DRIVERS/RAID",
        "F \\I386\\INF\\NET.INF <- /I386/INF/NET.INF"};
    const std::vector<std::string> system32 = {
        // only the files, in listing order
        "F \\I386\\SYSTEM32\\STARTNET.CMD <- /I386/SYSTEM32/STARTNET.CMD",
        "F \\I386\\SYSTEM32\\WINPEOEM.SIF <- /I386/SYSTEM32/WINPEOEM.SIF"};
    const auto expect = [&](bool hasPrograms, const std::vector<std::string>& programs) {
        std::vector<std::string> adds = copyBack(hasPrograms);
        std::vector<std::string> expected = head;
        expected.insert(expected.end(), programs.begin(), programs.end());
        expected.insert(expected.end(), tail.begin(), tail.end());
        ASSERT_EQ(adds.size(), expected.size() + 2) << testing::PrintToString(adds);
        std::sort(adds.end() - 2, adds.end());
        expected.insert(expected.end(), system32.begin(), system32.end());
        EXPECT_EQ(adds, expected);
    };
    // A new \PROGRAMS goes in whole; into an existing one each entry is added.
    expect(false, {"D \\PROGRAMS <- /PROGRAMS"});
    expect(true, {"F \\PROGRAMS\\tool.exe <- /PROGRAMS/tool.exe"});
    boost::filesystem::remove_all(tree.programs);
    expect(false, {});
    writeFile(tree.drivers + "/net.sys", "network");
    const std::vector<std::string> adds = copyBack(false);
    EXPECT_NE(std::find(adds.begin(), adds.end(),
                        "F \\I386\\SYSTEM32\\DRIVERS\\net.sys <- /I386/SYSTEM32/DRIVERS/net.sys"),
              adds.end());
}

TEST_F(CopyBack, TheFirstFailedAddEndsItWithItsWarning) {
    writeFile(tree.drivers + "/net.sys", "network");
    writeFile(tree.system32 + "/extra.dll", "library");
    const struct {
        std::string failing;
        bool hasPrograms;
        std::string warning;
    } cases[] = {
        {"\\WINBOM.INI", false, "copy back winbom.ini failed"},
        {"\\I386\\BOOTFIX.BIN", false, "copy back bootfix.bin failed"},
        {"\\PROGRAMS", false, "copy back directory programs failed"},
        {"\\PROGRAMS\\tool.exe", true, "copy back directoy programs failed"},
        {"\\MIRALDA\\TASKDECK.XML", false, "copy back taskdeck.xml failed"},
        {"\\I386\\SYSTEM32\\DRIVERS\\RAID", false, "copy back storage driver failed"},
        {"\\I386\\SYSTEM32\\DRIVERS\\net.sys", false, "copy back network driver failed"},
        {"\\I386\\INF\\NET.INF", false, "copy back network driver failed"},
        {"\\I386\\SYSTEM32\\WINPEOEM.SIF", false, "copy back winpeoem.sif failed"},
        {"\\I386\\SYSTEM32\\extra.dll", false, "copy back network driver failed"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> adds = copyBack(c.hasPrograms, c.failing, 1);
        EXPECT_EQ(err, "Warning: " + c.warning + "\n") << c.failing;
        ASSERT_FALSE(adds.empty());
        EXPECT_EQ(adds.back().find(" " + c.failing + " <- "), 1u) << testing::PrintToString(adds);
    }
}

TEST(DirectAddValue, TheFirstPercentSplitsTheLocalPathFromTheImagePath) {
    const struct {
        const char* value;
        const char* localPath;
        const char* imagePath;
    } cases[] = {{"add/a.txt", "add/a.txt", ""}, {"add/a.txt%\\DOCS", "add/a.txt", "\\DOCS"},
                 {"a%b%c", "a", "b%c"},          {"%\\DOCS", "", "\\DOCS"},
                 {"add/tree%", "add/tree", ""},  {"", "", ""}};
    for (const auto& c : cases) {
        const DirectAddValue split = splitDirectAddValue(c.value);
        EXPECT_EQ(split.localPath, c.localPath) << c.value;
        EXPECT_EQ(split.imagePath, c.imagePath) << c.value;
    }
}
