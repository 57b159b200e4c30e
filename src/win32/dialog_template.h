// Turns a window template into the in-memory dialog template (DLGTEMPLATEEX) that
// DialogBoxIndirectParamW builds a modal dialog from: the same controls, identifiers, rectangles
// in dialog units, styles and tab order, in the dialog font the layout was drawn with. The
// dialog manager then does what the Qt window does by hand: dialog units become pixels through
// the font's base units, and Tab, the mnemonics and the default button work.
#pragma once

#include <windows.h>

#include <vector>

#include "window/window_template.h"

namespace dravik::win32 {

// The dialog font, by its Windows name: 9 point "ＭＳ Ｐゴシック".
inline constexpr wchar_t kDialogFontName[] = L"ＭＳ Ｐゴシック";
inline constexpr WORD kDialogFontPoints = 9;

// Predefined window classes, as a dialog template names them.
inline constexpr WORD kButtonClass = 0x0080;
inline constexpr WORD kEditClass = 0x0081;
inline constexpr WORD kStaticClass = 0x0082;
inline constexpr WORD kComboBoxClass = 0x0085;

// How one control of a template is made.
struct ControlClass {
  WORD atom;  // one of the predefined classes above
  DWORD style;
  DWORD exStyle;

  bool operator==(const ControlClass&) const = default;
};
ControlClass controlClass(const window::ControlTemplate& control);

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
