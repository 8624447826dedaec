#include "cli/salvage_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/extract_command.h"
#include "cli/messages.h"
#include "cli/password_source.h"
#include "cli/text.h"
#include "engine/salvage.h"
#include "engine/status.h"
#include "platform/files.h"
#include "platform/own_file.h"
#include "platform/temporaries.h"

namespace sfx::cli {

namespace {

const char* FoundBy(SalvageFound found) {
    switch (found) {
        case SalvageFound::Trailer:
            return "trailer";
        case SalvageFound::TrailerInPart:
            return "magic, trailer in part";
        case SalvageFound::Magic:
            break;
    }
    return "magic";
}

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

std::string Bytes(std::uint64_t count) {
    return Number(count) + (count == 1 ? " byte" : " bytes");
}

// Spans of a compressed payload lost to damage, and where they start in the output.
std::string LossText(const SalvageReport& report) {
    std::string text = Number(report.spansLost) + (report.spansLost == 1 ? " span" : " spans") +
                       " lost, each up to the next clear code, at output byte";
    const std::int64_t kept = std::min<std::int64_t>(report.spansLost, SalvageReport::LossesKept);
    for (std::int64_t i = 0; i < kept; ++i)
        text += (i == 0 ? " " : ", ") + Number(report.lostAt[i]);
    return text + (report.spansLost > kept ? ", ..." : "");
}

// What came back from a damaged or unverified file, in words.
std::string DamageText(const std::string& file, const SalvageReport& report) {
    const SalvageSource& source = report.source;
    std::vector<std::string> parts;
    parts.push_back(Quoted(file) + ": salvaged " + Bytes(report.written));
    if (source.found == SalvageFound::Trailer)
        parts.push_back("container found by its trailer");
    else if (source.found == SalvageFound::TrailerInPart)
        parts.push_back("container found by its magic; the trailer is cut, its length kept");
    else
        parts.push_back("container found by its magic at offset " + Number(source.containerOffset) +
                        "; the trailer is lost");
    if (report.stoppedShort)
        parts.push_back("the file could not be read to the payload's end");
    if (report.droppedBytes > 0)
        parts.push_back(Bytes(report.droppedBytes) + " of a cut block lost after " +
                        Number(report.blocks) + " whole blocks");
    if (report.spansLost > 0)
        parts.push_back(LossText(report));
    const bool cut =
        source.header.compressed != 0 ? report.dataRanOut : !source.endKnown || report.stoppedShort;
    if (cut)
        parts.push_back("the data ends at byte " + Number(report.written) +
                        " of the output: what followed is lost");
    else if (source.header.compressed != 0 && !report.endCodeReached)
        parts.push_back("the stream ended at a damaged end code");
    if (report.sumChecked && report.sumOff != 0) {
        std::string sum = "byte sum off by " + Number(report.sumOff);
        if (source.header.compressed == 0)
            sum += " (damaged blocks, not known which, written in place)";
        parts.push_back(sum);
    } else if (!report.sumChecked) {
        parts.push_back("byte sum not verifiable");
    }
    if (source.header.compressed == 0 && !source.endKnown)
        parts.push_back("a wrong password can't be told apart from damage here");
    if (report.written == 0)
        parts.push_back("nothing was written");
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

const char* Verdict(ExtractStatus status) {
    switch (status) {
        case Ok:
            return "intact";
        case DataDamaged:
            return "damaged";
        case WrongPassword:
            return "wrong password";
        default:
            return "failed";
    }
}

// The offsets kept of the spans lost, as a JSON list's items.
std::string LostAt(const SalvageReport& report) {
    std::string items;
    const std::int64_t kept = std::min<std::int64_t>(report.spansLost, SalvageReport::LossesKept);
    for (std::int64_t i = 0; i < kept; ++i)
        items += (i == 0 ? "" : ", ") + Number(report.lostAt[i]);
    return items;
}

void PrintJson(const std::string& file, const SalvageReport& report, bool located) {
    const SalvageSource& source = report.source;
    std::printf("{\"file\": %s, \"status\": %d, \"result\": %s", JsonString(file).c_str(),
                static_cast<int>(report.status),
                JsonString(located ? Verdict(report.status) : "no container").c_str());
    if (located) {
        std::printf(
            ", \"foundBy\": %s, \"containerOffset\": %lld, \"payloadBytes\": %lld, "
            "\"compressed\": %s, \"blocksDecrypted\": %lld, \"bytesDropped\": %lld, "
            "\"bytesRecovered\": %lld, \"sumChecked\": %s, \"sumOffBy\": %s, "
            "\"endCodeReached\": %s, \"dataRanOut\": %s, \"readToEnd\": %s, "
            "\"spansLost\": %lld, \"lostAt\": [%s]",
            JsonString(FoundBy(source.found)).c_str(),
            static_cast<long long>(source.containerOffset),
            static_cast<long long>(source.payloadSize),
            source.header.compressed != 0 ? "true" : "false", static_cast<long long>(report.blocks),
            static_cast<long long>(report.droppedBytes), static_cast<long long>(report.written),
            report.sumChecked ? "true" : "false",
            report.sumChecked ? Number(report.sumOff).c_str() : "null",
            report.endCodeReached ? "true" : "false", report.dataRanOut ? "true" : "false",
            report.stoppedShort ? "false" : "true", static_cast<long long>(report.spansLost),
            LostAt(report).c_str());
    }
    std::printf("}\n");
}

// The salvaged file, staged beside the destination and put there once complete.
int SalvageToDestination(const std::string& file, const std::string& destination,
                         const char* password, bool force, SalvageReport& report) {
    platform::OwnFile staging;
    if (!staging.CreateFor(destination.c_str())) {
        Tell(WriteProblem(destination, errno, 0));
        return WriteFailed;
    }
    platform::RemoveTemporariesOnInterrupt(true);
    const bool salvaged = Salvage(file.c_str(), password, staging.stream, report);
    platform::RemoveTemporariesOnInterrupt(false);
    // Nothing is placed when nothing came back: the staging file goes with `staging`.
    if (!salvaged || (report.status == DataDamaged && report.written == 0))
        return salvaged ? 0 : report.status;
    const platform::Placement placed = platform::PlaceFile(staging, destination.c_str(), force);
    switch (placed) {
        case platform::Placement::Placed:
            return 0;
        case platform::Placement::Taken:
            return DestinationExists(destination);
        case platform::Placement::Failed:
        case platform::Placement::Damaged:
            break;
    }
    const int reason = errno;
    Tell(WriteProblem(destination, reason, report.written));
    if (placed == platform::Placement::Damaged)
        Tell(Quoted(destination) + " is damaged: it holds only part of the new file");
    return WriteFailed;
}

// One salvage of FILE with `password`: to the destination, to standard output, or (test)
// to the null device. The exit status so far; report.status says how it went.
int SalvageWith(const Arguments& arguments, const std::string& file, const std::string& destination,
                const char* password, SalvageReport& report) {
    errno = 0;
    if (!destination.empty())
        return SalvageToDestination(file, destination, password, arguments.force, report);
    const bool test = arguments.command == Command::Test;
    std::FILE* out = test ? platform::OpenNullDevice() : stdout;
    if (out == nullptr) {
        report.status = WriteFailed;
        return WriteFailed;
    }
    const bool salvaged = Salvage(file.c_str(), password, out, report);
    if (test)
        std::fclose(out);
    return salvaged ? 0 : report.status;
}

std::string FailureText(const std::string& file, ExtractStatus status) {
    switch (status) {
        case WrongPassword:
            return Quoted(file) + ": wrong password; nothing was written";
        case ReadFailed:
            return ReadProblem(file, errno);
        case OutOfMemory:
            return "not enough memory";
        case WriteFailed:
            return "cannot write the salvaged data: " + ScratchProblem(false, errno);
        default:
            return Quoted(file) + ": no container found, neither by its trailer nor by its magic";
    }
}

}  // namespace

int SalvageOne(const Arguments& arguments, const std::string& file, const Secret& given) {
    const bool json = arguments.json;
    if (std::string problem = SourceProblem(file); !problem.empty()) {
        Tell(problem);
        return ReadFailed;
    }
    SalvageReport report;
    ExtractStatus failure = Ok;
    if (!LocateForSalvage(file.c_str(), report.source, failure)) {
        report.status = failure;
        if (json)
            PrintJson(file, report, false);
        Tell(FailureText(file, failure));
        return failure;
    }
    std::string destination;
    if (int status = ChooseDestination(arguments, file, destination))
        return status;
    Secret asked;
    const char* password = nullptr;
    bool inCodePage = false;
    if (int status = PasswordFor(file, report.source.header, arguments.codePage, given, asked,
                                 password, inCodePage))
        return status;
    if (int status = MakeOutputFolder(arguments, destination))
        return status;
    // The key is made from the password in the code page, as for an extraction; the bytes as
    // given are the second try when they differ and the first was told a wrong password.
    Secret converted;
    const char* asGiven = nullptr;
    if (report.source.header.passwordProtected != 0 && !inCodePage &&
        PasswordInCodePage(password, arguments.codePage, converted) &&
        std::strcmp(converted.text(), password) != 0) {
        asGiven = password;
        password = converted.text();
    }
    const SalvageSource source = report.source;
    int status = SalvageWith(arguments, file, destination, password, report);
    if (report.status == WrongPassword && asGiven != nullptr) {
        report = SalvageReport{};
        report.source = source;
        status = SalvageWith(arguments, file, destination, asGiven, report);
    }
    converted.Clear();
    asked.Clear();
    if (json)
        PrintJson(file, report, true);
    if (status == 0 && report.status == DataDamaged) {
        Tell(DamageText(file, report));
        return DataDamaged;
    }
    if (status == 0) {
        if (arguments.command == Command::Test && !arguments.quiet && !json)
            std::printf("%s: OK\n", Printable(file).c_str());
        return 0;
    }
    if (status == report.status)
        Tell(FailureText(file, report.status));
    return status;
}

}  // namespace sfx::cli
