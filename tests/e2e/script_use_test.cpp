// Runs of the built program as scripts and cron jobs make them: every failure said on
// standard error, clash answers chosen up front, a dry run, a listing, the version, the
// progress line on a terminal, start programs and repeated runs.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <map>
#include <regex>
#include <sstream>

#include "e2e/e2e_helpers.h"
#include "e2e/sample_cd_fixture.h"
#include "support/fixture_image.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace fs = boost::filesystem;

namespace {

// Every file below `directory` with its bytes, for "nothing changed" checks.
std::map<std::string, std::string> snapshot(const std::string& directory) {
    std::map<std::string, std::string> files;
    for (const std::string& relative : e2e::listLocal(directory)) {
        const std::string path = directory + "/" + relative;
        files[relative] = fs::is_regular_file(path) ? readFile(path) : std::string("<dir>");
    }
    return files;
}

// Why runs under a pseudo-terminal can not be made here; empty when they can. `script`
// (bsdutils) runs a command on a new pseudo-terminal and records what it shows.
std::string noTerminalReason() {
    if (!test_support::haveTool("script")) {
        return "script (bsdutils) is not installed";
    }
    if (test_support::runCommand("script -qec true /dev/null").exitCode != 0) {
        return "script can not open a pseudo-terminal here";
    }
    return "";
}

}  // namespace

using ScriptRun = FailedRun;

TEST_F(ScriptRun, EveryFailureSaysWhyOnStandardError) {
    writeFile(temp / "text.iso", "just some text\n");
    writeFile(temp / "empty.iso", "");
    fs::create_directories(temp / "dir.iso");
    writeFile(temp / "plain/HELLO.TXT", "hello");
    test_support::makeIsoWithXorriso(temp / "plain", temp / "plain.iso");
    // The sample tree with its job file under a lower-case name, and without a boot record.
    fs::rename(tree() + "/MIRALDA/TASKDECK.XML", tree() + "/MIRALDA/taskdeck.xml");
    test_support::makeIsoWithXorriso(tree(), temp / "lower.iso", "BOOT/HELLO.BIN");
    fs::rename(tree() + "/MIRALDA/taskdeck.xml", tree() + "/MIRALDA/TASKDECK.XML");
    test_support::makeIsoWithXorriso(tree(), temp / "noboot.iso");
    writeFile(temp / "kit/KIT.EXE", "MZ");

    const struct {
        std::vector<std::string> args;
        std::string prefix;
        std::vector<std::string> lines;  // each on standard error, in this order
    } cases[] = {
        {{"-i", "text.iso", "-f"},
         "",
         {"Warning: text.iso is not an ISO 9660 image (15 bytes, too short: no volume "
          "descriptor at block 16)\n"}},
        {{"-i", "empty.iso", "-f"},
         "",
         {"Warning: empty.iso is not an ISO 9660 image (an empty file: no volume descriptor at "
          "block 16)\n"}},
        {{"-i", "dir.iso", "-f"}, "", {"Warning: the image dir.iso is a directory"}},
        {{"-i", "plain.iso", "-f"},
         "",
         {"Warning: plain.iso has no \\WINBOM.INI: this is not a WinPE CD image\n",
          "Warning: retrieve winbom.ini failed\n"}},
        {{"-i", "lower.iso", "-f"},
         "",
         {"Warning: lower.iso has no \\MIRALDA\\TASKDECK.XML (it holds \\MIRALDA\\taskdeck.xml, "
          "a name that differs only in letter case)\n",
          "Warning: retrieve taskdeck.xml failed\n"}},
        {{"-i", "noboot.iso", "-f"},
         "",
         {"Warning: noboot.iso is not a bootable CD image: load boot image failed - invalid boot "
          "CD\n"}},
        {{"-i", "cd.iso", "-p", "kit", "-p", "kit"},
         "",
         {"Warning: adding directory kit failed: "}},
        {{"-i", "cd.iso", "-f"},
         "trap '' XFSZ; ulimit -f 400;",
         {"Warning: pack image file back failed: ", "File too large\n"}},
    };
    for (const auto& c : cases) {
        const e2e::ProgramRun failed = run(c.args, "", c.prefix);
        EXPECT_EQ(failed.exitCode, 1) << c.args[1];
        size_t at = 0;
        for (const std::string& line : c.lines) {
            at = failed.err.find(line, at);
            EXPECT_NE(at, std::string::npos) << c.args[1] << ": " << line << "\n" << failed.err;
        }
        EXPECT_FALSE(test_support::fileExists(image() + ".tmp"));
        EXPECT_TRUE(fs::is_empty(systemTmp())) << c.args[1];
    }
    expectNothingLeft();
}

