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
#include "platform/cp932.h"

namespace dravik::test {
namespace {

using namespace std::chrono_literals;

const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

QString u(const char* text) {
  return QString::fromUtf8(text);
}

QString shownCp932(const std::string& text) {
  return QString::fromStdString(cp932::toUtf8(text));
}

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

// Runs `work` on a thread of its own, as a receiver would, and waits for it.
void onWorker(const std::function<void()>& work) {
  std::thread(work).join();
}

TEST(GuiFlood, ManyWorkerCallsCostOneQueuedFlushAndLeaveTheLatestState) {
  GuiRig rig(kVariantB);
  ui::QtView& view = rig.view();
  QueuedCallCounter queued(view);
  const int label = kSlotControls[0].sourceLabel;
  onWorker([&] {
    for (int i = 0; i < 10000; ++i) {
      view.setText(label, "unit " + std::to_string(i));
      view.enable(ctl::kStartStop, i % 2 == 0);
      view.setVisible(ctl::kStatusPanel, i % 3 == 1);
      for (const InputRow& row : kVariantB.inputs) view.repaint(row.lamp);
    }
  });
  EXPECT_LE(view.pendingControlCount(), 3 + kVariantB.inputs.size())
      << "one entry per control, however many calls";
  QApplication::processEvents();
  EXPECT_EQ(queued.count(), 1) << "40,000 worker calls are one flush on the window's thread";
  EXPECT_EQ(view.pendingControlCount(), 0u) << "the flush applied everything";
  EXPECT_EQ(rig.widget<QLabel>(label)->text(), u("unit 9999"));
  EXPECT_FALSE(view.control(ctl::kStartStop)->isEnabled()) << "the last enable asked for off";
  EXPECT_FALSE(view.control(ctl::kStatusPanel)->isVisibleTo(&view.window()))
      << "the last visibility asked for hidden";

  onWorker([&] { view.setText(label, "\x90\xDA\x91\xB1"); });  // CP932 for "接続"
  QApplication::processEvents();
  EXPECT_EQ(queued.count(), 2) << "the first change after a flush queues the next one";
  EXPECT_EQ(rig.widget<QLabel>(label)->text(), u("接続")) << "CP932 shown as Unicode";
  QApplication::processEvents();
  EXPECT_EQ(queued.count(), 2) << "nothing pending, nothing queued";
}

TEST(GuiFlood, WindowThreadCallsComeAfterOlderWorkerChanges) {
  GuiRig rig(kVariantB);
  ui::QtView& view = rig.view();
  const int label = kSlotControls[1].sourceLabel;
  auto* pane = rig.widget<QPlainTextEdit>(ctl::kTracePane);
  auto* combo = rig.widget<QComboBox>(ctl::kAdapterCombo);
  ASSERT_TRUE(pane && combo);
  const int items = combo->count();

  onWorker([&] {
    view.setText(label, "from worker");
    view.enable(ctl::kStartStop, false);
    view.appendTrace("worker line\r\n");
    view.addComboItem(ctl::kAdapterCombo, "worker item");
    view.setCaption("worker caption");
  });
  view.setText(label, "from window");
  view.enable(ctl::kStartStop, true);
  view.appendTrace("window line\r\n");
  view.addComboItem(ctl::kAdapterCombo, "window item");
  view.setCaption("window caption");
  QApplication::processEvents();
  EXPECT_EQ(rig.widget<QLabel>(label)->text(), u("from window"))
      << "the older worker text never overwrites the window's";
  EXPECT_TRUE(view.control(ctl::kStartStop)->isEnabled());
  EXPECT_TRUE(pane->toPlainText().endsWith(u("worker line\nwindow line\n")))
      << pane->toPlainText().toStdString();
  ASSERT_EQ(combo->count(), items + 2);
  EXPECT_EQ(combo->itemText(items), u("worker item"));
  EXPECT_EQ(combo->itemText(items + 1), u("window item"));
  EXPECT_EQ(view.window().windowTitle(), u("window caption"));

  onWorker([&] { view.setText(label, "read back"); });
  EXPECT_EQ(view.text(label), "read back") << "a read on the window's thread sees worker changes";

  onWorker([&] { view.setText(label, "newer worker"); });
  QApplication::processEvents();
  EXPECT_EQ(rig.widget<QLabel>(label)->text(), u("newer worker"))
      << "a later worker change wins over the window's earlier one";

  // A change whose signal handler calls the view: the handler's call comes after every worker
  // change recorded before it, also those of the same flush not yet applied.
  const int edit = kVariantB.inputs[0].nameEdit;
  ASSERT_LT(edit, label) << "the edit's change is applied before the label's";
  const QMetaObject::Connection handler =
      QObject::connect(rig.widget<QLineEdit>(edit), &QLineEdit::textChanged,
                       [&] { view.setText(label, "from handler"); });
  onWorker([&] {
    view.setText(edit, "renamed");
    view.setText(label, "older worker");
  });
  QApplication::processEvents();
  QObject::disconnect(handler);
  EXPECT_EQ(rig.widget<QLineEdit>(edit)->text(), u("renamed"));
  EXPECT_EQ(rig.widget<QLabel>(label)->text(), u("from handler"))
      << "the rest of the flush was applied before the handler's own call";
}

TEST(GuiFlood, TraceFromWorkersKeepsOrderClearsAndPiecesAsShownAlone) {
  GuiRig rig(kVariantB);
  ui::QtView& view = rig.view();
  auto* pane = rig.widget<QPlainTextEdit>(ctl::kTracePane);
  ASSERT_TRUE(pane);
  view.appendTrace("before\r\n");
  onWorker([&] {
    view.appendTrace("dropped\r\n");
    view.clearTrace();
    for (int i = 0; i < 1000; ++i) view.appendTrace("line " + std::to_string(i) + "\r\n");
  });
  QApplication::processEvents();
  const QStringList lines = pane->toPlainText().split(u("\n"));
  ASSERT_EQ(lines.size(), 1001) << "a cleared pane, then 1000 lines and the empty last one";
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(lines[i], u("line %1").arg(i)) << "line " << i << " in order";
  }

