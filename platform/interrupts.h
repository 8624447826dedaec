// The interrupt signals: the one list of them, catching them, and holding them off while a
// file is created and tracked.
#pragma once

#ifndef _WIN32
#include <csignal>
#endif

namespace sfx::platform {

#ifndef _WIN32
// Ctrl-C, a termination request, a closed terminal, Ctrl-\.
constexpr int InterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int InterruptCount = sizeof InterruptSignals / sizeof InterruptSignals[0];

// Installs `handler` for `signal`, with every interrupt blocked while it runs, and keeps the
// previous action in `saved`. A signal that is ignored stays ignored: false then, as when
// the handler can't be installed.
bool CatchInterrupt(int signal, void (*handler)(int), struct sigaction& saved);

// Blocks the interrupts on the calling thread while it lives; its previous mask comes back
// afterwards.
struct InterruptsHeld {
    sigset_t saved;
    InterruptsHeld();
    ~InterruptsHeld();
};
#else
struct InterruptsHeld {
    InterruptsHeld() {}  // console events arrive on a thread of their own
};
#endif

}  // namespace sfx::platform
