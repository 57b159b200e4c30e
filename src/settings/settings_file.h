// The settings file: key=value lines behind the key prefix "#$", CP932, CR LF. Writing it and
// applying its lines are pure functions here; the monitor moves the values to and from the
// window.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/variant_profile.h"

namespace dravik {

// Every key starts with this; a saved value may not contain it, or the file would not read
// back as it was written.
inline constexpr std::string_view kKeyPrefix = "#$";

// The values a saved file records, as the window and the monitor hold them.
struct SettingsRecord {
  std::string windowTitle;
  std::array<std::string, kPortSlotCount> ports;
  std::string destinationPort;  // written only by a program with outputs
  std::vector<std::string> inputNames;
  std::vector<std::string> outputNames;
  bool logging = false;
  bool running = false;
  std::string logFilePath;
};

// Why a record cannot be saved; the title is looked at first, then inputs, then outputs.
enum class SaveRefusal { None, TitleHasKeyPrefix, NameHasKeyPrefix };
SaveRefusal checkSavable(const SettingsRecord& record);

// The file's bytes: 17 lines (with outputs) or 16, each ending in CR LF.
std::string formatSettingsFile(const VariantProfile& profile, const SettingsRecord& record);

// What applying a file asks for. A value the file does not mention stays empty and keeps its
// current value in the window.
struct SettingsChanges {
  std::array<std::optional<std::string>, kPortSlotCount> ports;
  std::optional<std::string> destinationPort;
  std::array<std::optional<std::string>, kMaxInputs> inputNames;
  std::array<std::optional<std::string>, kMaxOutputs> outputNames;
  std::optional<bool> logging;
  bool startRequested = false;  // once set by a line, no later line clears it
  std::optional<std::string> logFilePath;
  std::optional<std::string> windowTitle;
};

// The file's lines as they are read: split at LF, a CR just before the LF dropped with it,
// a last line without a line end kept, nothing after a final line end.
std::vector<std::string> splitSettingsLines(std::string_view content);

// Applies one line: CR and LF are removed wherever they stand, then each key is tested in
// turn against the line as the earlier keys left it. A key matches anywhere in the line and
// takes away as many bytes as it has from the start of the line; what remains is its value.
void applySettingsLine(const VariantProfile& profile, std::string line, SettingsChanges& changes);

}  // namespace dravik
