#include "ui/text_limits.h"

#include "platform/cp932.h"

namespace dravik::ui {

Cp932LimitValidator::Cp932LimitValidator(int bytes, QObject* parent)
    : QValidator(parent), bytes_(bytes) {}

QValidator::State Cp932LimitValidator::validate(QString& input, int&) const {
  const QByteArray utf8 = input.toUtf8();
  const std::size_t size = cp932::fromUtf8(std::string_view(utf8.constData(), utf8.size())).size();
  return size <= static_cast<std::size_t>(bytes_) ? Acceptable : Invalid;
}

QValidator::State DigitsValidator::validate(QString& input, int&) const {
  for (QChar c : input) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return Invalid;
  }
  return Acceptable;
}

}  // namespace dravik::ui
