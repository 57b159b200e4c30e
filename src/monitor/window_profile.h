// The window's part of each variant: the control identifiers of its rows and slots, the caption
// of its message boxes and the filter of its file dialogs. The numbers are those of the window
// templates, shared by the core and every window.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "engine/variant_profile.h"

namespace dravik {

// One input channel's controls: its signal-name edit and its lamp.
struct InputRow {
  int nameEdit;
  int lamp;
};

// One output channel's controls: signal-name edit, lamp and ON/OFF button.
struct OutputRow {
  int nameEdit;
  int lamp;
  int button;
};

// One port slot's controls.
struct SlotControls {
  int portEdit;
  int sourceLabel;
};

inline constexpr std::array<SlotControls, kPortSlotCount> kSlotControls{{
    {1000, 1018},
    {1009, 1019},
    {1011, 1023},
    {1012, 1024},
}};

inline constexpr std::array<InputRow, 4> kInputRowsA{
    {{1004, 1100}, {1005, 1101}, {1006, 1102}, {1007, 1103}}};
inline constexpr std::array<OutputRow, 4> kOutputRowsA{
    {{1016, 1105, 1027}, {1025, 1106, 1028}, {1026, 1107, 1029}, {1032, 1108, 1030}}};
// In DRAVIK_B the identifiers 1016, 1025 and 1026 are inputs 6 to 8.
inline constexpr std::array<InputRow, 8> kInputRowsB{{{1004, 1100},
                                                      {1005, 1101},
                                                      {1006, 1102},
                                                      {1007, 1103},
                                                      {1008, 1104},
                                                      {1016, 1105},
                                                      {1025, 1106},
                                                      {1026, 1107}}};

struct WindowProfile {
  std::string_view programName;  // caption of every message box
  std::span<const InputRow> inputs;
  std::span<const OutputRow> outputs;
  std::string_view settingsFilter;  // file dialog filter, "name|pattern|...||" form
};

inline constexpr WindowProfile kWindowProfileA{
    .programName = "DRAVIK_A",
    .inputs = kInputRowsA,
    .outputs = kOutputRowsA,
    .settingsFilter = "DVA file (*.DVA)|*.DVA|all files(*.*)|*.*||",
};
inline constexpr WindowProfile kWindowProfileB{
    .programName = "DRAVIK_B",
    .inputs = kInputRowsB,
    .outputs = {},
    .settingsFilter = "DVB file (*.DVB)|*.DVB|all files(*.*)|*.*||",
};

// A row per channel of the variant, or the window would leave a signal without its controls.
static_assert(static_cast<int>(kWindowProfileA.inputs.size()) == kVariantA.inputCount() &&
              static_cast<int>(kWindowProfileA.outputs.size()) == kVariantA.outputCount());
static_assert(static_cast<int>(kWindowProfileB.inputs.size()) == kVariantB.inputCount() &&
              static_cast<int>(kWindowProfileB.outputs.size()) == kVariantB.outputCount());

// The window of the program with `profile`: DRAVIK_A's when it has outputs, as the window
// templates are chosen.
constexpr const WindowProfile& windowProfile(const VariantProfile& profile) {
  return profile.hasOutputs() ? kWindowProfileA : kWindowProfileB;
}

}  // namespace dravik
