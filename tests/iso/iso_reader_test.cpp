// Loading real images made by xorriso and genisoimage, looking paths up and copying
// files out, compared byte for byte with the files the images were made from.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "iso/iso_reader.h"
#include "iso/iso_reader_fixture.h"
#include "support/console_capture.h"
#include "support/fixture_image.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

using namespace test_support;
using reader_fixture::InspectReader;
using reader_fixture::sharedImage;
using reader_fixture::sharedTree;

namespace {

std::string sortedNames(const DirectoryNode* head) {
    std::string names;
    for (; head != nullptr; head = head->next.get()) {
        names += head->name + ",";
    }
    return names;
}

}  // namespace

TEST(IsoReaderLookup, FindsFilesAndDirectoriesWithAnySeparatorForm) {
    ISOReader reader(sharedImage());
    for (const char* file :
         {"\\WINBOM.INI", "WINBOM.INI", "/WINBOM.INI", "\\I386\\SYSTEM32\\CONFIG\\DEFAULT",
          "/I386/SYSTEM32/DRIVERS/NET.SYS", "\\lower.txt", "\\MANY\\F149.DAT"}) {
        EXPECT_TRUE(reader.FileExists(file)) << file;
    }
    for (const char* directory : {"\\", "", "\\I386\\", "\\I386\\SYSTEM32", "EMPTYDIR"}) {
        EXPECT_TRUE(reader.DirectoryExists(directory)) << directory;
    }
}

// The test of the question asked before an add: the last name without regard to letter
// case, as the replacement compares it; the directories on the way as any look-up.
TEST(IsoReaderLookup, NameTakenIgnoresTheLetterCaseOfTheLastName) {
    ISOReader reader(sharedImage());
    struct Case {
        const char* path;
        bool taken;
    };
    for (const Case& c :
         {Case{"\\i386", true}, Case{"\\I386", true}, Case{"winbom.ini", true},
          Case{"\\I386\\system32\\", true}, Case{"\\I386\\SYSTEM32\\nope", false},
          Case{"\\i386\\SYSTEM32", false}, Case{"\\", true}, Case{"\\WINBOM.INI\\X", false}}) {
        EXPECT_EQ(reader.NameTaken(c.path), c.taken) << c.path;
    }
    EXPECT_FALSE(reader.FileExists("\\winbom.ini"));
}

TEST(IsoReaderLookup, MatchesExactlyAndOnlyTheRightKind) {
    ISOReader reader(sharedImage());
    // A version suffix ";1" is no part of a name, on either side.
    EXPECT_TRUE(reader.FileExists("\\WINBOM.INI;1"));
    for (const char* notAFile :
         {"\\winbom.ini", "\\WINBOM.INI;X", "\\LOWER.TXT", "\\", "\\I386", "\\WINBOM.INI\\X",
          "\\I386\\..\\WINBOM.INI", "\\NOPE\\WINBOM.INI"}) {
        EXPECT_FALSE(reader.FileExists(notAFile)) << notAFile;
    }
    for (const char* notADirectory : {"\\WINBOM.INI", "\\I386\\.."}) {
        EXPECT_FALSE(reader.DirectoryExists(notADirectory)) << notADirectory;
    }
}

TEST(IsoReaderLookup, TrailingSeparatorIsTheEntryItselfAndAnInvalidComponentAnError) {
    ISOReader reader(sharedImage());
    ASSERT_TRUE(reader.DirectoryExists("\\"));
    const std::string invalid =
        captureStdout([&] { EXPECT_FALSE(reader.FileExists("\\I386\\A|B")); });
    EXPECT_EQ(invalid.rfind("ISOReader findDirectoryRecord exception: ", 0), 0u) << invalid;
    const std::string out = captureStdout([&] {
        // Only DirectoryExists removes trailing separators; the other look-ups see "I386\",
        // which names I386 itself.
        EXPECT_FALSE(reader.FileExists("\\I386\\"));
        EXPECT_TRUE(reader.FileExists("\\WINBOM.INI\\"));
        EXPECT_FALSE(reader.FileExists("\\I386\\SYSTEM32/"));
    });
    EXPECT_EQ(out, "");
}

