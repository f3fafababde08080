#include "iso/entry_name.h"

#include "iso/directory_node.h"

namespace entry_name {

namespace {

char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string undecorated(const std::string& name) {
    size_t end = name.size();
    size_t digits = end;
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') {
        --digits;
    }
    if (digits > 0 && name[digits - 1] == ';') {
        end = digits - 1;
    }
    if (end > 0 && name[end - 1] == '.') {
        --end;
    }
    return name.substr(0, end);
}

bool same(const std::string& a, const std::string& b, LetterCase letterCase) {
    const std::string left = undecorated(a);
    const std::string right = undecorated(b);
    if (left.size() != right.size()) {
        return false;
    }
    if (letterCase == LetterCase::exact) {
        return left == right;
    }
    for (size_t i = 0; i < left.size(); ++i) {
        if (asciiUpper(left[i]) != asciiUpper(right[i])) {
            return false;
        }
    }
    return true;
}

bool sortsBefore(const std::string& identifier, const std::string& other) {
    return identifier < other;
}

DirectoryNode* findInList(DirectoryNode* list, const std::string& name, LetterCase letterCase) {
    for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (!node->isDotEntry() && !node->hidden && same(node->name, name, letterCase)) {
            return node;
        }
    }
    return nullptr;
}

}  // namespace entry_name
