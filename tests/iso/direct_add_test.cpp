// The direct add commands: their dialogue on standard input, their lines, and what
// ends up in the packed image.
#include "iso/direct_add.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>

#include "iso/image_sink.h"
#include "iso/iso_modifier.h"
#include "iso/iso_reader.h"
#include "iso/iso_writer_checks.h"
#include "support/console_capture.h"
#include "support/fixture_image.h"
#include "support/test_files.h"

using namespace writer_checks;
using namespace test_support;
namespace fs = boost::filesystem;

namespace {

class DirectAddTest : public testing::Test {
  protected:
    void SetUp() override {
        const std::string source = temp / "source";
        writeFile(source + "/PROGRAMS/EXISTING.EXE", "old program\n");
        writeFile(source + "/PROGRAMS/PKG/OLD.DAT", "old package\n");
        writeFile(source + "/I386/WINBOM.INI", "[WinPE]\r\n");
        image = temp / "in.iso";
        makeIsoWithXorriso(source, image);
        local = temp / "local";
        writeFile(local + "/EXISTING.EXE", "new program\n");
        writeFile(local + "/PKG/NEW.DAT", "new package\n");
        writeFile(local + "/tools/tool.exe", "tool\n");
        reader = std::make_unique<ISOReader>(image);
        modifier = std::make_unique<ISOModifier>(image);
    }

    // Runs `add` with `answers` on standard input; keeps both output streams, without
    // the reader's and the modifier's own loading lines.
    int run(const std::string& answers, const std::function<int()>& add) {
        StandardInput input(answers);
        ConsoleCapture capture;
        const int result = add();
        const Console console = capture.finish();
        out = std::regex_replace(console.out, std::regex("load ISO image (\\.\\.\\.|succeeded)\n"),
                                 "");
        err = console.err;
        return result;
    }

    // The two direct adds on the fixture's reader and modifier.
    int addFile(const std::string& path, const std::string& parent,
                const std::string& answers = "") {
        return run(answers,
                   [&] { return addFileToImage(path, parent, reader.get(), modifier.get()); });
    }
    int addDirectory(const std::string& path, const std::string& parent,
                     const std::string& answers = "") {
        return run(answers,
                   [&] { return addDirectoryToImage(path, parent, reader.get(), modifier.get()); });
    }

    std::string packed() {
        const std::string output = temp / "out.iso";
        int result = -1;
        const std::string lines = captureStdout([&] { result = modifier->PackImage(output, ""); });
        EXPECT_EQ(0, result) << lines;
        EXPECT_EQ("", isovfyErrors(output));
        return output;
    }

    TempDir temp;
    std::string image, local, out, err;
    std::unique_ptr<ISOReader> reader;
    std::unique_ptr<ISOModifier> modifier;
};

}  // namespace

TEST_F(DirectAddTest, AddsWithoutQuestionsWhenTheNameIsFreeAndFailsWithoutAParent) {
    const struct {
        bool directory;
        std::string path;
        std::string parent;
        int result;
        std::string out;
        std::string err;
    } adds[] = {
        {true, local + "/tools/", "", 0,
         "Log: adding directory tools ...\nLog: adding directory tools succeeded\n", ""},
        {false, local + "/tools/tool.exe", "\\I386\\", 0,
         "Log: adding file tool.exe ...\nLog: adding file tool.exe succeeded\n", ""},
        {false, local + "/tools/tool.exe", "\\NOPE", 1, "Log: adding file tool.exe ...\n",
         "Warning: adding file tool.exe failed - parent directory does not exists\n"},
        {true, local + "/tools", "/NOPE/", 1, "Log: adding directory tools ...\n",
         "Warning: adding directory tools failed - parent directory does not exist\n"},
    };
    for (const auto& add : adds) {
        SCOPED_TRACE(add.path + " below " + add.parent);
        EXPECT_EQ(add.result, add.directory ? addDirectory(add.path, add.parent)
                                            : addFile(add.path, add.parent));
        EXPECT_EQ(add.out, out);
        EXPECT_EQ(add.err, err);
    }
    const std::string output = packed();
    EXPECT_EQ("tool\n", isoReadFile(output, "/tools/tool.exe"));
    EXPECT_EQ("tool\n", isoReadFile(output, "/I386/tool.exe"));
}

