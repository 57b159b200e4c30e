// Window changes asked for by worker threads, coalesced until the window's thread applies them:
// however fast a unit reports, what waits is the latest state per control, the trace text
// bounded like the pane, and the rarer calls (typing limits, combo items, caption, end of the
// run) kept whole and in order. Workers record from any thread; one thread takes the changes
// out, and a change it applies may record or take again (a signal handler calling the view).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "monitor/trace_backlog.h"

namespace dravik {

class ViewChanges {
 public:
  // One change to a control, the trace or the window, as the window's thread applies it.
  struct Change {
    enum class Kind { Text, Enabled, Checked, Visible, Repaint, ClearTrace, Trace, Step };
    explicit Change(Kind k, int control = 0, bool value = false)
        : kind(k), id(control), on(value) {}
    Change(Kind k, int control, std::string cp932) : kind(k), id(control), text(std::move(cp932)) {}
    explicit Change(std::function<void()> call) : step(std::move(call)) {}

    Kind kind = Kind::Step;
    int id = 0;
    bool on = false;
    std::string text;  // CP932
    std::function<void()> step;
  };

  // The trace waiting keeps at most `traceLines` lines.
  explicit ViewChanges(std::size_t traceLines) : pending_(traceLines), applying_(traceLines) {}

  // Recording, from any thread. Each returns true when the caller must queue a flush: none is
  // queued since the last startFlush.
  bool setText(int id, const std::string& text);
  bool enable(int id, bool enabled);
  bool setChecked(int id, bool checked);
  bool setVisible(int id, bool visible);
  bool repaint(int id);
  bool appendTrace(const std::string& text);
  // Also drops the trace text still waiting.
  bool clearTrace();
  bool post(std::function<void()> step);

  // The queued flush begins: the next change recorded queues another.
  void startFlush();
  // The next change to apply, in order: per control (by identifier) its text, enabled,
  // checked, visible and repaint; then a clear of the trace, the trace text, the posted calls.
  // Changes recorded while a batch is being taken come after that batch. Nothing when empty.
  std::optional<Change> next();
  // Controls with changes recorded and not yet taken into a batch.
  std::size_t pendingControlCount() const;

 private:
  // The latest state workers asked for on one control.
  struct ControlUpdate {
    std::optional<std::string> text;
    std::optional<bool> enabled;
    std::optional<bool> checked;
    std::optional<bool> visible;
    bool repaint = false;
  };
  struct Batch {
    explicit Batch(std::size_t traceLines) : trace(traceLines) {}
    std::map<int, ControlUpdate> controls;
    bool clearTrace = false;
    // Trace text; a new piece starts where a trace ended on a lead byte or a carriage return,
    // so that joining never changes what is shown.
    TraceBacklog trace;
    std::deque<std::function<void()>> steps;

    bool empty() const;
    std::optional<Change> take();
  };

  template <typename Record>
  bool record(const Record& change);

  mutable std::mutex lock_;
  Batch pending_;
  bool flushQueued_ = false;
  // The batch being taken, swapped whole out of pending_; touched by the taking thread only.
  Batch applying_;
};

}  // namespace dravik
