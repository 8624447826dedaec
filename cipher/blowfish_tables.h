// Constant initial tables of the Blowfish cipher; every key setup starts from them.
#pragma once

#include <cstdint>

namespace sfx {

extern const std::uint32_t BlowfishInitialP[18];
extern const std::uint32_t BlowfishInitialS[4][256];

}  // namespace sfx
