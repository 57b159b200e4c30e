#include "settings/settings_file.h"

#include <algorithm>
#include <array>

#include "platform/cp932.h"

namespace dravik {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
// The key of each port slot's listening port.
constexpr std::array<std::string_view, kPortSlotCount> kPortKeys{"PORT", "PORT2", "PORT3", "PORT4"};

bool hasKeyPrefix(std::string_view text) {
  return text.find(kKeyPrefix) != std::string_view::npos;
}

void addLine(std::string& out, std::string_view key, std::string_view value) {
  out.append(kKeyPrefix).append(key).append("=").append(value).append(kLineEnd);
}

std::string numberedKey(std::string_view stem, int number) {
  return std::string(stem) + std::to_string(number);
}

// Tests one key against the line. On a match the key's length is taken from the start of
// the line (not from where the key stands: a hand-made line with text before its key keeps
// part of the key in its value) and true is returned.
bool takeKey(std::string& line, std::string_view name) {
  const std::string key = std::string(kKeyPrefix) + std::string(name) + "=";
  if (line.find(key) == std::string::npos) return false;
  line.erase(0, key.size());
  return true;
}

}  // namespace

SaveRefusal checkSavable(const SettingsRecord& record) {
  if (hasKeyPrefix(record.windowTitle)) return SaveRefusal::TitleHasKeyPrefix;
  const auto anyHasPrefix = [](const std::vector<std::string>& names) {
    return std::any_of(names.begin(), names.end(),
                       [](const std::string& n) { return hasKeyPrefix(n); });
  };
  if (anyHasPrefix(record.inputNames) || anyHasPrefix(record.outputNames)) {
    return SaveRefusal::NameHasKeyPrefix;
  }
  return SaveRefusal::None;
}

std::string formatSettingsFile(const VariantProfile& profile, const SettingsRecord& record) {
  std::string out;
  addLine(out, "TITLEBAR", record.windowTitle);
  for (int i = 0; i < kPortSlotCount; ++i) addLine(out, kPortKeys[i], record.ports[i]);
  if (profile.hasOutputs()) addLine(out, "SEND", record.destinationPort);
  for (int i = 0; i < profile.inputCount(); ++i) {
    addLine(out, numberedKey("DI", i + 1), record.inputNames.at(i));
  }
  for (int i = 0; i < profile.outputCount(); ++i) {
    addLine(out, numberedKey("DO", i + 1), record.outputNames.at(i));
  }
  addLine(out, "LOGGING", record.logging ? "ON" : "OFF");
  addLine(out, "SERVER", record.running ? "START" : "STOP");
  addLine(out, "LOGFILENAME", record.logFilePath);
  return out;
}

std::vector<std::string> splitSettingsLines(std::string_view content) {
  std::vector<std::string> lines;
  while (!content.empty()) {
    const std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    content.remove_prefix(end + 1);
  }
  return lines;
}

void applySettingsLine(const VariantProfile& profile, std::string line, SettingsChanges& changes) {
  std::erase_if(line, [](char c) { return c == '\r' || c == '\n'; });
  for (int i = 0; i < kPortSlotCount; ++i) {
    if (takeKey(line, kPortKeys[i])) changes.ports[i] = line;
  }
  if (profile.hasOutputs() && takeKey(line, "SEND")) changes.destinationPort = line;
  for (int i = 0; i < profile.inputCount(); ++i) {
    if (takeKey(line, numberedKey("DI", i + 1))) {
      changes.inputNames[i] = cp932::cutToBytes(line, kSignalNameBytes);
    }
  }
  for (int i = 0; i < profile.outputCount(); ++i) {
    if (takeKey(line, numberedKey("DO", i + 1))) {
      changes.outputNames[i] = cp932::cutToBytes(line, kSignalNameBytes);
    }
  }
  if (takeKey(line, "LOGGING")) changes.logging = line.starts_with("ON");
  if (takeKey(line, "SERVER") && line.starts_with("START")) changes.startRequested = true;
  if (takeKey(line, "LOGFILENAME")) changes.logFilePath = line;
  if (takeKey(line, "TITLEBAR")) changes.windowTitle = line;
}

}  // namespace dravik
