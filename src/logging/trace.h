// The diagnostic trace: printf-style lines for the hidden trace pane.
//
// DRAVIK_B writes them; DRAVIK_A is built with tracing off and discards them. Callable from
// any thread; never waits for the window's thread.
#pragma once

#include <string>
#include <string_view>

namespace dravik {

// Where trace text goes: the window's hidden trace pane, or a test's stand-in.
class TracePane {
 public:
  virtual ~TracePane() = default;
  // Appends at the pane's caret. Any thread; never waits for the window's thread.
  virtual void appendTrace(const std::string& text) = 0;
  virtual void clearTrace() = 0;
};

class Trace {
 public:
  // One trace call yields at most this many bytes.
  static constexpr std::size_t kMaxBytes = 255;

  Trace(TracePane& pane, bool enabled) : pane_(pane), enabled_(enabled) {}

  // Formats by the printf rules and appends the result, cut to kMaxBytes.
  void operator()(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  // Appends `text` as it is (a path, a file line): a percent sign is copied, never
  // interpreted. Cut to kMaxBytes like every trace.
  void literal(std::string_view text) const;
  // Empties the pane (every start attempt).
  void clear() const;

 private:
  TracePane& pane_;
  bool enabled_;
};

}  // namespace dravik
