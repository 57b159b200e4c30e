#include "win32/drawing_objects.h"

#include "win32/resources.h"

namespace dravik::win32 {

namespace {

HICON programIcon(int metricX, int metricY) {
  // A shared icon of the program's own resources, never destroyed.
  return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(DRAVIK_ICON),
                                         IMAGE_ICON, ::GetSystemMetrics(metricX),
                                         ::GetSystemMetrics(metricY), LR_SHARED));
}

}  // namespace

COLORREF brushColour(Brush brush) {
  switch (brush) {
    case Brush::Gray:
      return RGB(127, 127, 127);
    case Brush::Red:
      return RGB(255, 0, 0);
    case Brush::Black:
      return RGB(0, 0, 0);
    case Brush::Default:
      break;
  }
  return CLR_INVALID;
}

DrawingObjects::DrawingObjects(HWND dialog)
    : red_(::CreateSolidBrush(brushColour(Brush::Red))),
      black_(::CreateSolidBrush(brushColour(Brush::Black))),
      gray_(::CreateSolidBrush(brushColour(Brush::Gray))) {
  ::SendMessageW(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(programIcon(SM_CXICON, SM_CYICON)));
  ::SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(programIcon(SM_CXSMICON, SM_CYSMICON)));
}

DrawingObjects::~DrawingObjects() {
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(red_), static_cast<HGDIOBJ>(black_),
                         static_cast<HGDIOBJ>(gray_), static_cast<HGDIOBJ>(statusFont_)}) {
    if (object) ::DeleteObject(object);
  }
}

HBRUSH DrawingObjects::brush(Brush brush) const {
  switch (brush) {
    case Brush::Gray:
      return gray_;
    case Brush::Red:
      return red_;
    case Brush::Black:
      return black_;
    case Brush::Default:
      break;
  }
  return nullptr;
}

void DrawingObjects::setStatusFont(HWND panel, UINT dpi) {
  LOGFONTW font{};
  // A point is 1/72 inch; a negative height asks for the character height without leading.
  font.lfHeight = -::MulDiv(kStatusFontPoints, static_cast<int>(dpi), 72);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  ::lstrcpynW(font.lfFaceName, kStatusFontName, LF_FACESIZE);
  const HFONT made = ::CreateFontIndirectW(&font);
  if (!made) return;
  ::SendMessageW(panel, WM_SETFONT, reinterpret_cast<WPARAM>(made), TRUE);
  if (statusFont_) ::DeleteObject(statusFont_);
  statusFont_ = made;
}

}  // namespace dravik::win32
