// A flag one test thread raises and another waits for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace dravik::test {

// Not std::binary_semaphore or std::atomic::wait: MinGW-w64's GCC 12 library builds those on a
// waiter pool that can lose a wake-up, and the Windows tests would then hang.
class Flag {
 public:
  void raise() {
    {
      std::lock_guard lock(lock_);
      raised_ = true;
    }
    raisedChanged_.notify_all();
  }
  void wait() {
    std::unique_lock lock(lock_);
    raisedChanged_.wait(lock, [&] { return raised_; });
  }
  // True once raised within `limit`.
  bool waitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(lock_);
    return raisedChanged_.wait_for(lock, limit, [&] { return raised_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable raisedChanged_;
  bool raised_ = false;
};

}  // namespace dravik::test
