// An in-memory window for the tests: a table of controls keyed by the templates' identifiers.
// Records every message box and answers file dialogs and the title dialog from a script.
// Safe to call from several threads.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "monitor/view.h"

namespace dravik::test {

class FakeView : public View {
  using Guard = std::lock_guard<std::mutex>;
  // Runs `f` under the table's lock.
  template <typename F>
  auto locked(const F& f) const {
    const std::lock_guard lock(mutex_);
    return f();
  }

 public:
  struct Control {
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    int limit = 0;  // 0: no limit set
    int repaints = 0;
    std::vector<std::string> items;
    int selection = -1;
  };

  // View
  void setText(int id, const std::string& text) override;
  std::string text(int id) const override { return control(id).text; }
  void enable(int id, bool on) override { set(id, &Control::enabled, on); }
  void repaint(int id) override {
    Guard g(mutex_);
    ++controls_[id].repaints;
  }
  bool isChecked(int id) const override { return control(id).checked; }
  void setChecked(int id, bool on) override { set(id, &Control::checked, on); }
  void setVisible(int id, bool on) override { set(id, &Control::visible, on); }
  void limitText(int id, int bytes) override { set(id, &Control::limit, bytes); }
  void appendTrace(const std::string& text) override {
    Guard g(mutex_);
    trace_ += text;
  }
  void clearTrace() override { put(trace_, {}); }
  void addComboItem(int id, const std::string& text) override {
    Guard g(mutex_);
    controls_[id].items.push_back(text);
  }
  void setComboSelection(int id, int index) override { set(id, &Control::selection, index); }
  int comboSelection(int id) const override { return control(id).selection; }
  void messageBox(const std::string& text) override {
    Guard g(mutex_);
    messageBoxes_.push_back(text);
  }
  std::optional<std::string> chooseFile(const FileDialog& dialog) override;
  std::optional<std::string> askTitle(const std::string& current) override;
  void setCaption(const std::string& caption) override { put(caption_, caption); }
  void endModal(int result) override { put(modalResult_, result); }

  // Inspection and scripting
  Control control(int id) const;
  std::string trace() const { return get(trace_); }
  std::vector<std::string> messageBoxes() const { return get(messageBoxes_); }
  void clearMessageBoxes() { put(messageBoxes_, {}); }
  std::string caption() const { return get(caption_); }
  std::optional<int> modalResult() const { return get(modalResult_); }
  // The next file dialog returns `path` (nothing: the operator cancels).
  void answerFileDialog(std::optional<std::string> path) {
    locked([&] { fileAnswers_.push_back(std::move(path)); });
  }
  std::vector<FileDialog> fileDialogs() const { return get(fileDialogs_); }
  // The next title dialog returns `title` (nothing: cancel).
  void answerTitleDialog(std::optional<std::string> title) {
    locked([&] { titleAnswers_.push_back(std::move(title)); });
  }
  // `hook` runs on the calling thread before every setText, outside the table's lock: a test
  // parks a worker there, between its decision to update the window and the update.
  void onSetText(std::function<void(int id, const std::string& text)> hook) {
    locked([&] { setTextHook_ = std::move(hook); });
  }

 private:
  template <typename T>
  void set(int id, T Control::*field, std::type_identity_t<T> value) {
    Guard g(mutex_);
    controls_[id].*field = std::move(value);
  }
  template <typename T>
  void put(T& field, std::type_identity_t<T> value) {
    Guard g(mutex_);
    field = std::move(value);
  }
  template <typename T>
  T get(const T& field) const {
    Guard g(mutex_);
    return field;
  }

  mutable std::mutex mutex_;
  std::map<int, Control> controls_;
  std::string trace_;
  std::vector<std::string> messageBoxes_;
  std::string caption_;
  std::optional<int> modalResult_;
  std::deque<std::optional<std::string>> fileAnswers_;
  std::vector<FileDialog> fileDialogs_;
  std::deque<std::optional<std::string>> titleAnswers_;
  std::function<void(int, const std::string&)> setTextHook_;
};

}  // namespace dravik::test
