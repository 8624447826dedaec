// The interrupt signals (POSIX only) and how the platform layer catches them.
#pragma once

#ifndef _WIN32
#include <csignal>

namespace sfx::platform {

// Ctrl-C, a termination request, a closed terminal, Ctrl-\.
constexpr int InterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int InterruptCount = sizeof InterruptSignals / sizeof InterruptSignals[0];

// Installs `handler` for `signal`, with every interrupt blocked while it runs, and keeps the
// previous action in `saved`. A signal that is ignored stays ignored: false then, as when
// the handler can't be installed.
bool CatchInterrupt(int signal, void (*handler)(int), struct sigaction& saved);

}  // namespace sfx::platform
#endif
