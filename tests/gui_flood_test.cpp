#include "gui_test_support.h"

namespace dravik::test {
namespace {

struct QueuedCalls : QObject {
  explicit QueuedCalls(QObject& view) { view.installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    count += event->type() == QEvent::MetaCall;
    return false;
  }
  int count = 0;
};

TEST(GuiFlood, WorkerChangesAreOneFlushThatTheWindowsOwnCallsNeverFollow) {
  GuiRig rig(kVariantB);
  ui::QtView& view = rig.view();
  QueuedCalls queued(view);
  constexpr int kLines = 3 * ui::QtView::kTraceLines;
  // No path is this long (the monitor refuses them), but the field must not care.
  const std::string path = "/" + std::string(256 << 10, 'p');
  std::thread([&] {
    for (int i = 0; i < kLines; ++i) {
      view.enable(ctl::kStartStop, i % 2 == 0);
      view.appendTrace("line " + std::to_string(i) + "\r\n");
    }
    view.setText(ctl::kLogFileField, path);
    view.addComboItem(ctl::kAdapterCombo, "worker item");
  }).join();
  view.addComboItem(ctl::kAdapterCombo, "window item");
  QApplication::processEvents();
  EXPECT_EQ(queued.count, 1) << "the worker's calls are one flush on the window's thread";
  EXPECT_FALSE(view.control(ctl::kStartStop)->isEnabled()) << "the last enable asked for off";
  auto* combo = rig.widget<QComboBox>(ctl::kAdapterCombo);
  EXPECT_EQ(combo->itemText(combo->count() - 2), u("worker item"));
  EXPECT_EQ(combo->itemText(combo->count() - 1), u("window item")) << "after the worker's item";
  auto* pane = rig.widget<QPlainTextEdit>(ctl::kTracePane);
  const QStringList shown = pane->toPlainText().split('\n');
  ASSERT_EQ(shown.size(), ui::QtView::kTraceLines) << "the pane is full, its last line empty";
  EXPECT_EQ(shown[0], u("trace: %1 lines dropped").arg(kLines - ui::QtView::kTraceLines + 2));
  view.appendTrace("newest\r\n");
  EXPECT_EQ(pane->toPlainText().split('\n').size(), ui::QtView::kTraceLines) << "oldest gone";

  auto* field = rig.widget<QPlainTextEdit>(ctl::kLogFileField);
  EXPECT_EQ(field->toPlainText(), u("/") + QString(511, 'p') + QChar(0x2026))
      << "an endless path shows cut short, not wrapped whole on the window's thread";
  EXPECT_EQ(view.text(ctl::kLogFileField), path) << "and still reads back whole";

  std::thread([&] { view.setText(kSlotControls[1].sourceLabel, "read back"); }).join();
  EXPECT_EQ(view.text(kSlotControls[1].sourceLabel), "read back")
      << "a read on the window's thread sees worker changes";
}

using Flood = testing::TestWithParam<const VariantProfile*>;
INSTANTIATE_TEST_SUITE_P(Gui, Flood, testing::Values(&kVariantA, &kVariantB), variantName);

TEST_P(Flood, PipelinedUnitLeavesAShortQueueAndTheLastFramesColours) {
  const VariantProfile& profile = *GetParam();
  const WindowProfile& window = windowProfile(profile);
  GuiRig rig(profile);
  ASSERT_TRUE(rig.session->start());
  ui::QtView& view = rig.view();
  QWidget* status = view.control(ctl::kStatusPanel);
  EXPECT_TRUE(paints(status, QColor(127, 127, 127)) && paints(status, Qt::white));
  EXPECT_EQ(QFontInfo(status->font()).pointSize(), 18);
  const int unit = connectUnit(startOnLoopback(rig));
  EXPECT_TRUE(paints(status, Qt::red)) << "status panel on red while serving";

  // The input bits follow the frame's number; the last frame's are 0xA5.
  constexpr int kFrames = 0x30DA6;
  Bytes frames;
  for (int i = 0; i < kFrames; ++i) {
    frames.insert(frames.end(), {'D', 'O', std::uint8_t(0x30 | (i & 0x0F)),
                                 std::uint8_t(0x30 | (i >> 4 & 0x0F)), 0xC8});
  }
  QueuedCalls queued(view);
  // No event is processed while the unit sends: only the pending table may grow.
  std::thread sender([&] { sendBytes(unit, frames); });
  const std::size_t answered = receive(unit, frames.size(), 120s).size();
  if (answered != frames.size()) ::shutdown(unit, SHUT_RDWR);  // lets the sender end
  sender.join();
  ASSERT_EQ(answered, frames.size()) << "the monitor answers every frame";
  const std::size_t pending = view.pendingControlCount();
  EXPECT_TRUE(pending > 0 && pending <= window.inputs.size() + window.outputs.size() + 1)
      << pending << " pending: one per control the receiver touches, the flood not applied";
  ASSERT_TRUE(processUntil([&] {
    return rig.widget<QLabel>(kSlotControls[0].sourceLabel)->text() == u("接続元 : 127.0.0.1") &&
           view.pendingControlCount() == 0;
  })) << "the window answers and catches up";
  EXPECT_LE(queued.count, 3) << "a flood of " << kFrames << " frames is a handful of flushes";
  for (int i = 0; i < profile.inputCount(); ++i) {
    EXPECT_EQ(centreColour(view.control(window.inputs[i].lamp)),
              QColor(0xA5 >> i & 1 ? Qt::red : Qt::black))
        << "lamp of input " << i + 1 << " shows the last frame";
  }
  ::close(unit);
}

TEST(GuiFlood, TerminatorFloodFromOneUnitLeavesMemoryFlatAndTheUnitServed) {
  GuiRig rig(kVariantB);
  ASSERT_TRUE(rig.session->start());
  const int unit = connectUnit(startOnLoopback(rig));
  QApplication::processEvents();
  // Lets the peak resident size start again from the present one.
  if (!(std::ofstream("/proc/self/clear_refs") << "5")) GTEST_SKIP() << "no peak reset here";
  const long before = statusValue("VmHWM");
  // Every 0xC8 ends a frame, and DRAVIK_B traces every frame: 40 MB make 40 million lines.
  constexpr long kGrowthKb = 50 * 1024;
  std::atomic<bool> sent{false};
  std::thread flood([&] {
    for (int chunk = 0; chunk < (40 << 20) >> 16; ++chunk)
      if (!sendBytes(unit, Bytes(1 << 16, 0xC8))) return;
    sent = true;
  });
  processUntil([&] { return sent || statusValue("VmHWM") - before > kGrowthKb; }, 120s);
  if (!sent) ::shutdown(unit, SHUT_RDWR);
  flood.join();
  ASSERT_LT(statusValue("VmHWM") - before, kGrowthKb) << "peak resident size grew from " << before;
  ASSERT_TRUE(sent) << "the flood was not taken within two minutes";
  ASSERT_TRUE(sendBytes(unit, {0x44, 0x4F, 0x31, 0x30, 0xC8}));
  EXPECT_EQ(receive(unit, 5, 30s), (Bytes{0x64, 0x6F, 0x21, 0x20, 0xC8}));
  EXPECT_TRUE(processUntil([&] {
    return rig.widget<QPlainTextEdit>(ctl::kTracePane)
        ->toPlainText()
        .endsWith(u("from:127.0.0.1   Recv 44 4f\n"));
  })) << "the window shows the real frame's trace line";
  ::close(unit);
}

}  // namespace
}  // namespace dravik::test
