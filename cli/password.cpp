#include "cli/password.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace sfx::cli {

void WipeBytes(char* bytes, std::size_t count) {
    volatile char* target = bytes;
    for (std::size_t i = 0; i < count; ++i) target[i] = 0;
}

void Secret::Clear() {
    WipeBytes(text_, sizeof text_);
    present_ = false;
}

bool Secret::Take(const char* text) {
    Clear();
    const std::size_t length = strnlen(text, PasswordCapacity);
    if (length >= PasswordCapacity)
        return false;
    std::memcpy(text_, text, length + 1);
    present_ = true;
    return true;
}

Secret::FileRead Secret::ReadFirstLine(const char* path) {
    Clear();
    const bool fromInput = std::strcmp(path, "-") == 0;
    std::FILE* file = fromInput ? stdin : platform::OpenFile(path, "rb");
    if (file == nullptr)
        return FileRead::Unreadable;
    // Unbuffered, so that no copy of the password stays behind in a stream buffer and
    // standard input is read no further than the first line.
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::size_t length = 0;
    bool tooLong = false;
    for (int c; (c = std::fgetc(file)) != EOF && c != '\n';) {
        if (length + 1 < PasswordCapacity)
            text_[length++] = static_cast<char>(c);
        else
            tooLong = true;
    }
    const bool failed = std::ferror(file) != 0;
    if (!fromInput)
        std::fclose(file);
    if (length > 0 && text_[length - 1] == '\r')
        text_[--length] = '\0';
    if (failed || tooLong) {
        Clear();
        return failed ? FileRead::Unreadable : FileRead::TooLong;
    }
    text_[length] = '\0';
    present_ = true;
    return FileRead::Read;
}

platform::SecretRead Secret::Prompt(const char* prompt) {
    Clear();
    const platform::SecretRead result = platform::ReadSecretLine(prompt, text_, sizeof text_);
    present_ = result == platform::SecretRead::Read;
    return result;
}

}  // namespace sfx::cli
