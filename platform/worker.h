// A second thread that runs one task at a time for the thread that owns it, so that a
// pass can write out one chunk while it works on the next.
#pragma once

namespace sfx::platform {

struct Worker;

// Starts a worker; nullptr when no thread can be had (the caller then does the work
// itself). A process has at most sixteen workers at a time. Interrupts are never delivered to
// a worker's thread. Workers are started and stopped by one thread.
Worker* StartWorker();
// Hands `task` to the worker and returns at once. At most one task is posted at a time:
// the owner waits for it before it posts the next one or stops the worker.
void PostTask(Worker* worker, void (*task)(void* argument), void* argument);
// Returns once the posted task has finished; what the task wrote is then visible.
void WaitForTask(Worker* worker);
// True, as WaitForTask, when the posted task has finished; false at once while it runs.
// After a true answer the task counts as waited for.
bool TaskFinished(Worker* worker);
// Ends the worker's thread; no task may be pending.
void StopWorker(Worker* worker);

// The processors this process may keep busy at once (at least 1), or the limit set below.
int HardwareThreads();
// Makes HardwareThreads answer `count` (tests, benchmarks); 0 lifts the limit.
void LimitThreads(int count);

}  // namespace sfx::platform
