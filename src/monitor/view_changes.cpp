#include "monitor/view_changes.h"

#include <utility>

#include "platform/cp932.h"

namespace dravik {

bool ViewChanges::Batch::empty() const {
  return controls.empty() && !clearTrace && trace.empty() && steps.empty();
}

std::optional<ViewChanges::Change> ViewChanges::Batch::take() {
  while (!controls.empty()) {
    const auto first = controls.begin();
    const int id = first->first;
    ControlUpdate& update = first->second;
    if (update.text) {
      Change change(Change::Kind::Text, id, std::move(*update.text));
      update.text.reset();
      return change;
    }
    for (auto [flag, kind] : {std::pair{&update.enabled, Change::Kind::Enabled},
                              std::pair{&update.checked, Change::Kind::Checked},
                              std::pair{&update.visible, Change::Kind::Visible}}) {
      if (*flag) {
        const bool on = **flag;
        flag->reset();
        return Change(kind, id, on);
      }
    }
    if (update.repaint) {
      update.repaint = false;
      return Change(Change::Kind::Repaint, id);
    }
    controls.erase(first);
  }
  if (clearTrace) {
    clearTrace = false;
    return Change(Change::Kind::ClearTrace);
  }
  if (!trace.empty()) return Change(Change::Kind::Trace, 0, trace.takePiece());
  if (!steps.empty()) {
    Change change(std::move(steps.front()));
    steps.pop_front();
    return change;
  }
  return std::nullopt;
}

template <typename Record>
bool ViewChanges::record(const Record& change) {
  const std::lock_guard guard(lock_);
  change(pending_);
  const bool queue = !flushQueued_;
  flushQueued_ = true;
  return queue;
}

bool ViewChanges::setText(int id, const std::string& text) {
  return record([&](Batch& batch) { batch.controls[id].text = text; });
}

bool ViewChanges::enable(int id, bool enabled) {
  return record([&](Batch& batch) { batch.controls[id].enabled = enabled; });
}

bool ViewChanges::setChecked(int id, bool checked) {
  return record([&](Batch& batch) { batch.controls[id].checked = checked; });
}

bool ViewChanges::setVisible(int id, bool visible) {
  return record([&](Batch& batch) { batch.controls[id].visible = visible; });
}

bool ViewChanges::repaint(int id) {
  return record([&](Batch& batch) { batch.controls[id].repaint = true; });
}

bool ViewChanges::appendTrace(const std::string& text) {
  return record([&](Batch& batch) {
    if (text.empty()) return;
    // A lead byte could pair with the next trace's first byte, and "\r" then "\n" would become
    // one line end: shown one by one, they never joined.
    const auto last = static_cast<unsigned char>(text.back());
    batch.trace.append(text, last == '\r' || cp932::isLeadByte(last));
  });
}

bool ViewChanges::clearTrace() {
  return record([](Batch& batch) {
    batch.trace.clear();
    batch.clearTrace = true;
  });
}

bool ViewChanges::post(std::function<void()> step) {
  return record([&](Batch& batch) { batch.steps.push_back(std::move(step)); });
}

void ViewChanges::startFlush() {
  const std::lock_guard guard(lock_);
  flushQueued_ = false;
  if (applying_.empty()) std::swap(applying_, pending_);
}

std::optional<ViewChanges::Change> ViewChanges::next() {
  for (;;) {
    if (applying_.empty()) {
      const std::lock_guard guard(lock_);
      if (pending_.empty()) return std::nullopt;
      std::swap(applying_, pending_);
    }
    if (std::optional<Change> change = applying_.take()) return change;
  }
}

std::size_t ViewChanges::pendingControlCount() const {
  const std::lock_guard guard(lock_);
  return pending_.controls.size();
}

}  // namespace dravik
