// One DES block through nettle.
#include "editor/des.h"

#include <nettle/des.h>

namespace des {

namespace {

// nettle takes every key: the parity bits are not checked, and a weak key is only
// reported by the result, which does not matter for one block.
des_ctx keyed(const uint8_t key[8]) {
    des_ctx context;
    static_cast<void>(des_set_key(&context, key));
    return context;
}

}  // namespace

void encryptBlock(const uint8_t key[8], uint8_t block[8]) {
    const des_ctx context = keyed(key);
    des_encrypt(&context, DES_BLOCK_SIZE, block, block);
}

void decryptBlock(const uint8_t key[8], uint8_t block[8]) {
    const des_ctx context = keyed(key);
    des_decrypt(&context, DES_BLOCK_SIZE, block, block);
}

}  // namespace des
