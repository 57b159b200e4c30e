#include "ui/key_filter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <utility>

namespace dravik::ui {

KeyFilter::KeyFilter(const QWidget& window, std::function<void()> onEscape)
    : window_(window), onEscape_(std::move(onEscape)) {
  qApp->installEventFilter(this);
}

KeyFilter::~KeyFilter() {
  qApp->removeEventFilter(this);
}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != &window_) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
    onEscape_();
    return true;
  }
  // Enter stays an ordinary key of the focused control: a multi-line field gets its newline,
  // a line edit ignores it, and a button, which would take it as a click, never sees it.
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    return qobject_cast<QAbstractButton*>(widget) != nullptr;
  }
  return false;
}

}  // namespace dravik::ui
