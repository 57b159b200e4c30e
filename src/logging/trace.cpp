#include "logging/trace.h"

#include <cstdarg>
#include <cstdio>

namespace dravik {

void Trace::operator()(const char* format, ...) const {
  if (!enabled_) return;
  char line[kMaxBytes + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  pane_.appendTrace(line);
}

void Trace::literal(std::string_view text) const {
  if (!enabled_) return;
  pane_.appendTrace(std::string(text.substr(0, kMaxBytes)));
}

void Trace::clear() const {
  if (enabled_) pane_.clearTrace();
}

}  // namespace dravik
