// The tests' own container writer. It stays apart from the packer's (tools/), which the
// tests check against it.
#include <algorithm>
#include <cstring>

#include "cipher/blowfish.h"
#include "cipher/key.h"
#include "engine/container.h"
#include "platform/bytes.h"
#include "tests/support/test_support.h"
#include "tools/lzw_encoder.h"

namespace sfx::test {

std::uint64_t ByteSum(const Bytes& bytes) {
    std::uint64_t sum = 0;
    for (auto b : bytes) sum += b;
    return sum;
}

Bytes Intermediate(const Bytes& plain) {
    return LzwEncodeIntermediate(plain.data(), plain.size());
}

Bytes MakeContainer(const Bytes& payload, const ContainerSpec& spec) {
    ContainerHeader header;
    header.passwordProtected = spec.passwordProtected ? 1 : 0;
    header.compressed = spec.compressed ? 1 : 0;
    header.checksum = spec.checksum.value_or(ByteSum(payload));
    std::memcpy(header.riddle, spec.riddle.data(), std::min<std::size_t>(spec.riddle.size(), 256));

    Bytes file = spec.stub;
    const std::size_t headerAt = file.size();
    file.resize(headerAt + ContainerHeaderSize + payload.size() + 4);
    header.Encode(file.data() + headerAt);
    std::uint8_t* const body = file.data() + headerAt + ContainerHeaderSize;
    std::copy(payload.begin(), payload.end(), body);

    std::uint8_t key[256];
    const int keyLength = DeriveKey(spec.password.c_str(), spec.passwordProtected, key);
    if (keyLength > 0)
        BlowfishCipher::SetKey(key, static_cast<std::int16_t>(keyLength));
    Wipe(key, sizeof key);
    for (std::size_t i = 0; i + 8 <= payload.size(); i += 8) {  // a short tail stays plain
        std::uint32_t left = LoadLE32(body + i);
        std::uint32_t right = LoadLE32(body + i + 4);
        BlowfishCipher::EncryptBlock(left, right);
        StoreLE32(body + i, left);
        StoreLE32(body + i + 4, right);
    }

    StoreLE32(body + payload.size(),
              static_cast<std::uint32_t>(ContainerHeaderSize + payload.size()));
    file.insert(file.end(), spec.description.begin(), spec.description.end());
    file.push_back(static_cast<std::uint8_t>(spec.description.size()));
    return file;
}

}  // namespace sfx::test
