// The Qt window built from its templates: controls, tab order, defaults after start-up,
// colours, typing limits, the title bar dialog, file dialogs and the keyboard.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <fstream>
#include <set>

#include "gui_test_support.h"
#include "monitor/controls.h"
#include "platform/cp932.h"
#include "ui/text_limits.h"

namespace dravik::test {
namespace {

using ui::ControlKind;

bool kindMatches(ControlKind kind, QWidget* w) {
  switch (kind) {
    case ControlKind::PushButton:
      return qobject_cast<QPushButton*>(w) != nullptr;
    case ControlKind::Label:
      return dynamic_cast<ui::BrushedLabel*>(w) != nullptr;
    case ControlKind::Lamp: {
      auto* lamp = dynamic_cast<ui::LampWidget*>(w);
      return lamp && lamp->frameShadow() == QFrame::Sunken;
    }
    case ControlKind::GroupBox:
      return qobject_cast<QGroupBox*>(w) != nullptr;
    case ControlKind::Separator: {
      auto* line = qobject_cast<QFrame*>(w);
      return line && line->frameShape() == QFrame::HLine;
    }
    case ControlKind::Edit:
      return qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w);
    case ControlKind::CheckBox:
      return qobject_cast<QCheckBox*>(w) != nullptr;
    case ControlKind::ComboBox: {
      auto* combo = qobject_cast<QComboBox*>(w);
      return combo && !combo->isEditable();
    }
  }
  return false;
}

// Types `text` key by key as the operator would, also characters no key names.
void type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}

class EachVariant : public PerVariant {};
INSTANTIATE_TEST_SUITE_P(Gui, EachVariant, testing::Values(&kVariantA, &kVariantB), variantName);

