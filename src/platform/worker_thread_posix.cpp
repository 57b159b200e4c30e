#include "platform/worker_thread.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

namespace dravik {

namespace {

static_assert(sizeof(pthread_t) <= sizeof(WorkerThread::Handle));

void* entry(void* arg) {
  WorkerThread::Start* start = static_cast<WorkerThread::Start*>(arg);
  start->run(start);
  return nullptr;
}

int createThread(WorkerThread::Handle* handle, WorkerThread::Start* start) {
  pthread_t thread{};
  const int error = pthread_create(&thread, nullptr, &entry, start);
  if (error == 0) std::memcpy(handle, &thread, sizeof thread);
  return error;
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
  pthread_t thread{};
  std::memcpy(&thread, &handle_, sizeof thread);
  pthread_join(thread, nullptr);
  started_ = false;
}

}  // namespace dravik
