// What the operator may type into an edit. Only the operator's changes are held to a rule; a
// text the program sets (one from a settings file) stands as it is, and so does one that Undo
// brings back, having stood in the edit before.
#pragma once

#include <QLineEdit>
#include <QValidator>
#include <string>

namespace dravik::ui {

// The rule of one edit, judged from the edit's text before each change.
class TypingValidator : public QValidator {
 public:
  explicit TypingValidator(QLineEdit* edit);
  State validate(QString& input, int& pos) const final;

 protected:
  // Whether the operator's change from `before` to `after` (CP932 bytes) is taken.
  virtual bool takes(const std::string& before, const std::string& after) const = 0;

 private:
  QLineEdit* edit_;
  QString before_;
};

// Refuses a change that makes the text longer than `bytes` bytes in CP932.
class Cp932LimitValidator : public TypingValidator {
 public:
  Cp932LimitValidator(int bytes, QLineEdit* edit) : TypingValidator(edit), bytes_(bytes) {}
  int limit() const { return bytes_; }

 protected:
  bool takes(const std::string& before, const std::string& after) const override;

 private:
  int bytes_;
};

// Refuses a change that puts in any character but the digits 0-9.
class DigitsValidator : public TypingValidator {
 public:
  explicit DigitsValidator(QLineEdit* edit) : TypingValidator(edit) {}

 protected:
  bool takes(const std::string& before, const std::string& after) const override;
};

}  // namespace dravik::ui