TEST(IsoReaderLoad, LoadsOnceAndBuildsTheDocumentedTree) {
    InspectReader reader(sharedImage());
    const std::string out = captureStdout([&] {
        EXPECT_EQ(reader.loadImage(), 0);
        EXPECT_EQ(reader.loadImage(), 0);
        EXPECT_TRUE(reader.FileExists("\\WINBOM.INI"));
    });
    EXPECT_EQ(out, "load ISO image ...\nload ISO image succeeded\n");

    EXPECT_EQ(reader.logicalBlockSize, 2048);
    const DirectoryNode* root = reader.root.get();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, ".");
    EXPECT_EQ(root->next->name, "..");
    EXPECT_EQ(root->next->extent, root->extent);

    DirectoryNode* config = reader.findDirectoryRecord("I386\\SYSTEM32\\CONFIG");
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->name, ".");
    EXPECT_EQ(config->size, 0u);
    EXPECT_EQ(sortedNames(config), ".,..,DEFAULT,");
    const DirectoryNode* hive = config->next->next.get();
    EXPECT_EQ(hive->path, "I386\\SYSTEM32\\CONFIG");
    EXPECT_EQ(hive->identifier, "DEFAULT");
    EXPECT_EQ(hive->size, 5000u);
    EXPECT_TRUE(hive->inImage);

    // Every file counted once, MANY's 150 files spread over several directory blocks.
    uint64_t expected = 0;
    for (const std::string& file : reader_fixture::treeFiles()) {
        expected += boost::filesystem::file_size(sharedTree() + "/" + file);
    }
    // The boot catalog is a file of the image too.
    const DirectoryNode* catalog = reader.findDirectoryRecord("boot.cat");
    ASSERT_NE(catalog, nullptr);
    EXPECT_EQ(catalog->size, 2048u);
    EXPECT_EQ(reader.totalBytes, expected + catalog->size);
    int many = 0;
    for (const DirectoryNode* n = reader.findDirectoryRecord("MANY"); n; n = n->next.get()) {
        ++many;
    }
    EXPECT_EQ(many, 152);
}

TEST(IsoReaderRetrieve, FilesMatchTheirSourcesByteForByte) {
    ISOReader reader(sharedImage());
    TempDir out;
    for (const std::string& file : reader_fixture::treeFiles()) {
        std::string isoPath = "\\" + file;
        const std::string local = out / boost::filesystem::path(file).filename().string();
        boost::filesystem::remove(local);
        ASSERT_EQ(reader.RetrieveFile(isoPath, local), 0) << file;
        EXPECT_EQ(readBytes(local), readBytes(sharedTree() + "/" + file)) << file;
    }
}

TEST(IsoReaderRetrieve, RefusesWrongKindsAndExistingTargetsWithoutTouchingThem) {
    ISOReader reader(sharedImage());
    TempDir out;
    std::string printed = captureStdout([&] {
        EXPECT_EQ(reader.RetrieveFile("\\I386", out / "x"), 1);
        EXPECT_EQ(reader.RetrieveDir("\\WINBOM.INI", out.path()), 1);
        EXPECT_EQ(reader.RetrieveFile("\\MISSING", out / "x"), 1);
    });
    EXPECT_EQ(printed, "load ISO image ...\nload ISO image succeeded\n");
    EXPECT_FALSE(fileExists(out / "x"));

    writeFile(out / "kept", "keep me");
    printed =
        captureStdout([&] { EXPECT_EQ(reader.RetrieveFile("\\WINBOM.INI", out / "kept"), 1); });
    EXPECT_EQ(printed, "create file/directory failed, IO exception: file/directory " +
                           (out / "kept") + " already exists\n");
    EXPECT_EQ(readFile(out / "kept"), "keep me");

    // A dangling link counts as existing: nothing is written through it.
    boost::filesystem::create_symlink(out / "elsewhere", out / "link");
    captureStdout([&] { EXPECT_EQ(reader.RetrieveFile("\\WINBOM.INI", out / "link"), 1); });
    EXPECT_FALSE(fileExists(out / "elsewhere"));

    printed = captureStdout(
        [&] { EXPECT_EQ(reader.RetrieveFile("\\WINBOM.INI", out / "no/such/dir/file"), 1); });
    EXPECT_TRUE(contains(printed, "create file/directory failed, IO exception: "));
}

TEST(IsoReaderRetrieve, DirectoryContentsGoIntoTheTargetItself) {
    ISOReader reader(sharedImage());
    TempDir out;
    ASSERT_EQ(reader.RetrieveDir("\\PROGRAMS\\", out.path()), 0);
    EXPECT_EQ(readBytes(out / "A.EXE"), readBytes(sharedTree() + "/PROGRAMS/A.EXE"));
    EXPECT_EQ(readBytes(out / "B/B.DLL"), readBytes(sharedTree() + "/PROGRAMS/B/B.DLL"));
    EXPECT_FALSE(boost::filesystem::exists(out / "PROGRAMS"));

    TempDir empty;
    ASSERT_EQ(reader.RetrieveDir("EMPTYDIR", empty.path()), 0);
    EXPECT_TRUE(boost::filesystem::is_empty(empty.path()));
}

TEST(IsoReaderUnpack, UnpacksEverythingWithProgressMarks) {
    ISOReader reader(sharedImage(false));
    TempDir out;
    ConsoleCapture capture;
    ASSERT_EQ(reader.UnpackImage(out.path()), 0);
    const std::string printed = capture.finish().out;
    EXPECT_EQ(printed,
              "load ISO image ...\nload ISO image succeeded\nunpack ISO image ...\n"
              "0%.........10%.........20%.........30%.........40%.........50%.........60%......"
              "...70%.........80%.........90%.........100%\nunpack ISO image succeeded\n");
    for (const std::string& file : reader_fixture::treeFiles()) {
        EXPECT_EQ(readBytes(out / file), readBytes(sharedTree() + "/" + file)) << file;
    }
    EXPECT_TRUE(boost::filesystem::is_directory(out / "EMPTYDIR"));
}