  // A trace ending on a lead byte or a carriage return is shown as it would be alone: the
  // next trace's first byte never completes its character or its line end.
  view.clearTrace();
  onWorker([&] {
    view.appendTrace("x\x82");
    view.appendTrace("\xA0y");
    view.appendTrace("p\r");
    view.appendTrace("\nq");
  });
  QApplication::processEvents();
  const QString expected = shownCp932("x\x82") + shownCp932("\xA0y") + u("p\n\nq");
  EXPECT_EQ(pane->toPlainText(), expected) << pane->toPlainText().toStdString();
  EXPECT_FALSE(pane->toPlainText().contains(u("あ"))) << "0x82 0xA0 across two traces joined";

  // More lines than the pane holds, all waiting at once: the newest fill the pane after one
  // line saying how many older ones were dropped.
  constexpr int kLines = 3 * ui::QtView::kTraceLines;
  view.clearTrace();
  onWorker([&] {
    for (int i = 0; i < kLines; ++i) view.appendTrace("line " + std::to_string(i) + "\r\n");
  });
  QApplication::processEvents();
  const QStringList shown = pane->toPlainText().split(u("\n"));
  ASSERT_EQ(shown.size(), ui::QtView::kTraceLines) << "the pane is full, its last line empty";
  const int kept = ui::QtView::kTraceLines - 2;
  EXPECT_EQ(shown[0], u("trace: %1 lines dropped").arg(kLines - kept));
  EXPECT_EQ(shown[1], u("line %1").arg(kLines - kept));
  EXPECT_EQ(shown[kept], u("line %1").arg(kLines - 1));
}

TEST(GuiFlood, AnEndlessPathInTheLogFileFieldKeepsTheWindowAnsweringAndReadsBackWhole) {
  GuiRig rig(kVariantB);
  ASSERT_TRUE(rig.session->start());
  ui::QtView& view = rig.view();
  // No path is this long (the monitor refuses them), but the field must not care.
  const std::string path = "/" + std::string(256 << 10, 'p');
  const auto start = std::chrono::steady_clock::now();
  onWorker([&] { view.setText(ctl::kLogFileField, path); });
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

// A unit that pipelines frames as fast as the monitor answers them, never more than
// kInFlight unanswered, so that no answer is lost to a full socket buffer.
class PipeliningUnit {
 public:
  static constexpr int kInFlight = 2000;
  static constexpr std::size_t kAnswerBytes = 5;

  explicit PipeliningUnit(int port) : fd_(connectUnit(port)) {}
  ~PipeliningUnit() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool connected() const { return fd_ >= 0; }

  // Frame i: a partial frame (DK) for every third, a full one (DO) otherwise; the input bits
  // follow i.
  static std::vector<std::uint8_t> frame(int i) {
    const auto nibble = [](int v) { return static_cast<std::uint8_t>(0x30 | (v & 0x0F)); };
    if (i % 3 == 0)
      return {'D', 'K', nibble(i), nibble(i >> 2), nibble(i >> 4), nibble(i >> 6), 0xC8};
    return {'D', 'O', nibble(i), nibble(i >> 4), 0xC8};
  }

  // Sends `count` frames, then `last`, and reads every answer; calls `sample` between bursts.
  // False when the monitor stopped answering.
  bool run(int count, const std::vector<std::uint8_t>& last, const std::function<void()>& sample) {
    const int total = count + 1;
    int sent = 0;
    std::size_t answerBytes = 0;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (answerBytes < static_cast<std::size_t>(total) * kAnswerBytes) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      const int answered = static_cast<int>(answerBytes / kAnswerBytes);
      std::vector<std::uint8_t> burst;
      while (sent < total && sent - answered < kInFlight && burst.size() < 8192) {
        const std::vector<std::uint8_t> next = sent == count ? last : frame(sent);
        burst.insert(burst.end(), next.begin(), next.end());
        ++sent;
      }
      if (!burst.empty() && ::send(fd_, burst.data(), burst.size(), MSG_NOSIGNAL) !=
                                static_cast<ssize_t>(burst.size())) {
        return false;
      }
      pollfd readable{fd_, POLLIN, 0};
      if (::poll(&readable, 1, burst.empty() ? 1000 : 0) < 0) return false;
      std::uint8_t answers[65536];
      for (;;) {
        const ssize_t n = ::recv(fd_, answers, sizeof answers, MSG_DONTWAIT);
        if (n == 0) return false;
        if (n < 0) break;
        answerBytes += static_cast<std::size_t>(n);
      }
      sample();
    }
    return true;
  }

 private:
  int fd_;
};

class Flood : public PerVariant {};
INSTANTIATE_TEST_SUITE_P(Gui, Flood, testing::Values(&kVariantA, &kVariantB), variantName);

TEST_P(Flood, PipelinedUnitLeavesAShortQueueAndTheLastFramesState) {
  constexpr int kFrames = 200000;
  GuiRig rig(profile(), true);
  ASSERT_TRUE(rig.session->start());
  ui::QtView& view = rig.view();
  const int port = startOnLoopback(rig);
  ASSERT_TRUE(processUntil([&] { return rig.monitor().state().running == 1; }))
      << "the server starts";
  PipeliningUnit unit(port);
  ASSERT_TRUE(unit.connected());
  auto* pane = rig.widget<QPlainTextEdit>(ctl::kTracePane);
  ASSERT_TRUE(pane);

  // Inputs 1, 3, 6 and 8 on: every lamp of the last frame differs from its neighbour.
  const std::vector<std::uint8_t> last{'D', 'O', 0x35, 0x3A, 0xC8};
  const unsigned lastBits = 0xA5;
  QueuedCallCounter queued(view);
  std::size_t mostPending = 0;
  // No event is processed while the unit floods: only the pending table may grow.
  ASSERT_TRUE(unit.run(kFrames, last, [&] {
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

  if (!profile().traceEnabled) {
    EXPECT_EQ(pane->toPlainText().count(u("Recv")), 0) << "DRAVIK_A traces nothing";
    return;
  }
  std::vector<QString> kinds;
  for (const QString& line : pane->toPlainText().split(u("\n"))) {
    if (line.startsWith(u("from:127.0.0.1   Recv 44 "))) kinds.push_back(line.right(2));
  }
  // The pane keeps its newest lines only: the last frames' lines, in the order sent, and
  // maybe one saying how many older ones never reached it.
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

}  // namespace
}  // namespace dravik::test
