// The decoder's dictionary for one decoding: its two tables, allocated together and released
// on every return.
#pragma once

#include <cstdint>

#include "lzw/lzw_decoder.h"
#include "platform/allocation.h"

namespace sfx {

struct LzwDictionary {
    std::uint32_t* prefixCodes =
        static_cast<std::uint32_t*>(platform::Allocate(LzwDictionarySize * sizeof(std::uint32_t)));
    std::uint8_t* suffixBytes = static_cast<std::uint8_t*>(platform::Allocate(LzwDictionarySize));

    LzwDictionary() = default;
    LzwDictionary(const LzwDictionary&) = delete;
    LzwDictionary& operator=(const LzwDictionary&) = delete;
    ~LzwDictionary() {
        platform::Release(prefixCodes);
        platform::Release(suffixBytes);
    }
    bool Allocated() const { return prefixCodes != nullptr && suffixBytes != nullptr; }
};

}  // namespace sfx
