// Reading a hive file back with hivex's own tools and library, independent of the
// project's registry code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hive_check {

// The output of hivexsh's "lsval" for the key at `keyPath` ("\A\B"); "" and a test
// failure when hivexsh fails.
std::string listValues(const std::string& hive, const std::string& keyPath);

// Names of the subkeys of `keyPath` as hivexsh's "ls" lists them.
std::vector<std::string> listKeys(const std::string& hive, const std::string& keyPath);

struct Value {
    bool found = false;
    int type = 0;  // hive_type
    std::vector<uint8_t> data;
};

// The raw type and data of one value, read with libhivex.
Value rawValue(const std::string& hive, const std::string& keyPath, const std::string& name);

}  // namespace hive_check