TEST_F(ScriptRun, EachClashPolicyAnswersWithoutAskingAndLogsItsAnswer) {
    writeFile(temp / "add/README.TXT", "replacement");
    // The image already holds README_2.TXT, so rename takes README_3.TXT.
    writeFile(tree() + "/DOCS/README_2.TXT", "second");
    test_support::makeIsoWithXorriso(tree(), image(), "BOOT/HELLO.BIN");
    const std::vector<std::string> add = {"-i", "cd.iso", "-Y", "add/README.TXT%\\DOCS"};
    const std::string question =
        "Log: a file or directory with same name exists\n"
        "Log: change the destination file name, overwrite or abort\n"
        "Log: press 'c' to change name, 'o' to overwrite, other key to abort\n";
    auto with = [&add](const char* policy) {
        std::vector<std::string> args = add;
        args.insert(args.end(), {"--on-clash", policy});
        return args;
    };

    // An answer on standard input is never read under a policy.
    const e2e::ProgramRun renamed = run(with("rename"), "o\n");
    ASSERT_EQ(renamed.exitCode, 0) << renamed.out << renamed.err;
    EXPECT_TRUE(contains(
        renamed.out, question + "Log: --on-clash rename: change name README.TXT to README_3.TXT\n"))
        << renamed.out;
    EXPECT_EQ(readFromImage(image(), "/DOCS/README_3.TXT"), "replacement");
    EXPECT_EQ(readFromImage(image(), "/DOCS/README_2.TXT"), "second");

    const e2e::ProgramRun overwritten = run(with("overwrite"), "c\nX.TXT\n");
    ASSERT_EQ(overwritten.exitCode, 0) << overwritten.out << overwritten.err;
    EXPECT_TRUE(
        contains(overwritten.out, question + "Log: --on-clash overwrite: overwrite README.TXT\n"))
        << overwritten.out;
    EXPECT_EQ(readFromImage(image(), "/DOCS/README.TXT"), "replacement");

    // Where the question offers no overwrite (a program in \PROGRAMS), overwrite aborts;
    // rename finds the next name there too.
    writeFile(temp / "tool/TOOL.EXE", "MZ one");
    ASSERT_EQ(run({"-i", "cd.iso", "-b", "tool/TOOL.EXE"}).exitCode, 0);
    const e2e::ProgramRun notOffered =
        run({"-i", "cd.iso", "-b", "tool/TOOL.EXE", "--on-clash", "overwrite"});
    EXPECT_EQ(notOffered.exitCode, 1);
    EXPECT_TRUE(
        contains(notOffered.out, "Log: --on-clash overwrite: overwrite is not offered, abort\n"))
        << notOffered.out;
    EXPECT_TRUE(contains(notOffered.err, "adding file TOOL.EXE failed - file name conflict"))
        << notOffered.err;
    const e2e::ProgramRun second =
        run({"-i", "cd.iso", "-B", "tool/TOOL.EXE", "--on-clash", "rename"});
    ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
    EXPECT_EQ(readFromImage(image(), "/PROGRAMS/TOOL_2.EXE"), "MZ one");
    EXPECT_TRUE(contains(readFromImage(image(), "/MIRALDA/TASKDECK.XML"),
                         "processName=\"\\PROGRAMS\\TOOL_2.EXE\""));

    // Asked on a terminal while standard output goes to a log: the question is shown on
    // standard error as well, and the answer typed there is taken.
    if (noTerminalReason().empty()) {
        const std::string command = "cd " + shellQuote(temp.path()) + " && " +
                                    shellQuote(e2e::programPath()) + " " + add[0] + " " + add[1] +
                                    " " + add[2] + " " + shellQuote(add[3]) + " >log.txt";
        const test_support::CommandResult asked =
            test_support::runCommand("printf 'o\\n' | script -qec " + shellQuote(command) + " " +
                                     shellQuote(temp / "typescript"));
        ASSERT_EQ(asked.exitCode, 0) << asked.output << readFile(temp / "log.txt");
        EXPECT_TRUE(
            contains(readFile(temp / "typescript"),
                     "Log: press 'c' to change name, 'o' to overwrite, other key to abort\r\n"));
        EXPECT_TRUE(contains(readFile(temp / "log.txt"), question));
    }

    const e2e::ProgramRun unknown = run(with("skip"));
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(contains(unknown.err, "--on-clash takes ask, abort, overwrite or rename"))
        << unknown.err;
}

