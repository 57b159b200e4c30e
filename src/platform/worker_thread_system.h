// What each system gives the worker threads; worker_thread.cpp builds the shared rules on it.
#pragma once

#include "platform/worker_thread.h"

namespace dravik::threads {

// Starts a thread that calls `start->run(start)`: 0 and `handle` set, or the error number.
int createSystemThread(WorkerThread::Handle* handle, WorkerThread::Start* start);
// Waits for the thread of `handle` to end and releases it.
void joinSystemThread(WorkerThread::Handle handle);

}  // namespace dravik::threads