TEST(IsoReaderUnpack, StopsAtAnEntryThatExistsKeepingWhatCameBefore) {
    ISOReader reader(sharedImage(false));
    TempDir out;
    writeFile(out / "PROGRAMS", "in the way");
    const std::string printed =
        captureStdout([&] { EXPECT_EQ(reader.UnpackImage(out.path()), 1); });
    EXPECT_TRUE(contains(printed, "create file/directory failed, IO exception: file/directory " +
                                      (out / "PROGRAMS") +
                                      " already exists\nunpack ISO image failed\n"))
        << printed;
    // xorriso sorts the root's records: I386 comes before PROGRAMS, WINBOM.INI after it.
    EXPECT_TRUE(fileExists(out / "I386/SYSTEM32/CONFIG/DEFAULT"));
    EXPECT_FALSE(fileExists(out / "WINBOM.INI"));
}

TEST(IsoReaderUnpack, ImageWithoutFilesPrintsNoMarks) {
    TempDir dir;
    boost::filesystem::create_directories(dir / "tree/ONLY/DIRS");
    makeIsoWithXorriso(dir / "tree", dir / "dirs.iso");
    ISOReader reader(dir / "dirs.iso");
    boost::filesystem::create_directories(dir / "out");
    ConsoleCapture capture;
    ASSERT_EQ(reader.UnpackImage(dir / "out"), 0);
    EXPECT_EQ(capture.finish().out,
              "load ISO image ...\nload ISO image succeeded\nunpack ISO image ...\n"
              "unpack ISO image succeeded\n");
    EXPECT_TRUE(boost::filesystem::is_directory(dir / "out/ONLY/DIRS"));
}

TEST(IsoReaderLoad, ReadsGenisoimageImagesAndKeepsVersionSuffixes) {
    TempDir dir;
    writeFile(dir / "tree/SUB/DATA.BIN", patternBytes(3000, 9));
    writeFile(dir / "tree/WINBOM.INI", "x");
    makeIsoWithGenisoimage(dir / "tree", dir / "geniso.iso");
    ISOReader reader(dir / "geniso.iso");
    ASSERT_TRUE(reader.FileExists("\\SUB\\DATA.BIN"));
    ASSERT_EQ(reader.RetrieveFile("\\SUB\\DATA.BIN", dir / "out.bin"), 0);
    EXPECT_EQ(readBytes(dir / "out.bin"), readBytes(dir / "tree/SUB/DATA.BIN"));

    // Without -untranslated-filenames, mkisofs stores names with ";1".
    TempDir plain;
    writeFile(plain / "tree/WINBOM.INI", "x");
    ASSERT_EQ(runCommand("xorriso -as mkisofs -quiet -o " + shellQuote(plain / "v.iso") + " " +
                         shellQuote(plain / "tree"))
                  .exitCode,
              0);
    // Every common reader shows WINBOM.INI;1 as WINBOM.INI, and so does the look-up.
    ISOReader versioned(plain / "v.iso");
    EXPECT_TRUE(versioned.FileExists("\\WINBOM.INI"));
    EXPECT_TRUE(versioned.FileExists("\\WINBOM.INI;1"));
    EXPECT_FALSE(versioned.FileExists("\\winbom.ini"));
    EXPECT_TRUE(versioned.NameTaken("\\winbom.ini"));
}

TEST(IsoReaderLoad, MissingAndShortFilesFailWithTheIoLineEachTime) {
    TempDir dir;
    ISOReader missing(dir / "none.iso");
    const std::string out = captureStdout([&] {
        EXPECT_FALSE(missing.FileExists("\\A"));
        EXPECT_FALSE(missing.FileExists("\\A"));
    });
    const std::string line = "load ISO image ...\nload ISO image failed - IO exception: ";
    EXPECT_EQ(out.find(line), 0u) << out;
    EXPECT_NE(out.find(line, 1), std::string::npos) << out;

    std::vector<uint8_t> head = readBytes(sharedImage());
    head.resize(34815);
    writeFile(dir / "short.iso", head);
    ISOReader shortImage(dir / "short.iso");
    const std::string shortOut =
        captureStdout([&] { EXPECT_EQ(shortImage.RetrieveFile("\\WINBOM.INI", dir / "x"), 1); });
    EXPECT_TRUE(contains(shortOut,
                         "load ISO image failed - IO exception: reading 2048 bytes at byte 32768"));
    EXPECT_FALSE(fileExists(dir / "x"));
}