TEST_F(ScriptRun, ADryRunReportsAndWritesNothing) {
    writeFile(temp / "add/README.TXT", "replacement");
    writeFile(temp / "add/TOOL.EXE", std::string(5000, 'x'));
    const std::vector<std::string> args = {
        "-i", "cd.iso", "-b", "add/TOOL.EXE", "-Y", "add/README.TXT%\\DOCS", "-f", "--dry-run"};
    fs::create_directories(systemTmp());
    const std::map<std::string, std::string> before = snapshot(temp.path());

    // The clash is reported, and with nobody to answer it the dry run fails as a run would.
    const e2e::ProgramRun clash = run(args);
    EXPECT_EQ(clash.exitCode, 1);
    EXPECT_TRUE(contains(clash.out, "Log: a file or directory with same name exists\n"));
    EXPECT_TRUE(contains(clash.err, "file name conflict, aborted by user")) << clash.err;
    EXPECT_TRUE(snapshot(temp.path()) == before) << "the failed dry run changed the directory";

    std::vector<std::string> renaming = args;
    renaming.insert(renaming.end(), {"--on-clash", "rename"});
    const e2e::ProgramRun dry = run(renaming);
    ASSERT_EQ(dry.exitCode, 0) << dry.out << dry.err;
    EXPECT_EQ(dry.err, "");
    EXPECT_TRUE(snapshot(temp.path()) == before) << "the dry run changed the directory";
    for (const char* line :
         {"Log: --on-clash rename: change name README.TXT to README_2.TXT\n",
          "Log: dry run: add file 5000 \\PROGRAMS\\TOOL.EXE\n",
          "Log: dry run: add file 11 \\DOCS\\README_2.TXT\n", "Log: dry run: replace file "}) {
        EXPECT_TRUE(contains(dry.out, line)) << line << dry.out;
    }
    EXPECT_TRUE(
        std::regex_search(dry.out, std::regex(R"(Log: dry run: add dir [0-9]+ \\PROGRAMS\n)")))
        << dry.out;
    EXPECT_FALSE(contains(dry.out, "pack image file back")) << dry.out;
    EXPECT_TRUE(
        endsWith(dry.out, std::string("Log: dry run: nothing was written\n") + kCleanUpLines));

    // The size it gives is that of the image a real run writes.
    std::smatch size;
    ASSERT_TRUE(std::regex_search(dry.out, size, std::regex("new image size ([0-9]+) bytes")));
    std::vector<std::string> real(args.begin(), args.end() - 1);  // without --dry-run
    real.insert(real.end(), {"--on-clash", "rename"});
    ASSERT_EQ(run(real).exitCode, 0);
    EXPECT_EQ(std::to_string(fs::file_size(image())), size[1].str());
}

