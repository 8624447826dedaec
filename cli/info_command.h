// The info command: what a FILE holds, shown without a password.
#pragma once

#include <string>

#include "cli/arguments.h"

namespace sfx::cli {

// Shows FILE's description, riddle, whether it needs a password, whether its payload is
// compressed, the payload size, the container offset, and the size and SHA-256 of the stub
// (the bytes before the container): as text, or as one JSON object with --json. Returns
// the exit status.
int ShowInfo(const Arguments& arguments, const std::string& file);

}  // namespace sfx::cli
