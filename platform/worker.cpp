#include "platform/worker.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <semaphore.h>

#include <cerrno>
#include <csignal>

#include "platform/interrupts.h"
#endif

namespace sfx::platform {

#ifdef _WIN32
struct Worker {
    HANDLE thread = nullptr;
    HANDLE go = nullptr;    // released once per task, and once to stop
    HANDLE done = nullptr;  // released when a task has finished
    void (*task)(void*) = nullptr;
    void* argument = nullptr;
    bool stop = false;
    bool running = false;
};

namespace {
Worker theWorker;

DWORD WINAPI Serve(LPVOID parameter) {
    Worker& worker = *static_cast<Worker*>(parameter);
    for (;;) {
        WaitForSingleObject(worker.go, INFINITE);
        if (worker.stop)
            return 0;
        worker.task(worker.argument);
        ReleaseSemaphore(worker.done, 1, nullptr);
    }
}

void Close(HANDLE& handle) {
    if (handle != nullptr)
        CloseHandle(handle);
    handle = nullptr;
}
}  // namespace

Worker* StartWorker() {
    Worker& worker = theWorker;
    if (worker.running)
        return nullptr;
    worker.stop = false;
    worker.go = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    worker.done = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    if (worker.go != nullptr && worker.done != nullptr)
        worker.thread = CreateThread(nullptr, 64 * 1024, Serve, &worker, 0, nullptr);
    if (worker.thread == nullptr) {
        Close(worker.go);
        Close(worker.done);
        return nullptr;
    }
    worker.running = true;
    return &worker;
}

void PostTask(Worker* worker, void (*task)(void*), void* argument) {
    worker->task = task;
    worker->argument = argument;
    ReleaseSemaphore(worker->go, 1, nullptr);
}

void WaitForTask(Worker* worker) {
    WaitForSingleObject(worker->done, INFINITE);
}

void StopWorker(Worker* worker) {
    worker->stop = true;
    ReleaseSemaphore(worker->go, 1, nullptr);
    WaitForSingleObject(worker->thread, INFINITE);
    Close(worker->thread);
    Close(worker->go);
    Close(worker->done);
    worker->running = false;
}
#else
struct Worker {
    pthread_t thread;
    sem_t go;    // posted once per task, and once to stop
    sem_t done;  // posted when a task has finished
    void (*task)(void*) = nullptr;
    void* argument = nullptr;
    bool stop = false;
    bool running = false;
};

namespace {
Worker theWorker;

// A wait that a signal handler running on this thread does not cut short.
void Take(sem_t& semaphore) {
    while (sem_wait(&semaphore) != 0 && errno == EINTR) {
    }
}

void* Serve(void* parameter) {
    Worker& worker = *static_cast<Worker*>(parameter);
    for (;;) {
        Take(worker.go);
        if (worker.stop)
            return nullptr;
        worker.task(worker.argument);
        sem_post(&worker.done);
    }
}
}  // namespace

Worker* StartWorker() {
    Worker& worker = theWorker;
    if (worker.running)
        return nullptr;
    worker.stop = false;
    if (sem_init(&worker.go, 0, 0) != 0)
        return nullptr;
    if (sem_init(&worker.done, 0, 0) != 0) {
        sem_destroy(&worker.go);
        return nullptr;
    }
    // The new thread starts with interrupts blocked, so that they keep going to the thread
    // that handles them (and that blocks them while it creates temporary files).
    sigset_t interrupts;
    sigset_t saved;
    sigemptyset(&interrupts);
    for (int signal : InterruptSignals) sigaddset(&interrupts, signal);
    pthread_sigmask(SIG_BLOCK, &interrupts, &saved);
    const bool started = pthread_create(&worker.thread, nullptr, Serve, &worker) == 0;
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    if (!started) {
        sem_destroy(&worker.go);
        sem_destroy(&worker.done);
        return nullptr;
    }
    worker.running = true;
    return &worker;
}

void PostTask(Worker* worker, void (*task)(void*), void* argument) {
    worker->task = task;
    worker->argument = argument;
    sem_post(&worker->go);
}

void WaitForTask(Worker* worker) {
    Take(worker->done);
}

void StopWorker(Worker* worker) {
    worker->stop = true;
    sem_post(&worker->go);
    pthread_join(worker->thread, nullptr);
    sem_destroy(&worker->go);
    sem_destroy(&worker->done);
    worker->running = false;
}
#endif

}  // namespace sfx::platform