TEST_F(ScriptRun, TheListingIsTheTreeIsoinfoSeesAndTheBootEntry) {
    const e2e::ProgramRun listed = runProgram(temp.path(), {"-i", "cd.iso", "--list"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.err, "");

    // isoinfo -l: "Directory listing of /DOCS/" then lines ending "[ BLOCK 00]  NAME".
    std::map<std::string, std::string> expected;  // path -> "kind size block"
    std::istringstream isoinfo(e2e::mustRun("isoinfo -l -i " + shellQuote(image())));
    static const std::regex heading("^Directory listing of (/.*)$");
    static const std::regex entry(
        R"(^([d-])\S+\s+\S+\s+\S+\s+\S+\s+(\d+) .*\[\s*(\d+) \d+\]\s+(\S+)\s*$)");
    std::string line;
    std::string directory;
    while (std::getline(isoinfo, line)) {
        std::smatch m;
        if (std::regex_search(line, m, heading)) {
            directory = m[1];
        } else if (std::regex_search(line, m, entry) && m[4] != "." && m[4] != "..") {
            std::string path = directory + m[4].str();
            std::replace(path.begin(), path.end(), '/', '\\');
            expected[path] = (m[1] == "d" ? "dir " : "file ") + m[2].str() + " " + m[3].str();
        }
    }
    ASSERT_GE(expected.size(), 20u);

    std::map<std::string, std::string> got;
    std::vector<std::string> boot;
    std::istringstream lines(listed.out);
    while (std::getline(lines, line)) {
        if (line.rfind("boot ", 0) == 0) {
            boot.push_back(line);
            continue;
        }
        const size_t pathAt = line.find(" \\");
        ASSERT_NE(pathAt, std::string::npos) << line;
        got[line.substr(pathAt + 1)] = line.substr(0, pathAt);
    }
    EXPECT_EQ(got, expected);

    // The boot entry as xorriso reports it: BIOS, no emulation, 4 sectors at its LBA.
    const std::string report =
        e2e::mustRun("xorriso -indev " + shellQuote(image()) + " -report_el_torito plain 2>&1");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        report, m,
        std::regex(R"(El Torito boot img :\s+1\s+BIOS\s+y\s+none\s+0x0000\s+0x00\s+4\s+(\d+))")))
        << report;
    EXPECT_EQ(boot, (std::vector<std::string>{"boot 1 0x00 0 " + m[1].str() + " 2048"}));

    // An unreadable image: a warning and exit 1; nothing is made beside it.
    writeFile(temp / "text.iso", "text");
    const e2e::ProgramRun bad = runProgram(temp.path(), {"-i", "text.iso", "--list"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_TRUE(contains(bad.err, "Warning: text.iso is not an ISO 9660 image")) << bad.err;
    expectImageUntouched();
}

TEST_F(ScriptRun, TheVersionIsTheProjectsAndOnlyAnswersAlone) {
    const std::string cmake = readFile(WINPE_SOURCE_DIR "/CMakeLists.txt");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(cmake, m, std::regex(R"(project\(winpe_iso VERSION ([0-9.]+))")));
    for (const char* asked : {"--version", "-V"}) {
        const e2e::ProgramRun version = runProgram(temp.path(), {asked});
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, "winpe-iso " + m[1].str() + "\n");
        EXPECT_EQ(version.err, "");
    }
    // Not the only argument: an error as before, the run does not start.
    EXPECT_EQ(runProgram(temp.path(), {"-i", "cd.iso", "--version"}).exitCode, 1);
}

