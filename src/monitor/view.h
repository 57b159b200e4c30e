// Everything the monitor needs from its window, keyed by the control identifiers of the
// window templates. No Qt type crosses this line: the Qt window implements it, and the tests
// implement it with an in-memory table of controls.
//
// Texts are CP932 bytes. Calls that change a control may come from any thread and return
// without waiting for the window's thread; calls that read a control (text, isChecked,
// comboSelection) and the modal calls are made on the window's thread only, except
// messageBox, which a receiver thread may call and which then waits for the operator.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "logging/trace.h"

namespace dravik {

// The trace pane is part of the window: appendTrace and clearTrace.
class View : public TracePane {
 public:
  virtual ~View() = default;

  // Sets a control's text (also a push button's caption and a static's text).
  virtual void setText(int id, const std::string& text) = 0;
  // The control's current text, whole.
  virtual std::string text(int id) const = 0;
  virtual void enable(int id, bool enabled) = 0;
  // Asks for a repaint with background erase; the control asks for its colour again.
  virtual void repaint(int id) = 0;
  virtual bool isChecked(int id) const = 0;
  virtual void setChecked(int id, bool checked) = 0;
  virtual void setVisible(int id, bool visible) = 0;
  // Limits what the operator can type, in CP932 bytes; text set by the program may be longer.
  virtual void limitText(int id, int bytes) = 0;

  virtual void addComboItem(int id, const std::string& text) = 0;
  virtual void setComboSelection(int id, int index) = 0;
  virtual int comboSelection(int id) const = 0;

  // Modal message box with an OK button, captioned with the program's name.
  virtual void messageBox(const std::string& text) = 0;

  struct FileDialog {
    bool save = false;                  // save (with overwrite question) or open
    std::string_view defaultExtension;  // added when the operator types a name without one
    std::string initialPath;
    std::string_view filter;  // "name|pattern|name|pattern||"
  };
  // Modal file dialog; the chosen full path, or nothing when the operator cancels.
  virtual std::optional<std::string> chooseFile(const FileDialog& dialog) = 0;

  // The title bar dialog showing `current`; the text confirmed with OK, or nothing.
  virtual std::optional<std::string> askTitle(const std::string& current) = 0;

  // The main window's caption.
  virtual void setCaption(const std::string& caption) = 0;
  // Ends the main window's modal run with `result` (-1 when no adapter was found).
  virtual void endModal(int result) = 0;
};

}  // namespace dravik
