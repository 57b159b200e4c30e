// What the operator may type into an edit, judged from the edit's text before and after a
// change (CP932 bytes), so that every window applies the same rules. Only the operator's edits
// are judged: a text the program shows (one from a settings file) stands as it is.
#pragma once

#include <cstddef>
#include <string_view>

namespace dravik {

// A port edit takes digits only: a change is taken when what it puts in is nothing but the
// digits 0-9, whether typed, pasted or put over a selection. What it removes does not matter,
// so a non-digit the program showed can still be deleted, but no change adds one.
bool portEditTaken(std::string_view before, std::string_view after);

// A name or title edit holds `bytes` bytes: a change that makes the text shorter is always
// taken, so a longer text the program showed can still be shortened; any other only when the
// text fits.
bool limitedEditTaken(std::string_view before, std::string_view after, std::size_t bytes);

}  // namespace dravik
