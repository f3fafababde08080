// Listings of local trees: which links are followed, which entries end the listing, and
// what the callers' checks see.
#include "platform/local_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <iostream>

#include "support/test_files.h"

namespace fs = boost::filesystem;
using local_tree::Depth;
using test_support::failureOf;
using test_support::TempDir;
using test_support::writeFile;

namespace {

// "path size" of every file and "path/" of every directory, in listing order.
void flatten(const std::vector<local_tree::Entry>& entries, const std::string& above,
             std::vector<std::string>& lines) {
    for (const local_tree::Entry& entry : entries) {
        lines.push_back(above + entry.name +
                        (entry.directory ? "/" : " " + std::to_string(entry.size)));
        flatten(entry.children, above + entry.name + "/", lines);
    }
}

}  // namespace

TEST(LocalTree, LinksLeavingTheTreeLoopsAndSpecialFilesEndTheListingNamingThem) {
    const struct {
        const char* entry;    // below the top directory
        const char* link;     // what it leads to, "@" the outside; FIFO and DEVICE make one
        const char* refusal;  // after "symbolic link" or "local entry" and the entry's path
    } cases[] = {
        {"NOTES.TXT", "@/secret", " leads to @/secret, outside "},
        {"sub/more", "../../outside", " leads to @, outside "},
        {"gone", "missing", " can not be followed: No such file or directory"},
        {"sub/back", "..", " leads back to "},
        {"sub/self", ".", " leads back to "},
        {"sub/pipe", "FIFO", " is a FIFO, neither a regular file nor a directory"},
        {"null", "DEVICE", " is a character device, neither a regular file nor a directory"},
    };
    for (const auto& c : cases) {
        TempDir temp;
        const std::string top = temp / "top", at = temp / "top/" + c.entry;
        writeFile(temp / "outside/secret", "secret");
        writeFile(top + "/sub/ok.txt", "ok");
        const std::string outside = fs::canonical(temp / "outside").string();
        const auto resolved = [&](std::string text) {
            return text.find('@') == std::string::npos ? text
                                                       : text.replace(text.find('@'), 1, outside);
        };
        const std::string link = c.link;
        const bool special = link == "FIFO" || link == "DEVICE";
        const int made = link == "FIFO"     ? ::mkfifo(at.c_str(), 0600)
                         : link == "DEVICE" ? ::mknod(at.c_str(), S_IFCHR | 0600, makedev(1, 3))
                                            : ::symlink(resolved(link).c_str(), at.c_str());
        if (made != 0) {
            std::cout << "skipped: " << at << " can not be made here\n";
            continue;
        }
        const std::string kind = special ? "local entry " : "symbolic link ";
        // Named "top/entry" even when the top is given as "top/".
        const std::string failure = failureOf([&] { local_tree::scan(top + "/", Depth::whole); });
        EXPECT_EQ(failure.rfind(kind + at + resolved(c.refusal), 0), 0u) << failure;
    }
}

TEST(LocalTree, LinksInsideAreFollowedAndANameIsCheckedBeforeWhatIsBelowIt) {
    TempDir temp;
    writeFile(temp / "pkg/DATA.TXT", "package data");
    writeFile(temp / "pkg/sub/deep.txt", "deep");
    fs::create_symlink("DATA.TXT", temp / "pkg/COPY.TXT");
    fs::create_symlink("sub", temp / "pkg/again");
    fs::create_symlink("../DATA.TXT", temp / "pkg/sub/up.txt");
    fs::create_symlink(temp / "pkg", temp / "top");  // a link as the top is followed
    std::vector<std::string> listed;
    flatten(local_tree::scan(temp / "top", Depth::whole), "", listed);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"COPY.TXT 12", "DATA.TXT 12", "again/",
                                                "again/deep.txt 4", "again/up.txt 12", "sub/",
                                                "sub/deep.txt 4", "sub/up.txt 12"}));

    // Only the top's entries (a link there to a FIFO below is still refused), and a refused
    // directory name stops the listing before its contents are looked at.
    listed.clear();
    flatten(local_tree::scan(temp / "top", Depth::topOnly), "", listed);
    EXPECT_EQ(listed.size(), 4u);
    ASSERT_EQ(::mkfifo((temp / "pkg/sub/pipe").c_str(), 0600), 0);
    fs::create_symlink("sub/pipe", temp / "pkg/pipe.lnk");
    EXPECT_EQ(failureOf([&] { local_tree::scan(temp / "top", Depth::topOnly); }),
              "local entry " + temp / "top/pipe.lnk" +
                  " is a FIFO, neither a regular file nor a directory");
    writeFile(temp / "bad/a:b/x.txt", "x");
    ASSERT_EQ(::mkfifo((temp / "bad/a:b/pipe").c_str(), 0600), 0);
    const auto noColon = [](const std::string& name, const std::string& localPath) {
        if (name.find(':') != std::string::npos) {
            throw std::invalid_argument("local entry " + localPath + ": bad name " + name);
        }
    };
    EXPECT_EQ(failureOf([&] { local_tree::scan(temp / "bad", Depth::whole, noColon); }),
              "local entry " + temp / "bad/a:b" + ": bad name a:b");
}
