#include "platform/worker_thread.h"

#include <windows.h>

#include <atomic>

namespace dravik {

namespace {

DWORD WINAPI entry(void* arg) {
  WorkerThread::Start* start = static_cast<WorkerThread::Start*>(arg);
  start->run(start);
  return 0;
}

int createThread(WorkerThread::Handle* handle, WorkerThread::Start* start) {
  const HANDLE thread = ::CreateThread(nullptr, 0, &entry, start, 0, nullptr);
  if (thread == nullptr) {
    const DWORD error = ::GetLastError();
    return error != 0 ? static_cast<int>(error) : ERROR_NOT_ENOUGH_MEMORY;
  }
  *handle = reinterpret_cast<WorkerThread::Handle>(thread);
  return 0;
}

std::atomic<WorkerThread::CreateFunction> createFunction{&createThread};

}  // namespace

WorkerThread::CreateFunction WorkerThread::replaceCreateFunction(CreateFunction create) {
  return createFunction.exchange(create);
}

int WorkerThread::create(Start* start) {
  join();
  const int error = createFunction.load()(&handle_, start);
  started_ = error == 0;
  return error;
}

void WorkerThread::join() {
  if (!started_) return;
  const HANDLE thread = reinterpret_cast<HANDLE>(handle_);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  started_ = false;
}

}  // namespace dravik
