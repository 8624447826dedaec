// The program's message loop, apart from the platform's calls.
#pragma once

namespace sfx::ui {

// Runs until `next(message)`, which answers as GetMessageA does, returns 0 for the quit
// message; `handle(message)` translates and dispatches every other message. An error (-1)
// ends the loop instead of being taken for a message, since it would come again at once.
// The exit code is the quit message's wParam, or 0 after an error.
template <typename Message, typename Next, typename Handle>
int RunMessageLoop(Message& message, Next next, Handle handle) {
    for (;;) {
        const int got = next(message);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1)
            return 0;
        handle(message);
    }
}

}  // namespace sfx::ui
