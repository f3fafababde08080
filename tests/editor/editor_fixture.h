// A boot CD for the editor suites: a local tree packed by xorriso at test time, the
// project's ISOReader on that image, and a work tree holding the six files retrieved
// from it, as a run prepares them. Standard input is replaced by a string so that tests
// answer the name-conflict questions.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "editor/winpe_editor.h"
#include "iso/iso_reader.h"
#include "support/test_files.h"

namespace editor_test {

struct Options {
    std::vector<std::string> storageDrivers;
    std::vector<std::string> networkDrivers;
    std::vector<std::string> binaries;
    std::vector<std::string> startBinaries;
    std::vector<std::string> packages;
    std::vector<std::string> startPackages;
    std::vector<std::string> directories;
    std::vector<std::string> files;
    std::string vnc;
    bool firewallOff = false;
};

// What a call wrote to the console.
struct Console {
    std::string out;  // standard output
    std::string err;  // standard error
};

// Captures standard output and standard error until finish().
class ConsoleCapture {
  public:
    ConsoleCapture();
    ~ConsoleCapture();
    Console finish();

  private:
    bool running_ = true;
};

// The job file, WINBOM.INI and WINPEOEM.SIF of the fixture CD, with CR LF line ends.
extern const char* const kJobFile;
extern const char* const kWinbom;
extern const char* const kOemSif;

class EditorTest : public ::testing::Test {
  protected:
    EditorTest();
    ~EditorTest() override;

    // Writes the fixture CD files into cdTree(); tests add entries before buildImage().
    void SetUp() override;

    // Packs cdTree() into the image, opens the reader on it and retrieves the six files
    // into the work tree below treeRoot().
    void buildImage();

    std::unique_ptr<WinpeEditor> makeEditor(const Options& options = Options());

    // The text the next questions read from standard input.
    void answer(const std::string& text);

    const std::string& cdTree() const { return cdTree_; }
    const std::string& treeRoot() const { return treeRoot_; }
    // A local path below treeRoot(), "/" separated.
    std::string work(const std::string& relative) const { return treeRoot_ + "/" + relative; }
    // A path for source files and directories of a test.
    std::string source(const std::string& relative) const { return temp_ / ("src/" + relative); }

    test_support::TempDir temp_;

  private:
    std::string cdTree_;
    std::string image_;
    std::string treeRoot_;
    std::unique_ptr<ISOReader> reader_;
    std::istringstream input_;
    std::streambuf* savedInput_ = nullptr;
};

// Lines of a CR LF file, without the line ends; fails the test on a bare LF.
std::vector<std::string> crlfLines(const std::string& path);

}  // namespace editor_test
