#include "logging/trace.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "monitor/view.h"

namespace dravik {

void Trace::operator()(const char* format, ...) const {
  if (!enabled_) return;
  char line[kMaxBytes + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  view_.appendTrace(line);
}

void Trace::literal(std::string_view text) const {
  if (!enabled_) return;
  view_.appendTrace(std::string(text.substr(0, kMaxBytes)));
}

void Trace::clear() const {
  if (enabled_) view_.clearTrace();
}

}  // namespace dravik
