#include "cli/progress.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/terminal.h"

namespace sfx::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto RedrawInterval = std::chrono::milliseconds(100);
constexpr int DefaultColumns = 80;
constexpr int BarWidth = 24;

// The callbacks are plain functions, so the bar keeps its state here.
struct ProgressState {
    const char* phase = nullptr;  // the pass being shown; nullptr before the first call
    Clock::time_point phaseStart;
    Clock::time_point lastDraw;
    std::int32_t total = 0;  // the pass's total, kept for its closing (0, 0) call
    int lineLength = 0;      // characters of the last line drawn, 0 when nothing is shown
};
ProgressState state;

void FormatDuration(char* out, std::size_t size, double seconds) {
    const long whole = seconds < 0        ? 0
                       : seconds > 359999 ? 359999
                                          : static_cast<long>(seconds + 0.5);
    std::snprintf(out, size, "%ld:%02ld", whole / 60, whole % 60);
}

void Draw(std::int32_t done, std::int32_t total, bool ended, Clock::time_point now) {
    double fraction = total > 0 ? static_cast<double>(done) / total : 0.0;
    if (ended || fraction > 1.0)
        fraction = 1.0;
    const double elapsed = std::chrono::duration<double>(now - state.phaseStart).count();
    const double bytes = done;

    char bar[BarWidth + 1];
    const int filled = static_cast<int>(fraction * BarWidth);
    for (int i = 0; i < BarWidth; ++i) bar[i] = i < filled ? '#' : '-';
    bar[BarWidth] = '\0';

    char rate[24] = "   -- MB/s";
    char eta[32] = "--:--";
    char spent[32];
    FormatDuration(spent, sizeof spent, elapsed);
    if (elapsed > 0.05 && bytes > 0) {
        const double perSecond = bytes / elapsed;
        std::snprintf(rate, sizeof rate, "%5.1f MB/s", perSecond / 1e6);
        if (fraction < 1.0 && total > 0)
            FormatDuration(eta, sizeof eta, (total - bytes) / perSecond);
        else
            std::snprintf(eta, sizeof eta, "%s", "0:00");
    }

    char line[160];
    int length =
        std::snprintf(line, sizeof line, "%-10s [%s] %3d%%  %s  %s elapsed, ETA %s", state.phase,
                      bar, static_cast<int>(fraction * 100), rate, spent, eta);
    int columns = platform::TerminalColumns(stderr);
    if (columns <= 0)
        columns = DefaultColumns;
    if (length >= columns)
        length = columns - 1;
    if (length >= static_cast<int>(sizeof line))
        length = sizeof line - 1;
    // Spaces wipe what is left of a longer line drawn before.
    const int padding = state.lineLength > length ? state.lineLength - length : 0;
    std::fprintf(stderr, "\r%.*s%*s", length, line, padding, "");
    std::fflush(stderr);
    state.lineLength = length;
    state.lastDraw = now;
}

// One callback per pass: the pass that calls tells which phase is shown.
void Report(const char* phase, std::int32_t done, std::int32_t total) {
    const Clock::time_point now = Clock::now();
    bool firstCall = false;
    if (state.phase != phase) {
        state.phase = phase;
        state.phaseStart = now;
        state.total = 0;
        firstCall = true;
    }
    const bool ended = done == 0 && total == 0;
    if (ended)
        done = total = state.total;
    else
        state.total = total;
    if (firstCall || ended || now - state.lastDraw >= RedrawInterval)
        Draw(done, total, ended, now);
}

void DecryptProgress(std::int32_t done, std::int32_t total) {
    Report("decrypting", done, total);
}

void DecodeProgress(std::int32_t done, std::int32_t total) {
    Report("decoding", done, total);
}

// A compressed payload is decoded piece by piece as it is decrypted: decrypting tells how
// far the whole extraction is.
void ExtractProgress(std::int32_t done, std::int32_t total) {
    Report("extracting", done, total);
}

}  // namespace

void AttachProgress(ExtractionJob& job, bool quiet, bool decodedAlongside) {
    state = ProgressState();
    if (quiet || !platform::IsTerminal(stderr))
        return;
    if (decodedAlongside) {
        job.SetDecryptProgress(ExtractProgress);
    } else {
        job.SetDecryptProgress(DecryptProgress);
        job.SetLzwProgress(DecodeProgress);
    }
}

void ClearProgress() {
    if (state.lineLength > 0) {
        std::fprintf(stderr, "\r%*s\r", state.lineLength, "");
        std::fflush(stderr);
    }
    state = ProgressState();
}

}  // namespace sfx::cli
