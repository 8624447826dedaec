// unsfx: reads, tests and extracts self-extracting encrypted files, on any platform.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "cipher/blowfish_wide.h"
#include "cli/arguments.h"
#include "cli/destination.h"
#include "cli/messages.h"
#include "cli/password.h"
#include "cli/progress.h"
#include "cli/text.h"
#include "engine/container.h"
#include "engine/job.h"
#include "engine/status.h"
#include "platform/file_checks.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "platform/worker.h"
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
    "Commands (the first argument that is not an option):\n"
    "  extract FILE...   extract the file each FILE holds; the word may be left out, but a\n"
    "                    FILE named like a command needs it (unsfx extract test)\n"
    "  test FILE...      decrypt, check the byte sum and decode, keeping no file\n"
    "  info FILE...      show description, riddle, whether a password is needed, whether the\n"
    "                    payload is compressed, payload size and container offset\n"
    "A FILE must be a regular file: pipes, devices and - are refused.\n"
    "\n"
    "Options:\n"
    "  -o, --output DEST       where to extract to. Without -o: FILE's folder and FILE's name\n"
    "                          without its last extension (dir/report.exe gives dir/report);\n"
    "                          a FILE without extension gives FILE.out. A DEST that is a\n"
    "                          folder, or ends with / (made when missing), takes the file\n"
    "                          under that name. With several FILEs, DEST must be a folder\n"
    "                          or -.\n"
    "                          -o - writes to standard output. The bytes reach the pipe\n"
    "                          before the byte sum is checked: the exit status tells whether\n"
    "                          they are right (as with gzip -dc).\n"
    "  -p, --password PASSWORD the password (1 to 255 characters)\n"
    "      --password-file F   the first line of F, without its line end (- = standard input;\n"
    "                          on a terminal it is read with echo off)\n"
    "  -f, --force             replace an existing destination\n"
    "  -q, --quiet             no progress bar and no OK lines\n"
    "      --json              info: one JSON object per FILE, texts in ASCII (bytes above 127\n"
    "                          as \\u00XX, Latin-1)\n"
    "  -h, --help              show this help\n"
    "  -V, --version           show the version\n"
    "\n"
    "The password is taken from -p, else --password-file, else the environment variable\n"
    "UNSFX_PASSWORD (when not empty), else asked for on the terminal with echo off. A FILE\n"
    "that needs no password never asks. Without a terminal and without a password, unsfx\n"
    "stops with 64.\n"
    "\n"
    "A progress bar is drawn on standard error when it is a terminal. The destination is\n"
    "replaced only after the extracted file has been verified.\n"
    "\n"
    "Exit status (several FILEs: the first failure's):\n"
    "  0  done                         4  wrong password\n"
    "  1  can't write data             6  can't decompress data\n"
    "  2  can't read data              7  data is damaged (no valid container)\n"
    "  3  not enough memory           64  usage error, or no password to be had\n"
    "                                 73  destination exists (use --force)\n"
    "                                130  interrupted (Ctrl-C)\n";

constexpr char TryHelp[] = "try 'unsfx --help'\n";

void Tell(const std::string& message) {
    std::fprintf(stderr, "unsfx: %s\n", message.c_str());
}

void Report(const std::string& file, const std::string& message) {
    Tell(Quoted(file) + ": " + message);
}

// A usage error: the message, the usage when asked for, and where to learn more.
int UsageError(const std::string& message, bool withUsage = true) {
    std::fprintf(stderr, "unsfx: %s\n%s%s", message.c_str(), withUsage ? UsageText : "", TryHelp);
    return ExitUsage;
}

// The password given once for every FILE: -p (taken while parsing), --password-file or the
// environment. False (after telling why) when it can't be had.
bool GivenPassword(const Arguments& arguments, Secret& given) {
    if (given.present() || arguments.command == Command::Info)
        return true;
    if (arguments.passwordFile != nullptr) {
        const std::string file = Quoted(arguments.passwordFile);
        int error = 0;
        switch (given.ReadFirstLine(arguments.passwordFile, error)) {
            case Secret::FileRead::Read:
                return true;
            case Secret::FileRead::TooLong:
                UsageError("the first line of " + file + " is longer than 255 characters", false);
                return false;
            case Secret::FileRead::HasNul:
                UsageError("the first line of " + file + " holds a NUL byte", false);
                return false;
            case Secret::FileRead::NotAnsi:
                UsageError("the password typed for " + file +
                               " holds a character outside the ANSI code page",
                           false);
                return false;
            case Secret::FileRead::Empty:
                UsageError("the password in " + file + " is empty", false);
                return false;
            case Secret::FileRead::Unreadable:
                UsageError("cannot read the password file " + file + ": " + std::strerror(error),
                           false);
                return false;
        }
    }
    // Set but empty counts as not set.
    const char* fromEnvironment = std::getenv(PasswordVariable);
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0' && !given.Take(fromEnvironment)) {
        UsageError(std::string(PasswordVariable) + " is longer than 255 characters", false);
        return false;
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
    const char* problem = "no password was typed";
    switch (asked.Prompt(prompt.c_str())) {
        case platform::SecretRead::Read:
            if (asked.text()[0] == '\0')
                break;
            password = asked.text();
            return 0;
        case platform::SecretRead::NoTerminal:
            Report(file,
                   "needs a password: give -p, --password-file or UNSFX_PASSWORD (standard input "
                   "is no terminal to ask on)");
            std::fprintf(stderr, "%s%s", UsageText, TryHelp);
            return ExitUsage;
        case platform::SecretRead::TooLong:
            problem = "the password is longer than 255 characters";
            break;
        case platform::SecretRead::NulByte:
            problem = "the password holds a NUL byte";
            break;
        case platform::SecretRead::NotAnsi:
            problem = "the password holds a character outside the ANSI code page";
            break;
        case platform::SecretRead::Failed:
            break;
    }
    Report(file, problem);
    return ExitUsage;
}

