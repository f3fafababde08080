// Editing a registry hive file in place: keys found or added by path, values set, and the
// changes committed into the file. Wraps hivex; a Windows build could load the hive into
// the live registry behind the same interface instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct hive_h;

class RegistryHive {
  public:
    using Key = size_t;

    RegistryHive() = default;
    // Closes the hive without committing when it is still open.
    ~RegistryHive();
    RegistryHive(const RegistryHive&) = delete;
    RegistryHive& operator=(const RegistryHive&) = delete;

    // Opens the hive file at `path` for writing. False when it is not a readable hive.
    bool open(const std::string& path);
    bool isOpen() const { return hive_ != nullptr; }

    // Finds or adds each key of the backslash-separated `path` below the root.
    bool openOrCreateKey(const std::string& path, Key& key);

    // Sets (adds or replaces) one value of `key`; the key's other values stay.
    bool setBinaryValue(Key key, const std::string& name, const std::vector<uint8_t>& data);
    // Stores `text` as a REG_SZ the way Windows stores a string set by an ANSI program:
    // UTF-16LE with its terminating zero.
    bool setStringValue(Key key, const std::string& name, const std::string& text);

    // Writes the changes into the hive file.
    bool commit();
    // Releases the hive; false when releasing failed. The hive counts as closed either way.
    bool close();

    // UTF-16LE bytes of `text` (each byte taken as one character) with a terminating zero.
    static std::vector<uint8_t> utf16leWithTerminator(const std::string& text);

  private:
    bool setValue(Key key, const std::string& name, int type, const std::vector<uint8_t>& data);

    hive_h* hive_ = nullptr;
};
