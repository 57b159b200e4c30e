#include "platform/worker_thread.h"

#include <atomic>

#include "platform/worker_thread_system.h"

namespace dravik {
namespace {

std::atomic<WorkerThread::CreateFunction> createFunction{&threads::createSystemThread};

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
  threads::joinSystemThread(handle_);
  started_ = false;
}

}  // namespace dravik
