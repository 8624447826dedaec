// sfx-pack: appends a container holding one file to a copy of the extractor.
//
//   sfx-pack --stub STUB --input FILE -o OUT (--password PW | --no-password)
//            [--compress] [--riddle TEXT] [--description TEXT] [--codepage CP] [-v]
//
// The riddle and the description are taken in the locale's encoding and stored in a Windows
// code page, the one the extractor's dialog will show them in.
//
// Exit codes: 0 success, 1 failure, 64 wrong usage.

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "sfx_version.h"
#include "tools/code_page.h"
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
    "  --stub STUB          the extractor executable to copy\n"
    "  --input FILE         the file to put in the container\n"
    "  -o, --output OUT     the self-extracting file to write (replaced if it exists)\n"
    "  --password PW        encrypt under this password (1 to 255 characters)\n"
    "  --no-password        encrypt under the fixed key; any password opens it\n"
    "  --compress           compress the file with LZW before encrypting it\n"
    "  --riddle TEXT        password hint shown by \"Read riddle\" (at most 255 characters)\n"
    "  --description TEXT   text shown when the extractor opens (at most 254 characters)\n"
    "  --codepage CP        the Windows code page the riddle and the description are stored\n"
    "                       in: 874 or 1250 to 1258 (default 1252, Western European); they\n"
    "                       are taken in the locale's encoding, and a character the code\n"
    "                       page lacks is refused\n"
    "  -v, --verbose        report what was written\n"
    "  -h, --help           show this help\n"
    "  -V, --version        show the version\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "sfx-pack: %s\n%s", message.c_str(), UsageLine);
    return ExitUsage;
}

struct Arguments {
    const char* stub = nullptr;
    const char* input = nullptr;
    const char* output = nullptr;
    const char* password = nullptr;
    bool noPassword = false;
    bool compress = false;
    const char* riddle = nullptr;
    const char* description = nullptr;
    const char* codePage = nullptr;
    bool verbose = false;
};

// Takes a text given in the locale's encoding into the code page; false after saying why.
bool ToCodePage(const char* option, const char* text, const sfx::CodePage& page, std::string& out) {
    std::u32string characters;
    if (!sfx::DecodeLocaleText(text, characters)) {
        std::fprintf(stderr,
                     "sfx-pack: %s: the text is not valid in the locale's encoding (see LANG, "
                     "LC_ALL)\n",
                     option);
        return false;
    }
    char32_t missing = 0;
    if (!sfx::EncodeToCodePage(characters, page, out, missing)) {
        std::fprintf(stderr,
                     "sfx-pack: %s: code page %u has no character U+%04lX; choose another "
                     "with --codepage\n",
                     option, page.number, static_cast<unsigned long>(missing));
        return false;
    }
    return true;
}

// Fills `arguments`; -1 when the program goes on, else its exit status (after --help,
// --version or a usage error).
int ParseArguments(int argc, char** argv, Arguments& arguments) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "--help") == 0) {
            std::fputs(UsageLine, stdout);
            std::fputs(HelpText, stdout);
            return 0;
        }
        if (std::strcmp(option, "-V") == 0 || std::strcmp(option, "--version") == 0) {
            std::puts("sfx-pack " SFX_VERSION);
            return 0;
        }
        const char** target = nullptr;
        bool* flag = nullptr;
        if (std::strcmp(option, "--stub") == 0) {
            target = &arguments.stub;
        } else if (std::strcmp(option, "--input") == 0) {
            target = &arguments.input;
        } else if (std::strcmp(option, "-o") == 0 || std::strcmp(option, "--output") == 0) {
            target = &arguments.output;
        } else if (std::strcmp(option, "--password") == 0) {
            target = &arguments.password;
        } else if (std::strcmp(option, "--riddle") == 0) {
            target = &arguments.riddle;
        } else if (std::strcmp(option, "--description") == 0) {
            target = &arguments.description;
        } else if (std::strcmp(option, "--codepage") == 0) {
            target = &arguments.codePage;
        } else if (std::strcmp(option, "--no-password") == 0) {
            flag = &arguments.noPassword;
        } else if (std::strcmp(option, "--compress") == 0) {
            flag = &arguments.compress;
        } else if (std::strcmp(option, "-v") == 0 || std::strcmp(option, "--verbose") == 0) {
            flag = &arguments.verbose;
        } else {
            const std::string message = std::string("unknown argument '") + option + "'";
            return UsageError(message);
        }
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        if (*target != nullptr) {
            const std::string message = std::string(option) + " given twice";
            return UsageError(message);
        }
        if (i + 1 >= argc) {
            const std::string message = std::string(option) + " needs a value";
            return UsageError(message);
        }
        *target = argv[++i];
    }

    if (arguments.stub == nullptr || arguments.input == nullptr || arguments.output == nullptr) {
        return UsageError("--stub, --input and -o are required");
    }
    if ((arguments.password != nullptr) == arguments.noPassword) {
        return UsageError("give exactly one of --password and --no-password");
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    // Texts on the command line are in the locale's encoding.
    std::setlocale(LC_CTYPE, "");
    Arguments arguments;
    const int parsed = ParseArguments(argc, argv, arguments);
    if (parsed >= 0)
        return parsed;
    const sfx::CodePage* page = sfx::FindCodePage(
        arguments.codePage != nullptr ? arguments.codePage : std::to_string(sfx::DefaultCodePage));
    if (page == nullptr)
        return UsageError(std::string("no code page '") + arguments.codePage +
                          "' (874 or 1250 to 1258)");

    sfx::PackOptions options;
    options.passwordProtected = !arguments.noPassword;
    if (arguments.password != nullptr) {
        options.password = arguments.password;
    }
    options.compressed = arguments.compress;
    if (arguments.riddle != nullptr &&
        !ToCodePage("--riddle", arguments.riddle, *page, options.riddle)) {
        return ExitUsage;
    }
    if (arguments.description != nullptr &&
        !ToCodePage("--description", arguments.description, *page, options.description)) {
        return ExitUsage;
    }

    std::string error;
    sfx::PackResult result;
    if (!sfx::PackSelfExtractor(arguments.stub, arguments.input, arguments.output, options, error,
                                &result)) {
        std::fprintf(stderr, "sfx-pack: %s\n", error.c_str());
        return ExitFailure;
    }
    if (arguments.verbose) {
        std::printf(
            "%s: stub %llu bytes, %s payload %llu bytes, checksum %llu, container %lu bytes, "
            "description %lu bytes, %llu bytes in all\n",
            arguments.output, static_cast<unsigned long long>(result.stubSize),
            options.compressed ? "compressed" : "stored",
            static_cast<unsigned long long>(result.payloadSize),
            static_cast<unsigned long long>(result.checksum),
            static_cast<unsigned long>(result.containerLength),
            static_cast<unsigned long>(result.descriptionLength),
            static_cast<unsigned long long>(result.fileSize));
    }
    return 0;
}
