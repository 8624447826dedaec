// Where the password comes from: the command line, a file, the environment or a prompt.
#pragma once

#include <cstddef>

#include "platform/terminal.h"

namespace sfx::cli {

// 255 characters and the terminating NUL, as the engine takes them.
constexpr std::size_t PasswordCapacity = 256;

// The environment variable that may hold the password.
constexpr char PasswordVariable[] = "UNSFX_PASSWORD";

// A password in a fixed buffer, wiped when it is cleared and when it goes.
class Secret {
  public:
    Secret() = default;
    ~Secret() { Clear(); }
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;

    bool present() const { return present_; }
    const char* text() const { return text_; }
    // True when the text is already in the code page the key is made in (taken from a wide
    // command line or console), false when it is in the locale's encoding.
    bool inCodePage() const { return inCodePage_; }
    void Clear();

    // Copies the text; false (and nothing kept) when it has more than 255 characters.
    bool Take(const char* text);
    // The same for a text already in the code page the key is made in.
    bool TakeInCodePage(const char* text);

    // Reads the first line of `path` ("-" is standard input) without its line end, reading
    // no more than the longest password and a line end. Standard input that is a terminal
    // is read with echo off after the prompt "Password: ". Only a line of 1 to 255 bytes
    // without NUL is taken; `error` holds the reason of Unreadable. `page` is the code page
    // the key is made in.
    enum class FileRead { Read, TooLong, HasNul, NotAnsi, Empty, Unreadable };
    FileRead ReadFirstLine(const char* path, unsigned page, int& error);

    // Asks on the terminal, echo off; where the console is wide (Windows) what is typed is
    // taken into code page `page` at once.
    platform::SecretRead Prompt(const char* prompt, unsigned page);

  private:
    char text_[PasswordCapacity] = {};
    bool present_ = false;
    bool inCodePage_ = false;
};

}  // namespace sfx::cli
