// The drawing objects the main window owns: the solid brushes that paint the lamps and the
// status panel, the status panel's font, and the program's icon.
#pragma once

#include <windows.h>

#include "monitor/brush.h"

namespace dravik::win32 {

// The status panel's font, by its Windows name: 18 point "ＭＳ ゴシック".
inline constexpr wchar_t kStatusFontName[] = L"ＭＳ ゴシック";
inline constexpr int kStatusFontPoints = 18;

// The colour a brush paints with; CLR_INVALID for Brush::Default.
COLORREF brushColour(Brush brush);

class DrawingObjects {
 public:
  // Creates the brushes and gives `dialog` the program's icon, large and small.
  explicit DrawingObjects(HWND dialog);
  ~DrawingObjects();
  DrawingObjects(const DrawingObjects&) = delete;
  DrawingObjects& operator=(const DrawingObjects&) = delete;

  // The solid brush of `brush`; nullptr for Brush::Default.
  HBRUSH brush(Brush brush) const;
  // Gives `panel` the status font made for `dpi` dots per inch (at start, and again when the
  // window moves to a monitor of another resolution), and frees the one it had.
  void setStatusFont(HWND panel, UINT dpi);

 private:
  HBRUSH red_;
  HBRUSH black_;
  HBRUSH gray_;
  HFONT statusFont_ = nullptr;
};

}  // namespace dravik::win32
