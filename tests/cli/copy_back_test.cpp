// What the copy back puts where in the image, in which order, and how it stops.
#include "cli/copy_back.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>

#include "cli/work_tree.h"
#include "iso/iso_modifier.h"
#include "support/console_capture.h"
#include "support/test_files.h"

using test_support::writeFile;

namespace {

// Records every add as "F|D imagePath <- local path below the tree" and fails the one for
// `failing`; as the reader, tells whether the image has \PROGRAMS.
class RecordingModifier : public ISOModifier {
  public:
    RecordingModifier(size_t treeLength, std::string failing, bool hasPrograms)
        : ISOModifier("unused.iso"),
          skipped_(treeLength),
          failing_(std::move(failing)),
          hasPrograms_(hasPrograms) {}
    bool DirectoryExists(const std::string& path) override {
        return hasPrograms_ && path == "\\PROGRAMS";
    }
    int AddSingleFile(const std::string& local, const std::string& path, bool) override {
        return record("F ", local, path);
    }
    int AddSingleDirectory(const std::string& local, const std::string& path, bool) override {
        return record("D ", local, path);
    }
    std::vector<std::string> adds;

  private:
    int record(const std::string& kind, const std::string& local, const std::string& path) {
        adds.push_back(kind + path + " <- " + local.substr(skipped_));
        return path == failing_ ? 1 : 0;
    }
    size_t skipped_;
    std::string failing_;
    bool hasPrograms_;
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
        writeFile(tree.inf + "/SUB/skipped.inf", "below INF: not copied");
    }
    // The adds of a copy back that returns `result`; keeps what it wrote on the console.
    std::vector<std::string> copyBack(bool hasPrograms, const std::string& failing = "",
                                      int result = 0) {
        RecordingModifier modifier(tree.treeRoot.size(), failing, hasPrograms);
        console = test_support::captureConsole(
            [&] { EXPECT_EQ(copyBackWorkTree(tree, modifier, modifier), result) << failing; });
        return modifier.adds;
    }
    test_support::TempDir temp;
    const WorkTree tree{temp / "work/"};
    test_support::Console console;
};

}  // namespace

TEST_F(CopyBack, EverythingGoesBackInItsOrderAndPlace) {
    const auto expect = [&](bool hasPrograms, const std::vector<std::string>& programs) {
        std::vector<std::string> expected = {
            "F \\WINBOM.INI <- /WINBOM.INI",
            "F \\I386\\SYSTEM32\\WINPEOEM.SIF <- /I386/SYSTEM32/WINPEOEM.SIF",
            "F \\I386\\SYSTEM32\\CONFIG\\DEFAULT <- /I386/SYSTEM32/CONFIG/DEFAULT",
            "F \\I386\\BOOTFIX.BIN <- /I386/BOOTFIX.BIN"};
        expected.insert(expected.end(), programs.begin(), programs.end());
        expected.insert(expected.end(),
                        {"F \\I386\\SYSTEM32\\STARTNET.CMD <- /I386/SYSTEM32/STARTNET.CMD",
                         "F \\MIRALDA\\TASKDECK.XML <- /MIRALDA/TASKDECK.XML",
                         "D \\I386\\SYSTEM32\\DRIVERS\\RAID <- /I386/SYSTEM32/DRIVERS/RAID",
                         "F \\I386\\INF\\NET.INF <- /I386/INF/NET.INF",
                         // The files of SYSTEM32 (not its directories) once more, sorted here.
                         "F \\I386\\SYSTEM32\\STARTNET.CMD <- /I386/SYSTEM32/STARTNET.CMD",
                         "F \\I386\\SYSTEM32\\WINPEOEM.SIF <- /I386/SYSTEM32/WINPEOEM.SIF"});
        std::vector<std::string> adds = copyBack(hasPrograms);
        ASSERT_EQ(adds.size(), expected.size()) << testing::PrintToString(adds);
        std::sort(adds.end() - 2, adds.end());
        EXPECT_EQ(adds, expected);
        EXPECT_EQ(console.out + console.err, "");
    };
    // A new \PROGRAMS goes in whole; into an existing one each entry is added.
    expect(false, {"D \\PROGRAMS <- /PROGRAMS"});
    expect(true, {"F \\PROGRAMS\\tool.exe <- /PROGRAMS/tool.exe"});
    boost::filesystem::remove_all(tree.programs);
    expect(false, {});
}

TEST_F(CopyBack, TheFirstFailedAddEndsItWithItsWarning) {
    writeFile(tree.drivers + "/net.sys", "network");
    writeFile(tree.system32 + "/extra.dll", "library");
    const struct {
        const char* failing;
        bool hasPrograms;
        const char* warning;
    } cases[] = {
        {"\\WINBOM.INI", false, "winbom.ini"},
        {"\\I386\\BOOTFIX.BIN", false, "bootfix.bin"},
        {"\\PROGRAMS", false, "directory programs"},
        {"\\PROGRAMS\\tool.exe", true, "directoy programs"},
        {"\\MIRALDA\\TASKDECK.XML", false, "taskdeck.xml"},
        {"\\I386\\SYSTEM32\\DRIVERS\\RAID", false, "storage driver"},
        {"\\I386\\SYSTEM32\\DRIVERS\\net.sys", false, "network driver"},
        {"\\I386\\INF\\NET.INF", false, "network driver"},
        {"\\I386\\SYSTEM32\\extra.dll", false, "network driver"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> adds = copyBack(c.hasPrograms, c.failing, 1);
        EXPECT_EQ(console.err, "Warning: copy back " + std::string(c.warning) + " failed\n");
        ASSERT_FALSE(adds.empty());
        EXPECT_EQ(adds.back().find(std::string(" ") + c.failing + " <- "), 1u)
            << testing::PrintToString(adds);
    }
}

TEST(DirectAddValue, TheFirstPercentSplitsTheLocalPathFromTheImagePath) {
    const std::pair<const char*, const char*> cases[] = {
        {"add/a.txt", "add/a.txt|"}, {"add/a.txt%\\DOCS", "add/a.txt|\\DOCS"},
        {"a%b%c", "a|b%c"},          {"%\\DOCS", "|\\DOCS"},
        {"add/tree%", "add/tree|"},  {"", "|"}};
    for (const auto& [value, split] : cases) {
        const DirectAddValue parts = splitDirectAddValue(value);
        EXPECT_EQ(parts.localPath + "|" + parts.imagePath, split) << value;
    }
}
