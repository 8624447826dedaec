// The command line of unsfx.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sfx::cli {

enum class Command { Extract, Test, Info, Help, Version };

struct Arguments {
    Command command = Command::Extract;
    bool commandNamed = false;  // the word was given, not taken as the default
    std::vector<std::string> files;
    const char* output = nullptr;  // -o: a file, a folder or "-"
    char* password = nullptr;      // the last -p: points into argv
    int passwordIndex = 0;         // ... into argv[passwordIndex], from this byte on
    std::size_t passwordOffset = 0;
    // Every -p value in argv: all are blanked once the password has been taken, so that none
    // stays in the process list.
    std::vector<char*> passwordArguments;
    const char* passwordFile = nullptr;
    bool force = false;
    bool quiet = false;
    bool json = false;
    // --codepage: the Windows code page of the texts and the password; 0 when not given,
    // the system's then.
    unsigned codePage = 0;
    bool salvage = false;  // extract or test what a damaged or cut file still holds
};

// Reads argv into `arguments`. The command is the first argument that is not an option,
// wherever the options stand; any other first word is a FILE of extract. False with a
// message for the user in `error` (arguments escaped, no password in it) when the command
// line is wrong; every -p value is recorded even then.
bool ParseArguments(int argc, char** argv, Arguments& arguments, std::string& error);

// True when -o - sends the extracted file to standard output.
bool WritesToOutput(const Arguments& arguments);
// The open descriptor -o names as a stream: 1 for "-"; on POSIX systems also the names of
// open descriptors ("/dev/stdout", "/dev/stderr", "/dev/fd/N", "/proc/self/fd/N"), which are
// written as "-" is, never replaced. -1 for a file's name.
int OutputDescriptor(const Arguments& arguments);

// Overwrites every -p value in argv.
void BlankPasswordArguments(Arguments& arguments);

}  // namespace sfx::cli
