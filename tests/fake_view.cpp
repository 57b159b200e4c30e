#include "fake_view.h"

namespace dravik::test {

void FakeView::setText(int id, const std::string& text) {
  std::function<void(int, const std::string&)> hook;
  {
    std::lock_guard lock(mutex_);
    hook = setTextHook_;
  }
  if (hook) hook(id, text);
  std::lock_guard lock(mutex_);
  controls_[id].text = text;
}

void FakeView::onSetText(std::function<void(int id, const std::string& text)> hook) {
  std::lock_guard lock(mutex_);
  setTextHook_ = std::move(hook);
}

std::string FakeView::text(int id) const {
  return control(id).text;
}

void FakeView::enable(int id, bool enabled) {
  std::lock_guard lock(mutex_);
  controls_[id].enabled = enabled;
}

void FakeView::repaint(int id) {
  std::lock_guard lock(mutex_);
  ++controls_[id].repaints;
}

bool FakeView::isChecked(int id) const {
  return control(id).checked;
}

void FakeView::setChecked(int id, bool checked) {
  std::lock_guard lock(mutex_);
  controls_[id].checked = checked;
}

void FakeView::setVisible(int id, bool visible) {
  std::lock_guard lock(mutex_);
  controls_[id].visible = visible;
}

void FakeView::limitText(int id, int bytes) {
  std::lock_guard lock(mutex_);
  controls_[id].limit = bytes;
}

void FakeView::appendTrace(const std::string& text) {
  std::lock_guard lock(mutex_);
  trace_ += text;
}

void FakeView::clearTrace() {
  std::lock_guard lock(mutex_);
  trace_.clear();
}

void FakeView::addComboItem(int id, const std::string& text) {
  std::lock_guard lock(mutex_);
  controls_[id].items.push_back(text);
}

void FakeView::setComboSelection(int id, int index) {
  std::lock_guard lock(mutex_);
  controls_[id].selection = index;
}

int FakeView::comboSelection(int id) const {
  return control(id).selection;
}

void FakeView::messageBox(const std::string& text) {
  std::lock_guard lock(mutex_);
  messageBoxes_.push_back(text);
}

std::optional<std::string> FakeView::chooseFile(const FileDialog& dialog) {
  std::lock_guard lock(mutex_);
  fileDialogs_.push_back(dialog);
  if (fileAnswers_.empty()) return std::nullopt;
  std::optional<std::string> answer = fileAnswers_.front();
  fileAnswers_.pop_front();
  return answer;
}

std::optional<std::string> FakeView::askTitle(const std::string& current) {
  std::lock_guard lock(mutex_);
  titleDialogs_.push_back(current);
  if (titleAnswers_.empty()) return std::nullopt;
  std::optional<std::string> answer = titleAnswers_.front();
  titleAnswers_.pop_front();
  return answer;
}

void FakeView::setCaption(const std::string& caption) {
  std::lock_guard lock(mutex_);
  caption_ = caption;
}

void FakeView::endModal(int result) {
  std::lock_guard lock(mutex_);
  modalResult_ = result;
}

FakeView::Control FakeView::control(int id) const {
  std::lock_guard lock(mutex_);
  auto it = controls_.find(id);
  return it == controls_.end() ? Control{} : it->second;
}

std::string FakeView::trace() const {
  std::lock_guard lock(mutex_);
  return trace_;
}

std::vector<std::string> FakeView::messageBoxes() const {
  std::lock_guard lock(mutex_);
  return messageBoxes_;
}

void FakeView::clearMessageBoxes() {
  std::lock_guard lock(mutex_);
  messageBoxes_.clear();
}

std::string FakeView::caption() const {
  std::lock_guard lock(mutex_);
  return caption_;
}

std::optional<int> FakeView::modalResult() const {
  std::lock_guard lock(mutex_);
  return modalResult_;
}

void FakeView::answerFileDialog(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  fileAnswers_.push_back(std::move(path));
}

std::vector<View::FileDialog> FakeView::fileDialogs() const {
  std::lock_guard lock(mutex_);
  return fileDialogs_;
}

void FakeView::answerTitleDialog(std::optional<std::string> title) {
  std::lock_guard lock(mutex_);
  titleAnswers_.push_back(std::move(title));
}

std::vector<std::string> FakeView::titleDialogsShown() const {
  std::lock_guard lock(mutex_);
  return titleDialogs_;
}

}  // namespace dravik::test
