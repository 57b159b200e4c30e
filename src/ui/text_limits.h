// What the operator may type into an edit. Text set by the program is never checked, and the
// limits are on typing: an edit that makes the text shorter is always taken, so a longer text
// that came from a settings file can still be shortened.
#pragma once

#include <QLineEdit>
#include <QValidator>

namespace dravik::ui {

// The rule of one edit, kept from the edit's text before each change.
class TypingValidator : public QValidator {
 public:
  explicit TypingValidator(QLineEdit* edit);
  State validate(QString& input, int& pos) const final;

 protected:
  // How long `text` is in the measure of the rule.
  virtual qsizetype length(const QString& text) const = 0;
  // Whether `text`, no shorter than before, may stand in the edit.
  virtual bool allows(const QString& text) const = 0;

 private:
  QString before_;
};

// Refuses an edit that makes the text longer than `bytes` bytes in CP932.
class Cp932LimitValidator : public TypingValidator {
 public:
  Cp932LimitValidator(int bytes, QLineEdit* edit) : TypingValidator(edit), bytes_(bytes) {}
  int limit() const { return bytes_; }

 protected:
  qsizetype length(const QString& text) const override;
  bool allows(const QString& text) const override { return length(text) <= bytes_; }

 private:
  int bytes_;
};

// Refuses any character but the digits 0-9.
class DigitsValidator : public TypingValidator {
 public:
  explicit DigitsValidator(QLineEdit* edit) : TypingValidator(edit) {}

 protected:
  qsizetype length(const QString& text) const override { return text.size(); }
  bool allows(const QString& text) const override;
};

}  // namespace dravik::ui
