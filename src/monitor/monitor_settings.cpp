// The monitor's settings side: defaults and the startup configuration, saving and loading the
// settings file, the log file's browse button and what the access log is told.
#include <string>

#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor/monitor.h"
#include "monitor/view.h"
#include "platform/program_directory.h"
#include "platform/text_file.h"
#include "settings/settings_file.h"

namespace dravik {

namespace {

constexpr std::string_view kTraceRule = "----------\r\n";
constexpr std::string_view kLogExtension = "csv";
constexpr std::string_view kLogFilter = "CSV file (*.csv)|*.csv|all files(*.*)|*.*||";

}  // namespace

void Monitor::setDefaultPaths() {
  windowTitle_ = profile_.modelName;
  const std::string model = pathSeparator() + std::string(profile_.modelName);
  logFilePath_ = dataDirectory_ + model + ".csv";
  startupFilePath_ = configDirectory_ + model + ".ini";
  view_.setText(ctl::kLogFileField, logFilePath_);
  settingsFilePath_ = configDirectory_ + model + "." + std::string(profile_.settingsExtension);
}

void Monitor::applyStartupConfiguration() {
  std::optional<std::string> named = textfile::readFirstLine(startupFilePath_);
  if (!named) return;
  settingsFilePath_ = std::move(*named);
  if (applySettingsFile(settingsFilePath_)) startStop();
}

void Monitor::saveSettings() {
  const Messages& m = messages();
  SettingsRecord record;
  record.windowTitle = windowTitle_;
  for (int i = 0; i < kPortSlotCount; ++i) record.ports[i] = view_.text(kSlotControls[i].portEdit);
  if (profile_.hasOutputs()) record.destinationPort = view_.text(ctl::kDestinationPort);
  record.inputNames = inputNames();
  record.outputNames = outputNames();
  record.logging = view_.isChecked(ctl::kLogging);
  record.running = state_.running != 0;
  record.logFilePath = logFilePath_;

  switch (checkSavable(record)) {
    case SaveRefusal::TitleHasKeyPrefix:
      view_.messageBox(m.titleHasKeyPrefix);
      return;
    case SaveRefusal::NameHasKeyPrefix:
      view_.messageBox(m.nameHasKeyPrefix);
      return;
    case SaveRefusal::None:
      break;
  }
  std::optional<std::string> chosen = view_.chooseFile(
      {true, profile_.settingsExtension, settingsFilePath_, window_.settingsFilter});
  if (!chosen) return;
  settingsFilePath_ = std::move(*chosen);
  // The startup configuration names the file only once it holds these settings whole: a
  // failed save must not send the next start to a damaged or missing file.
  if (!textfile::replace(settingsFilePath_, formatSettingsFile(profile_, record))) {
    view_.messageBox(m.settingsNotSaved);
    return;
  }
  // A program folder the operator may not write to is usual; the settings file itself was
  // saved, so this one stays silent.
  textfile::replace(startupFilePath_, settingsFilePath_);
}

void Monitor::loadSettings() {
  std::optional<std::string> chosen = view_.chooseFile(
      {false, profile_.settingsExtension, settingsFilePath_, window_.settingsFilter});
  if (!chosen) return;
  settingsFilePath_ = std::move(*chosen);
  if (state_.running != 0) startStop();
  ready_ = false;
  const bool startRequested = applySettingsFile(settingsFilePath_);
  if (startRequested) startStop();
  ready_ = true;
}

bool Monitor::applySettingsFile(const std::string& path) {
  const Messages& m = messages();
  const std::optional<std::string> content = textfile::readAll(path);
  if (!content) {
    trace_.literal(m.settingsMissing);
    return false;
  }
  trace_.literal(m.settingsFound);
  trace_.literal(kTraceRule);
  SettingsChanges changes;
  for (const std::string& line : splitSettingsLines(*content)) {
    trace_.literal(line);
    trace_.literal("\r\n");
    applySettingsLine(profile_, line, changes);
  }

  for (int i = 0; i < kPortSlotCount; ++i) {
    if (changes.ports[i]) view_.setText(kSlotControls[i].portEdit, *changes.ports[i]);
  }
  if (changes.destinationPort) view_.setText(ctl::kDestinationPort, *changes.destinationPort);
  for (int i = 0; i < profile_.inputCount(); ++i) {
    if (changes.inputNames[i]) view_.setText(window_.inputs[i].nameEdit, *changes.inputNames[i]);
  }
  for (int i = 0; i < profile_.outputCount(); ++i) {
    if (changes.outputNames[i]) {
      view_.setText(window_.outputs[i].nameEdit, *changes.outputNames[i]);
    }
  }
  if (changes.logging) view_.setChecked(ctl::kLogging, *changes.logging);
  if (changes.logFilePath) {
    // A path the system cannot take names no file; the previous one stays.
    if (textfile::fitsPathLimit(*changes.logFilePath)) {
      logFilePath_ = *changes.logFilePath;
    } else {
      trace_.literal(m.logPathTooLong);
    }
  }
  if (changes.windowTitle) windowTitle_ = *changes.windowTitle;

  view_.setCaption(windowTitle_);
  view_.setText(ctl::kLogFileField, logFilePath_);
  trace_.literal(kTraceRule);
  publishLogSettings();
  return changes.startRequested;
}

void Monitor::browseLogFile() {
  std::optional<std::string> chosen =
      view_.chooseFile({true, kLogExtension, logFilePath_, kLogFilter});
  if (!chosen) return;
  logFilePath_ = std::move(*chosen);
  view_.setText(ctl::kLogFileField, logFilePath_);
  publishLogSettings();
}

void Monitor::publishLogSettings() {
  accessLog_.update({view_.isChecked(ctl::kLogging), logFilePath_, inputNames(), outputNames()});
}

}  // namespace dravik
