// Settings files of arbitrary bytes: names stay within 20 bytes on whole CP932 characters, and a
// record built from the same bytes reads back exactly as it was saved.
#include <algorithm>
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

SettingsChanges apply(const VariantProfile& profile, std::string_view content) {
  SettingsChanges changes;
  for (const std::string& line : splitSettingsLines(content))
    applySettingsLine(profile, line, changes);
  return changes;
}

template <typename Names>
void checkNames(const Names& names, int count) {
  for (int i = 0; i < static_cast<int>(names.size()); ++i) {
    if (!names[i]) continue;
    const std::string& name = *names[i];
    std::size_t end = 0;
    while (end < name.size()) end += cp932::isLeadByte(name[end]) ? 2 : 1;
    require(i < count && end <= kSignalNameBytes && end == name.size(),
            "names only for the variant's signals, within 20 bytes, of whole characters");
  }
}

void checkRoundTrip(const VariantProfile& profile, std::string_view data) {
  // Each value runs up to the next 0x00 byte, without line breaks, as an operator could type it.
  std::size_t pos = 0;
  const auto next = [&](std::size_t limit) {
    std::string value;
    for (; pos < data.size() && data[pos] != '\0'; ++pos)
      if (data[pos] != '\r' && data[pos] != '\n') value += data[pos];
    ++pos;
    return cp932::cutToBytes(value, limit);
  };
  SettingsRecord record;
  record.windowTitle = next(4096);
  for (std::string& port : record.ports) port = next(64);
  if (profile.hasOutputs()) record.destinationPort = next(64);
  for (int i = 0; i < profile.inputCount(); ++i) record.inputNames.push_back(next(20));
  for (int i = 0; i < profile.outputCount(); ++i) record.outputNames.push_back(next(20));
  record.logging = !data.empty() && (data[0] & 1);
  record.running = !data.empty() && (data[0] & 2);
  record.logFilePath = next(4096);
  // Ports, the destination port and the log path are saved without the "#$" test, as the older
  // monitors did; such a value can read back as another key, so it is left out here.
  const auto keyLike = [](const std::string& v) { return v.find(kKeyPrefix) != v.npos; };
  if (checkSavable(record) != SaveRefusal::None || std::ranges::any_of(record.ports, keyLike) ||
      keyLike(record.destinationPort) || keyLike(record.logFilePath))
    return;
  const SettingsChanges c = apply(profile, formatSettingsFile(profile, record));
  bool same = c.windowTitle == record.windowTitle && c.logging == record.logging &&
              c.startRequested == record.running && c.logFilePath == record.logFilePath &&
              (!profile.hasOutputs() || c.destinationPort == record.destinationPort);
  for (int s = 0; s < kPortSlotCount; ++s) same &= c.ports[s] == record.ports[s];
  for (int i = 0; i < profile.inputCount(); ++i) same &= c.inputNames[i] == record.inputNames[i];
  for (int i = 0; i < profile.outputCount(); ++i) same &= c.outputNames[i] == record.outputNames[i];
  require(same, "a saved record reads back as it was");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  for (const VariantProfile* profile : {&kVariantA, &kVariantB}) {
    const SettingsChanges changes = apply(*profile, content);
    checkNames(changes.inputNames, profile->inputCount());
    checkNames(changes.outputNames, profile->outputCount());
    if (!profile->hasOutputs()) require(!changes.destinationPort, "no destination port in B");
    checkRoundTrip(*profile, content);
  }
  return 0;
}
