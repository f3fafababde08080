// A boot CD for the editor suites: a local tree packed by xorriso at test time, the
// project's ISOReader on that image, and a work tree holding the six files retrieved
// from it, as a run prepares them. Standard input is replaced by a string so that tests
// answer the name-conflict questions.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "editor/edit_request.h"
#include "editor/winpe_editor.h"
#include "iso/iso_reader.h"
#include "support/console_capture.h"
#include "support/test_files.h"

namespace editor_test {

// The editor takes the changes a run's command line asks for.
using Options = EditRequest;

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

    // Runs `edit` on an editor made for `options` and returns what it wrote to the console.
    test_support::Console edited(const std::function<void(WinpeEditor&)>& edit,
                                 const Options& options = Options());

    // What apply() wrote to the console, on an editor made for `options`; it must return
    // `result`.
    test_support::Console applied(const Options& options, int result);

    // Writes each {path below source(), content} pair.
    void writeSources(const std::vector<std::pair<std::string, std::string>>& files) const;

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
    test_support::StandardInput input_;
};

// Lines of a CR LF file, without the line ends; fails the test on a bare LF.
std::vector<std::string> crlfLines(const std::string& path);

}  // namespace editor_test

// The names every editor suite works with.
using editor_test::crlfLines;
using editor_test::EditorTest;
using editor_test::Options;
using test_support::Console;
using test_support::ConsoleCapture;
using test_support::fileExists;
using test_support::readBytes;
using test_support::readFile;
using test_support::writeFile;
using Lines = std::vector<std::string>;
