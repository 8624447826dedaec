#include "cipher/key.h"

#include <cstddef>
#include <cstring>

namespace sfx {

namespace {

// The key of every container without a password.
constexpr char FixedKey[] = "quib";

}  // namespace

int DeriveKey(const char* password, bool passwordProtected, std::uint8_t* keyOut) {
    std::memset(keyOut, 0, KeyBufferSize);
    std::size_t length = 0;
    while (length < 255 && password[length] != '\0') ++length;
    std::memcpy(keyOut, password, length);
    if (passwordProtected) {
        for (std::size_t i = length; i < 56; ++i) keyOut[i] = static_cast<std::uint8_t>(i);
    } else {
        std::memcpy(keyOut, FixedKey, sizeof FixedKey);
    }
    int keyLength = 0;
    while (keyLength < KeyBufferSize && keyOut[keyLength] != 0) ++keyLength;
    // An empty protected password fills in 0, 1, 2, ...: the key starts with a zero byte.
    return keyLength;
}

}  // namespace sfx
