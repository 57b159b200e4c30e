// The main window and the title bar dialog of each program as data: every control with its
// identifier, kind, style, rectangle in dialog units and template text, in tab order. Both
// windows are built from these tables, the Qt one on Linux and the Win32 one on Windows, so
// they name no toolkit.
#pragma once

#include <span>
#include <string_view>

#include "engine/variant_profile.h"

namespace dravik::window {

inline constexpr int kNoId = -1;

enum class ControlKind {
  PushButton,
  Label,  // static text
  Lamp,   // static with a sunken edge, painted with the monitor's brush
  GroupBox,
  Separator,  // etched horizontal line
  Edit,
  CheckBox,
  ComboBox,  // drop-down list
};

// Style flags; which apply depends on the kind.
enum Style : unsigned {
  kNone = 0,
  kAlignCenter = 1u << 0,  // labels: centred both ways
  kAlignRight = 1u << 1,   // labels
  kBorder = 1u << 2,       // labels and edits
  kDigitsOnly = 1u << 3,   // edits
  kMultiLine = 1u << 4,    // edits
  kReadOnly = 1u << 5,     // edits
  kVScroll = 1u << 6,      // edits: vertical scroll bar
  kDefaultButton = 1u << 7,
};

struct Rect {
  int x, y, w, h;  // dialog units
};

struct ControlTemplate {
  int id;  // kNoId for captions, group boxes and separators
  ControlKind kind;
  unsigned style;
  Rect rect;
  std::string_view text;  // UTF-8; '&' marks a mnemonic
};

struct WindowTemplate {
  std::string_view caption;
  int width, height;                          // dialog units
  std::span<const ControlTemplate> controls;  // tab order
};

// The main window of the program with `profile`.
const WindowTemplate& mainWindowTemplate(const VariantProfile& profile);

// The title bar dialog, the same in both programs.
const WindowTemplate& titleDialogTemplate();

// Identifier of the title dialog's text field (the same number serves a label in the main
// window; the two windows are separate).
inline constexpr int kTitleField = 1018;
inline constexpr int kOkButton = 1;
inline constexpr int kCancelButton = 2;

}  // namespace dravik::window
