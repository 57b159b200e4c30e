// The window's keyboard rules, watched for the whole application: Escape cancels, and Enter
// never clicks a button.
#pragma once

#include <QObject>
#include <functional>

class QWidget;

namespace dravik::ui {

class KeyFilter : public QObject {
 public:
  // Watches key presses in `window` and its children until destroyed; `onEscape` runs for an
  // Escape without modifiers.
  KeyFilter(const QWidget& window, std::function<void()> onEscape);
  ~KeyFilter() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const QWidget& window_;
  std::function<void()> onEscape_;
};

}  // namespace dravik::ui
