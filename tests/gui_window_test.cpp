// The Qt window built from its templates, and what the operator types, clicks and presses.
#include "gui_test_support.h"
#include "platform/cp932.h"

namespace dravik::test {
namespace {

// Types `text` as the operator would, also characters no key names.
void type(QWidget* widget, const QString& text) {
  for (QChar c : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, c, {});
}

void press(QWidget* widget, std::initializer_list<Qt::Key> keys) {
  for (Qt::Key key : keys) QTest::keyClick(widget, key);
}

using EachVariant = PerVariant;
INSTANTIATE_TEST_SUITE_P(Gui, EachVariant, testing::Values(&kVariantA, &kVariantB), variantName);

TEST_P(EachVariant, WindowHoldsItsTemplateControlsInTabOrderAtAFixedSize) {
  GuiRig rig(*GetParam());
  const bool a = GetParam()->hasOutputs();
  QWidget& window = rig.view().window();
  const auto& controls = rig.view().built().controls;
  ASSERT_EQ(window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), a ? 55 : 47)
      << "every template row, no more";
  std::vector<QWidget*> tabStops;
  for (const ui::BuiltControl& c : controls) {
    if (c.widget->focusPolicy() & Qt::TabFocus) tabStops.push_back(c.widget);
    const bool lamp = c.source->kind == ui::ControlKind::Lamp;
    if (!lamp && c.source->kind != ui::ControlKind::Separator) continue;
    EXPECT_EQ(qobject_cast<QFrame*>(c.widget)->frameStyle(),
              (lamp ? QFrame::Panel : QFrame::HLine) | QFrame::Sunken)
        << "a sunken lamp or line, control " << c.source->id;
  }
  EXPECT_FALSE(rig.widget<QComboBox>(ctl::kAdapterCombo)->isEditable());
  std::vector<QWidget*> chain;
  for (QWidget* w = tabStops.front(); chain.size() < tabStops.size(); w = w->nextInFocusChain()) {
    if (w->parentWidget() == &window && (w->focusPolicy() & Qt::TabFocus)) chain.push_back(w);
  }
  EXPECT_EQ(chain, tabStops) << "the focus chain runs through the controls in template order";

