#include "platform/worker.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#else
#include <pthread.h>
#include <semaphore.h>
#include <unistd.h>

#include <cerrno>

#include "platform/interrupts.h"
#endif

namespace sfx::platform {

namespace {

// The two things that differ: a semaphore that counts to one, and a thread.
#ifdef _WIN32
using Thread = HANDLE;

// A token in an atomic count, with a kernel semaphore only for a thread that has to sleep:
// a release with nobody asleep and a take that finds the token cost no system call. Each
// semaphore has one taker, so the count stays between -1 (the taker sleeps or is about to)
// and 1 (a token waits).
struct Semaphore {
    std::atomic<long> count{0};
    HANDLE sleep = nullptr;
};

bool Create(Semaphore& semaphore) {
    semaphore.count.store(0, std::memory_order_relaxed);
    semaphore.sleep = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    return semaphore.sleep != nullptr;
}
void Destroy(Semaphore& semaphore) {
    CloseHandle(semaphore.sleep);
}
void Release(Semaphore& semaphore) {
    if (semaphore.count.fetch_add(1, std::memory_order_acq_rel) < 0)
        ReleaseSemaphore(semaphore.sleep, 1, nullptr);
}
bool TryTake(Semaphore& semaphore) {
    long count = semaphore.count.load(std::memory_order_relaxed);
    while (count > 0) {
        if (semaphore.count.compare_exchange_weak(count, count - 1, std::memory_order_acquire))
            return true;
    }
    return false;
}
void Take(Semaphore& semaphore) {
    if (semaphore.count.fetch_sub(1, std::memory_order_acq_rel) < 1)
        WaitForSingleObject(semaphore.sleep, INFINITE);
}
// Take for a token that is about to come: looks for it a while (some microseconds) before
// going to sleep, where another processor can be releasing it meanwhile.
void TakeSoon(Semaphore& semaphore) {
    if (HardwareThreads() > 1) {
        for (int i = 0; i < 1000; ++i) {
            if (TryTake(semaphore))
                return;
            YieldProcessor();
        }
    }
    Take(semaphore);
}

DWORD WINAPI Begin(LPVOID worker);
bool Launch(Thread& thread, void* worker) {
    thread = CreateThread(nullptr, 64 * 1024, Begin, worker, 0, nullptr);
    return thread != nullptr;
}
void Join(Thread& thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}
#else
using Semaphore = sem_t;
using Thread = pthread_t;

bool Create(Semaphore& semaphore) {
    return sem_init(&semaphore, 0, 0) == 0;
}
void Destroy(Semaphore& semaphore) {
    sem_destroy(&semaphore);
}
void Release(Semaphore& semaphore) {
    sem_post(&semaphore);
}
// A wait that a signal handler running on this thread does not cut short.
void Take(Semaphore& semaphore) {
    while (sem_wait(&semaphore) != 0 && errno == EINTR) {
    }
}
bool TryTake(Semaphore& semaphore) {
    int result;
    while ((result = sem_trywait(&semaphore)) != 0 && errno == EINTR) {
    }
    return result == 0;
}
void TakeSoon(Semaphore& semaphore) {
    Take(semaphore);
}

void* Begin(void* worker);
bool Launch(Thread& thread, void* worker) {
    // The new thread starts with interrupts blocked, so that they keep going to the thread
    // that handles them (and that blocks them while it creates temporary files).
    InterruptsHeld held;
    return pthread_create(&thread, nullptr, Begin, worker) == 0;
}
void Join(Thread& thread) {
    pthread_join(thread, nullptr);
}
#endif

}  // namespace

struct Worker {
    Thread thread;
    Semaphore go;    // released once per task, and once to stop
    Semaphore done;  // released when a task has finished
    void (*task)(void*) = nullptr;
    void* argument = nullptr;
    bool stop = false;
    bool running = false;
};

namespace {

// Enough for the cipher's helpers on the largest machines served, a reader, and the
// decoder's helpers beside them.
constexpr int MaxWorkers = 16;
Worker workers[MaxWorkers];
int threadLimit = 0;  // 0: as many as the machine has

void Serve(Worker& worker) {
    for (;;) {
        Take(worker.go);
        if (worker.stop)
            return;
        worker.task(worker.argument);
        Release(worker.done);
    }
}

#ifdef _WIN32
DWORD WINAPI Begin(LPVOID worker) {
    Serve(*static_cast<Worker*>(worker));
    return 0;
}
#else
void* Begin(void* worker) {
    Serve(*static_cast<Worker*>(worker));
    return nullptr;
}
#endif

}  // namespace

Worker* StartWorker() {
    Worker* free = nullptr;
    for (Worker& candidate : workers) {
        if (!candidate.running) {
            free = &candidate;
            break;
        }
    }
    if (free == nullptr)
        return nullptr;
    Worker& worker = *free;
    worker.stop = false;
    if (!Create(worker.go))
        return nullptr;
    if (!Create(worker.done)) {
        Destroy(worker.go);
        return nullptr;
    }
    if (!Launch(worker.thread, &worker)) {
        Destroy(worker.go);
        Destroy(worker.done);
        return nullptr;
    }
    worker.running = true;
    return &worker;
}

void PostTask(Worker* worker, void (*task)(void*), void* argument) {
    worker->task = task;
    worker->argument = argument;
    Release(worker->go);
}

void WaitForTask(Worker* worker) {
    // A share of a piece on another processor ends about when the owner's own share does.
    TakeSoon(worker->done);
}

bool TaskFinished(Worker* worker) {
    return TryTake(worker->done);
}

void StopWorker(Worker* worker) {
    worker->stop = true;
    Release(worker->go);
    Join(worker->thread);
    Destroy(worker->go);
    Destroy(worker->done);
    worker->running = false;
}

int HardwareThreads() {
    if (threadLimit > 0)
        return threadLimit;
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const long count = static_cast<long>(info.dwNumberOfProcessors);
#else
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
#endif
    return count < 1 ? 1 : count > 64 ? 64 : static_cast<int>(count);
}

void LimitThreads(int count) {
    threadLimit = count < 0 ? 0 : count;
}

}  // namespace sfx::platform