TEST_F(DirectAddTest, ChangingTheNameAsksAgainUntilTheNameIsFree) {
    // "PKG" is taken, so is "EXISTING.EXE"; "RENAMED" is free.
    EXPECT_EQ(0, addDirectory(local + "/PKG", "\\PROGRAMS", "c EXISTING.EXE c RENAMED"));
    const std::string question =
        "Log: a file or directory with same name exists\n"
        "Log: change the destination directory name, overwrite or abort\n"
        "Log: press 'c' to change name, 'o' to overwrite, other key to abort\n";
    EXPECT_EQ("Log: adding directory PKG ...\n" + question +
                  "Log: please enter the new name for the directory PKG\n" + question +
                  "Log: please enter the new name for the directory EXISTING.EXE\n"
                  "Log: adding directory RENAMED succeeded\n",
              out);
    const std::string output = packed();
    EXPECT_EQ("new package\n", isoReadFile(output, "/PROGRAMS/RENAMED/NEW.DAT"));
    EXPECT_EQ("old package\n", isoReadFile(output, "/PROGRAMS/PKG/OLD.DAT"));
    EXPECT_EQ("old program\n", isoReadFile(output, "/PROGRAMS/EXISTING.EXE"));
}

TEST_F(DirectAddTest, OverwriteReplacesTheEntryWhateverItsKind) {
    EXPECT_EQ(0, addFile(local + "/EXISTING.EXE", "\\PROGRAMS", "o"));
    EXPECT_TRUE(contains(out, "change the destination file name, overwrite or abort"));
    EXPECT_TRUE(contains(out, "Log: adding file EXISTING.EXE succeeded\n"));
    // A directory in place of a file: the local directory takes the file's name.
    writeFile(temp / "as-dir/WINBOM.INI/inside.txt", "inside\n");
    EXPECT_EQ(0, addDirectory(temp / "as-dir/WINBOM.INI", "I386", "o"));
    const std::string output = packed();
    EXPECT_EQ("new program\n", isoReadFile(output, "/PROGRAMS/EXISTING.EXE"));
    EXPECT_EQ("inside\n", isoReadFile(output, "/I386/WINBOM.INI/inside.txt"));
}

TEST_F(DirectAddTest, AnyOtherAnswerOrNoAnswerAborts) {
    for (const std::string answers : {"C", "x", "", "c"}) {
        EXPECT_EQ(1, addFile(local + "/EXISTING.EXE", "\\PROGRAMS", answers)) << answers;
        EXPECT_EQ(
            "Warning: adding file EXISTING.EXE failed - file name conflict, aborted by user\n", err)
            << answers;
    }
    EXPECT_EQ(1, addDirectory(local + "/PKG", "\\PROGRAMS", "Q"));
    EXPECT_EQ("Warning: adding directory PKG failed - package name conflict, aborted by user\n",
              err);
    const std::string output = packed();
    EXPECT_EQ("old program\n", isoReadFile(output, "/PROGRAMS/EXISTING.EXE"));
}

TEST_F(DirectAddTest, InvalidNamesEndInTheExceptionLine) {
    writeFile(local + "/bad:name", "x");
    EXPECT_EQ(1, addFile(local + "/bad:name", ""));
    EXPECT_EQ("", out);
    EXPECT_EQ(0u, err.find("Warning: adding file failed, exception: ")) << err;
    // The directory command reports its exception as a log line, and the cause with the
    // local path on standard error.
    EXPECT_EQ(1, addDirectory(local + "/PKG", "\\PROGRAMS", "c bad|name"));
    EXPECT_TRUE(contains(out, "Log: adding directory failed, exception: ")) << out;
    EXPECT_EQ("Warning: adding " + local +
                  "/PKG failed: \"bad|name\" is not a valid name for an entry of the image\n",
              err);
}

