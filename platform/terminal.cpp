#include "platform/terminal.h"

#include <cstring>
#include <string>

#include "platform/bytes.h"
#include "platform/interrupts.h"
#include "platform/text.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

namespace sfx::platform {

namespace {

// Collects one line from `readByte` (which gives -1 at the end of input or on an error) into
// lineOut, one byte at a time, so that nothing after the line is taken from the terminal. The
// line end ("\n" or "\r\n") is dropped; the rest of a line too long is read and dropped.
template <typename ReadByte>
SecretRead CollectLine(ReadByte readByte, char* lineOut, std::size_t capacity) {
    const auto readOne = [&](char* into, std::size_t) -> long {
        const int c = readByte();
        if (c < 0)
            return 0;
        *into = static_cast<char>(c);
        return 1;
    };
    bool ended = false;
    auto length = static_cast<std::size_t>(ReadLine(readOne, lineOut, capacity, ended));
    const bool tooLong = !ended && length == capacity;
    for (int c = 0; tooLong && c >= 0 && c != '\n';) c = readByte();
    const bool nul = !tooLong && std::memchr(lineOut, '\0', length) != nullptr;
    if (!tooLong) {
        if (length > 0 && lineOut[length - 1] == '\r')
            --length;
        lineOut[length] = '\0';
    }
    // A line given up without any character (Ctrl-D, Ctrl-Z) asks for nothing to be tried.
    if (tooLong || nul || (!ended && length == 0)) {
        Wipe(lineOut, capacity);
        return tooLong ? SecretRead::TooLong : nul ? SecretRead::NulByte : SecretRead::Failed;
    }
    return SecretRead::Read;
}

}  // namespace

#ifdef _WIN32

namespace {

HANDLE consoleInput = INVALID_HANDLE_VALUE;
DWORD savedInputMode = 0;
volatile LONG echoIsOff = 0;

HANDLE HandleOf(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

void RestoreEcho() {
    if (InterlockedExchange(&echoIsOff, 0) != 0)
        SetConsoleMode(consoleInput, savedInputMode);
}

// Runs on a thread of its own when Ctrl-C or Ctrl-Break is pressed or the console closes.
BOOL WINAPI RestoreEchoOnBreak(DWORD) {
    RestoreEcho();
    return FALSE;  // the next handler, at last the default one, ends the process
}

// Writes UTF-8 text to a console as UTF-16, which it shows whatever its own code page.
bool WriteText(HANDLE handle, const char* text) {
    const int length = static_cast<int>(std::strlen(text));
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (length == 0)
        return true;
    const int units = MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
    if (units <= 0)
        return false;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    DWORD written = 0;
    return MultiByteToWideChar(CP_UTF8, 0, text, length, wide.data(), units) == units &&
           WriteConsoleW(handle, wide.data(), static_cast<DWORD>(units), &written, nullptr) &&
           written == static_cast<DWORD>(units);
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
    DWORD mode = 0;
    return GetConsoleMode(HandleOf(stream), &mode) != 0;
}

bool TerminalTakesUnicode(std::FILE* stream) {
    return IsTerminal(stream);
}

bool WriteTerminalText(std::FILE* stream, const char* utf8) {
    return std::fflush(stream) == 0 && WriteText(HandleOf(stream), utf8);
}

int TerminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(HandleOf(stream), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

namespace {

// Where the prompt goes: standard error when it is the console, else the console itself.
struct PromptOutput {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool own = false;

    PromptOutput() {
        if (IsTerminal(stderr)) {
            handle = HandleOf(stderr);
        } else {
            handle = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
            own = handle != INVALID_HANDLE_VALUE;
        }
    }
    ~PromptOutput() {
        if (own)
            CloseHandle(handle);
    }
};

// The console's byte input is in its own code page, where "ä" may be another byte than in
// the code page the key is made in: the characters are read as UTF-16 and each taken into
// that code page, byte by byte.
struct AnsiConsoleReader {
    HANDLE input;
    UINT page;
    wchar_t units[2] = {};
    char bytes[4] = {};
    int byteCount = 0;
    int byteAt = 0;
    bool notAnsi = false;  // a character the ANSI code page does not have was typed

    ~AnsiConsoleReader() {
        Wipe(units, sizeof units);
        Wipe(bytes, sizeof bytes);
    }

    // The next byte, or -1 at the end of input or on an error.
    int Next() {
        while (byteAt == byteCount) {
            DWORD got = 0;
            if (!ReadConsoleW(input, &units[0], 1, &got, nullptr) || got != 1)
                return -1;
            int count = 1;
            if (units[0] >= 0xD800 && units[0] <= 0xDBFF &&
                ReadConsoleW(input, &units[1], 1, &got, nullptr) && got == 1)
                count = 2;  // a surrogate pair, which no Windows code page has
            BOOL usedDefault = FALSE;
            byteCount = WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                            sizeof bytes, nullptr, &usedDefault);
            byteAt = 0;
            if (byteCount <= 0 || usedDefault) {
                notAnsi = true;
                bytes[0] = '?';
                byteCount = 1;
            }
        }
        return static_cast<unsigned char>(bytes[byteAt++]);
    }
};

}  // namespace

SecretRead ReadSecretLine(const char* prompt, unsigned page, char* lineOut, std::size_t capacity) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode))
        return SecretRead::NoTerminal;

