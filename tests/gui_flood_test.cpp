// The window under a fast unit: worker changes reach the window's thread as one queued flush
// of the latest state, the window's own calls are never overwritten by older worker changes,
// and the trace keeps its newest lines in order.
#include <gtest/gtest.h>
#include <poll.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "gui_test_support.h"

namespace dravik::test {
namespace {

using namespace std::chrono_literals;

const QColor kGray(127, 127, 127);
const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

// Counts the queued calls delivered to an object: each is one event the window's thread had
// in its queue.
class QueuedCallCounter : public QObject {
 public:
  explicit QueuedCallCounter(QObject& watched) : watched_(watched) {
    watched_.installEventFilter(this);
  }
  ~QueuedCallCounter() override { watched_.removeEventFilter(this); }
  int count() const { return count_; }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::MetaCall) ++count_;
    return false;
  }

 private:
  QObject& watched_;
  int count_ = 0;
};

TEST(GuiFlood, WorkerChangesAreOneFlushThatTheWindowsOwnCallsNeverFollow) {
  GuiRig rig(kVariantB);
  ui::QtView& view = rig.view();
  const int label = kSlotControls[1].sourceLabel;
  const int edit = kVariantB.inputs[0].nameEdit;
  auto* pane = rig.widget<QPlainTextEdit>(ctl::kTracePane);
  auto* combo = rig.widget<QComboBox>(ctl::kAdapterCombo);
  const int items = combo->count();
  QueuedCallCounter queued(view);
  // More lines than the pane holds, all waiting at once.
  constexpr int kLines = 3 * ui::QtView::kTraceLines;
  std::thread([&] {
    for (int i = 0; i < kLines; ++i) {
      view.setText(label, "unit " + std::to_string(i));
      view.enable(ctl::kStartStop, i % 2 == 0);
      view.appendTrace("line " + std::to_string(i) + "\r\n");
    }
    view.setText(edit, "\x90\xDA\x91\xB1");  // CP932 for "接続"
    view.addComboItem(ctl::kAdapterCombo, "worker item");
    view.setCaption("worker caption");
  }).join();
  view.addComboItem(ctl::kAdapterCombo, "window item");
  view.setCaption("window caption");
  EXPECT_EQ(rig.widget<QLabel>(label)->text(), u("unit %1").arg(kLines - 1))
      << "a call on the window's thread applies what workers left first";
  QApplication::processEvents();
  EXPECT_EQ(queued.count(), 1) << "the worker's calls are one flush on the window's thread";
  EXPECT_FALSE(view.control(ctl::kStartStop)->isEnabled()) << "the last enable asked for off";
  EXPECT_EQ(rig.widget<QLineEdit>(edit)->text(), u("接続")) << "CP932 shown as Unicode";
  ASSERT_EQ(combo->count(), items + 2);
  EXPECT_EQ(combo->itemText(items + 1), u("window item")) << "after the worker's item";
  EXPECT_EQ(view.window().windowTitle(), u("window caption"));
  const QStringList shown = pane->toPlainText().split(u("\n"));
  ASSERT_EQ(shown.size(), ui::QtView::kTraceLines) << "the pane is full, its last line empty";
  const int kept = ui::QtView::kTraceLines - 2;
  EXPECT_EQ(shown[0], u("trace: %1 lines dropped").arg(kLines - kept));
  EXPECT_EQ(shown[1], u("line %1").arg(kLines - kept));
  EXPECT_EQ(shown[kept], u("line %1").arg(kLines - 1));

  std::thread([&] { view.setText(label, "read back"); }).join();
  EXPECT_EQ(view.text(label), "read back") << "a read on the window's thread sees worker changes";

  // A change whose signal handler calls the view: the handler's call comes after every worker
  // change recorded before it, also those of the same flush not yet applied.
  ASSERT_LT(edit, label) << "the edit's change is applied before the label's";
  const QMetaObject::Connection handler =
      QObject::connect(rig.widget<QLineEdit>(edit), &QLineEdit::textChanged,
                       [&] { view.setText(label, "from handler"); });
  std::thread([&] {
    view.setText(edit, "renamed");
    view.setText(label, "older worker");
  }).join();
  QApplication::processEvents();
  QObject::disconnect(handler);
  EXPECT_EQ(rig.widget<QLabel>(label)->text(), u("from handler"))
      << "the rest of the flush was applied before the handler's own call";
}

// Frame i: a partial frame (DK) for every third, a full one (DO) otherwise; the input bits
// follow i.
Bytes frame(int i) {
  const auto nibble = [](int v) { return static_cast<std::uint8_t>(0x30 | (v & 0x0F)); };
  if (i % 3 == 0)
    return {'D', 'K', nibble(i), nibble(i >> 2), nibble(i >> 4), nibble(i >> 6), 0xC8};
  return {'D', 'O', nibble(i), nibble(i >> 4), 0xC8};
}

