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

using EachVariant = testing::TestWithParam<const VariantProfile*>;
INSTANTIATE_TEST_SUITE_P(Gui, EachVariant, testing::Values(&kVariantA, &kVariantB), variantName);

TEST_P(EachVariant, WindowHoldsItsTemplateControlsInTabOrderAtAFixedSize) {
  GuiRig rig(*GetParam());
  const bool a = GetParam()->hasOutputs();
  QWidget& window = rig.view().window();
  ASSERT_EQ(window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), a ? 55 : 47);
  std::vector<QWidget*> tabStops;
  for (const ui::BuiltControl& c : rig.view().built().controls) {
    if (c.widget->focusPolicy() & Qt::TabFocus) tabStops.push_back(c.widget);
    EXPECT_TRUE(c.source->kind != window::ControlKind::Lamp ||
                qobject_cast<QFrame*>(c.widget)->frameStyle() == (QFrame::Panel | QFrame::Sunken));
    EXPECT_TRUE(!c.source->text.ends_with("(&P):") ||
                qobject_cast<QLabel*>(c.widget)->buddy() ==
                    rig.view().control(kSlotControls[0].portEdit))
        << "Alt+P moves to the first port";
  }
  EXPECT_FALSE(rig.widget<QComboBox>(ctl::kAdapterCombo)->isEditable());
  std::vector<QWidget*> chain;
  for (QWidget* w = tabStops.front(); chain.size() < tabStops.size(); w = w->nextInFocusChain())
    if (w->parentWidget() == &window && (w->focusPolicy() & Qt::TabFocus)) chain.push_back(w);
  EXPECT_EQ(chain, tabStops) << "the focus chain runs through the controls in template order";

  const ui::BaseUnits units = ui::baseUnits(window.font());
  const QSize fixed(std::lround(263 * units.x / 4.0), std::lround((a ? 428 : 357) * units.y / 8.0));
  EXPECT_EQ(std::pair(window.minimumSize(), window.maximumSize()), std::pair(fixed, fixed));
  EXPECT_FALSE(window.windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

TEST(GuiOperator, TypingLimitsEnterTheTitleDialogAndTheFileDialog) {
  GuiRig rig(kVariantA);
  ASSERT_TRUE(rig.session->start());
  const int di4 = kWindowProfileA.inputs[3].nameEdit;
  auto* name = rig.widget<QLineEdit>(di4);
  EXPECT_FALSE(rig.monitor().namesChanged()) << "names set by start-up are no edits";
  const QString kanji(9, QChar(0x6F22));
  name->selectAll();
  type(name, kanji + u("a") + QChar(0x6F22) + u("a"));
  EXPECT_TRUE(rig.monitor().namesChanged()) << "the operator's typing is";
  EXPECT_EQ(rig.view().text(di4), cp932::fromUtf8((kanji + u("aa")).toStdString()))
      << "20 CP932 bytes: the tenth double-byte character no longer fits, one more byte does";
  rig.view().setText(di4, cp932::fromUtf8("設定から来た長い信号名です"));
  EXPECT_EQ(name->text(), u("設定から来た長い信号名です")) << "the program's text shows whole";
  type(name, u("a"));
  press(name, {Qt::Key_End, Qt::Key_Backspace, Qt::Key_Home, Qt::Key_Delete});
  EXPECT_EQ(name->text(), u("定から来た長い信号名で")) << "no longer, even at once, but shortened";

  type(rig.view().control(kSlotControls[1].portEdit), u("90ab-/:1"));
  EXPECT_EQ(rig.view().text(kSlotControls[1].portEdit), "901") << "a port edit takes digits only";

  // Enter is no click: a button pressed by it could start, stop or open a dialog.
  auto* trace = rig.widget<QPlainTextEdit>(ctl::kTracePane);
  press(rig.view().control(ctl::kStartStop), {Qt::Key_Return, Qt::Key_Enter});
  press(trace, {Qt::Key_Return, Qt::Key_Enter});
  EXPECT_FALSE(rig.monitor().state().running) << "Enter pressed start";
  EXPECT_TRUE(trace->toPlainText().endsWith("\n\n")) << "the multi-line field got its newlines";

  const auto retitle = [&](const QString& typed, int button) {
    QString shown;
    rig.view().titleDialogHook = [&](QDialog& dialog) {
      auto* field = dialog.findChild<QLineEdit*>();
      shown = dialog.windowTitle() + u(": ") + field->text() + u(" -> ");
      press(field, {Qt::Key_End, Qt::Key_Backspace});
      type(field, typed);
      dialog.findChild<QPushButton*>(QString("c%1").arg(button))->click();
    };
    rig.widget<QPushButton>(ctl::kTitleBarButton)->click();
    return shown + rig.view().window().windowTitle();
  };
  const QString title = u("DRAVIK-") + QString(43, 'x');
  EXPECT_EQ(retitle(QString(60, 'x'), window::kOkButton),
            u("タイトルバーの変更: DRAVIK-A -> ") + title)
      << "typing stops at 50 bytes";
  EXPECT_EQ(retitle(u("c"), window::kCancelButton),
            u("タイトルバーの変更: ") + title + " -> " + title)
      << "cancel changes nothing";
  const std::string path = rig.folder.path() + "/long.dva";
  writeBytes(path, "#$TITLEBAR=" + std::string(70, 'T') + "\r\n");
  rig.monitor().applySettingsFile(path);
  EXPECT_EQ(retitle({}, window::kOkButton),
            u("タイトルバーの変更: ") + QString(70, 'T') + " -> " + QString(69, 'T'))
      << "a title from a file shows whole and can be shortened";

  const std::string target = rig.folder.path() + "/saved.dva";
  QStringList shown;
  rig.view().fileDialogHook = [&](QFileDialog& dialog) -> std::optional<QString> {
    const bool save = dialog.acceptMode() == QFileDialog::AcceptSave;
    shown << QStringList{save ? "save" : "open", dialog.defaultSuffix(),
                         dialog.nameFilters().join(';'), dialog.directory().absolutePath()}
                 .join(u(" | "));
    return save ? std::optional(QString::fromStdString(target)) : std::nullopt;
  };
  rig.widget<QPushButton>(ctl::kSaveButton)->click();
  rig.widget<QPushButton>(ctl::kLoadButton)->click();
  const QString folder = QString::fromStdString(rig.folder.path());
  EXPECT_EQ(shown,
            (QStringList{u("save | dva | DVA file (*.DVA *.dva);all files (*) | ") + folder,
                         u("open | dva | DVA file (*.DVA *.dva);all files (*) | ") + folder}));
  EXPECT_TRUE(std::filesystem::exists(target)) << "the chosen file was written";
  EXPECT_TRUE(rig.boxes.isEmpty()) << "cancelling a load shows nothing";
}

// A port edit refuses every change that puts in a non-digit: typed over a selection, pasted, or
// typed into a text from a settings file that holds one, which the operator may still shorten.
// What Undo brings back stands, and the next change is judged again.
TEST(GuiOperator, PortEditsRefuseEveryNonDigitTheOperatorPutsIn) {
  GuiRig rig(kVariantA);
  ASSERT_TRUE(rig.session->start());
  const int id = kSlotControls[1].portEdit;
  auto* port = rig.widget<QLineEdit>(id);
  const auto paste = [port](const char* text) {
    QApplication::clipboard()->setText(u(text));
    QTest::keySequence(port, QKeySequence::Paste);
  };
  rig.view().setText(id, "10003");
  QStringList shown;
  const auto step = [&](const std::function<void()>& change) {
    change();
    shown << port->text();
  };
  step([&] { port->selectAll(), type(port, u("x")); });
  step([&] { port->setSelection(1, 3), paste("1y3"); });
  step([&] { port->setSelection(1, 3), paste("123"); });
  step([&] { port->setSelection(4, 1), type(port, u("５")); });
  const std::string path = rig.folder.path() + "/ports.dva";
  writeBytes(path, "#$PORT2=12a45\r\n");
  rig.monitor().applySettingsFile(path);
  step([&] {});
  step([&] { press(port, {Qt::Key_End}), type(port, u("x")); });
  step([&] { type(port, u("6")); });
  step([&] { press(port, {Qt::Key_Backspace, Qt::Key_Backspace}); });
  step([&] { port->setSelection(2, 1), type(port, u("b")); });
  step([&] { port->setSelection(2, 1), press(port, {Qt::Key_Delete}); });
  step([&] { QTest::keySequence(port, QKeySequence::Undo); });
  step([&] { press(port, {Qt::Key_Home}), type(port, u("-")); });
  EXPECT_EQ(shown, (QStringList{"10003", "10003", "11233", "11233", "12a45", "12a45", "12a456",
                                "12a4", "12a4", "124", "12a4", "12a4"}));
}

}  // namespace
}  // namespace dravik::test
