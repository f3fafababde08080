// The Data Encryption Standard (FIPS 46), one 64-bit block in electronic code book mode,
// as nettle computes it. Bits are numbered as in the standard: bit 1 is the most
// significant bit of byte 0.
#pragma once

#include <cstdint>

namespace des {

// Encrypts the 8 bytes of `block` in place with the 8-byte `key` (bits 8, 16, ..., 64,
// the least significant bit of each key byte, are parity bits and ignored).
void encryptBlock(const uint8_t key[8], uint8_t block[8]);

// Decrypts the 8 bytes of `block` in place.
void decryptBlock(const uint8_t key[8], uint8_t block[8]);

}  // namespace des
