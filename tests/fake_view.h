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
#include <vector>

#include "monitor/view.h"

namespace dravik::test {

class FakeView : public View {
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
  void enable(int id, bool on) override {
    change(id, [on](Control& c) { c.enabled = on; });
  }
  void repaint(int id) override {
    change(id, [](Control& c) { ++c.repaints; });
  }
  bool isChecked(int id) const override { return control(id).checked; }
  void setChecked(int id, bool on) override {
    change(id, [on](Control& c) { c.checked = on; });
  }
  void setVisible(int id, bool on) override {
    change(id, [on](Control& c) { c.visible = on; });
  }
  void limitText(int id, int bytes) override {
    change(id, [=](Control& c) { c.limit = bytes; });
  }
  void appendTrace(const std::string& text) override {
    locked([&] { trace_ += text; });
  }
  void clearTrace() override {
    locked([&] { trace_.clear(); });
  }
  void addComboItem(int id, const std::string& text) override {
    change(id, [&](Control& c) { c.items.push_back(text); });
  }
  void setComboSelection(int id, int index) override {
    change(id, [=](Control& c) { c.selection = index; });
  }
  int comboSelection(int id) const override { return control(id).selection; }
  void messageBox(const std::string& text) override {
    locked([&] { messageBoxes_.push_back(text); });
  }
  std::optional<std::string> chooseFile(const FileDialog& dialog) override;
  std::optional<std::string> askTitle(const std::string& current) override;
  void setCaption(const std::string& caption) override {
    locked([&] { caption_ = caption; });
  }
  void endModal(int result) override {
    locked([&] { modalResult_ = result; });
  }

  // Inspection and scripting
  Control control(int id) const;
  std::string trace() const {
    return locked([&] { return trace_; });
  }
  std::vector<std::string> messageBoxes() const {
    return locked([&] { return messageBoxes_; });
  }
  void clearMessageBoxes() {
    locked([&] { messageBoxes_.clear(); });
  }
  std::string caption() const {
    return locked([&] { return caption_; });
  }
  std::optional<int> modalResult() const {
    return locked([&] { return modalResult_; });
  }
  // The next file dialog returns `path` (nothing: the operator cancels).
  void answerFileDialog(std::optional<std::string> path) {
    locked([&] { fileAnswers_.push_back(std::move(path)); });
  }
  std::vector<FileDialog> fileDialogs() const {
    return locked([&] { return fileDialogs_; });
  }
  // The next title dialog returns `title` (nothing: cancel).
  void answerTitleDialog(std::optional<std::string> title) {
    locked([&] { titleAnswers_.push_back(std::move(title)); });
  }
  std::vector<std::string> titleDialogsShown() const {
    return locked([&] { return titleDialogs_; });
  }
  // `hook` runs on the calling thread before every setText, outside the table's lock: a test
  // parks a worker there, between its decision to update the window and the update.
  void onSetText(std::function<void(int id, const std::string& text)> hook) {
    locked([&] { setTextHook_ = std::move(hook); });
  }

 private:
  template <typename F>
  void change(int id, const F& f) {
    locked([&] { f(controls_[id]); });
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
  std::vector<std::string> titleDialogs_;
  std::function<void(int, const std::string&)> setTextHook_;
};

}  // namespace dravik::test
