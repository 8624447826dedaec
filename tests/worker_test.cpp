#include "platform/worker.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <pthread.h>
#include <unistd.h>

#include <atomic>
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
    // At most sixteen at a time: one more is refused until one of them has stopped; each runs
    // what it is given.
    std::vector<Worker*> others;
    std::vector<Tally> tallies(15);
    for (int i = 0; i < 15; ++i) {
        others.push_back(StartWorker());
        ASSERT_NE(others.back(), nullptr);
        tallies[i].next = i;
        PostTask(others.back(), Count, &tallies[i]);
    }
    EXPECT_EQ(StartWorker(), nullptr);
    for (int i = 0; i < 15; ++i) {
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

// A task that interrupts its owner again and again while the owner waits for it, and only
// then finishes.
struct Interrupting {
    pthread_t owner;
    std::atomic<bool> finished{false};
};
std::atomic<int> handled{0};
void CountSignal(int) {
    handled.fetch_add(1, std::memory_order_relaxed);
}
void InterruptOwner(void* argument) {
    auto& task = *static_cast<Interrupting*>(argument);
    for (int i = 0; i < 50; ++i) {
        pthread_kill(task.owner, SIGUSR1);
        usleep(1000);
    }
    task.finished.store(true);
}

TEST(WorkerTest, AWaitCutShortByAHandledSignalGoesOnWaiting) {
    // A handler without SA_RESTART: the signals end the owner's blocking calls early.
    struct sigaction action = {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction saved;
    ASSERT_EQ(sigaction(SIGUSR1, &action, &saved), 0);
    Worker* worker = StartWorker();
    ASSERT_NE(worker, nullptr);
    Interrupting task;
    task.owner = pthread_self();
    handled.store(0);
    PostTask(worker, InterruptOwner, &task);
    WaitForTask(worker);
    EXPECT_TRUE(task.finished.load());
    StopWorker(worker);
    sigaction(SIGUSR1, &saved, nullptr);
    EXPECT_GT(handled.load(), 0);
}
#endif

}  // namespace
}  // namespace sfx::platform
