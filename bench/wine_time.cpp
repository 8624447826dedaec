// Times one run of a Windows program from inside Windows (or Wine), where timing `wine` from
// outside would count Wine's own start-up and the moments its server takes:
//
//   wine_time.exe PROGRAM [ARGUMENT...]
//
// Starts the command line that follows its own first word as it stands, waits for the
// process to end and prints the time it took, in nanoseconds, on standard output. The
// program's standard output goes to NUL; its standard input and error are this program's.
// The exit status is the program's, or 125 when it could not be started.
#include <windows.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

// The command line after its first word, as CreateProcess and the C runtime split it: a
// quoted first word ends at the next quote, any other at the first space or tab.
const wchar_t* AfterFirstWord(const wchar_t* line) {
    if (*line == L'"') {
        ++line;
        while (*line != L'\0' && *line != L'"') ++line;
        if (*line == L'"')
            ++line;
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

std::uint64_t Nanoseconds(std::uint64_t ticks, std::uint64_t frequency) {
    return ticks / frequency * 1000000000u + ticks % frequency * 1000000000u / frequency;
}

}  // namespace

int main() {
    const wchar_t* rest = AfterFirstWord(GetCommandLineW());
    if (*rest == L'\0') {
        std::fputs("usage: wine_time.exe PROGRAM [ARGUMENT...]\n", stderr);
        return 64;
    }
    // CreateProcessW may write to the command line it is given.
    std::vector<wchar_t> command(rest, rest + std::wcslen(rest) + 1);

    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = nul;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};

    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "wine_time: could not start %ls (error %lu)\n", rest, GetLastError());
        return 125;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);

    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    const auto ticks = static_cast<std::uint64_t>(end.QuadPart - start.QuadPart);
    std::printf("%" PRIu64 "\n",
                Nanoseconds(ticks, static_cast<std::uint64_t>(frequency.QuadPart)));
    return static_cast<int>(status);
}
