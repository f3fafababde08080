// The extended attributes of a file, among them its access control list
// (system.posix_acl_access), carried over to another file as `cp -a` does.
#pragma once

#include <string>
#include <vector>

namespace file_attributes {

// One attribute that could not be read or set, with the system's error number.
struct Failure {
    std::string name;  // empty when the list of names itself could not be read
    int error;
};

// The name of the attribute that holds a file's access control list.
extern const char kAccessList[];

// Sets every extended attribute of the open file `from` on the open file `to`, with the
// same value. Returns those that failed; the others are set all the same.
std::vector<Failure> copyAll(int from, int to);

}  // namespace file_attributes
