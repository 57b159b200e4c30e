#include "ui/text_limits.h"

#include "monitor/typing_rules.h"
#include "platform/cp932.h"

namespace dravik::ui {
namespace {

std::string toCp932(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return cp932::fromUtf8(std::string_view(utf8.constData(), utf8.size()));
}

}  // namespace

TypingValidator::TypingValidator(QLineEdit* edit)
    : QValidator(edit), edit_(edit), before_(edit->text()) {
  // The edit asks the validator with the changed text already in place; the text before the
  // change is the one it last reported.
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { before_ = text; });
}

QValidator::State TypingValidator::validate(QString& input, int&) const {
  // Setting a text clears the edit's undo history, and Undo leaves something to redo: neither
  // is a change of the operator's. The edit keeps such a text even when told it is invalid,
  // and would then no longer undo a refused change, so it must be told it is acceptable.
  if (!edit_->isUndoAvailable() || edit_->isRedoAvailable()) return Acceptable;
  return takes(toCp932(before_), toCp932(input)) ? Acceptable : Invalid;
}

bool Cp932LimitValidator::takes(const std::string& before, const std::string& after) const {
  return limitedEditTaken(before, after, static_cast<std::size_t>(bytes_));
}

bool DigitsValidator::takes(const std::string& before, const std::string& after) const {
  return portEditTaken(before, after);
}

}  // namespace dravik::ui
