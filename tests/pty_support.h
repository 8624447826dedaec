// Runs a program on a pseudo-terminal, as if someone sat at it.
#pragma once

#include <string>
#include <vector>

namespace sfx::test {

// Something to type once the program has written `waitFor` to the terminal.
struct TerminalStep {
    std::string waitFor;
    std::string send;
};

struct TerminalSetup {
    bool inputOnTerminal = true;    // else standard input is empty
    bool outputOnTerminal = false;  // else standard output goes to RunOnTerminal's `out`
    bool errorOnTerminal = true;    // else standard error goes to `err`
    // The program runs as a job of a shell at the terminal. When the job stops, the shell
    // takes the terminal back with the modes it had before (echo on) and continues the job
    // in the foreground; it writes "[continued]" once the job has changed the modes again,
    // or after two seconds.
    bool asJob = false;
};

struct TerminalRun {
    int exitCode = -1;   // exit status, or 128 + the number of the signal that ended it
    std::string screen;  // everything that appeared on the terminal, echo included
    std::string out;
    std::string err;
    bool echoAfter = false;  // the terminal echoes again after the program ended
    bool timedOut = false;   // the program was killed after waiting too long
};

// False where no pseudo-terminal can be opened (no /dev/pts in a container, say).
bool PseudoTerminalsAvailable();

// Starts the program as leader of a new session whose controlling terminal is a fresh
// pseudo-terminal (80 columns), types the steps in order, and waits for it to end.
TerminalRun RunOnTerminal(const std::vector<std::string>& argv,
                          const std::vector<TerminalStep>& steps, const TerminalSetup& setup = {});

}  // namespace sfx::test
