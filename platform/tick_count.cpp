// The toolchain's thread library, linked into the command-line programs for the C++
// runtime's locks, times its waits with GetTickCount64, which kernel32 has only from Windows
// Vista on: imported, it keeps the program from starting on Windows XP. The library calls it
// through its import slot; defining that slot here answers the calls from GetTickCount, and
// kernel32 is never asked for the function.
#include <windows.h>

namespace {

// GetTickCount wraps after 49.7 days: the high half counts the wraps seen, the low half is
// the last tick seen. One 64-bit word, updated as a whole, so that threads agree on it.
ULONGLONG seen = 0;

ULONGLONG WINAPI TickCount64() {
    ULONGLONG last = __atomic_load_n(&seen, __ATOMIC_ACQUIRE);
    for (;;) {
        const DWORD now = GetTickCount();
        ULONGLONG high = last & ~ULONGLONG{0xFFFFFFFF};
        if (now < static_cast<DWORD>(last))
            high += ULONGLONG{1} << 32;
        const ULONGLONG next = high | now;
        if (__atomic_compare_exchange_n(&seen, &last, next, false, __ATOMIC_ACQ_REL,
                                        __ATOMIC_ACQUIRE))
            return next;
    }
}

}  // namespace

// The import slot's name as the linker spells it for this target.
#ifdef _WIN64
extern "C" ULONGLONG(WINAPI* importedTickCount64)() __asm__("__imp_GetTickCount64");
#else
extern "C" ULONGLONG(WINAPI* importedTickCount64)() __asm__("__imp__GetTickCount64@0");
#endif
ULONGLONG(WINAPI* importedTickCount64)() = TickCount64;
