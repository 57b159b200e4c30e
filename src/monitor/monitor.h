// The monitor: owns every piece of run-time state of one program and implements every
// handler of its window. It reaches the window only through View.
//
// Handlers run on the window's thread. The destructor stops and joins every worker thread,
// so a Monitor can be destroyed on any exit path.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/engine_events.h"
#include "engine/listening_server.h"
#include "engine/monitor_state.h"
#include "engine/variant_profile.h"
#include "logging/access_log.h"
#include "logging/trace.h"
#include "monitor/window_profile.h"
#include "net/adapter_table.h"

namespace dravik {

class View;
class OutputPort;

using VersionNumbers = std::array<std::uint16_t, 4>;

// "Version 1.01" for 1.0.1.0: the numbers after the point follow one another unseparated,
// the fourth only when it is not 0.
std::string formatVersionText(const VersionNumbers& version);

// Makes the output sender of a program with outputs, over the monitor's own state and trace.
using OutputFactory = std::unique_ptr<OutputPort> (*)(MonitorState& state, const Trace& trace);

class Monitor : public EngineEvents {
 public:
  // `makeOutput` makes the output sender of a program with outputs; nullptr otherwise.
  // `configDirectory` holds the startup configuration and the default settings file,
  // `dataDirectory` the default access log; a portable program gives its own folder for both.
  Monitor(const VariantProfile& profile, View& view, AdapterProvider& adapters,
          OutputFactory makeOutput, std::string configDirectory, std::string dataDirectory,
          const VersionNumbers& version);
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;

  // The start-up sequence of the window. False when no adapter was found: the message was
  // shown and the modal run ended with -1; nothing else was initialised.
  bool initDialog();

  // --- handlers, window's thread ---
  void startStop();                    // button 1001: start() or stop()
  void loadSettings();                 // button 1022
  void saveSettings();                 // button 1021
  void changeTitleBar();               // button 1020
  void browseLogFile();                // button 1013
  void selectAdapter();                // selection change of 1003
  void toggleDigitalOut(int channel);  // ON/OFF buttons, channel 0-3
  void onSignalNameChanged();          // text change of any signal-name edit
  void onLoggingToggled();             // check box 1010
  // Close box: every slot to Stopping with 100 ms after each, then the modal run ends.
  void onClose();
  // Stops and joins every worker thread (every exit path; also run by the destructor).
  void shutdown();

  // The two halves of the start/stop command.
  void start();  // validates the port texts and starts listening on every valid one
  void stop();   // stops every slot and waits until each has ended

  // Applies a settings file; true when it asks for a running server. Never starts or stops.
  bool applySettingsFile(const std::string& path);

  // Binds every socket to `address` (network byte order) whatever adapter is selected: the
  // seam through which end-to-end tests listen on loopback, which the adapter rules exclude.
  void overrideLocalAddress(std::uint32_t address) { localAddressOverride_ = address; }

  const VariantProfile& profile() const { return profile_; }
  MonitorState& state() { return state_; }
  const MonitorState& state() const { return state_; }
  const std::string& windowTitle() const { return windowTitle_; }
  const std::string& logFilePath() const { return logFilePath_; }
  const std::string& settingsFilePath() const { return settingsFilePath_; }
  const std::string& startupFilePath() const { return startupFilePath_; }
  bool ready() const { return ready_; }
  bool namesChanged() const { return accessLog_.namesChanged(); }
  // The access log every receiver writes to.
  AccessLog& accessLog() { return accessLog_; }
  // The listening server, for the tests and the benchmark that look at its threads.
  ListeningServer& server() { return server_; }

  // Window's thread: the message box of a start that failed, with the system's error number.
  void showStartFailure(const StartError& failure);

  // EngineEvents: what the engine's threads report; see engine/engine_events.h.
  void inputsChanged(int slot, unsigned changedInputs) override;
  void framesAnswered(int slot, const std::string& peer,
                      std::span<const FrameStates> frames) override;
  void unitReporting(int slot, const std::string& peer) override;
  void connectionClosed(int slot) override;
  void slotEnded(int slot) override;

 private:
  // Start-up pieces, in the order initDialog runs them.
  bool fillAdapterCombo();           // false when no entry
  void setDefaultPaths();            // windowTitle and the three built paths
  void applyStartupConfiguration();  // reads the startup file, applies, maybe starts
  // Hands the logging switch, log path and signal names to the access log.
  void publishLogSettings();
  // The window of a stopped server: gray input lamps, no ON/OFF, the start caption and the
  // stopped status. The one place that writes it, from whichever thread ends the server.
  void showStopped();
  // Every thread writes the source labels and enables the ON/OFF buttons through these two,
  // which keep the copies below.
  void setSourceLabel(int slot, const std::string& text);
  void enableOutputButtons(bool enabled);

  std::vector<std::string> inputNames() const;
  std::vector<std::string> outputNames() const;

  const VariantProfile& profile_;
  const WindowProfile& window_;
  View& view_;
  AdapterProvider& adapterProvider_;
  const std::string configDirectory_;
  const std::string dataDirectory_;
  const std::string versionText_;

  MonitorState state_;
  Trace trace_;
  std::vector<AdapterEntry> adapterTable_;
  std::optional<std::uint32_t> localAddressOverride_;
  std::string windowTitle_;
  std::string logFilePath_;
  std::string settingsFilePath_;
  std::string startupFilePath_;
  // 0 during start-up and while a loaded settings file is applied: program-set names are
  // not operator edits.
  bool ready_ = false;

  // What the window's source labels and ON/OFF buttons show, as last set (nothing before the
  // first time): a unit that reports burst after burst changes them only when they differ.
  // Held around each change and its view call, so the copies and the window never part.
  std::mutex shownLock_;
  std::array<std::optional<std::string>, kPortSlotCount> shownLabels_;
  std::optional<bool> outputButtonsShown_;

  AccessLog accessLog_;
  std::unique_ptr<OutputPort> output_;
  // Last: its threads use the members above, so it is destroyed (and joined) first.
  ListeningServer server_;
};

}  // namespace dravik
