// Applies settings files of arbitrary bytes, and checks that names stay within their 20 bytes
// on whole CP932 characters. Then it builds a record from the same bytes and checks that
// saving and applying it gives back exactly that record.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/cp932.h"
#include "settings/settings_file.h"

namespace {

using namespace dravik;

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// True when `name` holds whole CP932 characters only.
bool wholeCharacters(const std::string& name) {
  std::size_t i = 0;
  while (i < name.size()) i += cp932::isLeadByte(static_cast<unsigned char>(name[i])) ? 2 : 1;
  return i == name.size();
}

void checkApplied(const VariantProfile& profile, std::string_view content) {
  SettingsChanges changes;
  for (const std::string& line : splitSettingsLines(content)) {
    applySettingsLine(profile, line, changes);
  }
  for (int i = 0; i < kMaxInputs; ++i) {
    if (!changes.inputNames[i]) continue;
    require(i < profile.inputCount(), "no name for an input the variant lacks");
    require(changes.inputNames[i]->size() <= kSignalNameBytes, "input name within 20 bytes");
    require(wholeCharacters(*changes.inputNames[i]), "input name ends on a whole character");
  }
  for (int i = 0; i < kMaxOutputs; ++i) {
    if (!changes.outputNames[i]) continue;
    require(i < profile.outputCount(), "no name for an output the variant lacks");
    require(changes.outputNames[i]->size() <= kSignalNameBytes, "output name within 20 bytes");
    require(wholeCharacters(*changes.outputNames[i]), "output name ends on a whole character");
  }
  if (!profile.hasOutputs()) require(!changes.destinationPort, "no destination port in B");
}

// Takes values from the fuzz bytes: each value runs up to the next 0x00 byte, without line
// breaks, so the record is one an operator could have typed.
class Values {
 public:
  explicit Values(std::string_view data) : data_(data) {}
  std::string next(std::size_t limit) {
    std::string value;
    while (pos_ < data_.size() && data_[pos_] != '\0') {
      const char c = data_[pos_++];
      if (c != '\r' && c != '\n') value += c;
    }
    ++pos_;
    return cp932::cutToBytes(value, limit);
  }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

void checkRoundTrip(const VariantProfile& profile, std::string_view data) {
  Values values(data);
  SettingsRecord record;
  record.windowTitle = values.next(4096);
  for (std::string& port : record.ports) port = values.next(64);
  if (profile.hasOutputs()) record.destinationPort = values.next(64);
  for (int i = 0; i < profile.inputCount(); ++i) {
    record.inputNames.push_back(values.next(kSignalNameBytes));
  }
  for (int i = 0; i < profile.outputCount(); ++i) {
    record.outputNames.push_back(values.next(kSignalNameBytes));
  }
  record.logging = !data.empty() && (data[0] & 1);
  record.running = !data.empty() && (data[0] & 2);
  record.logFilePath = values.next(4096);
  if (checkSavable(record) != SaveRefusal::None) return;
  // Ports, the destination port and the log path are saved without the "#$" test, as the
  // older monitors did; such a value can read back as another key, so it is left out here.
  auto hasPrefix = [](const std::string& v) { return v.find(kKeyPrefix) != std::string::npos; };
  for (const std::string& port : record.ports) {
    if (hasPrefix(port)) return;
  }
  if (hasPrefix(record.destinationPort) || hasPrefix(record.logFilePath)) return;

  SettingsChanges changes;
  for (const std::string& line : splitSettingsLines(formatSettingsFile(profile, record))) {
    applySettingsLine(profile, line, changes);
  }
  require(changes.windowTitle == record.windowTitle, "title survives save and load");
  for (int s = 0; s < kPortSlotCount; ++s) {
    require(changes.ports[s] == record.ports[s], "port text survives save and load");
  }
  if (profile.hasOutputs()) {
    require(changes.destinationPort == record.destinationPort, "destination port survives");
  }
  for (int i = 0; i < profile.inputCount(); ++i) {
    require(changes.inputNames[i] == record.inputNames[i], "input name survives save and load");
  }
  for (int i = 0; i < profile.outputCount(); ++i) {
    require(changes.outputNames[i] == record.outputNames[i], "output name survives");
  }
  require(changes.logging == record.logging, "logging switch survives save and load");
  require(changes.startRequested == record.running, "server state survives save and load");
  require(changes.logFilePath == record.logFilePath, "log path survives save and load");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  for (const VariantProfile* profile : {&kVariantA, &kVariantB}) {
    checkApplied(*profile, content);
    checkRoundTrip(*profile, content);
  }
  return 0;
}
