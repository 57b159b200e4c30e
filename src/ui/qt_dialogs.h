// The modal dialogs of the window: the file dialog with its filters and the title bar dialog.
// Each takes a hook that runs in place of the dialog's modal run, so that tests drive the
// dialog as set up and nothing blocks them.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string_view>

#include "monitor/view.h"

class QDialog;
class QFileDialog;
class QWidget;

namespace dravik::ui {

// Gets the file dialog set up and not shown; returns the chosen path or nothing.
using FileDialogHook = std::function<std::optional<QString>(QFileDialog& dialog)>;
// Gets the title dialog set up and not shown; drives it and accept()s or reject()s it.
using TitleDialogHook = std::function<void(QDialog& dialog)>;

// Qt filter strings from the "name|pattern|name|pattern||" form; a pattern matches its
// extension in upper and lower case, and "*.*" matches every file.
QStringList qtFilters(std::string_view filter);

// The chosen path, or nothing when the operator cancels. `initialPath` is the request's, as
// Unicode.
std::optional<QString> chooseFile(QWidget* parent, const View::FileDialog& request,
                                  const QString& initialPath, const FileDialogHook& hook);

// The text confirmed with OK, or nothing.
std::optional<QString> askTitle(QWidget* parent, const QString& current,
                                const TitleDialogHook& hook);

}  // namespace dravik::ui
