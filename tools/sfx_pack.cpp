// sfx-pack: appends a container holding one file to a copy of the extractor.
//
//   sfx-pack --stub STUB --input FILE -o OUT (--password PW | --no-password)
//            [--compress] [--riddle TEXT] [--description TEXT] [--codepage CP] [-v]
//
// The riddle, the description and the password are taken in the locale's encoding and stored
// in a Windows code page, the one the extractor's dialog shows them in and takes the password
// in: the key is made from the password's bytes in that code page.
//
// Exit codes: 0 success, 1 failure, 64 wrong usage.

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/text.h"
#include "platform/code_page.h"
#include "platform/download_safety.h"
#include "sfx_version.h"
#include "tools/container_writer.h"

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 64;

const char UsageLine[] =
    "usage: sfx-pack --stub STUB --input FILE -o OUT (--password PW | --no-password)\n"
    "                [--compress] [--riddle TEXT] [--description TEXT] [--codepage CP] [-v]\n"
    "       sfx-pack --help | --version\n";

const char HelpText[] =
    "Writes OUT: a copy of the extractor STUB followed by a container holding FILE.\n"
    "\n"
    "Options (each once; a value as the next argument or attached: --stub=STUB, -oOUT):\n"
    "  --stub STUB          the extractor executable to copy\n"
    "  --input FILE         the file to put in the container\n"
    "  -o, --output OUT     the self-extracting file to write (replaced if it exists)\n"
    "  --password PW        encrypt under this password (1 to 255 characters)\n"
    "  --no-password        encrypt under the fixed key; any password opens it\n"
    "  --compress           compress the file with LZW before encrypting it\n"
    "  --riddle TEXT        password hint shown by \"Read riddle\" (at most 255 characters)\n"
    "  --description TEXT   text shown when the extractor opens (at most 254 characters)\n"
    "  --codepage CP        the Windows code page the riddle, the description and the\n"
    "                       password are stored in: 874, 1250 to 1258, 932, 936, 949 or 950\n"
    "                       (default 1252, Western European); they are taken in the locale's\n"
    "                       encoding (LC_ALL, LC_CTYPE, LANG; on Windows as the characters of\n"
    "                       the command line), and a character the code page lacks is refused\n"
    "  -v, --verbose        report what was written\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version\n"
    "\n"
    "Exit status:\n"
    "   0  OUT was written\n"
    "   1  a file could not be read or written, or the file or a text is too long for the\n"
    "      container\n"
    "  64  usage error: an unknown or repeated option, a missing or empty value, neither or\n"
    "      both of --password and --no-password, an unknown code page, or a text or password\n"
    "      the code page cannot hold\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "sfx-pack: %s\n%s", message.c_str(), UsageLine);
    return ExitUsage;
}

// An option's value: its bytes in argv, and where they stand there (argv[index] from byte
// `offset` on: past "--name=" when attached), for the texts to be read from there as
// characters.
struct Value {
    const char* text = nullptr;
    int index = 0;
    std::size_t offset = 0;
};

struct Arguments {
    char** argv = nullptr;
    Value stub;
    Value input;
    Value output;
    Value password;
    bool noPassword = false;
    bool compress = false;
    Value riddle;
    Value description;
    Value codePage;
    bool verbose = false;
};

// Takes a text given on the command line into the code page; false after saying why. Where
// the command line is wide (Windows) its characters are read from there, none lost to the
// ANSI code page; elsewhere its bytes are in the locale's encoding.
bool ToCodePage(const char* option, const Arguments& arguments, const Value& value, unsigned page,
                std::string& out) {
    std::u32string characters;
    if (!sfx::platform::ArgumentCharacters(arguments.argv, value.index, value.offset, characters)) {
        std::fprintf(stderr,
                     "sfx-pack: %s: the text is not valid in the locale's encoding (see LANG, "
                     "LC_ALL)\n",
                     option);
        return false;
    }
    char32_t missing = 0;
    if (!sfx::platform::EncodeToCodePage(characters, page, out, missing)) {
        std::fprintf(stderr,
                     "sfx-pack: %s: code page %u has no character U+%04lX; choose another "
                     "with --codepage\n",
                     option, page, static_cast<unsigned long>(missing));
        return false;
    }
    return true;
}

