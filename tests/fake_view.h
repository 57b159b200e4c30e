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
    std::vector<std::string> items;
  };

 private:
  using Answers = std::deque<std::optional<std::string>>;
  static std::optional<std::string> next(Answers& answers) {
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = std::move(answers.front());
    answers.pop_front();
    return answer;
  }
  template <typename F>
  auto locked(const F& f) const {
    const std::lock_guard lock(mutex_);
    return f();
  }
  template <typename T, typename V>
  void set(int id, T Control::*field, V value) {
    locked([&] { controls_[id].*field = std::move(value); });
  }
  template <typename T, typename V = T>
  void put(T& field, V value) {
    locked([&] { field = std::move(value); });
  }
  template <typename T>
  T get(const T& field) const {
    return locked([&] { return field; });
  }

 public:
  void setText(int id, const std::string& text) override {
    // The hook runs outside the lock, so that a test can park a worker there.
    if (const auto hook = get(setTextHook_)) hook(id, text);
    set(id, &Control::text, text);
  }
  std::string text(int id) const override { return control(id).text; }
  void enable(int id, bool on) override { set(id, &Control::enabled, on); }
  void repaint(int id) override {
    locked([&] { ++controls_[id].repaints; });
  }
  bool isChecked(int id) const override { return control(id).checked; }
  void setChecked(int id, bool on) override { set(id, &Control::checked, on); }
  void setVisible(int id, bool on) override { set(id, &Control::visible, on); }
  void limitText(int id, int bytes) override { set(id, &Control::limit, bytes); }
  void appendTrace(const std::string& text) override {
    locked([&] { trace_ += text; });
  }
  void clearTrace() override { put(trace_, {}); }
  void addComboItem(int id, const std::string& text) override {
    locked([&] { controls_[id].items.push_back(text); });
  }
  void setComboSelection(int id, int index) override { set(id, &Control::selection, index); }
  int comboSelection(int id) const override { return control(id).selection; }
  void messageBox(const std::string& text) override {
    locked([&] { messageBoxes_.push_back(text); });
  }
  std::optional<std::string> chooseFile(const FileDialog& dialog) override {
    return locked([&] {
      fileDialogs_.push_back(dialog);
      return next(fileAnswers_);
    });
  }
  std::optional<std::string> askTitle(const std::string&) override {
    return locked([&] { return next(titleAnswers_); });
  }
  void setCaption(const std::string& caption) override { put(caption_, caption); }
  void endModal(int result) override { put(modalResult_, result); }

  Control control(int id) const {
    return locked([&] { return controls_.contains(id) ? controls_.at(id) : Control{}; });
  }
  std::string trace() const { return get(trace_); }
  std::vector<std::string> messageBoxes() const { return get(messageBoxes_); }
  void clearMessageBoxes() { put(messageBoxes_, {}); }
  std::string caption() const { return get(caption_); }
  std::optional<int> modalResult() const { return get(modalResult_); }
  // The next file (title) dialog returns `answer`; nothing, or no answer left, is a cancel.
  void answerFileDialog(std::optional<std::string> answer) {
    locked([&] { fileAnswers_.push_back(std::move(answer)); });
  }
  void answerTitleDialog(std::optional<std::string> answer) {
    locked([&] { titleAnswers_.push_back(std::move(answer)); });
  }
  std::vector<FileDialog> fileDialogs() const { return get(fileDialogs_); }
  // `hook` runs on the calling thread before every setText.
  void onSetText(std::function<void(int id, const std::string& text)> hook) {
    put(setTextHook_, std::move(hook));
  }

 private:
  mutable std::mutex mutex_;
  std::map<int, Control> controls_;
  std::string trace_, caption_;
  std::vector<std::string> messageBoxes_;
  std::optional<int> modalResult_;
  Answers fileAnswers_, titleAnswers_;
  std::vector<FileDialog> fileDialogs_;
  std::function<void(int, const std::string&)> setTextHook_;
};

}  // namespace dravik::test
