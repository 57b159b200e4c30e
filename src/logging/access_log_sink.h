// Where a receiver records each accepted frame; the access log implements it.
#pragma once

#include <string>

namespace dravik {

class AccessLogSink {
 public:
  virtual ~AccessLogSink() = default;
  // Called on a receiver thread once per valid frame, after the answer was sent.
  virtual void appendAccessLog(const std::string& sourceAddress) = 0;
};

}  // namespace dravik
