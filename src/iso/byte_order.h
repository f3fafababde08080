// Little-, big- and both-endian integers as ISO 9660 stores them.
// Every reader of a field takes the little-endian half; every writer fills both halves.
#pragma once

#include <cstddef>
#include <cstdint>

namespace iso_bytes {

inline uint16_t getLe16(const uint8_t* bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline uint32_t getLe32(const uint8_t* bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

inline uint64_t getLe64(const uint8_t* bytes, size_t offset) {
    return uint64_t{getLe32(bytes, offset)} | uint64_t{getLe32(bytes, offset + 4)} << 32;
}

inline uint16_t getBe16(const uint8_t* bytes, size_t offset) {
    return static_cast<uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

inline uint32_t getBe32(const uint8_t* bytes, size_t offset) {
    return (static_cast<uint32_t>(bytes[offset]) << 24) |
           (static_cast<uint32_t>(bytes[offset + 1]) << 16) |
           (static_cast<uint32_t>(bytes[offset + 2]) << 8) |
           static_cast<uint32_t>(bytes[offset + 3]);
}

inline void putLe16(uint8_t* bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline void putBe16(uint8_t* bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value >> 8);
    bytes[offset + 1] = static_cast<uint8_t>(value);
}

inline void putLe32(uint8_t* bytes, size_t offset, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline void putLe64(uint8_t* bytes, size_t offset, uint64_t value) {
    putLe32(bytes, offset, static_cast<uint32_t>(value));
    putLe32(bytes, offset + 4, static_cast<uint32_t>(value >> 32));
}

inline void putBe32(uint8_t* bytes, size_t offset, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * (3 - i)));
    }
}

// Both-endian: the little-endian copy, then the big-endian copy.
inline void putBoth16(uint8_t* bytes, size_t offset, uint16_t value) {
    putLe16(bytes, offset, value);
    putBe16(bytes, offset + 2, value);
}

inline void putBoth32(uint8_t* bytes, size_t offset, uint32_t value) {
    putLe32(bytes, offset, value);
    putBe32(bytes, offset + 4, value);
}

}  // namespace iso_bytes
