#include "platform/registry_hive.h"

#include <hivex.h>

#include <cerrno>

RegistryHive::~RegistryHive() {
    close();
}

bool RegistryHive::open(const std::string& path) {
    close();
    hive_ = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
    return hive_ != nullptr;
}

bool RegistryHive::openOrCreateKey(const std::string& path, Key& key) {
    if (hive_ == nullptr) {
        return false;
    }
    hive_node_h node = hivex_root(hive_);
    if (node == 0) {
        return false;
    }
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty()) {
            continue;
        }
        errno = 0;
        hive_node_h child = hivex_node_get_child(hive_, node, name.c_str());
        if (child == 0) {
            if (errno != 0) {
                return false;
            }
            child = hivex_node_add_child(hive_, node, name.c_str());
            if (child == 0) {
                return false;
            }
        }
        node = child;
    }
    key = node;
    return true;
}

bool RegistryHive::setValue(Key key, const std::string& name, int type,
                            const std::vector<uint8_t>& data) {
    if (hive_ == nullptr) {
        return false;
    }
    std::vector<char> valueName(name.begin(), name.end());
    valueName.push_back('\0');
    std::vector<char> bytes(data.begin(), data.end());
    hive_set_value value;
    value.key = valueName.data();
    value.t = static_cast<hive_type>(type);
    value.len = bytes.size();
    value.value = bytes.data();
    return hivex_node_set_value(hive_, key, &value, 0) == 0;
}

bool RegistryHive::setBinaryValue(Key key, const std::string& name,
                                  const std::vector<uint8_t>& data) {
    return setValue(key, name, hive_t_REG_BINARY, data);
}

bool RegistryHive::setStringValue(Key key, const std::string& name, const std::string& text) {
    return setValue(key, name, hive_t_REG_SZ, utf16leWithTerminator(text));
}

bool RegistryHive::commit() {
    return hive_ != nullptr && hivex_commit(hive_, nullptr, 0) == 0;
}

bool RegistryHive::close() {
    if (hive_ == nullptr) {
        return true;
    }
    const int result = hivex_close(hive_);
    hive_ = nullptr;
    return result == 0;
}

std::vector<uint8_t> RegistryHive::utf16leWithTerminator(const std::string& text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(2 * text.size() + 2);
    for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}