TEST_F(DirectAddTest, MissingReaderOrModifierFailsSilently) {
    EXPECT_EQ(1, run("", [&] {
                  return addFileToImage(local + "/EXISTING.EXE", "", nullptr, modifier.get());
              }));
    EXPECT_EQ(
        1, run("", [&] { return addDirectoryToImage(local + "/PKG", "", reader.get(), nullptr); }));
    EXPECT_EQ("", out);
    EXPECT_EQ("", err);
}

TEST_F(DirectAddTest, TheSameNameTwiceReplacesWithoutAQuestion) {
    writeFile(temp / "second/tool.exe", "second tool\n");
    EXPECT_EQ(0, addFile(local + "/tools/tool.exe", "\\I386"));
    EXPECT_EQ(0, addFile(temp / "second/tool.exe", "\\I386"));
    EXPECT_FALSE(contains(out, "same name exists"));
    EXPECT_EQ("second tool\n", isoReadFile(packed(), "/I386/tool.exe"));
}

TEST_F(DirectAddTest, AFileOverFourGibibytesIsRefusedAtItsAdd) {
    // Sparse: nothing of it is written.
    writeFile(local + "/big.bin", "");
    fs::resize_file(local + "/big.bin", 0x100000000ull);
    writeFile(local + "/tree/big.bin", "");
    fs::resize_file(local + "/tree/big.bin", 0x100000001ull);
    const std::string refusal = " bytes; an image file holds at most 4294967295\n";
    EXPECT_EQ(1, addFile(local + "/big.bin", ""));
    EXPECT_EQ("Log: adding file big.bin ...\nISOModifier AddSingleFile exception: local file " +
                  local + "/big.bin is 4294967296" + refusal,
              out);
    EXPECT_EQ("Warning: adding file big.bin failed - failed to add file into ISO\n", err);
    EXPECT_EQ(1, addDirectory(local + "/tree", ""));
    EXPECT_EQ("Log: adding directory tree ...\nlocal file " + local +
                  "/tree/big.bin is 4294967297" + refusal,
              out);
    EXPECT_EQ("Warning: adding directory tree failed - failed to add file into ISO\n", err);
}

TEST_F(DirectAddTest, AFileSwappedForALinkAfterItsAddFailsThePackAndLeaksNothing) {
    const std::string secret = "SECRET BYTES OF ANOTHER USER\n";
    writeFile(temp / "secret", secret);
    struct Case {
        std::string swapped;  // a local path that was added, then replaced by a link
        bool directory;       // added as part of `local`/tools, else by itself
    };
    for (const Case& c :
         {Case{local + "/tools/tool.exe", true}, Case{local + "/EXISTING.EXE", false}}) {
        SCOPED_TRACE(c.swapped);
        modifier = std::make_unique<ISOModifier>(image);
        EXPECT_EQ(0, run("o\n",
                         [&] {
                             return c.directory ? addDirectoryToImage(local + "/tools", "",
                                                                      reader.get(), modifier.get())
                                                : addFileToImage(c.swapped, "\\PROGRAMS",
                                                                 reader.get(), modifier.get());
                         }))
            << out << err;
        fs::rename(c.swapped, c.swapped + ".old");
        fs::create_symlink(temp / "secret", c.swapped);
        MemoryImageSink sink;
        int result = -1;
        const std::string lines = captureStdout([&] { result = modifier->PackImageTo(sink, ""); });
        EXPECT_EQ(1, result);
        EXPECT_TRUE(
            contains(lines, "cannot open local file " + c.swapped +
                                ": it was replaced by a symbolic link after it was checked"))
            << lines;
        const std::string bytes(sink.bytes().begin(), sink.bytes().end());
        EXPECT_FALSE(contains(bytes, secret));
        fs::remove(c.swapped);
        fs::rename(c.swapped + ".old", c.swapped);
    }
}
