// The build-time constants that make one code base into DRAVIK_A and DRAVIK_B.
//
// What the protocol and the files need; the window's part (control identifiers, captions,
// filters) is the monitor's, in monitor/window_profile.h.
//
// The core takes the profile as a parameter, so both variants can be exercised in one test
// binary; each program picks its profile once, in its main().
#pragma once

#include <string_view>

namespace dravik {

inline constexpr int kPortSlotCount = 4;
inline constexpr int kMaxInputs = 8;
inline constexpr int kMaxOutputs = 4;
// Signal names hold at most this many CP932 bytes (typed, loaded or cut).
inline constexpr int kSignalNameBytes = 20;

struct VariantProfile {
  std::string_view modelName;          // default window title and base of the file names
  int inputChannels;                   // DI1 onwards
  int outputChannels;                  // DO1 onwards; 0 in a monitor without outputs
  int ackStateBytes;                   // acknowledgement bytes that carry input bits (1 or 2)
  bool slotKeepsUnit;                  // a slot remembers its unit's address and connection socket
  bool traceEnabled;                   // the trace pane receives text
  std::string_view settingsExtension;  // "dva" / "dvb"

  constexpr int inputCount() const { return inputChannels; }
  constexpr int outputCount() const { return outputChannels; }
  constexpr bool hasOutputs() const { return outputChannels != 0; }
};

inline constexpr VariantProfile kVariantA{
    .modelName = "DRAVIK-A",
    .inputChannels = 4,
    .outputChannels = 4,
    .ackStateBytes = 1,
    .slotKeepsUnit = true,
    .traceEnabled = false,
    .settingsExtension = "dva",
};
inline constexpr VariantProfile kVariantB{
    .modelName = "DRAVIK-B",
    .inputChannels = 8,
    .outputChannels = 0,
    .ackStateBytes = 2,
    .slotKeepsUnit = false,
    .traceEnabled = true,
    .settingsExtension = "dvb",
};

}  // namespace dravik
