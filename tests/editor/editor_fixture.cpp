#include "editor/editor_fixture.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <iostream>

#include "support/fixture_image.h"

namespace fs = boost::filesystem;
using test_support::writeFile;

namespace editor_test {

const char* const kJobFile =
    "<?xml version=\"1.0\"?>\r\n"
    "<taskDeck>\r\n"
    "  <exec processName=\"\\MIRALDA\\AGENT.EXE\" currentDir=\"\\MIRALDA\" />\r\n"
    "</taskDeck>\r\n";

const char* const kWinbom =
    "[Factory]\r\n"
    "WinBOMType=WinPE\r\n"
    "\r\n"
    "[WinPE.Net]\r\n"
    "Startnet=Yes\r\n";

const char* const kOemSif =
    "[Version]\r\n"
    "Signature=\"$WINDOWS NT$\"\r\n"
    "\r\n"
    ";[OemDriverParams]\r\n"
    ";OemDriverRoot=\"\"\r\n"
    ";OemDriverDirs=\r\n";

namespace {

// Image path and path in the work tree of the files a run retrieves.
const char* const kRetrievedFiles[] = {
    "WINBOM.INI",       "I386/SYSTEM32/WINPEOEM.SIF", "I386/SYSTEM32/CONFIG/DEFAULT",
    "I386/BOOTFIX.BIN", "I386/SYSTEM32/STARTNET.CMD", "MIRALDA/TASKDECK.XML",
};

const char* const kWorkDirectories[] = {
    "I386", "I386/SYSTEM32", "I386/SYSTEM32/CONFIG", "I386/SYSTEM32/DRIVERS", "I386/INF", "MIRALDA",
};

std::string imagePathOf(const std::string& relative) {
    std::string path = "\\" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace

EditorTest::EditorTest()
    : cdTree_(temp_ / "cd"), image_(temp_ / "cd.iso"), treeRoot_(temp_ / "work/image_file_dir") {}

EditorTest::~EditorTest() = default;

void EditorTest::SetUp() {
    writeFile(cdTree_ + "/MIRALDA/TASKDECK.XML", kJobFile);
    writeFile(cdTree_ + "/MIRALDA/AGENT.EXE", "agent");
    writeFile(cdTree_ + "/WINBOM.INI", kWinbom);
    writeFile(cdTree_ + "/I386/SYSTEM32/WINPEOEM.SIF", kOemSif);
    writeFile(cdTree_ + "/I386/SYSTEM32/STARTNET.CMD", "wpeinit\r\n");
    writeFile(cdTree_ + "/I386/BOOTFIX.BIN", test_support::patternBytes(3000, 7));
    writeFile(cdTree_ + "/I386/SYSTEM32/DRIVERS/DISK.SYS", "disk");
    writeFile(cdTree_ + "/I386/INF/DISK.INF", "[Version]\r\n");
    fs::create_directories(cdTree_ + "/I386/SYSTEM32/CONFIG");
    fs::copy_file(WINPE_SOURCE_DIR "/tests/fixtures/minimal.hive",
                  cdTree_ + "/I386/SYSTEM32/CONFIG/DEFAULT");
    fs::create_directories(temp_ / "src");
}

void EditorTest::buildImage() {
    test_support::makeIsoWithXorriso(cdTree_, image_);
    reader_.reset(new ISOReader(image_));
    for (const char* directory : kWorkDirectories) {
        fs::create_directories(treeRoot_ + "/" + directory);
    }
    ConsoleCapture quiet;
    for (const char* file : kRetrievedFiles) {
        ASSERT_EQ(0, reader_->RetrieveFile(imagePathOf(file), treeRoot_ + "/" + file)) << file;
    }
}

std::unique_ptr<WinpeEditor> EditorTest::makeEditor(const Options& o) {
    if (!reader_) {
        buildImage();
    }
    return std::make_unique<WinpeEditor>(o, treeRoot_, reader_.get());
}

test_support::Console EditorTest::edited(const std::function<void(WinpeEditor&)>& edit,
                                         const Options& options) {
    const std::unique_ptr<WinpeEditor> editor = makeEditor(options);
    return test_support::captureConsole([&] { edit(*editor); });
}

test_support::Console EditorTest::applied(const Options& options, int result) {
    return edited([&](WinpeEditor& editor) { EXPECT_EQ(result, editor.apply()); }, options);
}

void EditorTest::writeSources(const std::vector<std::pair<std::string, std::string>>& files) const {
    test_support::writeFiles(temp_ / "src", files);
}

void EditorTest::answer(const std::string& text) {
    input_.replace(text);
}

std::vector<std::string> crlfLines(const std::string& path) {
    const std::string content = test_support::readFile(path);
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        const size_t end = content.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << path << " has text after its last CR LF";
            lines.push_back(content.substr(start));
            break;
        }
        const std::string line = content.substr(start, end - start);
        EXPECT_EQ(std::string::npos, line.find('\n')) << path << " has a bare LF";
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

}  // namespace editor_test
