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
  std::string text(int id) const override;
  void enable(int id, bool enabled) override;
  void repaint(int id) override;
  bool isChecked(int id) const override;
  void setChecked(int id, bool checked) override;
  void setVisible(int id, bool visible) override;
  void limitText(int id, int bytes) override;
  void appendTrace(const std::string& text) override;
  void clearTrace() override;
  void addComboItem(int id, const std::string& text) override;
  void setComboSelection(int id, int index) override;
  int comboSelection(int id) const override;
  void messageBox(const std::string& text) override;
  std::optional<std::string> chooseFile(const FileDialog& dialog) override;
  std::optional<std::string> askTitle(const std::string& current) override;
  void setCaption(const std::string& caption) override;
  void endModal(int result) override;

  // Inspection and scripting
  Control control(int id) const;
  std::string trace() const;
  std::vector<std::string> messageBoxes() const;
  void clearMessageBoxes();
  std::string caption() const;
  std::optional<int> modalResult() const;
  // The next file dialog returns `path` (nothing: the operator cancels).
  void answerFileDialog(std::optional<std::string> path);
  std::vector<FileDialog> fileDialogs() const;
  // The next title dialog returns `title` (nothing: cancel).
  void answerTitleDialog(std::optional<std::string> title);
  std::vector<std::string> titleDialogsShown() const;
  // `hook` runs on the calling thread before every setText, outside the table's lock: a test
  // parks a worker there, between its decision to update the window and the update.
  void onSetText(std::function<void(int id, const std::string& text)> hook);

 private:
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
