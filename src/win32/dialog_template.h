// Turns a window template into the in-memory dialog template (DLGTEMPLATEEX) that
// DialogBoxIndirectParamW builds a modal dialog from: the same controls, identifiers, rectangles
// in dialog units, styles and tab order, in the dialog font the layout was drawn with. The
// dialog manager then does what the Qt window does by hand: dialog units become pixels through
// the font's base units, and Tab, the mnemonics and the default button work.
#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

#include "window/window_template.h"

namespace dravik::win32 {

// What kind of window a template becomes.
enum class Frame {
  Main,   // the program's window, with its own task-bar button
  Owned,  // a dialog of the main window
};

// A DLGTEMPLATEEX with its items, laid out and aligned as the dialog manager reads it.
class DialogTemplate {
 public:
  DialogTemplate(const window::WindowTemplate& tmpl, Frame frame);
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void word(WORD value) { words_.push_back(value); }
  void dword(DWORD value);
  // Coordinates and sizes are signed words.
  void coordinate(int value) { word(static_cast<WORD>(static_cast<short>(value))); }
  // UTF-8 text as zero-terminated UTF-16.
  void text(std::string_view utf8);
  // Items start on a DWORD boundary.
  void alignToDword();

  // DWORD-aligned storage, so that the DWORDs of the template are aligned too.
  std::vector<WORD> words_;
};

// The stand-in fonts run a little wider than the ones the layout was drawn with, and a
// caption (a static without an identifier) that does not fit would be cut; each has free room
// to its right, so it is widened to show whole. Called once the dialog's controls exist.
void widenCaptions(HWND dialog);

}  // namespace dravik::win32
