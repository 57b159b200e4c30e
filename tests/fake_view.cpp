#include "fake_view.h"

namespace dravik::test {

namespace {

// The next scripted answer; nothing (cancel) when the script has run out.
std::optional<std::string> nextAnswer(std::deque<std::optional<std::string>>& answers) {
  if (answers.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(answers.front());
  answers.pop_front();
  return answer;
}

}  // namespace

void FakeView::setText(int id, const std::string& text) {
  const auto hook = locked([&] { return setTextHook_; });
  if (hook) hook(id, text);
  set(id, &Control::text, text);
}

std::optional<std::string> FakeView::chooseFile(const FileDialog& dialog) {
  return locked([&] {
    fileDialogs_.push_back(dialog);
    return nextAnswer(fileAnswers_);
  });
}

std::optional<std::string> FakeView::askTitle(const std::string&) {
  return locked([&] { return nextAnswer(titleAnswers_); });
}

FakeView::Control FakeView::control(int id) const {
  return locked([&] {
    const auto found = controls_.find(id);
    return found == controls_.end() ? Control{} : found->second;
  });
}

}  // namespace dravik::test