// A unit that sends `frames` from a thread of its own while it reads the `count` answers of
// five bytes, calling `sample` between reads; whether every answer came.
bool pipeline(int fd, const Bytes& frames, std::size_t count, const std::function<void()>& sample) {
  std::thread sender([&] { sendBytes(fd, frames); });
  std::size_t answered = 0;
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  std::uint8_t answers[65536];
  while (answered < 5 * count && std::chrono::steady_clock::now() < deadline) {
    pollfd readable{fd, POLLIN, 0};
    ::poll(&readable, 1, 10);
    const ssize_t n = ::recv(fd, answers, sizeof answers, MSG_DONTWAIT);
    if (n == 0) break;
    if (n > 0) answered += static_cast<std::size_t>(n);
    sample();
  }
  const bool all = answered == 5 * count;
  if (!all) ::shutdown(fd, SHUT_RDWR);  // ends a sender the monitor stopped reading
  sender.join();
  return all;
}

class Flood : public PerVariant {};
INSTANTIATE_TEST_SUITE_P(Gui, Flood, testing::Values(&kVariantA, &kVariantB), variantName);

TEST_P(Flood, PipelinedUnitLeavesAShortQueueAndTheLastFramesColours) {
  constexpr int kFrames = 200000;
  GuiRig rig(profile(), true);
  ASSERT_TRUE(rig.session->start());
  ui::QtView& view = rig.view();
  QWidget* status = view.control(ctl::kStatusPanel);
  const auto lampsAre = [&](const auto& rows, const QColor& colour) {
    return std::all_of(rows.begin(), rows.end(), [&](const auto& row) {
      return centreColour(view.control(row.lamp)) == colour;
    });
  };
  EXPECT_TRUE(lampsAre(profile().inputs, kGray)) << "input lamps gray while stopped";
  EXPECT_TRUE(lampsAre(profile().outputs, kBlack)) << "output lamps black";
  EXPECT_TRUE(paints(status, kGray) && paints(status, Qt::white)) << "status white on gray";
  EXPECT_EQ(QFontInfo(status->font()).pointSize(), 18);
  const int port = startOnLoopback(rig);
  ASSERT_TRUE(processUntil([&] { return rig.monitor().state().running == 1; }))
      << "the server starts";
  EXPECT_TRUE(paints(status, kRed)) << "status panel on red while serving";
  EXPECT_TRUE(lampsAre(profile().inputs, kBlack)) << "input lamps black while serving";
  const int unit = connectUnit(port);
  ASSERT_GE(unit, 0);
  auto* pane = rig.widget<QPlainTextEdit>(ctl::kTracePane);
  ASSERT_TRUE(pane);

  // Inputs 1, 3, 6 and 8 on: every lamp of the last frame differs from its neighbour.
  Bytes frames;
  for (int i = 0; i < kFrames; ++i) {
    const Bytes next = frame(i);
    frames.insert(frames.end(), next.begin(), next.end());
  }
  frames.insert(frames.end(), {'D', 'O', 0x35, 0x3A, 0xC8});
  const unsigned lastBits = 0xA5;
  QueuedCallCounter queued(view);
  std::size_t mostPending = 0;
  // No event is processed while the unit floods: only the pending table may grow.
  ASSERT_TRUE(pipeline(unit, frames, kFrames + 1, [&] {
    mostPending = std::max(mostPending, view.pendingControlCount());
  })) << "the monitor answers every frame";
  const std::size_t touched = profile().inputs.size() + profile().outputs.size() + 1;
  EXPECT_LE(mostPending, touched) << "one pending entry per control the receiver touches";
  EXPECT_GT(mostPending, 0u) << "the flood was recorded, not applied";

  const int label = kSlotControls[0].sourceLabel;
  ASSERT_TRUE(processUntil([&] {
    return rig.widget<QLabel>(label)->text() == u("接続元 : 127.0.0.1") &&
           view.pendingControlCount() == 0;
  })) << "the window answers and catches up";
  EXPECT_LE(queued.count(), 3) << "a flood of " << kFrames << " frames is a handful of flushes";
  for (int i = 0; i < profile().inputCount(); ++i) {
    const QColor expected = (lastBits >> i) & 1u ? kRed : kBlack;
    EXPECT_EQ(centreColour(view.control(profile().inputs[i].lamp)), expected)
        << "lamp of input " << i + 1 << " shows the last frame";
  }
  for (const OutputRow& row : profile().outputs) {
    EXPECT_TRUE(view.control(row.button)->isEnabled()) << "ON/OFF " << row.button;
  }

  ::close(unit);
  rig.widget<QPushButton>(ctl::kStartStop)->click();
  EXPECT_TRUE(processUntil([&] { return lampsAre(profile().inputs, kGray); }))
      << "stopping turns the lamps gray again";

  if (!profile().traceEnabled) {
    EXPECT_EQ(pane->toPlainText().count(u("Recv")), 0) << "DRAVIK_A traces nothing";
    return;
  }
  std::vector<QString> kinds;
  for (const QString& line : pane->toPlainText().split(u("\n"))) {
    if (line.startsWith(u("from:127.0.0.1   Recv 44 "))) kinds.push_back(line.right(2));
  }
  // The pane keeps its newest lines only: the last frames' lines, in the order sent.
  const int kept = static_cast<int>(kinds.size());
  // Besides them: the empty line after the last line end, and one telling of dropped lines.
  ASSERT_GE(kept, ui::QtView::kTraceLines - 2) << "the pane is full of from/Recv lines";
  ASSERT_LE(kept, ui::QtView::kTraceLines) << "the pane keeps no more than its newest lines";
  for (int j = 0; j < kept; ++j) {
    const int frame = kFrames + 1 - kept + j;
    const bool dk = frame < kFrames && frame % 3 == 0;
    ASSERT_EQ(kinds[j], dk ? u("4b") : u("4f")) << "frame " << frame;
  }
}