// The options and where each one's value goes.
struct ValueOption {
    const char* shortName;
    const char* longName;
    Value Arguments::*value;
};
struct FlagOption {
    const char* shortName;
    const char* longName;
    bool Arguments::*flag;
};
constexpr ValueOption ValueOptions[] = {
    {nullptr, "--stub", &Arguments::stub},
    {nullptr, "--input", &Arguments::input},
    {"-o", "--output", &Arguments::output},
    {nullptr, "--password", &Arguments::password},
    {nullptr, "--riddle", &Arguments::riddle},
    {nullptr, "--description", &Arguments::description},
    {nullptr, "--codepage", &Arguments::codePage},
};
constexpr FlagOption FlagOptions[] = {
    {nullptr, "--no-password", &Arguments::noPassword},
    {nullptr, "--compress", &Arguments::compress},
    {"-v", "--verbose", &Arguments::verbose},
};

bool Is(const char* option, const char* shortName, const char* longName) {
    return std::strcmp(option, longName) == 0 ||
           (shortName != nullptr && std::strcmp(option, shortName) == 0);
}

// The value attached to an option: "--name=value", or "-xvalue" for a short one.
const char* AttachedValue(const char* option, const char* shortName, const char* longName) {
    const std::size_t length = std::strlen(longName);
    if (std::strncmp(option, longName, length) == 0 && option[length] == '=')
        return option + length + 1;
    if (shortName != nullptr && std::strncmp(option, shortName, 2) == 0 && option[2] != '\0')
        return option + 2;
    return nullptr;
}

// An unknown option as a message shows it: its name only ("--name" of "--name=value", the
// first letter of "-xyz"), escaped, so that no value typed with it, a password above all,
// is ever repeated.
std::string OptionName(const char* option) {
    std::size_t length = 2;
    if (option[1] == '-')
        length = std::strcspn(option, "=");
    return sfx::cli::Printable(option, length);
}

// Takes a flag; false after a usage error when it was given before.
bool SetFlag(bool& flag, const char* name) {
    if (flag) {
        UsageError(std::string(name) + " given twice");
        return false;
    }
    flag = true;
    return true;
}

// Takes the option at argv[i] and its value, attached ("--name=value", "-oOUT") or the next
// argument (i moves on to it). -1 when the reading goes on, else the exit status (after
// --help, --version or a usage error).
int TakeOption(int argc, char** argv, int& i, Arguments& arguments) {
    const char* option = argv[i];
    if (option[0] != '-' || option[1] == '\0')
        // Not echoed: a stray word is most often the rest of an unquoted password.
        return UsageError("argument " + std::to_string(i) +
                          " is no option (a value with spaces needs quotes)");
    if (Is(option, "-h", "--help")) {
        std::fputs(UsageLine, stdout);
        std::fputs(HelpText, stdout);
        return 0;
    }
    if (Is(option, "-V", "--version")) {
        std::puts("sfx-pack " SFX_VERSION);
        return 0;
    }
    for (const FlagOption& flag : FlagOptions) {
        if (Is(option, flag.shortName, flag.longName))
            return SetFlag(arguments.*flag.flag, flag.longName) ? -1 : ExitUsage;
    }
    for (const ValueOption& value : ValueOptions) {
        const char* attached = AttachedValue(option, value.shortName, value.longName);
        if (attached == nullptr && !Is(option, value.shortName, value.longName))
            continue;
        Value& into = arguments.*value.value;
        if (into.text != nullptr)
            return UsageError(std::string(value.longName) + " given twice");
        if (attached == nullptr && i + 1 >= argc)
            return UsageError(std::string(value.longName) + " needs a value");
        if (attached == nullptr)
            ++i;
        into.text = attached != nullptr ? attached : argv[i];
        into.index = i;
        into.offset = static_cast<std::size_t>(into.text - argv[i]);
        return -1;
    }
    return UsageError("unknown option " + OptionName(option));
}

