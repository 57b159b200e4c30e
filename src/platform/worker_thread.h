// The worker threads of the monitor: started, woken and joined by whoever starts them.
#pragma once

#include <cstdint>
#include <utility>

namespace dravik {

// A joinable thread of the system; creation failure is a result, never an exception.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `body` on a new thread. 0, or the system's error number when it refuses a thread.
  template <typename Body>
  int start(Body body) {
    auto* owned = new Owned<Body>(std::move(body));
    const int error = create(owned);
    if (error != 0) delete owned;
    return error;
  }
  // Waits for the thread to end; nothing when none runs.
  void join();
  bool running() const { return started_; }

  // What a new thread is given: it calls `run(start)` once, which also frees `start`.
  struct Start {
    void (*run)(Start* start);
  };
  // The system's thread, as the system names it.
  using Handle = std::uintptr_t;
  // What creates every worker thread: the system's own call, unless a test puts in a stand-in
  // with the same contract (0 and `handle` set, or the error number and no thread) to make the
  // system refuse threads. Returns the one it replaces.
  using CreateFunction = int (*)(Handle* handle, Start* start);
  static CreateFunction replaceCreateFunction(CreateFunction create);

 private:
  template <typename Body>
  struct Owned : Start {
    explicit Owned(Body b) : Start{&Owned::runOnce}, body(std::move(b)) {}
    static void runOnce(Start* start) {
      Owned* self = static_cast<Owned*>(start);
      self->body();
      delete self;
    }
    Body body;
  };
  int create(Start* start);

  Handle handle_ = 0;
  bool started_ = false;
};

}  // namespace dravik
