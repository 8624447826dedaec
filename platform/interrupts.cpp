#include "platform/interrupts.h"

#ifndef _WIN32
#include <pthread.h>

#include <cstring>

namespace sfx::platform {

namespace {

void AddInterrupts(sigset_t& set) {
    for (int signal : InterruptSignals) sigaddset(&set, signal);
}

}  // namespace

bool CatchInterrupt(int signal, void (*handler)(int), struct sigaction& saved) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        return false;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    AddInterrupts(action.sa_mask);
    return sigaction(signal, &action, &saved) == 0;
}

InterruptsHeld::InterruptsHeld() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    AddInterrupts(interrupts);
    pthread_sigmask(SIG_BLOCK, &interrupts, &saved);
}

InterruptsHeld::~InterruptsHeld() {
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace sfx::platform
#endif