TEST_P(EachVariant, WindowHoldsItsTemplateControlsInTabOrderAtAFixedSize) {
  GuiRig rig(profile());
  QWidget& window = rig.view().window();
  const auto& built = rig.view().built();
  const QList<QWidget*> children = window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  ASSERT_EQ(children.size(), profile().hasOutputs() ? 55 : 47) << "every template row, no more";
  ASSERT_EQ(static_cast<std::size_t>(children.size()), built.controls.size());
  std::vector<QWidget*> tabStops;
  for (std::size_t i = 0; i < built.controls.size(); ++i) {
    const ui::BuiltControl& c = built.controls[i];
    EXPECT_EQ(children[static_cast<qsizetype>(i)], c.widget) << "control " << i << " in order";
    EXPECT_TRUE(kindMatches(c.source->kind, c.widget)) << "control " << c.source->id;
    if (c.widget->focusPolicy() & Qt::TabFocus) tabStops.push_back(c.widget);
  }
  ASSERT_FALSE(tabStops.empty());
  const std::set<QWidget*> stops(tabStops.begin(), tabStops.end());
  std::vector<QWidget*> chain;
  QWidget* next = tabStops.front();
  do {
    if (stops.count(next)) chain.push_back(next);
    next = next->nextInFocusChain();
  } while (next != tabStops.front() && chain.size() <= tabStops.size());
  EXPECT_EQ(chain, tabStops) << "the focus chain runs through the controls in template order";

  // Alt+P moves to the first port edit.
  QLabel* portCaption = nullptr;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text().contains(u("(&P)"))) portCaption = label;
  }
  ASSERT_TRUE(portCaption);
  EXPECT_EQ(portCaption->buddy(), rig.view().control(kSlotControls[0].portEdit));

  // Scaled from the template by the dialog font's base units.
  EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the window cannot be resized";
  const ui::BaseUnits units = ui::baseUnits(window.font());
  EXPECT_NEAR(window.width(), 263 * units.x / 4, 1);
  EXPECT_NEAR(window.height(), (profile().hasOutputs() ? 428 : 357) * units.y / 8, 1);
  EXPECT_FALSE(window.windowFlags() &
               (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

TEST(GuiTyping, SignalNamesAndPortsRefuseWhatTheyCannotHold) {
  GuiRig rig(kVariantB);
  ASSERT_TRUE(rig.session->start());
  // DI8 is 1026 here: reached through the row table like the core does.
  EXPECT_FALSE(rig.monitor().namesChanged()) << "names set by start-up are no edits";
  const int di8 = kVariantB.inputs[7].nameEdit;
  auto* name = rig.widget<QLineEdit>(di8);
  QTest::keyClick(name, Qt::Key_End);
  QTest::keyClick(name, Qt::Key_Backspace);
  EXPECT_TRUE(rig.monitor().namesChanged()) << "the operator's typing is";
  name->clear();
  name->setFocus();
  QTest::keyClicks(name, QString(21, 'a'));
  EXPECT_EQ(name->text(), QString(20, 'a')) << "the 21st byte is refused";

  name->clear();
  type(name, QString(11, QChar(0x6F22)));  // 漢, two bytes each
  EXPECT_EQ(name->text(), QString(10, QChar(0x6F22))) << "ten double-byte characters fit";
  EXPECT_EQ(rig.view().text(di8).size(), 20u);

  const std::string longName = cp932::fromUtf8("設定から来た長い信号名です");  // 26 bytes
  rig.view().setText(di8, longName);
  EXPECT_EQ(rig.view().text(di8), longName) << "a longer name set by the program shows whole";
  QTest::keyClick(name, Qt::Key_End);
  QTest::keyClick(name, Qt::Key_Backspace);
  EXPECT_EQ(name->text(), u("設定から来た長い信号名で")) << "an over-long name can be shortened";
  QTest::keyClick(name, Qt::Key_Home);
  QTest::keyClick(name, Qt::Key_Delete);
  EXPECT_EQ(name->text(), u("定から来た長い信号名で")) << "from either end";
  QTest::keyClicks(name, "a");
  EXPECT_EQ(name->text(), u("定から来た長い信号名で")) << "but not lengthened past 20 bytes";

  auto* port = rig.widget<QLineEdit>(1009);
  QTest::keyClicks(port, "12ab-3");
  EXPECT_EQ(port->text(), u("123")) << "a port edit takes digits only";
  port->setText(u("5000abc"));
  QTest::keyClick(port, Qt::Key_End);
  QTest::keyClick(port, Qt::Key_Backspace);
  EXPECT_EQ(port->text(), u("5000ab")) << "a port text from a settings file can be mended";

  GuiRig a(kVariantA);
  ASSERT_TRUE(a.session->start());
  auto* destination = a.widget<QLineEdit>(ctl::kDestinationPort);
  destination->clear();
  QTest::keyClicks(destination, "x1");
  EXPECT_EQ(destination->text(), u("x1")) << "the destination port takes any character";
}

TEST(GuiTitleDialog, LimitsTypingCancelKeepsTheTitleAndALongTitleCanBeShortened) {
  GuiRig rig(kVariantA);
  ASSERT_TRUE(rig.session->start());
  QString shownCaption;
  QString shownField;
  QString typed;
  bool accept = true;
  rig.view().titleDialogHook = [&](QDialog& dialog) {
    shownCaption = dialog.windowTitle();
    auto* field = dialog.findChild<QLineEdit*>();
    shownField = field->text();
    field->clear();
    type(field, typed);
    auto* button = qobject_cast<QPushButton*>(dialog.findChild<QPushButton*>(
        QString("c%1").arg(accept ? ui::kOkButton : ui::kCancelButton)));
    ASSERT_TRUE(button);
    button->click();
  };
  auto* titleButton = rig.widget<QPushButton>(ctl::kTitleBarButton);

  typed = QString(60, 'x');
  titleButton->click();
  EXPECT_EQ(shownCaption, u("タイトルバーの変更"));
  EXPECT_EQ(shownField, u("DRAVIK-A")) << "the dialog shows the current title";
  EXPECT_EQ(rig.view().window().windowTitle(), QString(50, 'x')) << "typing stops at 50 bytes";

  accept = false;
  typed = u("タイトル");
  titleButton->click();
  EXPECT_EQ(rig.view().window().windowTitle(), QString(50, 'x')) << "cancel changes nothing";

  // A title longer than the typing limit, from a settings file, is shown whole and kept by OK.
  const std::string longTitle(70, 'T');
  const std::string path = rig.folder.path() + "/long.dva";
  std::ofstream(path, std::ios::binary) << "#$TITLEBAR=" << longTitle << "\r\n";
  rig.monitor().applySettingsFile(path);
  QApplication::processEvents();
  bool shorten = false;
  rig.view().titleDialogHook = [&](QDialog& dialog) {
    auto* field = dialog.findChild<QLineEdit*>();
    shownField = field->text();
    if (shorten) {
      QTest::keyClick(field, Qt::Key_End);
      QTest::keyClick(field, Qt::Key_Backspace);
    }
    dialog.accept();
  };
  titleButton->click();
  EXPECT_EQ(shownField.toStdString(), longTitle);
  EXPECT_EQ(rig.monitor().windowTitle(), longTitle);
  shorten = true;
  titleButton->click();
  EXPECT_EQ(rig.monitor().windowTitle(), std::string(69, 'T')) << "Backspace shortens it";
}

TEST(GuiFileDialog, FiltersMatchBothCasesAndSaveAsksInTheSettingsFolder) {
  EXPECT_EQ(ui::qtFilters("DVA file (*.DVA)|*.DVA|all files(*.*)|*.*||"),
            (QStringList{"DVA file (*.DVA *.dva)", "all files (*)"}));
  EXPECT_EQ(ui::qtFilters("CSV file (*.csv)|*.csv|all files(*.*)|*.*||"),
            (QStringList{"CSV file (*.csv *.CSV)", "all files (*)"}));

  GuiRig rig(kVariantB);
  ASSERT_TRUE(rig.session->start());
  const std::string target = rig.folder.path() + "/saved.dvb";
  QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
  QString suffix;
  QStringList filters;
  QString directory;
  rig.view().fileDialogHook = [&](QFileDialog& dialog) -> std::optional<QString> {
    mode = dialog.acceptMode();
    suffix = dialog.defaultSuffix();
    filters = dialog.nameFilters();
    directory = dialog.directory().absolutePath();
    return QString::fromStdString(target);
  };
  rig.widget<QPushButton>(ctl::kSaveButton)->click();
  EXPECT_EQ(mode, QFileDialog::AcceptSave);
  EXPECT_EQ(suffix, u("dvb"));
  EXPECT_EQ(filters, (QStringList{"DVB file (*.DVB *.dvb)", "all files (*)"}));
  EXPECT_EQ(directory, QString::fromStdString(rig.folder.path()));
  EXPECT_TRUE(std::filesystem::exists(target)) << "the chosen file was written";

  rig.view().fileDialogHook = [&](QFileDialog&) { return std::optional<QString>(); };
  rig.widget<QPushButton>(ctl::kLoadButton)->click();
  EXPECT_TRUE(rig.boxes.isEmpty()) << "cancelling a load shows nothing";
}

TEST(GuiKeyboard, EnterPressesNothingAndEscapeCloses) {
  GuiRig rig(kVariantA);
  ASSERT_TRUE(rig.session->start());
  QWidget& window = rig.view().window();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  rig.view().setVisible(ctl::kTracePane, true);  // to check a multi-line field's newline
  for (int row : {0, 1, 2, 3}) rig.view().enable(kVariantA.outputs[row].button, true);

  std::vector<std::unique_ptr<QSignalSpy>> clicks;
  for (QPushButton* button : window.findChildren<QPushButton*>()) {
    clicks.push_back(std::make_unique<QSignalSpy>(button, &QPushButton::clicked));
  }
  int tried = 0;
  std::set<QString> kinds;
  for (const ui::BuiltControl& c : rig.view().built().controls) {
    if (!(c.widget->focusPolicy() & Qt::TabFocus) || !c.widget->isVisible()) continue;
    c.widget->setFocus();
    ASSERT_TRUE(processUntil([&] { return QApplication::focusWidget() == c.widget; }))
        << "focus on " << c.source->id;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
    ++tried;
    kinds.insert(c.widget->metaObject()->className());
  }
  EXPECT_EQ(tried, 26) << "the 25 tab stops of the window and the trace pane";
  EXPECT_GE(kinds.size(), 5u) << "buttons, edits, multi-line edits, combo and check box";
  for (const auto& spy : clicks) EXPECT_EQ(spy->count(), 0) << "Enter pressed a button";
  EXPECT_EQ(rig.unscriptedDialogs, 0) << "Enter opened a dialog";
  EXPECT_FALSE(rig.view().modalEnded()) << "Enter closed the window";
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(rig.monitor().state().running) << "start/stop was not pressed";
  EXPECT_TRUE(rig.widget<QPlainTextEdit>(ctl::kTracePane)->toPlainText().endsWith("\n\n"))
      << "the multi-line field got its newlines";

  rig.widget<QLineEdit>(1004)->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(rig.view().modalResult(), ui::kCancelResult) << "Escape closes without the close box";
  EXPECT_FALSE(window.isVisible());
  for (const PortSlot& slot : rig.monitor().state().slots) {
    EXPECT_NE(slot.state, SlotState::Stopping) << "Escape asks no slot to stop";
  }
}

}  // namespace
}  // namespace dravik::test
