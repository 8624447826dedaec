// unsfx: reads, tests and extracts self-extracting encrypted files, on any platform.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/arguments.h"
#include "cli/destination.h"
#include "cli/password.h"
#include "cli/progress.h"
#include "cli/text.h"
#include "engine/container.h"
#include "engine/job.h"
#include "engine/status.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "sfx_version.h"

namespace sfx::cli {
namespace {

constexpr int ExitUsage = 64;
constexpr int ExitDestinationExists = 73;
constexpr char Version[] = "unsfx " SFX_VERSION;

// Any non-empty text opens a container that is not protected by a password.
constexpr char AnyPassword[] = "-";

const char UsageText[] =
    "usage: unsfx [extract] FILE... [-o DEST] [-p PASSWORD | --password-file F] [--force] [-q]\n"
    "       unsfx test FILE... [-p PASSWORD | --password-file F] [-q]\n"
    "       unsfx info FILE... [--json]\n";

const char HelpText[] =
    "\n"
    "Reads, tests and extracts self-extracting encrypted files.\n"
    "\n"
    "Commands:\n"
    "  extract FILE...   extract the file each FILE holds; the word may be left out, but a\n"
    "                    FILE named like a command needs it (unsfx extract test)\n"
    "  test FILE...      decrypt, check the byte sum and decode, keeping no file\n"
    "  info FILE...      show description, riddle, whether a password is needed, whether the\n"
    "                    payload is compressed, payload size and container offset\n"
    "\n"
    "Options:\n"
    "  -o, --output DEST       where to extract to. Without -o: FILE's folder and FILE's name\n"
    "                          without its last extension (dir/report.exe gives dir/report);\n"
    "                          a FILE without extension gives FILE.out. A DEST that is a\n"
    "                          folder takes the file under that name. With several FILEs,\n"
    "                          DEST must be a folder or -.\n"
    "                          -o - writes to standard output. The bytes reach the pipe\n"
    "                          before the byte sum is checked: the exit status tells whether\n"
    "                          they are right (as with gzip -dc).\n"
    "  -p, --password PASSWORD the password (at most 255 characters)\n"
    "      --password-file F   the first line of F, without its line end (- = standard input)\n"
    "  -f, --force             replace an existing destination\n"
    "  -q, --quiet             no progress bar and no OK lines\n"
    "      --json              info: one JSON object per FILE, texts in ASCII (bytes above 127\n"
    "                          as \\u00XX, Latin-1)\n"
    "  -h, --help              show this help\n"
    "  -V, --version           show the version\n"
    "\n"
    "The password is taken from -p, else --password-file, else the environment variable\n"
    "UNSFX_PASSWORD, else asked for on the terminal with echo off. A FILE that needs no\n"
    "password never asks. Without a terminal and without a password, unsfx stops with 64.\n"
    "\n"
    "A progress bar is drawn on standard error when it is a terminal. The destination is\n"
    "replaced only after the extracted file has been verified.\n"
    "\n"
    "Exit status (several FILEs: the first failure's):\n"
    "  0  done                         4  wrong password\n"
    "  1  can't write data             6  can't decompress data\n"
    "  2  can't read data              7  data is damaged (no valid container)\n"
    "  3  not enough memory           64  usage error, or no password to be had\n"
    "                                 73  destination exists (use --force)\n";

int UsageError(const std::string& message) {
    std::fprintf(stderr, "unsfx: %s\n%s", message.c_str(), UsageText);
    return ExitUsage;
}

void Report(const std::string& file, const char* message) {
    std::fprintf(stderr, "unsfx: %s: %s\n", Printable(file).c_str(), message);
}

// The password given once for every FILE: -p, --password-file or the environment.
// False (after telling why) when it can't be had.
bool GivenPassword(Arguments& arguments, Secret& given) {
    if (arguments.password != nullptr) {
        const bool taken = given.Take(arguments.password);
        // Keep the password out of the process list from now on.
        WipeBytes(arguments.password, std::strlen(arguments.password));
        arguments.password = nullptr;
        return taken;  // the length was checked with the arguments
    }
    if (arguments.passwordFile != nullptr) {
        switch (given.ReadFirstLine(arguments.passwordFile)) {
            case Secret::FileRead::Read:
                return true;
            case Secret::FileRead::TooLong:
                std::fprintf(stderr, "unsfx: the password in %s is longer than 255 characters\n",
                             Printable(arguments.passwordFile).c_str());
                return false;
            case Secret::FileRead::Unreadable:
                std::fprintf(stderr, "unsfx: can't read the password file %s\n",
                             Printable(arguments.passwordFile).c_str());
                return false;
        }
    }
    if (const char* fromEnvironment = std::getenv(PasswordVariable)) {
        if (!given.Take(fromEnvironment)) {
            std::fprintf(stderr, "unsfx: %s is longer than 255 characters\n", PasswordVariable);
            return false;
        }
    }
    return true;
}

// The password for one FILE: nothing asked when the container is not protected, else the
// given one, else a prompt. Returns 0, or the exit status of the failure after telling why.
int PasswordFor(const std::string& file, const ContainerHeader& header, const Secret& given,
                Secret& asked, const char*& password) {
    if (header.passwordProtected == 0) {
        password = AnyPassword;
        return 0;
    }
    if (given.present()) {
        password = given.text();
        return 0;
    }
    std::string prompt;
    const std::size_t riddleLength = strnlen(header.riddle, RiddleSize - 1);
    if (riddleLength > 0)
        prompt += "Riddle: " + Printable(header.riddle, riddleLength) + "\n";
    prompt += "Password for " + Printable(file) + ": ";
    switch (asked.Prompt(prompt.c_str())) {
        case platform::SecretRead::Read:
            password = asked.text();
            return 0;
        case platform::SecretRead::NoTerminal:
            Report(file,
                   "needs a password: give -p, --password-file or UNSFX_PASSWORD (standard input "
                   "is no terminal to ask on)");
            std::fputs(UsageText, stderr);
            return ExitUsage;
        case platform::SecretRead::TooLong:
            Report(file, "the password is longer than 255 characters");
            return ExitUsage;
        case platform::SecretRead::Failed:
            break;
    }
    Report(file, "no password was typed");
    return ExitUsage;
}

bool ReadHeader(const std::string& file, ContainerHeader& header, ContainerPlacement* placement,
                int& exitStatus) {
    ExtractStatus failure = Ok;
    if (ReadContainerHeader(file.c_str(), header, failure, placement))
        return true;
    Report(file, StatusMessage(failure));
    exitStatus = failure;
    return false;
}

// Extracts or tests one FILE; returns its exit status.
int ExtractOne(const Arguments& arguments, const std::string& file, const Secret& given) {
    int exitStatus = 0;
    ContainerHeader header;
    if (!ReadHeader(file, header, nullptr, exitStatus))
        return exitStatus;

    const bool toOutput = arguments.output != nullptr && std::strcmp(arguments.output, "-") == 0;
    std::string destination;
    if (arguments.command == Command::Extract && !toOutput) {
        if (arguments.output == nullptr)
            destination = DefaultDestination(file);
        else if (platform::IsDirectory(arguments.output))
            destination = DestinationInFolder(arguments.output, file);
        else
            destination = arguments.output;
        if (!arguments.force && platform::PathExists(destination.c_str())) {
            std::fprintf(stderr, "unsfx: %s exists; use --force to replace it\n",
                         Printable(destination).c_str());
            return ExitDestinationExists;
        }
    }

    Secret asked;
    const char* password = nullptr;
    if (int failure = PasswordFor(file, header, given, asked, password))
        return failure;

    ExtractionJob job;
    AttachProgress(job, arguments.quiet);
    platform::RemoveTemporariesOnInterrupt(true);
    bool done = false;
    if (arguments.command == Command::Test)
        done = job.Test(file.c_str(), password);
    else if (toOutput)
        done = job.ExtractToStream(file.c_str(), stdout, password);
    else
        done = job.Extract(file.c_str(), destination.c_str(), password);
    platform::RemoveTemporariesOnInterrupt(false);
    ClearProgress();
    asked.Clear();

    if (!done) {
        Report(file, StatusMessage(job.status));
        return job.status;
    }
    if (arguments.command == Command::Test && !arguments.quiet)
        std::printf("%s: OK\n", Printable(file).c_str());
    return 0;
}

int ShowInfo(const Arguments& arguments, const std::string& file) {
    int exitStatus = 0;
    ContainerHeader header;
    ContainerPlacement placement;
    if (!ReadHeader(file, header, &placement, exitStatus))
        return exitStatus;
    char description[DescriptionBufferSize] = {};
    ReadDescription(file.c_str(), description);
    const std::size_t descriptionLength = strnlen(description, sizeof description - 1);
    const std::size_t riddleLength = strnlen(header.riddle, RiddleSize - 1);
    const bool protectedByPassword = header.passwordProtected != 0;
    const bool compressed = header.compressed != 0;

    if (arguments.json) {
        std::printf(
            "{\"file\": %s, \"description\": %s, \"riddle\": %s, \"passwordProtected\": %s, "
            "\"compressed\": %s, \"payloadSize\": %ld, \"containerOffset\": %lld}\n",
            JsonString(file).c_str(), JsonString(description, descriptionLength).c_str(),
            JsonString(header.riddle, riddleLength).c_str(), protectedByPassword ? "true" : "false",
            compressed ? "true" : "false", static_cast<long>(placement.payloadSize),
            static_cast<long long>(placement.containerOffset));
        return 0;
    }
    std::printf("%s\n", Printable(file).c_str());
    std::printf("  description:       %s\n", Printable(description, descriptionLength).c_str());
    std::printf("  riddle:            %s\n", Printable(header.riddle, riddleLength).c_str());
    std::printf("  password needed:   %s\n", protectedByPassword ? "yes" : "no");
    std::printf("  compressed:        %s\n", compressed ? "yes" : "no");
    std::printf("  payload size:      %ld bytes\n", static_cast<long>(placement.payloadSize));
    std::printf("  container offset:  %lld\n", static_cast<long long>(placement.containerOffset));
    return 0;
}

int Run(int argc, char** argv) {
    Arguments arguments;
    std::string error;
    if (argc < 2)
        return UsageError("no FILE given");
    if (!ParseArguments(argc, argv, arguments, error))
        return UsageError(error);
    if (arguments.command == Command::Help) {
        std::printf("%s%s", UsageText, HelpText);
        return 0;
    }
    if (arguments.command == Command::Version) {
        std::printf("%s\n", Version);
        return 0;
    }

    Secret given;
    if (arguments.command != Command::Info && !GivenPassword(arguments, given))
        return ExitUsage;
    const bool toOutput = arguments.output != nullptr && std::strcmp(arguments.output, "-") == 0;
    if (toOutput && !platform::UseBinaryMode(stdout))
        return UsageError("can't switch standard output to binary mode");

    int firstFailure = 0;
    for (std::size_t i = 0; i < arguments.files.size(); ++i) {
        if (arguments.command == Command::Info && !arguments.json && i > 0)
            std::printf("\n");
        const int status = arguments.command == Command::Info
                               ? ShowInfo(arguments, arguments.files[i])
                               : ExtractOne(arguments, arguments.files[i], given);
        if (firstFailure == 0)
            firstFailure = status;
    }
    if (std::fflush(stdout) != 0 && firstFailure == 0) {
        std::fprintf(stderr, "unsfx: can't write to standard output\n");
        firstFailure = WriteFailed;
    }
    return firstFailure;
}

}  // namespace
}  // namespace sfx::cli

int main(int argc, char** argv) {
    return sfx::cli::Run(argc, argv);
}
