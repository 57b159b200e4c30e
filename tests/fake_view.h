// An in-memory window for the tests, safe from several threads: controls keyed by identifier, the
// message boxes shown, and file and title dialogs answered from a script.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "monitor/view.h"

namespace dravik::test {

class FakeView : public View {
 public:
  struct Control {
    std::string text;
    bool enabled = true, visible = true, checked = false;
    int limit = 0, repaints = 0, selection = -1;  // limit 0: no limit set
    int writes = 0;                               // setText and enable calls
    std::vector<std::string> items;
  };

  void setText(int id, const std::string& text) override {
    // The hook runs outside the lock, so that a test can park a worker there.
    if (const auto hook = locked()->setTextHook_) hook(id, text);
    const auto lock = locked();
    controls_[id].text = text;
    ++controls_[id].writes;
  }
  std::string text(int id) const override { return control(id).text; }
  void enable(int id, bool on) override {
    const auto lock = locked();
    controls_[id].enabled = on;
    ++controls_[id].writes;
  }
  void repaint(int id) override { ++locked()->controls_[id].repaints; }
  bool isChecked(int id) const override { return control(id).checked; }
  void setChecked(int id, bool on) override { locked()->controls_[id].checked = on; }
  void setVisible(int id, bool on) override { locked()->controls_[id].visible = on; }
  void limitText(int id, int bytes) override { locked()->controls_[id].limit = bytes; }
  void appendTrace(const std::string& text) override {
    if (const auto hook = locked()->traceHook_) hook(text);
    locked()->trace_ += text;
  }
  void clearTrace() override { locked()->trace_.clear(); }
  void addComboItem(int id, const std::string& text) override {
    locked()->controls_[id].items.push_back(text);
  }
  void setComboSelection(int id, int index) override { locked()->controls_[id].selection = index; }
  int comboSelection(int id) const override { return control(id).selection; }
  void messageBox(const std::string& text) override { locked()->messageBoxes_.push_back(text); }
  std::optional<std::string> chooseFile(const FileDialog& dialog) override {
    const auto lock = locked();
    fileDialogs_.push_back(dialog);
    return next(fileAnswers_);
  }
  std::optional<std::string> askTitle(const std::string&) override {
    return next(locked()->titleAnswers_);
  }
  void setCaption(const std::string& caption) override { locked()->caption_ = caption; }
  void endModal(int result) override { locked()->modalResult_ = result; }

  Control control(int id) const {
    const auto lock = locked();
    return controls_.contains(id) ? controls_.at(id) : Control{};
  }
  std::string trace() const { return locked()->trace_; }
  std::vector<std::string> messageBoxes() const { return locked()->messageBoxes_; }
  void clearMessageBoxes() { locked()->messageBoxes_.clear(); }
  std::string caption() const { return locked()->caption_; }
  std::optional<int> modalResult() const { return locked()->modalResult_; }
  // The next file (title) dialog returns `a`; nothing, or no answer left, is a cancel.
  void answerFileDialog(std::optional<std::string> a) { locked()->fileAnswers_.push_back(a); }
  void answerTitleDialog(std::optional<std::string> a) { locked()->titleAnswers_.push_back(a); }
  std::vector<FileDialog> fileDialogs() const { return locked()->fileDialogs_; }
  // `hook` runs on the calling thread before every setText (appendTrace).
  void onSetText(std::function<void(int id, const std::string& text)> hook) {
    locked()->setTextHook_ = std::move(hook);
  }
  void onTrace(std::function<void(const std::string& text)> hook) {
    locked()->traceHook_ = std::move(hook);
  }

 private:
  using Answers = std::deque<std::optional<std::string>>;
  static std::optional<std::string> next(Answers& answers) {
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = std::move(answers.front());
    answers.pop_front();
    return answer;
  }
  // This view under its lock until the end of the full expression.
  template <typename V>
  struct Locked {
    std::lock_guard<std::mutex> lock;
    V* view;
    V* operator->() const { return view; }
  };
  Locked<FakeView> locked() { return {std::lock_guard(mutex_), this}; }
  Locked<const FakeView> locked() const { return {std::lock_guard(mutex_), this}; }

  mutable std::mutex mutex_;
  std::map<int, Control> controls_;
  std::string trace_, caption_;
  std::vector<std::string> messageBoxes_;
  std::optional<int> modalResult_;
  Answers fileAnswers_, titleAnswers_;
  std::vector<FileDialog> fileDialogs_;
  std::function<void(int, const std::string&)> setTextHook_;
  std::function<void(const std::string&)> traceHook_;
};

}  // namespace dravik::test
