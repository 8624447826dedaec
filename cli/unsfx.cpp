// unsfx: extracts the file from a self-extracting encrypted file, on any platform.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/job.h"
#include "engine/status.h"
#include "platform/platform.h"

namespace {

constexpr int ExitUsage = 64;
constexpr int ExitDestinationExists = 73;
constexpr std::size_t MaxPassword = 255;

const char Usage[] =
    "usage: unsfx extract FILE -o DEST (-p PASSWORD | --password-file F) [--force]\n";

int UsageError(const char* message) {
    if (message != nullptr)
        std::fprintf(stderr, "unsfx: %s\n", message);
    std::fputs(Usage, stderr);
    return ExitUsage;
}

void Wipe(std::string& secret) {
    volatile char* bytes = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
    secret.clear();
}

// The first line of a file ("-" is standard input), without its line end.
bool ReadPasswordFile(const char* path, std::string& password) {
    std::FILE* file = std::strcmp(path, "-") == 0 ? stdin : sfx::platform::OpenFile(path, "rb");
    if (file == nullptr)
        return false;
    int c;
    while ((c = std::fgetc(file)) != EOF && c != '\n') password.push_back(static_cast<char>(c));
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (file != stdin)
        std::fclose(file);
    return true;
}

int Extract(int argc, char** argv) {
    const char* source = nullptr;
    const char* destination = nullptr;
    const char* passwordFile = nullptr;
    std::string password;
    bool havePassword = false;
    bool force = false;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&](const char* option) -> const char* {
            if (i + 1 >= argc)
                return nullptr;
            (void)option;
            return argv[++i];
        };
        if (std::strcmp(arg, "-o") == 0 || std::strcmp(arg, "--output") == 0) {
            if ((destination = value(arg)) == nullptr)
                return UsageError("-o needs a path");
        } else if (std::strcmp(arg, "-p") == 0 || std::strcmp(arg, "--password") == 0) {
            const char* text = value(arg);
            if (text == nullptr)
                return UsageError("-p needs a password");
            password = text;
            havePassword = true;
        } else if (std::strcmp(arg, "--password-file") == 0) {
            if ((passwordFile = value(arg)) == nullptr) {
                return UsageError("--password-file needs a file");
            }
        } else if (std::strcmp(arg, "--force") == 0 || std::strcmp(arg, "-f") == 0) {
            force = true;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return UsageError((std::string("unknown option ") + arg).c_str());
        } else if (source == nullptr) {
            source = arg;
        } else {
            return UsageError("only one FILE may be given");
        }
    }
    if (source == nullptr)
        return UsageError("no FILE given");
    if (destination == nullptr)
        return UsageError("no destination given (-o DEST)");
    if (havePassword && passwordFile != nullptr) {
        return UsageError("give either -p or --password-file, not both");
    }
    if (passwordFile != nullptr) {
        if (!ReadPasswordFile(passwordFile, password)) {
            std::fprintf(stderr, "unsfx: can't read the password file %s\n", passwordFile);
            return ExitUsage;
        }
        havePassword = true;
    }
    if (!havePassword)
        return UsageError("no password given (-p or --password-file)");
    if (password.size() > MaxPassword) {
        Wipe(password);
        return UsageError("the password is longer than 255 characters");
    }
    if (!force && sfx::platform::PathExists(destination)) {
        Wipe(password);
        std::fprintf(stderr, "unsfx: %s exists; use --force to replace it\n", destination);
        return ExitDestinationExists;
    }

    sfx::ExtractionJob job;
    const bool extracted = job.Extract(source, destination, password.c_str());
    Wipe(password);
    if (!extracted) {
        std::fprintf(stderr, "unsfx: %s: %s\n", source, sfx::StatusMessage(job.status));
        return job.status;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return UsageError(nullptr);
    if (std::strcmp(argv[1], "extract") == 0)
        return Extract(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(Usage, stdout);
        std::fputs(
            "exit status: 0 extracted; 1 write failed; 2 read failed; 3 out of memory;\n"
            "  4 wrong password; 6 decompression failed; 7 data damaged; 64 usage error;\n"
            "  73 destination exists (use --force)\n",
            stdout);
        return 0;
    }
    return UsageError((std::string("unknown command ") + argv[1]).c_str());
}