// Fills `arguments`; -1 when the program goes on, else its exit status (after --help,
// --version or a usage error).
int ParseArguments(int argc, char** argv, Arguments& arguments) {
    arguments.argv = argv;
    for (int i = 1; i < argc; ++i) {
        const int status = TakeOption(argc, argv, i, arguments);
        if (status >= 0)
            return status;
    }
    if (arguments.stub.text == nullptr || arguments.input.text == nullptr ||
        arguments.output.text == nullptr) {
        return UsageError("--stub, --input and -o are required");
    }
    if ((arguments.password.text != nullptr) == arguments.noPassword) {
        return UsageError("give exactly one of --password and --no-password");
    }
    if (arguments.password.text != nullptr && arguments.password.text[0] == '\0')
        return UsageError("the password given with --password is empty");
    if (arguments.password.text != nullptr && strnlen(arguments.password.text, 256) > 255)
        return UsageError("the password is longer than 255 characters");
    return -1;
}

// The container's options from the arguments, the texts in the code page --codepage names.
// False after telling why when the code page or a text is wrong.
bool MakePackOptions(const Arguments& arguments, sfx::PackOptions& options) {
    const unsigned page = arguments.codePage.text != nullptr
                              ? sfx::platform::FindCodePage(arguments.codePage.text)
                              : sfx::platform::WesternCodePage;
    if (page == 0) {
        UsageError("no code page '" + sfx::cli::Printable(arguments.codePage.text) +
                   "' (874, 1250 to 1258, 932, 936, 949 or 950)");
        return false;
    }
    options.passwordProtected = !arguments.noPassword;
    options.compressed = arguments.compress;
    if (arguments.password.text != nullptr) {
        if (!ToCodePage("--password", arguments, arguments.password, page, options.password))
            return false;
        if (options.password.size() > 255) {
            UsageError("the password is longer than 255 bytes in code page " +
                       std::to_string(page));
            return false;
        }
    }
    return (arguments.riddle.text == nullptr ||
            ToCodePage("--riddle", arguments, arguments.riddle, page, options.riddle)) &&
           (arguments.description.text == nullptr ||
            ToCodePage("--description", arguments, arguments.description, page,
                       options.description));
}

// What -v reports: the sizes written and the byte sum.
void ReportWritten(const char* output, const sfx::PackOptions& options,
                   const sfx::PackResult& result) {
    std::printf(
        "%s: stub %llu bytes, %s payload %llu bytes, checksum %llu, container %lu bytes, "
        "description %lu bytes, %llu bytes in all\n",
        output, static_cast<unsigned long long>(result.stubSize),
        options.compressed ? "compressed" : "stored",
        static_cast<unsigned long long>(result.payloadSize),
        static_cast<unsigned long long>(result.checksum),
        static_cast<unsigned long>(result.containerLength),
        static_cast<unsigned long>(result.descriptionLength),
        static_cast<unsigned long long>(result.fileSize));
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything loads a DLL: none from the program's folder.
    sfx::platform::RestrictDllSearch();
    // Texts on the command line are in the locale's encoding.
    std::setlocale(LC_CTYPE, "");
    Arguments arguments;
    const int parsed = ParseArguments(argc, argv, arguments);
    if (parsed >= 0)
        return parsed;
    sfx::PackOptions options;
    if (!MakePackOptions(arguments, options))
        return ExitUsage;
    std::string error;
    sfx::PackResult result;
    if (!sfx::PackSelfExtractor(arguments.stub.text, arguments.input.text, arguments.output.text,
                                options, error, &result)) {
        std::fprintf(stderr, "sfx-pack: %s\n", error.c_str());
        return ExitFailure;
    }
    if (arguments.verbose)
        ReportWritten(arguments.output.text, options, result);
    return 0;
}