TEST(GuiFlood, AnEndlessPathInTheLogFileFieldKeepsTheWindowAnsweringAndReadsBackWhole) {
  GuiRig rig(kVariantB);
  ASSERT_TRUE(rig.session->start());
  ui::QtView& view = rig.view();
  // No path is this long (the monitor refuses them), but the field must not care.
  const std::string path = "/" + std::string(256 << 10, 'p');
  const auto start = std::chrono::steady_clock::now();
  std::thread([&] { view.setText(ctl::kLogFileField, path); }).join();
  QApplication::processEvents();
  view.window().grab();
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_LT(spent, 1s) << "the window's thread was held for "
                       << std::chrono::duration_cast<std::chrono::milliseconds>(spent).count()
                       << " ms";
  EXPECT_EQ(view.text(ctl::kLogFileField), path) << "the field reads back whole";
  view.setText(ctl::kLogFileField, "/tmp/short.csv");
  EXPECT_EQ(rig.widget<QPlainTextEdit>(ctl::kLogFileField)->toPlainText(), u("/tmp/short.csv"));
  EXPECT_EQ(view.text(ctl::kLogFileField), "/tmp/short.csv");
}

// Lets the peak resident size start again from the present one.
bool resetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.close();
  return !clear.fail();
}

TEST(GuiFlood, TerminatorFloodFromOneUnitLeavesMemoryFlatAndTheUnitServed) {
  GuiRig rig(kVariantB, true);
  ASSERT_TRUE(rig.session->start());
  const int port = startOnLoopback(rig);
  ASSERT_TRUE(processUntil([&] { return rig.monitor().state().running == 1; }));
  const int unit = connectUnit(port);
  ASSERT_GE(unit, 0);
  QApplication::processEvents();
  if (!resetPeakResident()) GTEST_SKIP() << "the peak resident size cannot be reset here";
  const long before = statusKb("VmHWM");

  // Every 0xC8 ends a frame, and DRAVIK_B traces every frame: 40 MB make 40 million lines.
  constexpr long kGrowthKb = 50 * 1024;
  std::atomic<bool> sent{false};
  std::thread flood([&] {
    const Bytes terminators(1 << 16, 0xC8);
    int chunks = 0;
    while (chunks < (40 << 20) / (1 << 16) && sendBytes(unit, terminators)) ++chunks;
    sent = chunks == (40 << 20) / (1 << 16);
  });
  const bool read =
      processUntil([&] { return sent || statusKb("VmHWM") - before > kGrowthKb; }, 120s);
  // A flood still under way ends with the connection.
  if (!sent) ::shutdown(unit, SHUT_RDWR);
  flood.join();
  const long peak = statusKb("VmHWM");
  ASSERT_LT(peak - before, kGrowthKb)
      << "peak resident size grew from " << before << " kB to " << peak << " kB";
  ASSERT_TRUE(read && sent) << "the flood was not read within two minutes";
  ASSERT_TRUE(sendBytes(unit, {0x44, 0x4F, 0x31, 0x30, 0xC8}));
  EXPECT_EQ(receive(unit, 5, 30s), (Bytes{0x64, 0x6F, 0x21, 0x20, 0xC8}))
      << "a real frame after the flood is answered";
  auto* pane = rig.widget<QPlainTextEdit>(ctl::kTracePane);
  EXPECT_TRUE(processUntil([&] {
    return pane->toPlainText().endsWith(u("from:127.0.0.1   Recv 44 4f\n"));
  })) << "the window shows the real frame's trace line";
  ::close(unit);
}

}  // namespace
}  // namespace dravik::test
