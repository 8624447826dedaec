#include "cli/password_source.h"

#include <cstdlib>
#include <cstring>

#include "cli/help.h"
#include "cli/messages.h"
#include "cli/text.h"
#include "platform/bytes.h"
#include "platform/code_page.h"
#include "platform/terminal.h"

namespace sfx::cli {

namespace {

// Any non-empty text opens a container that is not protected by a password.
constexpr char AnyPassword[] = "-";

// Why the first line of the password file `file` (quoted) was not taken, or "" when it was.
std::string PasswordFileProblem(Secret::FileRead read, const std::string& file, int error) {
    switch (read) {
        case Secret::FileRead::Read:
            break;
        case Secret::FileRead::TooLong:
            return "the first line of " + file + " is longer than 255 characters";
        case Secret::FileRead::HasNul:
            return "the first line of " + file + " holds a NUL byte";
        case Secret::FileRead::NotAnsi:
            return "the password typed for " + file +
                   " holds a character outside the ANSI code page";
        case Secret::FileRead::Empty:
            return "the password in " + file + " is empty";
        case Secret::FileRead::Unreadable:
            return "cannot read the password file " + file + ": " + std::strerror(error);
    }
    return "";
}

// What the prompt for FILE's password shows: the riddle, if any, above the question.
std::string PromptText(const std::string& file, const ContainerHeader& header, unsigned page) {
    std::string prompt;
    const std::size_t riddleLength = strnlen(header.riddle, RiddleSize - 1);
    if (riddleLength > 0)
        prompt += "Riddle: " +
                  PrintableText(header.riddle, riddleLength, page, platform::SystemTextIsWide) +
                  "\n";
    prompt += "Password for " + Printable(file) + ": ";
    return prompt;
}

// Why what was typed at the prompt is no password.
const char* TypedProblem(platform::SecretRead read) {
    switch (read) {
        case platform::SecretRead::TooLong:
            return "the password is longer than 255 characters";
        case platform::SecretRead::NulByte:
            return "the password holds a NUL byte";
        case platform::SecretRead::NotAnsi:
            return "the password holds a character outside the ANSI code page";
        default:
            return "no password was typed";  // an empty line, or the terminal failed
    }
}

}  // namespace

bool TakePasswordArgument(char** argv, const Arguments& arguments, unsigned page, Secret& given,
                          std::string& error) {
    error.clear();
    if (!platform::SystemTextIsWide) {
        if (!given.Take(arguments.password))  // its length was checked with the arguments
            error = "the password is longer than 255 characters";
        return error.empty();
    }
    // Room for the longest password, so that no copy is left behind by a growing buffer.
    std::u32string characters;
    characters.reserve(PasswordCapacity);
    std::string bytes;
    bytes.reserve(4 * PasswordCapacity);
    char32_t missing = 0;
    if (!platform::ArgumentCharacters(argv, arguments.passwordIndex, arguments.passwordOffset,
                                      characters))
        error = "the password given with -p is not valid text";
    else if (!platform::EncodeToCodePage(characters, page, bytes, missing))
        error = "the password holds a character code page " + std::to_string(page) + " lacks";
    else if (!given.TakeInCodePage(bytes.c_str()))
        error = "the password is longer than 255 bytes in code page " + std::to_string(page);
    Wipe(characters.data(), characters.size() * sizeof characters[0]);
    Wipe(bytes.data(), bytes.size());
    return error.empty();
}

int GivenPassword(const Arguments& arguments, Secret& given) {
    if (given.present() || arguments.command == Command::Info)
        return 0;
    if (arguments.passwordFile != nullptr) {
        int error = 0;
        const Secret::FileRead read =
            given.ReadFirstLine(arguments.passwordFile, arguments.codePage, error);
        if (read == Secret::FileRead::Read)
            return 0;
        return UsageError(PasswordFileProblem(read, Quoted(arguments.passwordFile), error), false);
    }
    // Set but empty counts as not set.
    const char* fromEnvironment = std::getenv(PasswordVariable);
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0' && !given.Take(fromEnvironment))
        return UsageError(std::string(PasswordVariable) + " is longer than 255 characters", false);
    return 0;
}

int PasswordFor(const std::string& file, const ContainerHeader& header, unsigned page,
                const Secret& given, Secret& asked, const char*& password, bool& inCodePage) {
    inCodePage = false;
    if (header.passwordProtected == 0) {
        password = AnyPassword;
        return 0;
    }
    if (given.present()) {
        password = given.text();
        inCodePage = given.inCodePage();
        return 0;
    }
    const platform::SecretRead read = asked.Prompt(PromptText(file, header, page).c_str(), page);
    if (read == platform::SecretRead::NoTerminal)
        return UsageError(Quoted(file) +
                          ": needs a password: give -p, --password-file or UNSFX_PASSWORD "
                          "(standard input is no terminal to ask on)");
    if (read == platform::SecretRead::Read && asked.text()[0] != '\0') {
        password = asked.text();
        inCodePage = asked.inCodePage();
        return 0;
    }
    return UsageError(Quoted(file) + ": " + TypedProblem(read), false);
}

bool PasswordInCodePage(const char* password, unsigned page, Secret& out) {
    out.Clear();
    // Room for the longest password, so that no copy is left behind by a growing buffer.
    std::u32string characters;
    characters.reserve(PasswordCapacity);
    std::string bytes;
    bytes.reserve(4 * PasswordCapacity);
    char32_t missing = 0;
    const bool converted = platform::DecodeLocaleText(password, characters) &&
                           platform::EncodeToCodePage(characters, page, bytes, missing) &&
                           out.Take(bytes.c_str());
    Wipe(characters.data(), characters.size() * sizeof characters[0]);
    Wipe(bytes.data(), bytes.size());
    return converted;
}

}  // namespace sfx::cli
