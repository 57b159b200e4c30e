// Identifiers of the main window's controls that are not reached through the row tables.
// The numbers are those of the window templates, shared by the core and the Qt window.
#pragma once

namespace dravik::ctl {

inline constexpr int kStartStop = 1001;
inline constexpr int kTracePane = 1002;
inline constexpr int kAdapterCombo = 1003;
inline constexpr int kLogging = 1010;
inline constexpr int kBrowseLog = 1013;
inline constexpr int kVersion = 1014;
inline constexpr int kLogFileField = 1015;
inline constexpr int kStatusPanel = 1017;
inline constexpr int kTitleBarButton = 1020;
inline constexpr int kSaveButton = 1021;
inline constexpr int kLoadButton = 1022;
inline constexpr int kDestinationPort = 1031;

}  // namespace dravik::ctl
