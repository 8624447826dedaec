// unsfx: reads, tests and extracts self-extracting encrypted files, on any platform.
//
// This file reads the command line, picks the command and runs it on each FILE; the commands,
// the help and the sourcing of the password have files of their own.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "cli/arguments.h"
#include "cli/extract_command.h"
#include "cli/help.h"
#include "cli/info_command.h"
#include "cli/password.h"
#include "cli/password_source.h"
#include "cli/source_file.h"
#include "engine/status.h"
#include "lzw/segment_decoder.h"
#include "platform/code_page.h"
#include "platform/download_safety.h"
#include "platform/files.h"
#include "platform/temporaries.h"

namespace sfx::cli {
namespace {

// Runs the command on every FILE, one after the other; the exit status of the first failure.
int RunOnEachFile(const Arguments& arguments, const Secret& given) {
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

int Run(int argc, char** argv) {
    // A closed pipe or a file-size limit is a failed write, reported and cleaned up like any
    // other, not a death that leaves the run's files behind.
    platform::IgnoreWriteSignals();
    LimitCipherFromEnvironment();
    if (argc < 2)
        return UsageError("no FILE given");
    Arguments arguments;
    std::string error;
    const bool parsed = ParseArguments(argc, argv, arguments, error);
    if (parsed && arguments.codePage == 0)
        arguments.codePage = platform::SystemCodePage();
    // The password leaves the process list before anything else happens.
    Secret given;
    const bool taken = !parsed || arguments.password == nullptr ||
                       TakePasswordArgument(argv, arguments, arguments.codePage, given, error);
    BlankPasswordArguments(arguments);
    if (!parsed)
        return UsageError(error);

    switch (arguments.command) {
        case Command::Help:
            PrintHelp();
            return 0;
        case Command::Version:
            PrintVersion();
            return 0;
        default:
            break;
    }
    if (!taken)
        return UsageError(error);
    // Texts reach the terminal, and passwords come from it, in the locale's character set.
    std::setlocale(LC_CTYPE, "");
    if (int failure = LimitThreadsFromEnvironment())
        return failure;
    UseSegmentDecoding();
    if (int failure = GivenPassword(arguments, given))
        return failure;
    if (WritesToOutput(arguments) && !platform::UseBinaryMode(stdout))
        return UsageError("can't switch standard output to binary mode");
    if (MistypedCommand(arguments))
        return ReadFailed;
    return RunOnEachFile(arguments, given);
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
    // Before anything loads a DLL: none from the program's folder.
    sfx::platform::RestrictDllSearch();
    std::set_new_handler(OutOfMemoryExit);
    try {
        return sfx::cli::Run(argc, argv);
    } catch (const std::bad_alloc&) {
        OutOfMemoryExit();
    }
}
