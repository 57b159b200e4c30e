// Trace text waiting for the window, bounded like the pane it goes to. Receivers can trace far
// faster than the window shows text (one line per terminator byte a unit sends); only the
// newest lines wait, and the text taken next says how many older ones were dropped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dravik {

class TraceBacklog {
 public:
  // Holds at most `maxLines` lines (at least 2), the line telling of dropped ones included.
  explicit TraceBacklog(std::size_t maxLines) : maxLines_(maxLines) {}

  // Appends one trace. `endsPiece`: the trace must be shown apart from what follows it (it
  // ends on a lead byte or a carriage return that the next trace's first byte would complete).
  void append(std::string_view text, bool endsPiece);
  void clear();
  bool empty() const { return count_ == 0 && dropped_ == 0; }
  // Takes the oldest waiting text up to the first trace that ends a piece, joined; after lines
  // were dropped it starts with one line saying how many.
  std::string takePiece();

 private:
  // A line with its line end, or the part of one that has arrived so far.
  struct Entry {
    std::string text;
    bool endsPiece = false;
    bool closed() const { return endsPiece || (!text.empty() && text.back() == '\n'); }
  };
  Entry& at(std::size_t i) { return ring_[(first_ + i) % maxLines_]; }
  Entry& pushEntry();

  std::size_t maxLines_;
  // Sized when the first trace arrives; entries keep their capacity for the lines after them.
  std::vector<Entry> ring_;
  std::size_t first_ = 0;
  std::size_t count_ = 0;
  std::size_t dropped_ = 0;
};

}  // namespace dravik
