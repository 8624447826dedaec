// The cipher key a password makes.
#pragma once

#include <cstdint>

namespace sfx {

// Bytes DeriveKey writes, whatever the key's length.
constexpr int KeyBufferSize = 256;

// Builds the key for a password into keyOut (KeyBufferSize bytes): returns its length (4, or
// 56..255), or 0 when the password is empty and the container is protected. The owner
// wipes keyOut once the cipher is keyed.
int DeriveKey(const char* password, bool passwordProtected, std::uint8_t* keyOut);

}  // namespace sfx
