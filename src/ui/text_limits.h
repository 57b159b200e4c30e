// What the operator may type into an edit. Text set by the program is never checked.
#pragma once

#include <QValidator>

namespace dravik::ui {

// Refuses an edit whose text would exceed `bytes` bytes in CP932.
class Cp932LimitValidator : public QValidator {
 public:
  Cp932LimitValidator(int bytes, QObject* parent);
  State validate(QString& input, int& pos) const override;
  int limit() const { return bytes_; }

 private:
  int bytes_;
};

// Refuses any character but the digits 0-9.
class DigitsValidator : public QValidator {
 public:
  explicit DigitsValidator(QObject* parent) : QValidator(parent) {}
  State validate(QString& input, int& pos) const override;
};

}  // namespace dravik::ui
