// The promises of one whole extraction, checked from outside: by the damaged-input sweeps and
// by the fuzz targets that extract.
#pragma once

#include <optional>
#include <string>

#include "engine/status.h"
#include "tests/support/test_support.h"

namespace sfx::test {

// What an extraction must come to, as far as the caller knows it.
struct Expected {
    std::optional<bool> ok{};        // unset: either outcome
    std::optional<Bytes> content{};  // the extracted file, checked on success
};

struct Outcome {
    ExtractStatus status = Ok;  // Ok on success
    std::string broken;         // the promises broken, one a line; empty when all hold
};

// Extracts `folder`/source.exe onto `folder`/out, which holds a file of its own beforehand,
// with the password "secret". Whatever the source: success, or a status in {1, 2, 3, 4, 6, 7}
// with the destination as it was; nothing left beside the two files but the intermediate
// file of a failed decompression, which is then removed for the next run; no file left open.
Outcome CheckedExtract(const TempDir& folder, const Expected& expected = {});

}  // namespace sfx::test
