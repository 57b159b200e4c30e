#include "platform/worker_thread_system.h"

#include <pthread.h>

#include <cstring>

namespace dravik::threads {
namespace {

static_assert(sizeof(pthread_t) <= sizeof(WorkerThread::Handle));

void* entry(void* arg) {
  WorkerThread::Start* start = static_cast<WorkerThread::Start*>(arg);
  start->run(start);
  return nullptr;
}

}  // namespace

int createSystemThread(WorkerThread::Handle* handle, WorkerThread::Start* start) {
  pthread_t thread{};
  const int error = pthread_create(&thread, nullptr, &entry, start);
  if (error == 0) std::memcpy(handle, &thread, sizeof thread);
  return error;
}

void joinSystemThread(WorkerThread::Handle handle) {
  pthread_t thread{};
  std::memcpy(&thread, &handle, sizeof thread);
  pthread_join(thread, nullptr);
}

}  // namespace dravik::threads
