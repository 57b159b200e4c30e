// The worker threads of the monitor: started, woken and joined by whoever starts them.
#pragma once

#include <pthread.h>

#include <utility>

namespace dravik {

// A joinable POSIX thread; creation failure is a result, never an exception.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `body` on a new thread. 0, or the error number when the system refuses a thread.
  template <typename Body>
  int start(Body body) {
    auto* owned = new Body(std::move(body));
    const int error = create(&WorkerThread::trampoline<Body>, owned);
    if (error != 0) delete owned;
    return error;
  }
  // Waits for the thread to end; nothing when none runs.
  void join();
  bool running() const { return started_; }

  // What creates every worker thread: pthread_create, unless a test puts in a stand-in with
  // the same contract to make the system refuse threads. Returns the one it replaces.
  using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static CreateFunction replaceCreateFunction(CreateFunction create);

 private:
  template <typename Body>
  static void* trampoline(void* arg) {
    Body* body = static_cast<Body*>(arg);
    (*body)();
    delete body;
    return nullptr;
  }
  int create(void* (*entry)(void*), void* arg);

  pthread_t handle_{};
  bool started_ = false;
};

}  // namespace dravik
