#include "cli/arguments.h"

#include <cstring>

#include "cli/destination.h"
#include "cli/password.h"
#include "cli/text.h"
#include "platform/bytes.h"
#include "platform/platform.h"

namespace sfx::cli {

namespace {

bool Is(const char* arg, const char* shortName, const char* longName) {
    return (shortName != nullptr && std::strcmp(arg, shortName) == 0) ||
           (longName != nullptr && std::strcmp(arg, longName) == 0);
}

// The value attached to an option: "--name=value", or "-xvalue" for a short one.
char* AttachedValue(char* arg, const char* shortName, const char* longName) {
    const std::size_t length = std::strlen(longName);
    if (std::strncmp(arg, longName, length) == 0 && arg[length] == '=')
        return arg + length + 1;
    if (shortName != nullptr && std::strncmp(arg, shortName, 2) == 0 && arg[2] != '\0')
        return arg + 2;
    return nullptr;
}

// An unknown option as a message shows it: its name only ("--name" of "--name=value", the
// first letter of "-xyz"), escaped, so that no value typed with it is ever repeated.
std::string OptionName(const char* arg) {
    std::size_t length = 2;
    if (arg[1] == '-')
        length = std::strcspn(arg, "=");
    return Printable(arg, length);
}

bool CommandWord(const char* arg, Command& command) {
    if (std::strcmp(arg, "extract") == 0)
        command = Command::Extract;
    else if (std::strcmp(arg, "test") == 0)
        command = Command::Test;
    else if (std::strcmp(arg, "info") == 0)
        command = Command::Info;
    else
        return false;
    return true;
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

// What is wrong with a complete command line, or "".
std::string Mismatch(const Arguments& arguments) {
    const char* name = CommandName(arguments.command);
    if (arguments.files.empty())
        return "no FILE given";
    if (arguments.password != nullptr && arguments.passwordFile != nullptr)
        return "give either -p or --password-file, not both";
    if (arguments.password != nullptr && arguments.password[0] == '\0')
        return "the password given with -p is empty";
    if (arguments.password != nullptr &&
        strnlen(arguments.password, PasswordCapacity) >= PasswordCapacity)
        return "the password is longer than 255 characters";
    if (arguments.command == Command::Info &&
        (arguments.password != nullptr || arguments.passwordFile != nullptr))
        return "info needs no password";
    if (arguments.command != Command::Extract && (arguments.output != nullptr || arguments.force))
        return std::string(name) + " writes no file: -o and --force belong to extract";
    if (arguments.command != Command::Info && arguments.json)
        return "--json belongs to info";
    if (arguments.output != nullptr && arguments.output[0] == '\0')
        return "-o needs a path";
    if (arguments.files.size() > 1 && arguments.output != nullptr &&
        std::strcmp(arguments.output, "-") != 0 && !NamesFolder(arguments.output) &&
        !platform::IsDirectory(arguments.output))
        return "with several FILEs, -o must name a folder (ending with /) or -";
    return "";
}

}  // namespace

bool ParseArguments(int argc, char** argv, Arguments& arguments, std::string& error) {
    // The whole line is read even after a mistake, so that every -p value is known; the
    // first mistake is the one reported. --help and --version end the reading of options.
    auto fail = [&error](const std::string& message) {
        if (error.empty())
            error = message;
    };
    bool optionsEnded = false;
    bool settled = false;  // --help or --version seen
    bool commandSeen = false;
    for (int i = 1; i < argc; ++i) {
        char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            if (!commandSeen) {
                commandSeen = true;
                arguments.commandNamed = CommandWord(arg, arguments.command);
                if (arguments.commandNamed)
                    continue;
            }
            arguments.files.emplace_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        // Options with a value: "-o DEST", "-oDEST", "--output DEST" or "--output=DEST".
        auto value = [&](const char* shortName, const char* longName, char*& out) {
            if (Is(arg, shortName, longName)) {
                if (i + 1 >= argc) {
                    fail(std::string(arg) + " needs a value");
                    return true;
                }
                out = argv[++i];
                return true;
            }
            if (char* attached = AttachedValue(arg, shortName, longName)) {
                out = attached;
                return true;
            }
            return false;
        };
        char* text = nullptr;
        if (value("-p", "--password", text)) {
            if (text != nullptr)
                arguments.passwordArguments.push_back(text);
            arguments.password = text;
        } else if (settled) {
            continue;  // only passwords are looked for once the answer is known
        } else if (Is(arg, "-h", "--help") || Is(arg, "-V", "--version")) {
            if (error.empty()) {
                arguments.command = Is(arg, "-h", "--help") ? Command::Help : Command::Version;
                settled = true;
            }
        } else if (value("-o", "--output", text)) {
            arguments.output = text;
        } else if (value(nullptr, "--password-file", text)) {
            arguments.passwordFile = text;
        } else if (Is(arg, "-f", "--force")) {
            arguments.force = true;
        } else if (Is(arg, "-q", "--quiet")) {
            arguments.quiet = true;
        } else if (Is(arg, nullptr, "--json")) {
            arguments.json = true;
        } else {
            fail("unknown option " + OptionName(arg));
        }
    }
    if (settled)
        return true;
    if (error.empty())
        error = Mismatch(arguments);
    return error.empty();
}

void BlankPasswordArguments(Arguments& arguments) {
    for (char* value : arguments.passwordArguments) Wipe(value, std::strlen(value));
    arguments.password = nullptr;
}

}  // namespace sfx::cli
