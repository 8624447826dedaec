#include "cli/arguments.h"

#include <cstring>

#include "cli/destination.h"
#include "cli/messages.h"
#include "cli/password.h"
#include "cli/text.h"
#include "platform/bytes.h"
#include "platform/code_page.h"
#include "platform/files.h"
#include "platform/temporaries.h"

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
    if (arguments.command == Command::Info && arguments.salvage)
        return "--salvage belongs to extract and test";
    if (arguments.command != Command::Info && arguments.json &&
        !(arguments.command == Command::Test && arguments.salvage))
        return "--json belongs to info and to test --salvage";
    if (arguments.output != nullptr && arguments.output[0] == '\0')
        return "-o needs a path";
    if (arguments.files.size() > 1 && arguments.output != nullptr && !WritesToOutput(arguments) &&
        !NamesFolder(arguments.output) && !platform::IsDirectory(arguments.output))
        return "with several FILEs, -o must name a folder (ending with /) or -";
    return "";
}

enum class Option {
    Password,
    Output,
    PasswordFile,
    CodePage,
    Help,
    Version,
    Force,
    Quiet,
    Json,
    Salvage,
    Unknown
};

// An option as one argument names it, with the value attached to it, if any.
struct Found {
    Option option = Option::Unknown;
    bool takesValue = false;
    char* attached = nullptr;
};

// Which option `arg` names. No argument can name two.
Found Identify(char* arg) {
    struct Name {
        const char* shortName;
        const char* longName;
        Option option;
    };
    static constexpr Name WithValue[] = {{"-p", "--password", Option::Password},
                                         {"-o", "--output", Option::Output},
                                         {nullptr, "--password-file", Option::PasswordFile},
                                         {nullptr, "--codepage", Option::CodePage}};
    static constexpr Name Flags[] = {
        {"-h", "--help", Option::Help},    {"-V", "--version", Option::Version},
        {"-f", "--force", Option::Force},  {"-q", "--quiet", Option::Quiet},
        {nullptr, "--json", Option::Json}, {nullptr, "--salvage", Option::Salvage}};
    for (const Name& name : WithValue) {
        if (Is(arg, name.shortName, name.longName))
            return {name.option, true, nullptr};
        if (char* attached = AttachedValue(arg, name.shortName, name.longName))
            return {name.option, true, attached};
    }
    for (const Name& name : Flags) {
        if (Is(arg, name.shortName, name.longName))
            return {name.option, false, nullptr};
    }
    return {};
}

// The value of an option that takes one.
struct Value {
    char* text = nullptr;  // points into argv
    bool missing = false;  // the option is the last argument and has none attached
};

// The value of the option at argv[i]: the one attached to it, else the next argument, which
// `i` then moves on to.
Value ValueOf(int argc, char** argv, int& i, char* attached) {
    if (attached != nullptr)
        return {attached, false};
    if (i + 1 >= argc)
        return {nullptr, true};
    return {argv[++i], false};
}

// The reading of one command line. The whole line is read even after a mistake, so that
// every -p value is known; the first mistake is the one reported. --help and --version end
// the reading of options: only passwords are looked for once the answer is known.
struct Reader {
    Arguments& arguments;
    std::string error;  // the first mistake
    bool optionsEnded = false;
    bool settled = false;  // --help or --version seen
    bool commandSeen = false;

    explicit Reader(Arguments& into) : arguments(into) {}

    void Fail(const std::string& message) {
        if (error.empty())
            error = message;
    }

    // The command word, when it is the first argument that is not an option; else a FILE.
    void TakeOperand(char* arg) {
        if (!commandSeen) {
            commandSeen = true;
            arguments.commandNamed = CommandWord(arg, arguments.command);
            if (arguments.commandNamed)
                return;
        }
        arguments.files.emplace_back(arg);
    }

