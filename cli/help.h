// What unsfx says about its own use: the usage, the help, the version and usage errors.
#pragma once

#include <string>

namespace sfx::cli {

// The exit status of a usage error, and of a password needed where none can be had.
constexpr int ExitUsage = 64;

// The usage and the help, on standard output.
void PrintHelp();

// The program's name and version, on standard output.
void PrintVersion();

// A usage error on standard error: the message, the usage when asked for, and where to learn
// more. Returns ExitUsage.
int UsageError(const std::string& message, bool withUsage = true);

}  // namespace sfx::cli
