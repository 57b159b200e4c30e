#include "ui/qt_dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "ui/text_limits.h"
#include "ui/window_builder.h"
#include "window/window_template.h"

namespace dravik::ui {

namespace {

// The title dialog's typing limit in CP932 bytes.
constexpr int kTitleBytes = 50;

QString latin(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QStringList qtFilters(std::string_view filter) {
  QStringList filters;
  const QStringList parts = latin(filter).split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i].trimmed();
    const QString patterns = parts[i + 1];
    if (name.isEmpty() && patterns.isEmpty()) break;
    // Qt reads the patterns from the name's own parentheses; ours replace them.
    const qsizetype open = name.lastIndexOf(QLatin1Char('('));
    if (open > 0 && name.endsWith(QLatin1Char(')'))) name = name.left(open).trimmed();
    QStringList globs;
    for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString glob = pattern.trimmed();
      if (glob == QStringLiteral("*.*")) {
        globs << QStringLiteral("*");
        continue;
      }
      for (const QString& cased : {glob, glob.toUpper(), glob.toLower()}) {
        if (!globs.contains(cased)) globs << cased;
      }
    }
    filters << QStringLiteral("%1 (%2)").arg(name, globs.join(QLatin1Char(' ')));
  }
  return filters;
}

std::optional<QString> chooseFile(QWidget* parent, const View::FileDialog& request,
                                  const QString& initialPath, const FileDialogHook& hook) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(latin(request.defaultExtension));
  dialog.setNameFilters(qtFilters(request.filter));
  if (!initialPath.isEmpty()) {
    const QFileInfo initial(initialPath);
    dialog.setDirectory(initial.absolutePath());
    dialog.selectFile(initial.fileName());
  }
  if (hook) return hook(dialog);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    return dialog.selectedFiles().first();
  }
  return std::nullopt;
}

std::optional<QString> askTitle(QWidget* parent, const QString& current,
                                const TitleDialogHook& hook) {
  QDialog dialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  const BuiltWindow parts = buildWindow(dialog, window::titleDialogTemplate(), {});
  auto* field = qobject_cast<QLineEdit*>(parts.byId.at(window::kTitleField));
  field->setText(current);
  field->setValidator(new Cp932LimitValidator(kTitleBytes, field));
  field->selectAll();
  field->setFocus();
  QObject::connect(qobject_cast<QPushButton*>(parts.byId.at(window::kOkButton)),
                   &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(qobject_cast<QPushButton*>(parts.byId.at(window::kCancelButton)),
                   &QPushButton::clicked, &dialog, &QDialog::reject);
  if (hook) {
    hook(dialog);
  } else {
    dialog.exec();
  }
  if (dialog.result() != QDialog::Accepted) return std::nullopt;
  return field->text();
}

}  // namespace dravik::ui