// 0 when FILE is a regular file whose container header can be read, else the exit status
// after telling why.
int OpenSource(const std::string& file, ContainerHeader& header, ContainerPlacement& placement) {
    std::string problem = SourceProblem(file);
    if (problem.empty()) {
        errno = 0;
        ExtractStatus failure = Ok;
        if (ReadContainerHeader(file.c_str(), header, failure, &placement))
            return 0;
        if (failure != ReadFailed) {
            Tell(Quoted(file) + " is not a self-extracting file, or it is damaged");
            return failure;
        }
        problem = ReadProblem(file, errno);
    }
    Tell(problem);
    return ReadFailed;
}

// A first word that is neither a file nor a command was most likely meant as a command:
// nothing else is done then, so that a mistyped "test" never writes a file.
bool MistypedCommand(const Arguments& arguments) {
    const std::string& first = arguments.files.front();
    const bool word = std::all_of(first.begin(), first.end(), [](char c) {
        return std::isalpha(static_cast<unsigned char>(c)) != 0;
    });
    int error = 0;
    if (arguments.commandNamed || !word ||
        platform::TargetOf(first.c_str(), error) != platform::Target::Missing)
        return false;
    Tell(SourceProblem(first) + " (nor is it a command: extract, test or info)");
    return true;
}

// Where FILE goes, or "" for standard output and for test. Returns 0, or the exit status
// after telling why there is no destination.
int ChooseDestination(const Arguments& arguments, const std::string& file,
                      std::string& destination) {
    const bool toOutput = arguments.output != nullptr && std::strcmp(arguments.output, "-") == 0;
    destination.clear();
    if (arguments.command != Command::Extract || toOutput)
        return 0;
    if (arguments.output == nullptr) {
        destination = DefaultDestination(file);
        // Beside /dev/stdin and its kind there is no folder of the user's to write into.
        if (platform::IsDeviceFolder(FolderOf(destination).c_str())) {
            UsageError(Quoted(file) + " is not in a folder of files: give -o DEST", false);
            return ExitUsage;
        }
    } else if (NamesFolder(arguments.output) || platform::IsDirectory(arguments.output)) {
        destination = DestinationInFolder(arguments.output, file);
    } else {
        destination = arguments.output;
    }
    if (!arguments.force && platform::PathExists(destination.c_str())) {
        Tell(Quoted(destination) + " exists; use --force to replace it");
        return ExitDestinationExists;
    }
    return 0;
}

// The message for a job that failed with `status`; `error` is the errno the job left.
std::string FailureText(const Arguments& arguments, const std::string& file,
                        const std::string& destination, const ContainerPlacement& placement,
                        std::int32_t status, int error) {
    const bool scratchOnly = destination.empty();
    const bool toOutput = scratchOnly && arguments.command == Command::Extract;
    switch (status) {
        case WriteFailed:
            if (scratchOnly)
                return ScratchProblem(toOutput, error);
            return WriteProblem(destination, error, placement.payloadSize);
        case ReadFailed:
            return ReadProblem(file, error);
        case OutOfMemory:
            return "not enough memory";
        case WrongPassword:
            return Quoted(file) + ": wrong password";
        case DecompressFailed:
            if (TellsWhyAWriteFailed(error))
                return scratchOnly
                           ? ScratchProblem(toOutput, error)
                           : "cannot write " + Quoted(destination) + ": " + std::strerror(error);
            return Quoted(file) + ": the compressed data is damaged";
        default:
            return Quoted(file) + ": the data is damaged";
    }
}

