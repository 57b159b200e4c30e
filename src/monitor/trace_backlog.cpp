#include "monitor/trace_backlog.h"

#include <cstdio>

namespace dravik {

void TraceBacklog::append(std::string_view text, bool endsPiece) {
  if (text.empty()) return;
  while (!text.empty()) {
    const std::size_t lineEnd = text.find('\n');
    const std::size_t length = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
    Entry& entry = count_ == 0 || at(count_ - 1).closed() ? pushEntry() : at(count_ - 1);
    entry.text.append(text.substr(0, length));
    text.remove_prefix(length);
  }
  at(count_ - 1).endsPiece = endsPiece;
}

TraceBacklog::Entry& TraceBacklog::pushEntry() {
  if (ring_.empty()) ring_.resize(maxLines_);
  // Once lines are dropped, one line of the bound goes to saying so.
  const std::size_t room = dropped_ > 0 ? maxLines_ - 1 : maxLines_;
  if (count_ + 1 > room) {
    while (count_ + 2 > maxLines_) {
      Entry& oldest = at(0);
      oldest.text.clear();
      oldest.endsPiece = false;
      first_ = (first_ + 1) % maxLines_;
      --count_;
      ++dropped_;
    }
  }
  ++count_;
  return at(count_ - 1);
}

void TraceBacklog::clear() {
  for (std::size_t i = 0; i < count_; ++i) at(i) = Entry{};
  first_ = 0;
  count_ = 0;
  dropped_ = 0;
}

std::string TraceBacklog::takePiece() {
  std::string piece;
  if (dropped_ > 0) {
    char note[64];
    std::snprintf(note, sizeof note, "trace: %zu lines dropped\r\n", dropped_);
    piece = note;
    dropped_ = 0;
  }
  std::size_t taken = 0;
  std::size_t bytes = piece.size();
  while (taken < count_) {
    const Entry& entry = at(taken++);
    bytes += entry.text.size();
    if (entry.endsPiece) break;
  }
  piece.reserve(bytes);
  for (std::size_t i = 0; i < taken; ++i) {
    Entry& entry = at(i);
    piece += entry.text;
    entry.text.clear();
    entry.endsPiece = false;
  }
  first_ = (first_ + taken) % maxLines_;
  count_ -= taken;
  return piece;
}

}  // namespace dravik
