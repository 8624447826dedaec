// The extract and test commands: one FILE at a time.
#pragma once

#include <string>

#include "cli/arguments.h"
#include "cli/password.h"

namespace sfx::cli {

// Extracts or tests one FILE with the password given for every FILE, if any; returns its
// exit status after telling how it failed, or that the test passed.
int ExtractOne(const Arguments& arguments, const std::string& file, const Secret& given);

// Tells that the destination exists and --force would replace it; returns 73.
int DestinationExists(const std::string& destination);

// Where FILE goes, or "" for standard output and for test. Returns 0, or the exit status
// after telling why there is no destination.
int ChooseDestination(const Arguments& arguments, const std::string& file,
                      std::string& destination);

// "-o DIR/" names a folder, made when missing. Returns 0, or the exit status after telling
// why it can't be made.
int MakeOutputFolder(const Arguments& arguments, const std::string& destination);

// UNSFX_THREADS (1 to 8) sets the threads that decrypt (and decode), whatever the processors; unset
// or empty, one per processor, at most 8. Returns 0, or 64 after telling that any other value can't
// be taken.
int LimitThreadsFromEnvironment();

// UNSFX_CIPHER=scalar holds decryption to the portable code, for comparisons with the
// vector path; anything else is ignored.
void LimitCipherFromEnvironment();

}  // namespace sfx::cli