  QLabel* portCaption = nullptr;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text().contains(u("(&P)"))) portCaption = label;
  }
  ASSERT_TRUE(portCaption);
  EXPECT_EQ(portCaption->buddy(), rig.view().control(kSlotControls[0].portEdit)) << "Alt+P";

  EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the window cannot be resized";
  const ui::BaseUnits units = ui::baseUnits(window.font());
  EXPECT_NEAR(window.width(), 263 * units.x / 4, 1);
  EXPECT_NEAR(window.height(), (a ? 428 : 357) * units.y / 8, 1);
  EXPECT_FALSE(window.windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

TEST(GuiOperator, TypingLimitsEnterTheTitleDialogAndTheFileDialog) {
  GuiRig rig(kVariantA);
  ASSERT_TRUE(rig.session->start());
  const int di4 = kVariantA.inputs[3].nameEdit;
  auto* name = rig.widget<QLineEdit>(di4);
  EXPECT_FALSE(rig.monitor().namesChanged()) << "names set by start-up are no edits";
  press(name, {Qt::Key_End, Qt::Key_Backspace});
  EXPECT_TRUE(rig.monitor().namesChanged()) << "the operator's typing is";
  for (const QChar c : {QChar('a'), QChar(0x6F22)}) {
    const QString fits(c.unicode() < 0x80 ? 20 : 10, c);
    name->clear();
    type(name, fits + c);
    EXPECT_EQ(rig.view().text(di4), cp932::fromUtf8(fits.toStdString())) << "20 CP932 bytes";
  }
  rig.view().setText(di4, cp932::fromUtf8("設定から来た長い信号名です"));
  EXPECT_EQ(name->text(), u("設定から来た長い信号名です")) << "the program's text shows whole";
  press(name, {Qt::Key_End, Qt::Key_Backspace, Qt::Key_Home, Qt::Key_Delete});
  type(name, u("a"));
  EXPECT_EQ(name->text(), u("定から来た長い信号名で")) << "shortened at both ends, no longer";

  auto* port = rig.widget<QLineEdit>(kSlotControls[1].portEdit);
  type(port, u("90ab-/:1"));
  EXPECT_EQ(port->text(), u("901")) << "a port edit takes digits only";
  port->setText(u("5000abc"));
  press(port, {Qt::Key_End, Qt::Key_Backspace});
  EXPECT_EQ(port->text(), u("5000ab")) << "a port text from a settings file can be mended";

  // Enter is no click: a button pressed by it could start, stop or open a dialog.
  QWidget& window = rig.view().window();
  rig.view().setVisible(ctl::kTracePane, true);
  auto* trace = rig.widget<QPlainTextEdit>(ctl::kTracePane);
  for (QWidget* w : {rig.view().control(ctl::kStartStop), static_cast<QWidget*>(trace)}) {
    press(w, {Qt::Key_Return, Qt::Key_Enter});
  }
  EXPECT_FALSE(rig.monitor().state().running) << "Enter pressed start";
  EXPECT_TRUE(trace->toPlainText().endsWith("\n\n")) << "the multi-line field got its newlines";

  QString shown;
  QString typed(60, 'x');
  int button = ui::kOkButton;
  rig.view().titleDialogHook = [&](QDialog& dialog) {
    auto* field = dialog.findChild<QLineEdit*>();
    shown = dialog.windowTitle() + u(": ") + field->text();
    press(field, {Qt::Key_End, Qt::Key_Backspace});
    type(field, typed);
    dialog.findChild<QPushButton*>(QString("c%1").arg(button))->click();
  };
  auto* titleButton = rig.widget<QPushButton>(ctl::kTitleBarButton);
  titleButton->click();
  EXPECT_EQ(shown, u("タイトルバーの変更: DRAVIK-A"));
  const QString typedTitle = u("DRAVIK-") + QString(43, 'x');
  EXPECT_EQ(window.windowTitle(), typedTitle) << "typing stops at 50 bytes";
  button = ui::kCancelButton;
  typed = u("c");
  titleButton->click();
  EXPECT_EQ(window.windowTitle(), typedTitle) << "cancel changes nothing";
  const std::string path = rig.folder.path() + "/long.dva";
  writeBytes(path, "#$TITLEBAR=" + std::string(70, 'T') + "\r\n");
  rig.monitor().applySettingsFile(path);
  button = ui::kOkButton;
  typed.clear();
  titleButton->click();
  EXPECT_EQ(shown, u("タイトルバーの変更: ") + QString(70, 'T')) << "a title from a file";
  EXPECT_EQ(rig.monitor().windowTitle(), std::string(69, 'T')) << "can be shortened";

  EXPECT_EQ(ui::qtFilters("CSV file (*.csv)|*.csv|all files(*.*)|*.*||"),
            (QStringList{"CSV file (*.csv *.CSV)", "all files (*)"}));
  const std::string target = rig.folder.path() + "/saved.dva";
  rig.view().fileDialogHook = [&](QFileDialog& dialog) -> std::optional<QString> {
    shown = QStringList{dialog.acceptMode() == QFileDialog::AcceptSave ? "save" : "open",
                        dialog.defaultSuffix(), dialog.nameFilters().join(';'),
                        dialog.directory().absolutePath()}
                .join(u(" | "));
    return QString::fromStdString(target);
  };
  rig.widget<QPushButton>(ctl::kSaveButton)->click();
  EXPECT_EQ(shown, u("save | dva | DVA file (*.DVA *.dva);all files (*) | ") +
                       QString::fromStdString(rig.folder.path()));
  EXPECT_TRUE(std::filesystem::exists(target)) << "the chosen file was written";
  rig.view().fileDialogHook = [](QFileDialog&) { return std::optional<QString>(); };
  rig.widget<QPushButton>(ctl::kLoadButton)->click();
  EXPECT_TRUE(rig.boxes.isEmpty()) << "cancelling a load shows nothing";
}

}  // namespace
}  // namespace dravik::test
