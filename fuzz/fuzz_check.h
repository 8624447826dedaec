// What the fuzz targets add to the test helpers: a check that aborts, which the fuzzer
// records as a finding, and a scratch folder of the process's own.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "tests/support/test_support.h"

namespace sfx::fuzz {

using namespace sfx::test;

inline void Check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

// Made on first use, in memory where it can be, and removed when the process exits.
inline const TempDir& Scratch() {
    static const TempDir scratch(FastTempFolder());
    return scratch;
}

}  // namespace sfx::fuzz
