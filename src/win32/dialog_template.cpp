#include "win32/dialog_template.h"

#include <iterator>
#include <string>

#include "win32/wide_text.h"

namespace dravik::win32 {

namespace {

using window::ControlKind;

// The dialog font, by its Windows name: 9 point "ＭＳ Ｐゴシック".
constexpr wchar_t kDialogFontName[] = L"ＭＳ Ｐゴシック";
constexpr WORD kDialogFontPoints = 9;

// Predefined window classes, as a dialog template names them.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kComboBoxClass = 0x0085;

// How one control of a template is made.
struct ControlClass {
  WORD atom;  // one of the predefined classes above
  DWORD style;
  DWORD exStyle;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

DWORD editStyle(unsigned style) {
  DWORD edit = kChild | WS_TABSTOP;
  if (style & window::kBorder) edit |= WS_BORDER;
  if (style & window::kReadOnly) edit |= ES_READONLY;
  if (style & window::kDigitsOnly) edit |= ES_NUMBER;
  if (!(style & window::kMultiLine)) return edit | ES_AUTOHSCROLL;
  // The trace pane scrolls to what is appended; the log file field wraps a long path and keeps
  // Enter for itself, as a multi-line field of a dialog does.
  edit |= ES_MULTILINE;
  return edit | ((style & window::kVScroll) ? WS_VSCROLL | ES_AUTOVSCROLL : ES_WANTRETURN);
}

DWORD staticAlignment(unsigned style) {
  if (style & window::kAlignCenter) return SS_CENTER | SS_CENTERIMAGE;
  if (style & window::kAlignRight) return SS_RIGHT;
  return SS_LEFT;
}

ControlClass controlClass(const window::ControlTemplate& c) {
  switch (c.kind) {
    case ControlKind::PushButton:
      return {kButtonClass,
              kChild | WS_TABSTOP |
                  ((c.style & window::kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON),
              0};
    case ControlKind::Label:
      return {kStaticClass,
              kChild | WS_GROUP | staticAlignment(c.style) |
                  ((c.style & window::kBorder) ? WS_BORDER : 0),
              0};
    case ControlKind::Lamp:
      return {kStaticClass, kChild | WS_GROUP | SS_LEFT, WS_EX_STATICEDGE};
    case ControlKind::GroupBox:
      return {kButtonClass, kChild | BS_GROUPBOX, 0};
    case ControlKind::Separator:
      return {kStaticClass, kChild | SS_ETCHEDHORZ, 0};
    case ControlKind::Edit:
      return {kEditClass, editStyle(c.style), 0};
    case ControlKind::CheckBox:
      return {kButtonClass, kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case ControlKind::ComboBox:
      // Not sorted: the adapters keep the order of the adapter table.
      return {kComboBoxClass, kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0};
  }
  return {kStaticClass, kChild, 0};
}

}  // namespace

void DialogTemplate::dword(DWORD value) {
  word(LOWORD(value));
  word(HIWORD(value));
}

void DialogTemplate::text(std::string_view utf8) {
  for (wchar_t unit : fromUtf8(utf8)) word(static_cast<WORD>(unit));
  word(0);
}

void DialogTemplate::alignToDword() {
  if (words_.size() % 2 != 0) word(0);
}

DialogTemplate::DialogTemplate(const window::WindowTemplate& tmpl, Frame frame) {
  // Fixed size: no minimise or maximise box, no sizing border. The main window opens at the
  // top left of the screen, where its template places it; a dialog of it over its middle.
  const DWORD style = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                      (frame == Frame::Owned ? DS_CENTER : 0);
  word(1);  // DLGTEMPLATEEX version
  word(0xFFFF);
  dword(0);  // help id
  dword(frame == Frame::Main ? WS_EX_APPWINDOW : 0);
  dword(style);
  word(static_cast<WORD>(tmpl.controls.size()));
  coordinate(0);
  coordinate(0);
  coordinate(tmpl.width);
  coordinate(tmpl.height);
  word(0);  // no menu
  word(0);  // the dialog class
  text(tmpl.caption);
  word(kDialogFontPoints);
  word(FW_NORMAL);
  word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // not italic; the default character set
  for (const wchar_t* c = kDialogFontName; *c != L'\0'; ++c) word(static_cast<WORD>(*c));
  word(0);

  for (const window::ControlTemplate& c : tmpl.controls) {
    const ControlClass made = controlClass(c);
    alignToDword();
    dword(0);  // help id
    dword(made.exStyle);
    dword(made.style);
    coordinate(c.rect.x);
    coordinate(c.rect.y);
    coordinate(c.rect.w);
    coordinate(c.rect.h);
    dword(static_cast<DWORD>(c.id));  // kNoId becomes 0xFFFFFFFF, the static's usual -1
    word(0xFFFF);
    word(made.atom);
    text(c.text);
    word(0);  // no creation data
  }
}

void widenCaptions(HWND dialog) {
  const HDC dc = ::GetDC(dialog);
  for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
    wchar_t name[16] = {};
    ::GetClassNameW(c, name, static_cast<int>(std::size(name)));
    const LONG style = ::GetWindowLongW(c, GWL_STYLE);
    if (::GetDlgCtrlID(c) != window::kNoId || ::lstrcmpiW(name, L"Static") != 0 ||
        (style & SS_TYPEMASK) != SS_LEFT) {
      continue;
    }
    const std::wstring text = windowText(c);
    const HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(c, WM_GETFONT, 0, 0)));
    RECT needed{};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &needed,
                DT_CALCRECT | DT_SINGLELINE);
    ::SelectObject(dc, old);
    RECT shown;
    ::GetClientRect(c, &shown);
    if (needed.right > shown.right) {
      ::SetWindowPos(c, nullptr, 0, 0, needed.right, shown.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  ::ReleaseDC(dialog, dc);
}

}  // namespace dravik::win32
