#include "cli/arguments.h"

#include <cstring>

#include "platform/platform.h"

namespace sfx::cli {

namespace {

bool Is(const char* arg, const char* shortName, const char* longName) {
    return (shortName != nullptr && std::strcmp(arg, shortName) == 0) ||
           (longName != nullptr && std::strcmp(arg, longName) == 0);
}

// "--name=value": the value when arg is that long option with an attached value.
char* AttachedValue(char* arg, const char* longName) {
    const std::size_t length = std::strlen(longName);
    if (std::strncmp(arg, longName, length) == 0 && arg[length] == '=')
        return arg + length + 1;
    return nullptr;
}

const char* CommandName(Command command) {
    switch (command) {
        case Command::Test:
            return "test";
        case Command::Info:
            return "info";
        default:
            return "extract";
    }
}

}  // namespace

bool ParseArguments(int argc, char** argv, Arguments& arguments, std::string& error) {
    int first = 1;
    if (argc > 1) {
        if (std::strcmp(argv[1], "extract") == 0) {
            arguments.command = Command::Extract;
            first = 2;
        } else if (std::strcmp(argv[1], "test") == 0) {
            arguments.command = Command::Test;
            first = 2;
        } else if (std::strcmp(argv[1], "info") == 0) {
            arguments.command = Command::Info;
            first = 2;
        } else if (argv[1][0] != '-' && !platform::PathExists(argv[1])) {
            // The bare form takes files: a word that is neither is most likely a mistyped
            // command.
            error = std::string("no command or file named ") + argv[1];
            return false;
        }
    }

    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            arguments.files.emplace_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        if (Is(arg, "-h", "--help")) {
            arguments.command = Command::Help;
            return true;
        }
        if (Is(arg, "-V", "--version")) {
            arguments.command = Command::Version;
            return true;
        }
        // Options with a value: "-o DEST", "--output DEST" or "--output=DEST".
        auto value = [&](const char* shortName, const char* longName, char*& out) {
            if (Is(arg, shortName, longName)) {
                if (i + 1 >= argc) {
                    error = std::string(arg) + " needs a value";
                    return true;
                }
                out = argv[++i];
                return true;
            }
            if (char* attached = AttachedValue(arg, longName)) {
                out = attached;
                return true;
            }
            return false;
        };
        char* text = nullptr;
        if (value("-o", "--output", text)) {
            arguments.output = text;
        } else if (value("-p", "--password", text)) {
            arguments.password = text;
        } else if (value(nullptr, "--password-file", text)) {
            arguments.passwordFile = text;
        } else if (Is(arg, "-f", "--force")) {
            arguments.force = true;
        } else if (Is(arg, "-q", "--quiet")) {
            arguments.quiet = true;
        } else if (Is(arg, nullptr, "--json")) {
            arguments.json = true;
        } else {
            error = std::string("unknown option ") + arg;
            return false;
        }
        if (!error.empty())
            return false;
    }

    const char* name = CommandName(arguments.command);
    if (arguments.files.empty()) {
        error = "no FILE given";
        return false;
    }
    if (arguments.password != nullptr && arguments.passwordFile != nullptr) {
        error = "give either -p or --password-file, not both";
        return false;
    }
    if (arguments.password != nullptr && strnlen(arguments.password, 256) > 255) {
        error = "the password is longer than 255 characters";
        return false;
    }
    if (arguments.command == Command::Info &&
        (arguments.password != nullptr || arguments.passwordFile != nullptr)) {
        error = "info needs no password";
        return false;
    }
    if (arguments.command != Command::Extract && (arguments.output != nullptr || arguments.force)) {
        error = std::string(name) + " writes no file: -o and --force belong to extract";
        return false;
    }
    if (arguments.command != Command::Info && arguments.json) {
        error = "--json belongs to info";
        return false;
    }
    if (arguments.output != nullptr && arguments.output[0] == '\0') {
        error = "-o needs a path";
        return false;
    }
    if (arguments.files.size() > 1 && arguments.output != nullptr &&
        std::strcmp(arguments.output, "-") != 0 && !platform::IsDirectory(arguments.output)) {
        error = "with several FILEs, -o must name a folder or -";
        return false;
    }
    return true;
}

}  // namespace sfx::cli
