// The command line of unsfx.
#pragma once

#include <string>
#include <vector>

namespace sfx::cli {

enum class Command { Extract, Test, Info, Help, Version };

struct Arguments {
    Command command = Command::Extract;
    std::vector<std::string> files;
    const char* output = nullptr;  // -o: a file, a folder or "-"
    char* password = nullptr;      // -p: points into argv, wiped once copied
    const char* passwordFile = nullptr;
    bool force = false;
    bool quiet = false;
    bool json = false;
};

// Reads argv into `arguments`. False with a message for the user in `error` when the
// command line is wrong.
bool ParseArguments(int argc, char** argv, Arguments& arguments, std::string& error);

}  // namespace sfx::cli