TEST_F(ScriptRun, AProgressLineOnlyWhenStandardErrorIsATerminal) {
    const std::string noTerminal = noTerminalReason();
    if (!noTerminal.empty()) {
        GTEST_SKIP() << noTerminal;
    }
    // 80 MiB, sparse: copied into the work directory and packed, each above 64 MiB.
    const std::string big = temp / "BIG.BIN";
    test_support::runCommand("truncate -s 80M " + shellQuote(big));
    const std::string command = "cd " + shellQuote(temp.path()) + " && " +
                                shellQuote(e2e::programPath()) + " -i cd.iso -b BIG.BIN >out.txt";
    const std::string typescript = temp / "typescript";
    const test_support::CommandResult ran = test_support::runCommand(
        "script -qec " + shellQuote(command) + " " + shellQuote(typescript) + " </dev/null");
    ASSERT_EQ(ran.exitCode, 0) << ran.output << readFile(temp / "out.txt");
    const std::string terminal = readFile(typescript);
    for (const char* phase :
         {"\rcopy into the work directory: ", "\rpack cd.iso.tmp: ", "\rflush cd.iso.tmp: "}) {
        EXPECT_TRUE(contains(terminal, phase)) << phase << terminal;
    }
    EXPECT_TRUE(contains(terminal, "MiB of 80.0 MiB, ")) << terminal;
    EXPECT_TRUE(contains(terminal, "\r\033[K")) << "the line is cleared";
    EXPECT_EQ(readFile(temp / "out.txt").find("MiB of"), std::string::npos);

    // Standard error a pipe: not a byte of it.
    const e2e::ProgramRun piped = run({"-i", "cd.iso", "-b", "BIG.BIN", "--on-clash", "rename"});
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.err, "");
}

TEST_F(ScriptRun, StartProgramsTakeEitherSeparatorAndAreChecked) {
    writeFile(temp / "kit/bin/kit.exe", "MZ kit");
    const struct {
        const char* value;
        const char* package;  // the name the package gets in the image
        const char* program;  // and the start program's path in it
        const char* warning;
    } cases[] = {
        {"kit%bin/kit.exe", "kit", "\\bin\\kit.exe", ""},
        {"kit%\\bin\\kit.exe", "kit_2", "\\bin\\kit.exe", ""},
        {"kit%nosuch.exe", "kit_3", "\\nosuch.exe",
         "Warning: start program nosuch.exe is not a file of the package kit_3"},
    };
    for (const auto& c : cases) {
        const e2e::ProgramRun started =
            run({"-i", "cd.iso", "-P", c.value, "--on-clash", "rename"});
        ASSERT_EQ(started.exitCode, 0) << c.value << started.out << started.err;
        EXPECT_EQ(started.err.empty(), *c.warning == '\0') << started.err;
        EXPECT_TRUE(contains(started.err, c.warning)) << started.err;
        const std::string job = readFromImage(image(), "/MIRALDA/TASKDECK.XML");
        const std::string program = std::string("\\PROGRAMS\\") + c.package + c.program;
        const std::string expected = "<exec processName=\"" + program + "\" currentDir=\"" +
                                     program.substr(0, program.rfind('\\')) + "\" />";
        EXPECT_TRUE(contains(job, expected)) << c.value << "\n" << job;
    }
}

TEST_F(ScriptRun, BootFixIsPatchedOnceOverTwoRuns) {
    writeFile(temp / "vnc/winvnc4.exe", "MZ vnc");
    const std::string patched = "\xCB" + readFile(tree() + "/I386/BOOTFIX.BIN");
    ASSERT_EQ(run({"-i", "cd.iso", "-v", "vnc%winvnc4.exe"}).exitCode, 0);
    EXPECT_EQ(readFromImage(image(), "/I386/BOOTFIX.BIN"), patched);
    const e2e::ProgramRun again =
        run({"-i", "cd.iso", "-v", "vnc%winvnc4.exe", "--on-clash", "rename"});
    ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
    EXPECT_TRUE(contains(again.out, "BOOTFIX.BIN returns at once already")) << again.out;
    EXPECT_EQ(readFromImage(image(), "/I386/BOOTFIX.BIN"), patched);
}
