// The monitor's own rules: construction, variant profiles, colouring, version text, title.
#include "monitor/monitor.h"

#include <gtest/gtest.h>

#include <set>

#include "fake_adapters.h"
#include "fake_view.h"
#include "monitor/brush.h"
#include "monitor/controls.h"

namespace dravik {
namespace {

TEST(VersionText, NumbersAfterThePointAreNotSeparated) {
  EXPECT_EQ(formatVersionText({1, 0, 1, 0}), "Version 1.01");
  EXPECT_EQ(formatVersionText({1, 0, 1, 2}), "Version 1.012");
  EXPECT_EQ(formatVersionText({1, 2, 3, 4}), "Version 1.234");
  EXPECT_EQ(formatVersionText({2, 0, 0, 0}), "Version 2.00");
  EXPECT_EQ(formatVersionText({1, 0, 10, 0}), "Version 1.010");
}

TEST(VariantProfile, TablesOfBothVariants) {
  EXPECT_EQ(kVariantA.inputCount(), 4);
  EXPECT_EQ(kVariantA.outputCount(), 4);
  EXPECT_EQ(kVariantB.inputCount(), 8);
  EXPECT_FALSE(kVariantB.hasOutputs());
  EXPECT_TRUE(kVariantA.slotKeepsUnit);
  EXPECT_FALSE(kVariantB.slotKeepsUnit);
  EXPECT_FALSE(kVariantA.traceEnabled);
  EXPECT_TRUE(kVariantB.traceEnabled);
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    EXPECT_EQ(p->ackStateBytes, (p->inputCount() + 3) / 4)
        << p->programName << ": every input needs a bit in the acknowledgement";
  }
  // 1016, 1025 and 1026 are output names in A and inputs 6 to 8 in B.
  EXPECT_EQ(kVariantA.outputs[0].nameEdit, 1016);
  EXPECT_EQ(kVariantA.outputs[1].nameEdit, 1025);
  EXPECT_EQ(kVariantA.outputs[2].nameEdit, 1026);
  EXPECT_EQ(kVariantB.inputs[5].nameEdit, 1016);
  EXPECT_EQ(kVariantB.inputs[6].nameEdit, 1025);
  EXPECT_EQ(kVariantB.inputs[7].nameEdit, 1026);
  // Slot numbering is fixed: PORT3 is slot 2 with edit 1011 and label 1023.
  EXPECT_EQ(kSlotControls[2].settingsKey, "PORT3");
  EXPECT_EQ(kSlotControls[2].portEdit, 1011);
  EXPECT_EQ(kSlotControls[2].sourceLabel, 1023);
  // No identifier is used twice within a variant's rows.
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    std::set<int> ids;
    std::size_t count = 0;
    for (const InputRow& r : p->inputs) ids.insert({r.nameEdit, r.lamp}), count += 2;
    for (const OutputRow& r : p->outputs) ids.insert({r.nameEdit, r.lamp, r.button}), count += 3;
    EXPECT_EQ(ids.size(), count) << p->programName;
  }
}

TEST(Monitor, ConstructionLeavesEverySlotIdle) {
  for (const VariantProfile* p : {&kVariantA, &kVariantB}) {
    test::FakeView view;
    test::FakeAdapters adapters;
    Monitor monitor(*p, view, adapters, nullptr, "/opt/dravik", "/opt/dravik", {1, 0, 1, 0});
    for (const PortSlot& slot : monitor.state().slots) {
      EXPECT_EQ(slot.state, SlotState::Idle);
      EXPECT_EQ(slot.connectionSocket, kNoSocket);
      EXPECT_EQ(slot.unitAddress, 0u);
    }
    EXPECT_EQ(monitor.state().running, 0);
    EXPECT_EQ(monitor.versionText(), "Version 1.01");
  }
}

TEST(Brush, LampAndStatusColours) {
  MonitorState s;
  const auto brush = [&](int id) { return brushFor(kVariantA, s, id); };
  s.inputs[1] = 1;
  s.outputs[2] = 1;
  // Stopped: inputs gray whatever their state, outputs follow their state alone.
  EXPECT_EQ(brush(1100), Brush::Gray);
  EXPECT_EQ(brush(1101), Brush::Gray);
  EXPECT_EQ(brush(ctl::kStatusPanel), Brush::Gray);
  EXPECT_EQ(brush(1107), Brush::Red) << "DO3 on";
  EXPECT_EQ(brush(1105), Brush::Black) << "DO1 off";
  s.running = 1;
  EXPECT_EQ(brush(1100), Brush::Black);
  EXPECT_EQ(brush(1101), Brush::Red);
  EXPECT_EQ(brush(ctl::kStatusPanel), Brush::Red);
  EXPECT_EQ(brush(1018), Brush::Default) << "a source-address label";
  EXPECT_EQ(brush(1104), Brush::Default) << "1104 is no lamp in DRAVIK_A";

  MonitorState b;
  b.running = 1;
  b.inputs[6] = 1;
  EXPECT_EQ(brushFor(kVariantB, b, 1106), Brush::Red) << "1106 is the lamp of DI7 in DRAVIK_B";
  EXPECT_EQ(brushFor(kVariantB, b, 1105), Brush::Black) << "DI6 off, shown as an input lamp";
  b.running = 0;
  EXPECT_EQ(brushFor(kVariantB, b, 1106), Brush::Gray) << "input lamps of B are gray when stopped";
}

TEST(Monitor, TitleBarDialog) {
  test::FakeView view;
  test::FakeAdapters adapters;
  Monitor monitor(kVariantB, view, adapters, nullptr, "/opt/dravik", "/opt/dravik", {1, 0, 1, 0});
  view.answerTitleDialog(std::string(" Line 3 #$ "));
  monitor.changeTitleBar();
  EXPECT_EQ(monitor.windowTitle(), " Line 3 #$ ") << "taken exactly as typed";
  EXPECT_EQ(view.caption(), " Line 3 #$ ");

  view.answerTitleDialog(std::nullopt);
  monitor.changeTitleBar();
  EXPECT_EQ(monitor.windowTitle(), " Line 3 #$ ") << "cancel changes nothing";
  EXPECT_EQ(view.titleDialogsShown().back(), " Line 3 #$ ") << "shows the current title";

  view.answerTitleDialog(std::string());
  monitor.changeTitleBar();
  EXPECT_EQ(view.caption(), "") << "OK with an empty field empties the caption";
}

}  // namespace
}  // namespace dravik
