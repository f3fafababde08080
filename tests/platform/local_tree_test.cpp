// Listings of local trees: which links are followed, which entries end the listing, and
// what the checks of the callers see.
#include "platform/local_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <functional>
#include <iostream>
#include <map>

#include "iso/image_path.h"
#include "support/test_files.h"

namespace fs = boost::filesystem;
using test_support::failureOf;
using test_support::TempDir;
using test_support::writeFile;

TEST(LocalTree, LinksLeavingTheTreeLoopsAndSpecialFilesEndTheListingNamingThem) {
    const struct {
        std::string entry;  // below the top directory
        std::function<void(const std::string& top, const std::string& outside)> make;
        std::string refusal;  // after "<top>/<entry>"; "@" stands for the resolved outside
    } cases[] = {
        {"NOTES.TXT", [](auto& t, auto& o) { fs::create_symlink(o + "/secret", t + "/NOTES.TXT"); },
         " leads to @/secret, outside "},
        {"sub/more", [](auto& t, auto&) { fs::create_symlink("../../outside", t + "/sub/more"); },
         " leads to @, outside "},
        {"gone", [](auto& t, auto&) { fs::create_symlink("missing", t + "/gone"); },
         " can not be followed: No such file or directory"},
        {"sub/back", [](auto& t, auto&) { fs::create_symlink("..", t + "/sub/back"); },
         " leads back to "},
        {"sub/self", [](auto& t, auto&) { fs::create_symlink(".", t + "/sub/self"); },
         " leads back to "},
        {"sub/pipe", [](auto& t, auto&) { test_support::makeFifo(t + "/sub/pipe"); },
         " is a FIFO, neither a regular file nor a directory"},
        {"sock", [](auto& t, auto&) { test_support::makeSocket(t + "/sock"); }, " is a socket"},
        {"link",
         [](auto& t, auto&) {
             test_support::makeFifo(t + "/sub/fifo");
             fs::create_symlink("sub/fifo", t + "/link");
         },
         " is a FIFO"},
        {"null",
         [](auto& t, auto&) { ::mknod((t + "/null").c_str(), S_IFCHR | 0600, makedev(1, 3)); },
         " is a character device"},
    };
    for (const auto& c : cases) {
        TempDir temp;
        const std::string top = temp / "top";
        writeFile(temp / "outside/secret", "secret");
        writeFile(top + "/sub/ok.txt", "ok");
        c.make(top, temp / "outside");
        if (!fs::exists(fs::symlink_status(top + "/" + c.entry))) {
            std::cout << "skipped " << c.entry << ": it can not be made here\n";
            continue;
        }
        std::string refusal = c.refusal;
        const std::string outside = fs::canonical(temp / "outside").string();
        if (refusal.find('@') != std::string::npos) {
            refusal.replace(refusal.find('@'), 1, outside);
        }
        const std::string kind = refusal.rfind(" is ", 0) == 0 ? "local entry " : "symbolic link ";
        const std::string failure =
            failureOf([&] { local_tree::scan(top, local_tree::Depth::whole); });
        EXPECT_EQ(failure.rfind(kind + top + "/" + c.entry + refusal, 0), 0u) << failure;
    }
}

TEST(LocalTree, LinksInsideAreFollowedAndTheChecksSeeEveryEntryBeforeItsContents) {
    TempDir temp;
    writeFile(temp / "pkg/DATA.TXT", "package data");
    writeFile(temp / "pkg/sub/deep.txt", "deep");
    fs::create_symlink("DATA.TXT", temp / "pkg/COPY.TXT");
    fs::create_symlink("sub", temp / "pkg/again");
    fs::create_symlink("../DATA.TXT", temp / "pkg/sub/up.txt");
    fs::create_symlink(temp / "pkg", temp / "top");  // a link as the top is followed
    std::vector<std::string> seen;
    const auto entries = local_tree::scan(
        temp / "top/", local_tree::Depth::whole,
        [&](const std::string& name, const std::string& path) {
            seen.push_back(name + " " + path);
        },
        [&](const std::string& path, uint64_t size) {
            seen.push_back(path + " " + std::to_string(size));
        });
    std::map<std::string, const local_tree::Entry*> byName;
    for (const local_tree::Entry& entry : entries) {
        byName[entry.name] = &entry;
    }
    ASSERT_EQ(byName.size(), 4u);
    EXPECT_EQ(byName["COPY.TXT"]->size, 12u);
    EXPECT_FALSE(byName["COPY.TXT"]->directory);
    for (const char* directory : {"again", "sub"}) {
        ASSERT_TRUE(byName[directory]->directory);
        ASSERT_EQ(byName[directory]->children.size(), 2u) << directory;
    }
    // Each name before its own further checks; paths as "top/name", not "top//name".
    const std::string sub = temp / "top/sub";
    const auto at = [&](const std::string& line) {
        return std::find(seen.begin(), seen.end(), line) - seen.begin();
    };
    EXPECT_LT(at("sub " + sub), at("deep.txt " + sub + "/deep.txt"));
    EXPECT_LT(at("up.txt " + sub + "/up.txt"), at(sub + "/up.txt 12"));
    EXPECT_LT(at("again " + temp / "top/again"), at(temp / "top/again/deep.txt 4"));
    EXPECT_EQ(seen.size(), 2 * 7u) << testing::PrintToString(seen);

    // Only the top's own entries, and a refused name stops the listing before what is below.
    for (const local_tree::Entry& entry :
         local_tree::scan(temp / "top", local_tree::Depth::topOnly)) {
        EXPECT_TRUE(entry.children.empty()) << entry.name;
    }
    writeFile(temp / "bad/a:b/x.txt", "x");
    test_support::makeFifo(temp / "bad/a:b/pipe");
    EXPECT_EQ(failureOf([&] {
                  local_tree::scan(temp / "bad", local_tree::Depth::whole,
                                   image_path::requireLocalEntryName);
              }),
              "local entry " + temp / "bad/a:b" +
                  ": \"a:b\" is not a valid name for an entry of the image");
}