// Extracts or tests one FILE; returns its exit status.
int ExtractOne(const Arguments& arguments, const std::string& file, const Secret& given) {
    ContainerHeader header;
    ContainerPlacement placement;
    if (int failure = OpenSource(file, header, placement))
        return failure;
    std::string destination;
    if (int failure = ChooseDestination(arguments, file, destination))
        return failure;

    Secret asked;
    const char* password = nullptr;
    if (int failure = PasswordFor(file, header, given, asked, password))
        return failure;

    // "-o DIR/" names a folder, made when missing.
    int error = 0;
    if (!destination.empty() && arguments.output != nullptr && NamesFolder(arguments.output) &&
        !platform::CreateFolders(arguments.output, error)) {
        Tell("cannot create the folder " + Quoted(arguments.output) + ": " + std::strerror(error));
        return WriteFailed;
    }

    ExtractionJob job;
    // Without --force nothing at the destination is replaced, not even what appears while
    // the file is being extracted.
    job.replaceExisting = arguments.force;
    // A compressed payload is decoded as it is decrypted: one bar.
    AttachProgress(job, arguments.quiet, header.compressed != 0);
    platform::RemoveTemporariesOnInterrupt(true);
    errno = 0;
    bool done = false;
    if (arguments.command == Command::Test)
        done = job.Test(file.c_str(), password);
    else if (destination.empty())
        done = job.ExtractToStream(file.c_str(), stdout, password);
    else
        done = job.Extract(file.c_str(), destination.c_str(), password);
    error = errno;
    platform::RemoveTemporariesOnInterrupt(false);
    ClearProgress();
    asked.Clear();

    if (!done && job.destinationTaken) {
        Tell(Quoted(destination) + " exists; use --force to replace it");
        return ExitDestinationExists;
    }
    if (!done) {
        Tell(FailureText(arguments, file, destination, placement, job.status, error));
        if (job.keptPath[0] != '\0')
            Tell("the decrypted, still compressed data is kept in " + Quoted(job.keptPath));
        return job.status;
    }
    if (arguments.command == Command::Test && !arguments.quiet)
        std::printf("%s: OK\n", Printable(file).c_str());
    return 0;
}

int ShowInfo(const Arguments& arguments, const std::string& file) {
    ContainerHeader header;
    ContainerPlacement placement;
    if (int failure = OpenSource(file, header, placement))
        return failure;
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

// UNSFX_THREADS (1 to 64) holds the threads that decrypt to that many; anything else is
// ignored and every processor is used.
void LimitThreadsFromEnvironment() {
    const char* text = std::getenv("UNSFX_THREADS");
    if (text == nullptr)
        return;
    int count = 0;
    for (std::size_t i = 0; text[i] != '\0'; ++i) {
        if (i >= 2 || !std::isdigit(static_cast<unsigned char>(text[i])))
            return;
        count = count * 10 + (text[i] - '0');
    }
    if (count >= 1 && count <= 64)
        platform::LimitThreads(count);
}

// UNSFX_CIPHER=scalar holds decryption to the portable code, for comparisons with the
// vector path; anything else is ignored.
void LimitCipherFromEnvironment() {
    const char* text = std::getenv("UNSFX_CIPHER");
    if (text != nullptr && std::strcmp(text, "scalar") == 0)
        LimitBlockPath(BlockPath::Scalar);
}

int Run(int argc, char** argv) {
    // A closed pipe or a file-size limit is a failed write, reported and cleaned up like any
    // other, not a death that leaves the run's files behind.
    platform::IgnoreWriteSignals();
    LimitThreadsFromEnvironment();
    LimitCipherFromEnvironment();
    Arguments arguments;
    std::string error;
    if (argc < 2)
        return UsageError("no FILE given");
    const bool parsed = ParseArguments(argc, argv, arguments, error);
    // The password leaves the process list before anything else happens.
    Secret given;
    if (parsed && arguments.password != nullptr)
        given.Take(arguments.password);  // its length was checked with the arguments
    BlankPasswordArguments(arguments);
    if (!parsed)
        return UsageError(error);
    if (arguments.command == Command::Help) {
        std::printf("%s%s", UsageText, HelpText);
        return 0;
    }
    if (arguments.command == Command::Version) {
        std::printf("%s\n", Version);
        return 0;
    }

    if (!GivenPassword(arguments, given))
        return ExitUsage;
    const bool toOutput = arguments.output != nullptr && std::strcmp(arguments.output, "-") == 0;
    if (toOutput && !platform::UseBinaryMode(stdout))
        return UsageError("can't switch standard output to binary mode");

    if (MistypedCommand(arguments))
        return ReadFailed;
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

namespace {

// Whatever allocation fails, anywhere: the message and status 3, never an abort. Nothing is
// thrown, since throwing needs memory too.
[[noreturn]] void OutOfMemoryExit() {
    sfx::platform::RemoveTrackedTemporaries();
    std::fputs("unsfx: not enough memory\n", stderr);
    std::_Exit(sfx::OutOfMemory);
}

}  // namespace

int main(int argc, char** argv) {
    std::set_new_handler(OutOfMemoryExit);
    try {
        return sfx::cli::Run(argc, argv);
    } catch (const std::bad_alloc&) {
        OutOfMemoryExit();
    }
}
