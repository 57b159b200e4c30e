#include "ui/text_limits.h"

#include "platform/cp932.h"

namespace dravik::ui {

TypingValidator::TypingValidator(QLineEdit* edit) : QValidator(edit), before_(edit->text()) {
  // The edit asks the validator with the changed text already in place; the text before the
  // change is the one it last reported.
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { before_ = text; });
}

QValidator::State TypingValidator::validate(QString& input, int&) const {
  if (length(input) < length(before_) || allows(input)) return Acceptable;
  return Invalid;
}

qsizetype Cp932LimitValidator::length(const QString& text) const {
  const QByteArray utf8 = text.toUtf8();
  return static_cast<qsizetype>(
      cp932::fromUtf8(std::string_view(utf8.constData(), utf8.size())).size());
}

bool DigitsValidator::allows(const QString& text) const {
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  }
  return true;
}

}  // namespace dravik::ui
