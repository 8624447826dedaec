#include "cli/password.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/bytes.h"
#include "platform/code_page.h"
#include "platform/file_checks.h"
#include "platform/files.h"
#include "platform/terminal.h"
#include "platform/text.h"

namespace sfx::cli {

void Secret::Clear() {
    Wipe(text_, sizeof text_);
    present_ = false;
    inCodePage_ = false;
}

bool Secret::Take(const char* text) {
    Clear();
    if (!platform::CopyWhole(text_, text, sizeof text_))
        return false;
    present_ = true;
    return true;
}

bool Secret::TakeInCodePage(const char* text) {
    if (!Take(text))
        return false;
    inCodePage_ = true;
    return true;
}

namespace {

// The longest password and a line end ("\r\n"): a first line that fits has ended in there.
constexpr std::size_t LineCapacity = PasswordCapacity + 1;

Secret::FileRead FromTerminal(platform::SecretRead read) {
    switch (read) {
        case platform::SecretRead::Read:
            return Secret::FileRead::Read;
        case platform::SecretRead::TooLong:
            return Secret::FileRead::TooLong;
        case platform::SecretRead::NulByte:
            return Secret::FileRead::HasNul;
        case platform::SecretRead::NotAnsi:
            return Secret::FileRead::NotAnsi;
        default:
            return Secret::FileRead::Empty;  // nothing typed, or the terminal failed
    }
}

}  // namespace

Secret::FileRead Secret::ReadFirstLine(const char* path, unsigned page, int& error) {
    Clear();
    const bool fromInput = std::strcmp(path, "-") == 0;
    if (fromInput && platform::IsTerminal(stdin)) {
        const FileRead read = FromTerminal(Prompt("Password: ", page));
        if (read == FileRead::Read && text_[0] == '\0') {
            Clear();
            return FileRead::Empty;
        }
        return read;
    }
    std::FILE* file = fromInput ? stdin : platform::OpenFile(path, "rb");
    if (file == nullptr) {
        error = errno;
        return FileRead::Unreadable;
    }
    // Read past the stream's buffer, so that no copy of the password stays behind in it.
    char line[LineCapacity];
    bool ended = false;
    long length = platform::ReadLine(file, line, sizeof line, ended, error);
    if (!fromInput)
        std::fclose(file);

    FileRead result = FileRead::Read;
    if (length < 0) {
        result = FileRead::Unreadable;
    } else if (std::memchr(line, '\0', static_cast<std::size_t>(length)) != nullptr) {
        result = FileRead::HasNul;
    } else if (!ended && static_cast<std::size_t>(length) == LineCapacity) {
        result = FileRead::TooLong;
    } else {
        if (length > 0 && line[length - 1] == '\r')
            --length;
        const auto size = static_cast<std::size_t>(length);
        if (size >= PasswordCapacity)
            result = FileRead::TooLong;
        else if (size == 0)
            result = FileRead::Empty;
    }
    if (result == FileRead::Read) {
        std::memcpy(text_, line, static_cast<std::size_t>(length));
        text_[length] = '\0';
        present_ = true;
    }
    Wipe(line, sizeof line);
    return result;
}

platform::SecretRead Secret::Prompt(const char* prompt, unsigned page) {
    Clear();
    const platform::SecretRead result = platform::ReadSecretLine(prompt, page, text_, sizeof text_);
    present_ = result == platform::SecretRead::Read;
    inCodePage_ = present_ && platform::SystemTextIsWide;
    return result;
}

}  // namespace sfx::cli
