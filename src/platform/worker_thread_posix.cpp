#include "platform/worker_thread.h"

#include <atomic>

namespace dravik {

namespace {

std::atomic<WorkerThread::CreateFunction> createFunction{&pthread_create};

}  // namespace

WorkerThread::CreateFunction WorkerThread::replaceCreateFunction(CreateFunction create) {
  return createFunction.exchange(create);
}

int WorkerThread::create(void* (*entry)(void*), void* arg) {
  join();
  const int error = createFunction.load()(&handle_, nullptr, entry, arg);
  started_ = error == 0;
  return error;
}

void WorkerThread::join() {
  if (!started_) return;
  pthread_join(handle_, nullptr);
  started_ = false;
}

}  // namespace dravik