    // The option at argv[i] and its value: "-o DEST", "-oDEST", "--output DEST" or
    // "--output=DEST".
    void TakeOption(int argc, char** argv, int& i) {
        const char* arg = argv[i];  // the option itself, even once i has moved to its value
        const Found found = Identify(argv[i]);
        if (settled && found.option != Option::Password)
            return;
        if (!found.takesValue) {
            SetFlag(found.option, arg);
            return;
        }
        const Value value = ValueOf(argc, argv, i, found.attached);
        if (value.missing)
            Fail(std::string(arg) + " needs a value");
        else
            SetValue(found.option, value.text, i, static_cast<std::size_t>(value.text - argv[i]));
    }

    // `text` is argv[index] from byte `offset` on.
    void SetValue(Option option, char* text, int index, std::size_t offset) {
        if (option == Option::Password) {
            arguments.passwordArguments.push_back(text);
            arguments.password = text;
            arguments.passwordIndex = index;
            arguments.passwordOffset = offset;
        } else if (option == Option::Output) {
            arguments.output = text;
        } else if (option == Option::CodePage) {
            arguments.codePage = platform::FindCodePage(text);
            if (arguments.codePage == 0)
                Fail("no code page " + Quoted(text) + " (874, 1250 to 1258, 932, 936, 949 or 950)");
        } else {
            arguments.passwordFile = text;
        }
    }

    void SetFlag(Option option, const char* arg) {
        switch (option) {
            case Option::Help:
            case Option::Version:
                if (error.empty()) {
                    arguments.command = option == Option::Help ? Command::Help : Command::Version;
                    settled = true;
                }
                break;
            case Option::Force:
                arguments.force = true;
                break;
            case Option::Quiet:
                arguments.quiet = true;
                break;
            case Option::Json:
                arguments.json = true;
                break;
            case Option::Salvage:
                arguments.salvage = true;
                break;
            default:
                Fail("unknown option " + OptionName(arg));
                break;
        }
    }
};

}  // namespace

bool ParseArguments(int argc, char** argv, Arguments& arguments, std::string& error) {
    Reader reader(arguments);
    for (int i = 1; i < argc; ++i) {
        char* arg = argv[i];
        if (reader.optionsEnded || arg[0] != '-' || arg[1] == '\0')
            reader.TakeOperand(arg);
        else if (std::strcmp(arg, "--") == 0)
            reader.optionsEnded = true;
        else
            reader.TakeOption(argc, argv, i);
    }
    if (!reader.settled && reader.error.empty())
        reader.error = Mismatch(arguments);
    error = reader.error;
    return reader.settled || error.empty();
}

#ifndef _WIN32
namespace {

// The N of "PREFIXN", N a descriptor's number in decimal digits; -1 when `name` is not so.
int NumberAfter(const char* name, const char* prefix) {
    const std::size_t length = std::strlen(prefix);
    if (std::strncmp(name, prefix, length) != 0 || name[length] == '\0')
        return -1;
    int number = 0;
    for (const char* digit = name + length; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || number > 99999)
            return -1;
        number = number * 10 + (*digit - '0');
    }
    return number;
}

}  // namespace
#endif

int OutputDescriptor(const Arguments& arguments) {
    const char* output = arguments.output;
    if (output == nullptr)
        return -1;
    if (std::strcmp(output, "-") == 0)
        return 1;
#ifndef _WIN32
    if (std::strcmp(output, "/dev/stdout") == 0)
        return 1;
    if (std::strcmp(output, "/dev/stderr") == 0)
        return 2;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const int number = NumberAfter(output, prefix);
        if (number >= 0)
            return number;
    }
#endif
    return -1;
}

bool WritesToOutput(const Arguments& arguments) {
    return OutputDescriptor(arguments) >= 0;
}

void BlankPasswordArguments(Arguments& arguments) {
    for (char* value : arguments.passwordArguments) Wipe(value, std::strlen(value));
    arguments.password = nullptr;
}

}  // namespace sfx::cli
