#include "tests/pty_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include "tests/support/test_support.h"

namespace sfx::test {

namespace {

// A program that waits this long for input that never comes has hung.
constexpr auto GiveUpAfter = std::chrono::seconds(30);

// Reads what the terminal holds now, waiting at most `milliseconds` for the first byte.
void ReadScreen(int master, std::string& screen, int milliseconds) {
    struct pollfd ready = {master, POLLIN, 0};
    while (poll(&ready, 1, milliseconds) > 0 && (ready.revents & POLLIN)) {
        char buffer[4096];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0)
            return;
        screen.append(buffer, static_cast<std::size_t>(got));
        milliseconds = 0;
    }
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// The little job-control shell of TerminalSetup::asJob, run by the session leader: starts
// the job in its own process group in the foreground, and continues it whenever it stops.
// Returns (to be passed to _exit) the job's exit status, or 128 + its signal.
int RunAsJob(int terminal, char* const* args) {
    struct termios shellModes;
    tcgetattr(terminal, &shellModes);
    std::signal(SIGTTOU, SIG_IGN);  // so that the shell may take the terminal back
    const pid_t job = fork();
    if (job == 0) {
        std::signal(SIGTTOU, SIG_DFL);
        setpgid(0, 0);
        tcsetpgrp(terminal, getpid());
        execv(args[0], args);
        _exit(127);
    }
    setpgid(job, job);
    tcsetpgrp(terminal, job);
    for (;;) {
        int status = 0;
        if (waitpid(job, &status, WUNTRACED) != job)
            return 127;
        if (WIFEXITED(status))
            return WEXITSTATUS(status);
        if (WIFSIGNALED(status))
            return 128 + WTERMSIG(status);
        // Stopped: the shell's own modes, then the job in the foreground again. The shell
        // says so once the job has changed the modes (or after a while if it doesn't).
        tcsetpgrp(terminal, getpgrp());
        tcsetattr(terminal, TCSADRAIN, &shellModes);
        tcsetpgrp(terminal, job);
        kill(-job, SIGCONT);
        struct termios modes;
        for (int wait = 0; wait < 2000; ++wait) {
            if (tcgetattr(terminal, &modes) == 0 && modes.c_lflag != shellModes.c_lflag)
                break;
            usleep(1000);
        }
        const char note[] = "[continued]\r\n";
        if (write(terminal, note, sizeof note - 1) < 0)
            return 127;
    }
}

}  // namespace

bool PseudoTerminalsAvailable() {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return false;
    close(master);
    close(slave);
    return true;
}

TerminalRun RunOnTerminal(const std::vector<std::string>& argv,
                          const std::vector<TerminalStep>& steps, const TerminalSetup& setup) {
    TerminalRun run;
    TempDir scratch;
    const std::string outPath = scratch / "stdout";
    const std::string errPath = scratch / "stderr";

    int master = -1;
    int slave = -1;
    struct winsize size = {};
    size.ws_row = 24;
    size.ws_col = 80;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0)
        return run;
    // Keep both ends clear of the standard descriptors, which may have been closed.
    for (int* end : {&master, &slave}) {
        if (*end <= 2) {
            const int moved = fcntl(*end, F_DUPFD_CLOEXEC, 3);
            close(*end);
            *end = moved;
        }
    }

    const pid_t child = fork();
    if (child == 0) {
        // As a program started from a shell at a terminal: default signal handling, even when
        // the tests themselves run with some signals ignored or blocked.
        for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        const int in = setup.inputOnTerminal ? slave : open("/dev/null", O_RDONLY);
        const int out = setup.outputOnTerminal
                            ? slave
                            : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = setup.errorOnTerminal
                            ? slave
                            : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        close(master);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (setup.asJob)
            _exit(RunAsJob(slave, args.data()));
        close(slave);
        execv(args[0], args.data());
        _exit(127);
    }

    // The slave stays open here, so the terminal outlives the program and its modes can be
    // read afterwards.
    const auto deadline = std::chrono::steady_clock::now() + GiveUpAfter;
    std::size_t step = 0;
    std::size_t searchFrom = 0;
    int status = 0;
    for (;;) {
        ReadScreen(master, run.screen, 20);
        if (step < steps.size()) {
            const std::size_t found = run.screen.find(steps[step].waitFor, searchFrom);
            if (found != std::string::npos) {
                const std::string& text = steps[step].send;
                if (write(master, text.data(), text.size()) < 0)
                    break;
                searchFrom = found + steps[step].waitFor.size();
                ++step;
            }
        }
        if (waitpid(child, &status, WNOHANG) == child)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            run.timedOut = true;
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            break;
        }
    }
    ReadScreen(master, run.screen, 0);

    struct termios mode;
    run.echoAfter = tcgetattr(slave, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
    close(master);
    close(slave);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!setup.outputOnTerminal)
        run.out = ReadText(outPath);
    if (!setup.errorOnTerminal)
        run.err = ReadText(errPath);
    return run;
}

}  // namespace sfx::test
