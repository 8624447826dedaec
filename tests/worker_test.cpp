#include "platform/worker.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <pthread.h>

#include <csignal>
#endif

#include <vector>

namespace sfx::platform {
namespace {

struct Tally {
    std::vector<int> seen;
    int next = 0;
};

void Count(void* argument) {
    auto& tally = *static_cast<Tally*>(argument);
    tally.seen.push_back(tally.next);
}

TEST(WorkerTest, RunsEachTaskOnceAndItsEffectsAreSeenAfterTheWait) {
    Worker* worker = StartWorker();
    ASSERT_NE(worker, nullptr);
    // At most ten at a time: one more is refused until one of them has stopped; each runs
    // what it is given.
    std::vector<Worker*> others;
    std::vector<Tally> tallies(9);
    for (int i = 0; i < 9; ++i) {
        others.push_back(StartWorker());
        ASSERT_NE(others.back(), nullptr);
        tallies[i].next = i;
        PostTask(others.back(), Count, &tallies[i]);
    }
    EXPECT_EQ(StartWorker(), nullptr);
    for (int i = 0; i < 9; ++i) {
        WaitForTask(others[i]);
        StopWorker(others[i]);
        EXPECT_EQ(tallies[i].seen, std::vector<int>{i});
    }
    Tally tally;
    for (int i = 0; i < 2000; ++i) {
        tally.next = i;
        PostTask(worker, Count, &tally);
        WaitForTask(worker);
        ASSERT_EQ(tally.seen.size(), static_cast<std::size_t>(i + 1));
        ASSERT_EQ(tally.seen.back(), i);
    }
    StopWorker(worker);

    // Stopping without a task, and starting again.
    for (int round = 0; round < 20; ++round) {
        worker = StartWorker();
        ASSERT_NE(worker, nullptr) << round;
        StopWorker(worker);
    }
}

#ifndef _WIN32
void RecordBlocked(void* argument) {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    auto& blocked = *static_cast<std::vector<int>*>(argument);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ})
        blocked.push_back(sigismember(&mask, signal));
}

TEST(WorkerTest, InterruptsGoToTheOwnerOnly) {
    // Interrupts stay with the thread that handles them; the signals a write raises on the
    // worker itself keep their usual effect.
    Worker* worker = StartWorker();
    ASSERT_NE(worker, nullptr);
    std::vector<int> blocked;
    PostTask(worker, RecordBlocked, &blocked);
    WaitForTask(worker);
    StopWorker(worker);
    EXPECT_EQ(blocked, (std::vector<int>{1, 1, 1, 1, 0, 0}));

    // The owner's own mask is as it was.
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_FALSE(sigismember(&mask, SIGINT));
}
#endif

}  // namespace
}  // namespace sfx::platform
