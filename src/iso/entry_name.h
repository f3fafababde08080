// The one test of whether two entry names are the same name, used by every look-up in
// an image's tree, by the question asked before an add and by the replacement an add
// makes. Names are compared without their ISO 9660 decorations: a trailing ";" with its
// version digits is dropped, and then a trailing ".", so that WINBOM.INI;1 is
// WINBOM.INI and DEFAULT.;1 is DEFAULT, as every common reader shows them.
#pragma once

#include <string>

struct DirectoryNode;

namespace entry_name {

// Whether letter case tells two names apart. Look-ups of the files a run edits match
// case exactly; the clash question and the replacement of an add ignore it, so that no
// add replaces an entry it did not ask about.
enum class LetterCase { exact, ignored };

// The name without its decorations: "WINBOM.INI;1" gives "WINBOM.INI", "DEFAULT.;1"
// and "DEFAULT." give "DEFAULT"; a name without them comes back unchanged.
std::string undecorated(const std::string& name);

// True when `a` and `b` are the same name under `letterCase` once both lose their
// decorations. Bytes above 0x7F are compared as they are.
bool same(const std::string& a, const std::string& b, LetterCase letterCase);

// The order of the records of a directory the program writes: by identifier, byte by
// byte, so that one tree gives one image whatever order the local file system lists it
// in, and an entry added to an image's directory goes where a written one would.
bool sortsBefore(const std::string& identifier, const std::string& other);

// The first entry of `list` other than ".", ".." and hidden ones whose name is `name`; null if
// none.
DirectoryNode* findInList(DirectoryNode* list, const std::string& name, LetterCase letterCase);

}  // namespace entry_name
