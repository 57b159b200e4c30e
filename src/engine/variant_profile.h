// The build-time constants that make one code base into DRAVIK_A and DRAVIK_B.
//
// The core takes the profile as a parameter, so both variants can be exercised in one test
// binary; each program picks its profile once, in its main().
#pragma once

#include <array>
#include <span>
#include <string_view>

namespace dravik {

inline constexpr int kPortSlotCount = 4;
inline constexpr int kMaxInputs = 8;
inline constexpr int kMaxOutputs = 4;
// Signal names hold at most this many CP932 bytes (typed, loaded or cut).
inline constexpr int kSignalNameBytes = 20;

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

// One port slot's controls and its settings key.
struct SlotControls {
  int portEdit;
  int sourceLabel;
  std::string_view settingsKey;
};

struct VariantProfile {
  std::string_view modelName;    // default window title and base of the file names
  std::string_view programName;  // caption of every message box
  std::span<const InputRow> inputs;
  std::span<const OutputRow> outputs;
  int ackStateBytes;                   // acknowledgement bytes that carry input bits (1 or 2)
  bool slotKeepsUnit;                  // a slot remembers its unit's address and connection socket
  bool traceEnabled;                   // the trace pane receives text
  std::string_view settingsExtension;  // "dva" / "dvb"
  std::string_view settingsFilter;     // file dialog filter, "name|pattern|...||" form

  constexpr int inputCount() const { return static_cast<int>(inputs.size()); }
  constexpr int outputCount() const { return static_cast<int>(outputs.size()); }
  constexpr bool hasOutputs() const { return !outputs.empty(); }
};

inline constexpr std::array<SlotControls, kPortSlotCount> kSlotControls{{
    {1000, 1018, "PORT"},
    {1009, 1019, "PORT2"},
    {1011, 1023, "PORT3"},
    {1012, 1024, "PORT4"},
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

inline constexpr VariantProfile kVariantA{
    .modelName = "DRAVIK-A",
    .programName = "DRAVIK_A",
    .inputs = kInputRowsA,
    .outputs = kOutputRowsA,
    .ackStateBytes = 1,
    .slotKeepsUnit = true,
    .traceEnabled = false,
    .settingsExtension = "dva",
    .settingsFilter = "DVA file (*.DVA)|*.DVA|all files(*.*)|*.*||",
};
inline constexpr VariantProfile kVariantB{
    .modelName = "DRAVIK-B",
    .programName = "DRAVIK_B",
    .inputs = kInputRowsB,
    .outputs = {},
    .ackStateBytes = 2,
    .slotKeepsUnit = false,
    .traceEnabled = true,
    .settingsExtension = "dvb",
    .settingsFilter = "DVB file (*.DVB)|*.DVB|all files(*.*)|*.*||",
};

}  // namespace dravik
