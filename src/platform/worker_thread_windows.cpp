#include "platform/worker_thread_system.h"

#include <windows.h>

namespace dravik::threads {
namespace {

DWORD WINAPI entry(void* arg) {
  WorkerThread::Start* start = static_cast<WorkerThread::Start*>(arg);
  start->run(start);
  return 0;
}

}  // namespace

int createSystemThread(WorkerThread::Handle* handle, WorkerThread::Start* start) {
  const HANDLE thread = ::CreateThread(nullptr, 0, &entry, start, 0, nullptr);
  if (thread == nullptr) {
    const DWORD error = ::GetLastError();
    return error != 0 ? static_cast<int>(error) : ERROR_NOT_ENOUGH_MEMORY;
  }
  *handle = reinterpret_cast<WorkerThread::Handle>(thread);
  return 0;
}

void joinSystemThread(WorkerThread::Handle handle) {
  const HANDLE thread = reinterpret_cast<HANDLE>(handle);
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
}

}  // namespace dravik::threads
