// Every Japanese text of the core, in one place so that all of them can be reviewed at once.
// The texts are kept here as UTF-8 and handed out as CP932 bytes, converted once.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dravik {

struct Messages {
  std::string sourceAddressFormat;  // "接続元 : %s"
  std::string portNumberError;
  std::string duplicatePorts;
  std::string socketErrorFormat;   // "...:S %d\r\n"
  std::string bindErrorFormat;     // "...:B %d\r\n"
  std::string listenErrorFormat;   // "...:L %d\r\n"
  std::string threadErrorFormat;   // our own, "...:T %d\r\n": no server thread could start
  std::string stopServerCaption;   // button 1001 while listening
  std::string startServerCaption;  // button 1001 while stopped
  std::string statusListening;
  std::string statusStopped;
  std::string destinationPortRefused;
  std::string titleHasKeyPrefix;
  std::string nameHasKeyPrefix;
  std::string settingsMissing;  // trace line when a settings file does not open
  std::string settingsFound;    // trace line when it does
  std::string logCannotOpen;
  std::string traceDevelopmentOnly;
  std::string noAdapter;
  std::string settingsNotSaved;  // our own: a save whose file could not be written
  std::string logWriteFailed;    // our own: a log line that could not be written whole
  std::string logPathTooLong;    // our own: trace line when a settings file's log path is refused
};

// The texts as CP932 bytes.
const Messages& messages();

// The same texts in UTF-8, for review and tests.
const std::vector<std::string_view>& messageSources();

}  // namespace dravik
