#include "cli/info_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/messages.h"
#include "cli/sha256.h"
#include "cli/source_file.h"
#include "cli/text.h"
#include "engine/container.h"
#include "platform/terminal.h"

namespace sfx::cli {

namespace {

// One line of a text from the container: a console is given the characters themselves
// (whatever its own code page), anything else the text in the terminal's character set.
void ShowText(const char* label, const char* text, std::size_t length, unsigned page) {
    std::fputs(label, stdout);
    if (platform::TerminalTakesUnicode(stdout)) {
        const std::string shown = PrintableText(text, length, page, true) + "\n";
        if (platform::WriteTerminalText(stdout, shown.c_str()))
            return;
        // The console refused it: the text goes the way of any other line.
    }
    std::printf("%s\n", PrintableText(text, length, page).c_str());
}

}  // namespace

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
    const unsigned page = arguments.codePage;
    // The stub: every byte before the container, to compare with a released extractor.
    const long long stubSize = placement.containerOffset;
    Sha256Digest stubDigest;
    errno = 0;
    if (!Sha256OfFileStart(file.c_str(), stubSize, stubDigest)) {
        Tell(ReadProblem(file, errno));
        return ReadFailed;
    }
    const std::string stubSha256 = HexOf(stubDigest);

    if (arguments.json) {
        std::printf(
            "{\"file\": %s, \"description\": %s, \"riddle\": %s, \"passwordProtected\": %s, "
            "\"compressed\": %s, \"payloadSize\": %ld, \"containerOffset\": %lld, "
            "\"codePage\": %u, \"descriptionBytes\": %s, \"riddleBytes\": %s, "
            "\"stubSize\": %lld, \"stubSha256\": \"%s\"}\n",
            JsonString(file).c_str(), JsonText(description, descriptionLength, page).c_str(),
            JsonText(header.riddle, riddleLength, page).c_str(),
            protectedByPassword ? "true" : "false", compressed ? "true" : "false",
            static_cast<long>(placement.payloadSize),
            static_cast<long long>(placement.containerOffset), page,
            HexBytes(description, descriptionLength).c_str(),
            HexBytes(header.riddle, riddleLength).c_str(), stubSize, stubSha256.c_str());
        return 0;
    }
    std::printf("%s\n", Printable(file).c_str());
    ShowText("  description:       ", description, descriptionLength, page);
    ShowText("  riddle:            ", header.riddle, riddleLength, page);
    std::printf("  password needed:   %s\n", protectedByPassword ? "yes" : "no");
    std::printf("  compressed:        %s\n", compressed ? "yes" : "no");
    std::printf("  payload size:      %ld bytes\n", static_cast<long>(placement.payloadSize));
    std::printf("  container offset:  %lld\n", static_cast<long long>(placement.containerOffset));
    std::printf("  code page:         %u\n", page);
    std::printf("  stub size:         %lld bytes\n", stubSize);
    std::printf("  stub SHA-256:      %s\n", stubSha256.c_str());
    return 0;
}

}  // namespace sfx::cli