    consoleInput = input;
    savedInputMode = mode;
    SetConsoleCtrlHandler(RestoreEchoOnBreak, TRUE);
    const DWORD quiet = (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT;
    if (!SetConsoleMode(input, quiet)) {
        SetConsoleCtrlHandler(RestoreEchoOnBreak, FALSE);
        return SecretRead::Failed;
    }
    InterlockedExchange(&echoIsOff, 1);

    PromptOutput output;
    WriteText(output.handle, prompt);
    SecretRead result;
    {
        AnsiConsoleReader reader{input, page};
        result = CollectLine([&reader]() { return reader.Next(); }, lineOut, capacity);
        if (result == SecretRead::Read && reader.notAnsi) {
            Wipe(lineOut, capacity);
            result = SecretRead::NotAnsi;
        }
    }

    RestoreEcho();
    SetConsoleCtrlHandler(RestoreEchoOnBreak, FALSE);
    WriteText(output.handle, "\r\n");
    return result;
}

#else

namespace {

struct sigaction previousActions[InterruptCount];
bool caught[InterruptCount];
struct termios savedMode;
struct termios quietMode;
volatile sig_atomic_t echoIsOff = 0;
struct sigaction previousStop;
bool stopCaught = false;

void RestoreEcho() {
    if (echoIsOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &savedMode);
        echoIsOff = 0;
    }
}

void PutBackHandlers() {
    for (int i = 0; i < InterruptCount; ++i) {
        if (caught[i])
            sigaction(InterruptSignals[i], &previousActions[i], nullptr);
        caught[i] = false;
    }
    if (stopCaught)
        sigaction(SIGTSTP, &previousStop, nullptr);
    stopCaught = false;
}

// Turns echo back on, then lets the signal do what it would have done without us.
void RestoreEchoAndRaise(int signal) {
    RestoreEcho();
    PutBackHandlers();
    raise(signal);
}

// Ctrl-Z: echo is on while the program is stopped (whatever the shell does with the
// terminal meanwhile) and off again once it goes on.
void StopWithEchoOn(int signal) {
    const int savedErrno = errno;
    const bool wasOff = echoIsOff != 0;
    RestoreEcho();
    struct sigaction ours;
    sigaction(signal, &previousStop, &ours);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, signal);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(signal);  // returns once the program is continued
    sigaction(signal, &ours, nullptr);
    if (wasOff) {
        tcsetattr(STDIN_FILENO, TCSANOW, &quietMode);
        echoIsOff = 1;
    }
    errno = savedErrno;
}

void CatchSignals() {
    for (int i = 0; i < InterruptCount; ++i) {
        caught[i] = CatchInterrupt(InterruptSignals[i], RestoreEchoAndRaise, previousActions[i]);
    }
    stopCaught = CatchInterrupt(SIGTSTP, StopWithEchoOn, previousStop);
}

void WriteText(int fd, const char* text) {
    std::size_t left = std::strlen(text);
    while (fd >= 0 && left > 0) {
        const ssize_t written = write(fd, text, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

int TerminalColumns(std::FILE* stream) {
    struct winsize size;
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

bool TerminalTakesUnicode(std::FILE*) {
    return false;
}

bool WriteTerminalText(std::FILE* stream, const char* utf8) {
    return std::fputs(utf8, stream) >= 0;
}

SecretRead ReadSecretLine(const char* prompt, unsigned, char* lineOut, std::size_t capacity) {
    if (!isatty(STDIN_FILENO))
        return SecretRead::NoTerminal;
    if (tcgetattr(STDIN_FILENO, &savedMode) != 0)
        return SecretRead::Failed;

    // Echo goes off before the prompt appears, so nothing typed after it is ever shown.
    quietMode = savedMode;
    quietMode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    quietMode.c_lflag |= ICANON;
    CatchSignals();
    echoIsOff = 1;
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quietMode) != 0) {
        echoIsOff = 0;
        PutBackHandlers();
        return SecretRead::Failed;
    }

    int output = isatty(STDERR_FILENO) ? STDERR_FILENO : -1;
    int ownOutput = -1;
    if (output < 0)
        output = ownOutput = open("/dev/tty", O_WRONLY | O_CLOEXEC | O_NOCTTY);
    WriteText(output, prompt);

    auto readByte = []() -> int {
        for (;;) {
            unsigned char c = 0;
            const ssize_t got = read(STDIN_FILENO, &c, 1);
            if (got == 1)
                return c;
            if (got < 0 && errno == EINTR)
                continue;
            return -1;
        }
    };
    const SecretRead result = CollectLine(readByte, lineOut, capacity);

    RestoreEcho();
    PutBackHandlers();
    WriteText(output, "\n");
    if (ownOutput >= 0)
        close(ownOutput);
    return result;
}

#endif

}  // namespace sfx::platform
