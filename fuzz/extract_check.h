// The promises of one extraction, checked from outside.
#pragma once

#include <string>

#include "fuzz/fuzz_support.h"

namespace sfx::fuzz {

// What an extraction must come to when the test knows it.
struct Expected {
    bool ok = false;
    Bytes content;  // the extracted file, when ok
};

// Extracts `source` onto a destination that holds a file of its own beforehand, checks the
// outcome (against `expected` when given) and tidies up for the next run.
void CheckedExtract(const std::string& source, const Expected* expected);

}  // namespace sfx::fuzz
