// A second thread that runs one task at a time for the thread that owns it, so that a
// pass can write out one chunk while it works on the next.
#pragma once

namespace sfx::platform {

struct Worker;

// Starts the worker; nullptr when no thread can be had (the caller then does the work
// itself). There is one worker in the process: a second start before StopWorker fails.
// Interrupts are never delivered to the worker's thread.
Worker* StartWorker();
// Hands `task` to the worker and returns at once. At most one task is posted at a time:
// the owner waits for it before it posts the next one or stops the worker.
void PostTask(Worker* worker, void (*task)(void* argument), void* argument);
// Returns once the posted task has finished; what the task wrote is then visible.
void WaitForTask(Worker* worker);
// Ends the worker's thread; no task may be pending.
void StopWorker(Worker* worker);

}  // namespace sfx::platform
