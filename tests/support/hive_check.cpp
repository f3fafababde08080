#include "support/hive_check.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <cstdlib>
#include <sstream>

#include "support/tool_runner.h"

using test_support::runCommand;
using test_support::shellQuote;

namespace hive_check {

namespace {

std::string runHivexsh(const std::string& hive, const std::string& keyPath,
                       const std::string& command) {
    std::string script = "";
    if (!keyPath.empty() && keyPath != "\\") {
        script += "cd " + keyPath + "\n";
    }
    script += command + "\n";
    const test_support::CommandResult result =
        runCommand("printf '%s' " + shellQuote(script) + " | hivexsh " + shellQuote(hive));
    EXPECT_EQ(0, result.exitCode) << result.output;
    return result.exitCode == 0 ? result.output : "";
}

}  // namespace

std::string listValues(const std::string& hive, const std::string& keyPath) {
    return runHivexsh(hive, keyPath, "lsval");
}

std::vector<std::string> listKeys(const std::string& hive, const std::string& keyPath) {
    std::istringstream lines(runHivexsh(hive, keyPath, "ls"));
    std::vector<std::string> keys;
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty()) {
            keys.push_back(line);
        }
    }
    return keys;
}

Value rawValue(const std::string& hive, const std::string& keyPath, const std::string& name) {
    Value value;
    hive_h* h = hivex_open(hive.c_str(), 0);
    if (h == nullptr) {
        ADD_FAILURE() << "hivex can not open " << hive;
        return value;
    }
    hive_node_h node = hivex_root(h);
    std::istringstream components(keyPath);
    std::string component;
    while (node != 0 && std::getline(components, component, '\\')) {
        if (!component.empty()) {
            node = hivex_node_get_child(h, node, component.c_str());
        }
    }
    if (node != 0) {
        const hive_value_h handle = hivex_node_get_value(h, node, name.c_str());
        if (handle != 0) {
            hive_type type;
            size_t length = 0;
            char* data = hivex_value_value(h, handle, &type, &length);
            if (data != nullptr) {
                value.found = true;
                value.type = type;
                value.data.assign(data, data + length);
                std::free(data);
            }
        }
    }
    hivex_close(h);
    return value;
}

}  // namespace hive_check
