#include "cli/extract_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cipher/blowfish_wide.h"
#include "cipher/decryption_pass.h"
#include "cli/destination.h"
#include "cli/help.h"
#include "cli/messages.h"
#include "cli/password_source.h"
#include "cli/progress.h"
#include "cli/salvage_command.h"
#include "cli/source_file.h"
#include "cli/text.h"
#include "engine/container.h"
#include "engine/job.h"
#include "engine/status.h"
#include "platform/file_checks.h"
#include "platform/files.h"
#include "platform/temporaries.h"
#include "platform/worker.h"

namespace sfx::cli {

namespace {

constexpr int ExitDestinationExists = 73;

// One FILE on its way through extract or test.
struct Extraction {
    const Arguments& arguments;
    const std::string& file;
    ContainerHeader header;
    ContainerPlacement placement;
    std::string destination;  // "" for standard output and for test
};

}  // namespace

int DestinationExists(const std::string& destination) {
    Tell(Quoted(destination) + " exists; use --force to replace it");
    return ExitDestinationExists;
}

int ChooseDestination(const Arguments& arguments, const std::string& file,
                      std::string& destination) {
    destination.clear();
    if (arguments.command != Command::Extract || WritesToOutput(arguments))
        return 0;
    if (arguments.output == nullptr) {
        destination = DefaultDestination(file);
        // Beside /dev/stdin and its kind there is no folder of the user's to write into.
        if (platform::IsDeviceFolder(FolderOf(destination).c_str()))
            return UsageError(Quoted(file) + " is not in a folder of files: give -o DEST", false);
    } else if (NamesFolder(arguments.output) || platform::IsDirectory(arguments.output)) {
        destination = DestinationInFolder(arguments.output, file);
    } else {
        destination = arguments.output;
    }
    // A folder is never replaced, --force or not: say so before asking for a password.
    if (platform::KindOf(destination.c_str()) == platform::PathKind::Directory) {
        Tell(Quoted(destination) + " is a folder: choose another name with -o");
        return WriteFailed;
    }
    if (!arguments.force && platform::PathExists(destination.c_str()))
        return DestinationExists(destination);
    return 0;
}

int MakeOutputFolder(const Arguments& arguments, const std::string& destination) {
    const char* folder = arguments.output;
    int error = 0;
    if (destination.empty() || folder == nullptr || !NamesFolder(folder) ||
        platform::CreateFolders(folder, error))
        return 0;
    Tell("cannot create the folder " + Quoted(folder) + ": " + std::strerror(error));
    return WriteFailed;
}

namespace {

// Extracts FILE into the stream -o names: standard output, or another open descriptor
// ("/dev/fd/3"), written as standard output is.
bool ExtractToDescriptor(const Extraction& one, const char* password, ExtractionJob& job) {
    const int descriptor = OutputDescriptor(one.arguments);
    if (descriptor == 1)
        return job.ExtractToStream(one.file.c_str(), stdout, password);
    std::FILE* stream = platform::OpenDescriptor(descriptor);
    if (stream == nullptr) {
        job.writeError = errno;
        job.status = WriteFailed;
        return false;
    }
    const bool done = job.ExtractToStream(one.file.c_str(), stream, password);
    std::fclose(stream);  // flushed by the job, which told whether the bytes went
    return done;
}

// Runs the job on FILE: a test, or an extraction to standard output or to the destination.
// `error` receives the reason of the write that failed, 0 when none is known. A `trial` only
// tests, whatever the command.
bool RunJob(const Extraction& one, const char* password, ExtractionJob& job, int& error,
            bool trial = false) {
    const Arguments& arguments = one.arguments;
    // Without --force nothing at the destination is replaced, not even what appears while
    // the file is being extracted.
    job.replaceExisting = arguments.force;
    // A compressed payload is decoded as it is decrypted: one bar.
    AttachProgress(job, arguments.quiet, one.header.compressed != 0);
    platform::RemoveTemporariesOnInterrupt(true);
    errno = 0;
    bool done = false;
    if (trial || arguments.command == Command::Test)
        done = job.Test(one.file.c_str(), password);
    else if (one.destination.empty())
        done = ExtractToDescriptor(one, password, job);
    else
        done = job.Extract(one.file.c_str(), one.destination.c_str(), password);
    error = job.writeError;
    platform::RemoveTemporariesOnInterrupt(false);
    ClearProgress();
    return done;
}

// The message for a job that failed with `status`; `error` is the reason of the write that
// failed, 0 when none is known.
std::string FailureText(const Extraction& one, std::int32_t status, int error) {
    const std::string& file = one.file;
    const std::string& destination = one.destination;
    const bool scratchOnly = destination.empty();
    const bool toOutput = scratchOnly && one.arguments.command == Command::Extract;
    switch (status) {
        case WriteFailed:
            if (toOutput && OutputDescriptor(one.arguments) != 1)
                return "cannot write to " + Quoted(one.arguments.output) +
                       (error != 0 ? std::string(": ") + std::strerror(error) : "");
            if (scratchOnly)
                return ScratchProblem(toOutput, error);
            return WriteProblem(destination, error, one.placement.payloadSize);
        case ReadFailed:
            return ReadProblem(file, error);
        case OutOfMemory:
            return "not enough memory";
        case WrongPassword:
            return Quoted(file) + ": wrong password";
        case DecompressFailed:
            // A write that failed while decoding is a failed write, never this.
            return Quoted(file) + ": the compressed data is damaged";
        default:
            return Quoted(file) + ": the data is damaged";
    }
}

// The exit status of a job that has run, after telling how it failed, or that the test
// passed.
int Outcome(const Extraction& one, const ExtractionJob& job, bool done, int error) {
    if (done) {
        if (one.arguments.command == Command::Test && !one.arguments.quiet)
            std::printf("%s: OK\n", Printable(one.file).c_str());
        return 0;
    }
    if (job.destinationTaken)
        return DestinationExists(one.destination);
    Tell(FailureText(one, job.status, error));
    if (job.destinationDamaged)
        Tell(Quoted(one.destination) + " is damaged: it holds only part of the new file");
    if (job.keptPath[0] != '\0') {
        std::string kept =
            "the decrypted, still compressed data is kept in " + Quoted(job.keptPath);
        if (FolderOf(job.keptPath) != FolderOf(one.destination))
            kept += ": the folder of " + Quoted(one.destination) + " takes no new file";
        Tell(kept);
    }
    return job.status;
}

// Runs the job with the password in the code page, `converted`, and, when that is wrong, with
// the bytes as given, `asGiven` (nullptr when they are the same): a file packed from the
// bytes of another encoding (UTF-8, by an older sfx-pack) still opens, at the price of a
// second pass before a wrong password is told. Standard output takes no bytes that may be
// wrong, so there a test pass picks the password first.
bool RunWithPasswords(const Extraction& one, const char* converted, const char* asGiven,
                      ExtractionJob& job, int& error) {
    if (asGiven == nullptr)
        return RunJob(one, converted, job, error);
    if (one.arguments.command == Command::Extract && one.destination.empty()) {
        ExtractionJob trial;
        const bool opened = RunJob(one, converted, trial, error, true);
        return RunJob(one, !opened && trial.status == WrongPassword ? asGiven : converted, job,
                      error);
    }
    if (RunJob(one, converted, job, error))
        return true;
    if (job.status != WrongPassword || job.destinationTaken)
        return false;
    job = ExtractionJob{};
    return RunJob(one, asGiven, job, error);
}

}  // namespace

int ExtractOne(const Arguments& arguments, const std::string& file, const Secret& given) {
    if (arguments.salvage)
        return SalvageOne(arguments, file, given);
    Extraction one{arguments, file, {}, {}, {}};
    if (int failure = OpenSource(file, one.header, one.placement))
        return failure;
    if (int failure = ChooseDestination(arguments, file, one.destination))
        return failure;
    Secret asked;
    const char* password = nullptr;
    bool inCodePage = false;
    if (int failure =
            PasswordFor(file, one.header, arguments.codePage, given, asked, password, inCodePage))
        return failure;
    // The key is made from the password in the code page; the bytes as given are the second
    // try, when they differ. A password taken into the code page from the start has no other.
    Secret converted;
    const char* asGiven = nullptr;
    if (one.header.passwordProtected != 0 && !inCodePage &&
        PasswordInCodePage(password, arguments.codePage, converted) &&
        std::strcmp(converted.text(), password) != 0) {
        asGiven = password;
        password = converted.text();
    }
    if (int failure = MakeOutputFolder(arguments, one.destination))
        return failure;

    ExtractionJob job;
    int error = 0;
    const bool done = RunWithPasswords(one, password, asGiven, job, error);
    asked.Clear();
    converted.Clear();
    return Outcome(one, job, done, error);
}

int LimitThreadsFromEnvironment() {
    const char* text = std::getenv("UNSFX_THREADS");
    // Set but empty counts as not set.
    if (text == nullptr || text[0] == '\0')
        return 0;
    // One thread per share of a piece: no more can run.
    if (text[1] != '\0' || text[0] < '1' || text[0] > '0' + DecryptedPayload::MaxThreads)
        return UsageError("UNSFX_THREADS is " + Quoted(text) + ": give a number from 1 to " +
                              std::to_string(DecryptedPayload::MaxThreads),
                          false);
    platform::LimitThreads(text[0] - '0');
    return 0;
}

void LimitCipherFromEnvironment() {
    const char* text = std::getenv("UNSFX_CIPHER");
    if (text != nullptr && std::strcmp(text, "scalar") == 0)
        LimitBlockPath(BlockPath::Scalar);
}

}  // namespace sfx::cli
