// sfx-pack: appends a container holding one file to a copy of the extractor.
//
//   sfx-pack --stub STUB --input FILE -o OUT (--password PW | --no-password)
//            [--compress] [--riddle TEXT] [--description TEXT] [-v]
//
// Exit codes: 0 success, 1 failure, 64 wrong usage.

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/container_writer.h"

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 64;

const char UsageLine[] =
    "usage: sfx-pack --stub STUB --input FILE -o OUT (--password PW | --no-password)\n"
    "                [--compress] [--riddle TEXT] [--description TEXT] [-v]\n";

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
    "  -v, --verbose        report what was written\n"
    "  -h, --help           show this help\n";

int UsageError(const char* message) {
    std::fprintf(stderr, "sfx-pack: %s\n%s", message, UsageLine);
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
    bool verbose = false;
};

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "--help") == 0) {
            std::fputs(UsageLine, stdout);
            std::fputs(HelpText, stdout);
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
        } else if (std::strcmp(option, "--no-password") == 0) {
            flag = &arguments.noPassword;
        } else if (std::strcmp(option, "--compress") == 0) {
            flag = &arguments.compress;
        } else if (std::strcmp(option, "-v") == 0 || std::strcmp(option, "--verbose") == 0) {
            flag = &arguments.verbose;
        } else {
            const std::string message = std::string("unknown argument '") + option + "'";
            return UsageError(message.c_str());
        }
        if (flag != nullptr) {
            *flag = true;
            continue;
        }
        if (*target != nullptr) {
            const std::string message = std::string(option) + " given twice";
            return UsageError(message.c_str());
        }
        if (i + 1 >= argc) {
            const std::string message = std::string(option) + " needs a value";
            return UsageError(message.c_str());
        }
        *target = argv[++i];
    }

    if (arguments.stub == nullptr || arguments.input == nullptr || arguments.output == nullptr) {
        return UsageError("--stub, --input and -o are required");
    }
    if ((arguments.password != nullptr) == arguments.noPassword) {
        return UsageError("give exactly one of --password and --no-password");
    }

    sfx::PackOptions options;
    options.passwordProtected = !arguments.noPassword;
    if (arguments.password != nullptr) {
        options.password = arguments.password;
    }
    options.compressed = arguments.compress;
    if (arguments.riddle != nullptr) {
        options.riddle = arguments.riddle;
    }
    if (arguments.description != nullptr) {
        options.description = arguments.description;
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
