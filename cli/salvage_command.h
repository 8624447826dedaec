// extract --salvage and test --salvage: what a damaged or cut FILE still holds.
#pragma once

#include <string>

#include "cli/arguments.h"
#include "cli/password.h"

namespace sfx::cli {

// Salvages one FILE into its destination (extract), standard output (-o -) or nothing
// (test). Returns 0 for an intact file, 7 after telling what came back from a damaged or
// unverified one, or the exit status of the failure after telling why (4: a wrong password,
// and nothing was written).
int SalvageOne(const Arguments& arguments, const std::string& file, const Secret& given);

}  // namespace sfx::cli
