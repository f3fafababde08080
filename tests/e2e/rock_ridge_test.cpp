// Whole runs on Rock Ridge CDs (genisoimage and xorriso `-R`): the old names, links and
// modes stay, added entries get their own, and Rock Ridge readers see the unchanged
// files as they were.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <regex>
#include <string>

#include "e2e/sample_cd_fixture.h"

namespace fs = boost::filesystem;

namespace {

class RockRidgeImage : public SampleCdTest, public testing::WithParamInterface<const char*> {
  protected:
    void remake() {
        fs::remove(image());
        e2e::mustRun(std::string(GetParam()) +
                     " -quiet -R -b BOOT/HELLO.BIN -no-emul-boot -boot-load-size 4 -c "
                     "BOOT/BOOT.CAT -o " +
                     shellQuote(image()) + " " + shellQuote(tree()) + " 2>&1");
    }
    std::string rockRidgeListing() const {
        return e2e::mustRun("isoinfo -R -l -i " + shellQuote(image()));
    }
};

}  // namespace

TEST_P(RockRidgeImage, NamesLinksAndModesSurviveAndAddedEntriesGetTheirOwn) {
    writeFile(tree() + "/DOCS/A long file name.txt", "long\n");
    fs::create_directories(tree() + "/lower/deeper");
    writeFile(tree() + "/lower/deeper/notes.md", "notes\n");
    fs::create_symlink("../WINBOM.INI", tree() + "/DOCS/link.ini");
    fs::permissions(tree() + "/DOCS/A long file name.txt", fs::perms(0640));
    // Deeper than ISO 9660 allows: genisoimage relocates it, linked by Rock Ridge CL/PL.
    const std::string deep = "/d1/d2/d3/d4/d5/d6/d7/d8/d9/d10/deep.txt";
    writeFile(tree() + deep, "deep\n");
    remake();
    const std::string before = rockRidgeListing();
    ASSERT_TRUE(contains(before, "A long file name.txt")) << before;
    writeFile(temp / "add/MixedTool.exe", "MZ tool");
    fs::permissions(temp / "add/MixedTool.exe", fs::perms(0751));

    const e2e::ProgramRun run = runHere({"-i", "cd.iso", "-f", "-b", "add/MixedTool.exe"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_FALSE(contains(run.err, "Rock Ridge")) << run.err;
    const std::string after = rockRidgeListing();
    // Old names with their modes, the link as a link, the added file by its own name.
    EXPECT_TRUE(std::regex_search(after, std::regex("-rw-r----- .* A long file name\\.txt")))
        << after;
    EXPECT_TRUE(contains(after, "link.ini -> ../WINBOM.INI")) << after;
    EXPECT_TRUE(contains(after, "notes.md")) << after;
    EXPECT_TRUE(std::regex_search(after, std::regex("-rwxr-x--x .* MixedTool\\.exe \\n"))) << after;
    // The replaced WINBOM.INI keeps its Rock Ridge name and mode.
    EXPECT_TRUE(std::regex_search(after, std::regex("-r[-w]-r--r-- .* WINBOM\\.INI \\n"))) << after;
    const std::string links =
        e2e::mustRun("xorriso -indev " + shellQuote(image()) + " -lsl /DOCS 2>&1");
    EXPECT_TRUE(std::regex_search(links, std::regex("\\nl[rwx-]{9} .*'link\\.ini' -> "
                                                    "'\\.\\./WINBOM\\.INI'")))
        << links;
    const std::string found =
        e2e::mustRun("xorriso -indev " + shellQuote(image()) + " -find / -name deep.txt 2>&1");
    EXPECT_TRUE(contains(found, "'" + deep + "'")) << found;
    // Unchanged files read back by their Rock Ridge names, byte for byte.
    EXPECT_EQ(readFromImage(image(), "/lower/deeper/notes.md"), "notes\n");
    EXPECT_EQ(readFromImage(image(), "/DOCS/A long file name.txt"), "long\n");
    EXPECT_EQ(readFromImage(image(), "/PROGRAMS/MixedTool.exe"), "MZ tool");
    EXPECT_NE(readFromImage(image(), "/WINBOM.INI").find("WinPEFirewall=off"), std::string::npos);
    const std::string verified = e2e::mustRun("isovfy " + shellQuote(image()) + " 2>&1");
    EXPECT_TRUE(contains(verified, "No errors found")) << verified;
}

INSTANTIATE_TEST_SUITE_P(Makers, RockRidgeImage,
                         testing::Values("genisoimage", "xorriso -as mkisofs"));
