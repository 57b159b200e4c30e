// The Win32 window of both programs, driven from outside the way an operator and Windows drive
// it: the real DRAVIK_A.exe and DRAVIK_B.exe in folders of their own, their dialog and controls
// found by identifier, texts read with WM_GETTEXT, keys and clicks posted, colours read from the
// screen, a unit played by dravik-unit.exe. What is checked is the mapping of the View onto
// Win32; the monitor's behaviour is tested through the fake view.
//
// Run under Wine by windows_window_test.sh, inside a network namespace the script makes: the
// programs' one adapter is an address of that namespace.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/frame_codec.h"
#include "monitor/controls.h"
#include "monitor/messages.h"
#include "monitor/window_profile.h"
#include "platform/cp932.h"
#include "platform/utf16.h"
#include "window/window_template.h"

namespace dravik::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kPort = 10003;
const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kGray = RGB(127, 127, 127);

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// This program's folder: the programs under test are built beside it (..) and in ../tools.
fs::path buildFolder() {
  wchar_t path[MAX_PATH];
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path().parent_path();
}

// A window's text as CP932, read the way any other program reads it.
std::string textOf(HWND window) {
  DWORD_PTR length = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
  std::wstring text(length + 1, L'\0');
  ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, &length);
  text.resize(length);
  return cp932::fromUtf16(text);
}

// The colour a control paints its background with, as the screen shows it: just inside its
// edge, clear of any text.
COLORREF colourOf(HWND control) {
  POINT inside{2, 2};
  ::ClientToScreen(control, &inside);
  const HDC screen = ::GetDC(nullptr);
  const COLORREF colour = ::GetPixel(screen, inside.x, inside.y);
  ::ReleaseDC(nullptr, screen);
  return colour;
}

void post(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  ASSERT_TRUE(::PostMessageW(window, message, wParam, lParam));
}

void typeText(HWND control, std::wstring_view text) {
  for (wchar_t c : text) post(control, WM_CHAR, c, 1);
}

void pressKey(HWND control, WPARAM key) {
  post(control, WM_KEYDOWN, key, 1);
  post(control, WM_KEYUP, key, 0xC0000001);
}

// Whether a listening socket can be opened on `address`:`port` (nothing holds the port).
bool portFree(const std::string& address, int port) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<u_short>(port));
  ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
  const bool bound = ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
  ::closesocket(s);
  return bound;
}

// A process started from `commandLine`, its output in `output`; ended when destroyed.
class Process {
 public:
  Process(const std::wstring& commandLine, const fs::path& folder, const fs::path& output = {}) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!output.empty()) {
      out_ = ::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdOutput = startup.hStdError = out_;
    }
    std::wstring line = commandLine;
    started_ = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, !output.empty(), 0, nullptr,
                                folder.c_str(), &startup, &info_);
  }
  ~Process() {
    if (started_ && !ended(0ms)) ::TerminateProcess(info_.hProcess, 99);
    if (started_) {
      ::WaitForSingleObject(info_.hProcess, 5000);
      ::CloseHandle(info_.hThread);
      ::CloseHandle(info_.hProcess);
    }
    if (out_ != INVALID_HANDLE_VALUE) ::CloseHandle(out_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return started_; }
  DWORD id() const { return info_.dwProcessId; }
  bool ended(std::chrono::milliseconds wait) const {
    return ::WaitForSingleObject(info_.hProcess, static_cast<DWORD>(wait.count())) == WAIT_OBJECT_0;
  }
  DWORD exitCode() const {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION info_{};
  HANDLE out_ = INVALID_HANDLE_VALUE;
  bool started_ = false;
};

// A visible top-level window of process `pid` with the dialog class other than `other`;
// `owned`: one the main window owns (the title bar dialog, a file dialog), else one of its own
// (the main window, a worker's message box).
HWND findDialog(DWORD pid, bool owned, HWND other = nullptr) {
  struct Search {
    DWORD pid;
    bool owned;
    HWND other;
    HWND found;
  } search{pid, owned, other, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        wchar_t name[16] = {};
        ::GetClassNameW(window, name, std::size(name));
        if (pid != s->pid || window == s->other || !::IsWindowVisible(window) ||
            std::wstring_view(name) != L"#32770" ||
            (::GetWindow(window, GW_OWNER) != nullptr) != s->owned) {
          return TRUE;
        }
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The settings that start the server on kPort with logging on.
const std::string kListening =
    "#$PORT=" + std::to_string(kPort) + "\r\n#$LOGGING=ON\r\n#$SERVER=START\r\n";

// One monitor run in a new folder of its own, where it keeps its files (the folder is
// writable), started by a startup configuration naming a settings file of `settings` when
// there are any.
class MonitorRun {
 public:
  MonitorRun(const VariantProfile& profile, const std::string& settings) : profile_(profile) {
    const std::string program(windowProfile(profile).programName);
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    folder_ =
        fs::path(temp) / ("dravik-window-" + program + "-" + std::to_string(::GetTickCount64()));
    fs::create_directories(folder_);
    fs::copy_file(buildFolder() / (program + ".exe"), folder_ / (program + ".exe"));
    if (!settings.empty()) {
      const std::string model(profile.modelName);
      std::ofstream(folder_ / "start.set", std::ios::binary) << settings;
      std::ofstream(folder_ / (model + ".ini"), std::ios::binary)
          << cp932::fromUtf16((folder_ / "start.set").wstring()) << "\r\n";
    }
    process_ = std::make_unique<Process>((folder_ / (program + ".exe")).wstring(), folder_);
    // A Wine process on a busy machine takes seconds to show its first window.
    eventually([&] { return (dialog_ = findDialog(process_->id(), false)) != nullptr; }, 30s);
  }
  ~MonitorRun() {
    process_.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  HWND dialog() const { return dialog_; }
  HWND control(int id) const { return ::GetDlgItem(dialog_, id); }
  std::string text(int id) const { return textOf(control(id)); }
  Process& process() { return *process_; }
  const fs::path& folder() const { return folder_; }
  // The address of the program's first adapter, as its combo box shows it: "a.b.c.d (name)".
  std::string address() const {
    const std::string shown = text(ctl::kAdapterCombo);
    return shown.substr(0, shown.find(' '));
  }
  void focus(int id) const {
    post(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control(id)), TRUE);
  }
  // Whether every listed control comes to show `colour`.
  bool shows(const std::vector<int>& ids, COLORREF colour) const {
    return eventually([&] {
      for (int id : ids) {
        if (colourOf(control(id)) != colour) return false;
      }
      return true;
    });
  }
  // dravik-unit.exe reporting `bits` to this program's first adapter and keeping its connection
  // open for `holdMs`, its output in unit.txt.
  std::unique_ptr<Process> unit(const std::string& bits, int holdMs) const {
    return std::make_unique<Process>(
        L"\"" + (buildFolder() / "tools" / "dravik-unit.exe").wstring() + L"\" --host " +
            cp932::toUtf16(address()) + L" --port " + std::to_wstring(kPort) + L" --do " +
            cp932::toUtf16(bits) + L" --keep-open --hold " + std::to_wstring(holdMs),
        folder_, folder_ / "unit.txt");
  }
  std::vector<int> inputLamps() const {
    std::vector<int> lamps;
    for (const InputRow& row : windowProfile(profile_).inputs) lamps.push_back(row.lamp);
    return lamps;
  }

 private:
  const VariantProfile& profile_;
  fs::path folder_;
  std::unique_ptr<Process> process_;
  HWND dialog_ = nullptr;
};

std::string readFile(const fs::path& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

// The trace pane's lines, the last one the unfinished line after the final line end, as in
// the Qt window.
constexpr int kTracePaneLines = 5000;

// A settings file of more lines than the trace pane keeps, none of which changes anything.
std::string longSettings() {
  std::string settings;
  for (int i = 0; i < 2 * kTracePaneLines; ++i)
    settings += "#$FILLER=" + std::to_string(i) + "\r\n";
  return settings;
}

// Every test: the programs listen on their first adapter, which must be one of the network
// namespace windows_window_test.sh makes; and the port checks need the socket library.
class WineRun : public testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("DRAVIK_WINDOW_TEST_NAMESPACE")) {
      GTEST_SKIP() << "needs the network namespace windows_window_test.sh makes";
    }
    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
  }
  void TearDown() override { ::WSACleanup(); }
};
[[maybe_unused]] testing::Environment* const kWineRun =
    testing::AddGlobalTestEnvironment(new WineRun);

class WindowsWindow : public testing::TestWithParam<const VariantProfile*> {
 protected:
  const VariantProfile& profile() const { return *GetParam(); }
};

std::string variantName(const testing::TestParamInfo<const VariantProfile*>& info) {
  return info.param->hasOutputs() ? "A" : "B";
}

INSTANTIATE_TEST_SUITE_P(Wine, WindowsWindow, testing::Values(&kVariantA, &kVariantB), variantName);

TEST_P(WindowsWindow, DialogIsBuiltFromTheTemplateAndTypingFollowsTheRules) {
  MonitorRun monitor(profile(), longSettings());
  ASSERT_TRUE(monitor.dialog()) << "no main dialog appeared";
  const window::WindowTemplate& tmpl = window::mainWindowTemplate(profile());

  // Every control in template order (the dialog's child order is its tab order), of the
  // template's class and style, at the template's place: dialog units scale by the font's base
  // units, taken here from the client area, to within a pixel of rounding.
  RECT client;
  ::GetClientRect(monitor.dialog(), &client);
  const auto scaled = [&](int units, int whole, LONG pixels) {
    return ::MulDiv(units, pixels, whole);
  };
  HWND child = nullptr;
  for (const window::ControlTemplate& c : tmpl.controls) {
    child = child ? ::GetWindow(child, GW_HWNDNEXT) : ::GetWindow(monitor.dialog(), GW_CHILD);
    ASSERT_TRUE(child) << "controls missing from id " << c.id;
    SCOPED_TRACE("control " + std::to_string(c.id) + " at " + std::to_string(c.rect.x) + "," +
                 std::to_string(c.rect.y));
    EXPECT_EQ(::GetDlgCtrlID(child), c.id);
    wchar_t name[32] = {};
    ::GetClassNameW(child, name, std::size(name));
    const std::wstring_view classes[] = {L"Button", L"Static", L"Static", L"Button",
                                         L"Static", L"Edit",   L"Button", L"ComboBox"};
    EXPECT_EQ(std::wstring_view(name), classes[static_cast<int>(c.kind)]);
    const LONG style = ::GetWindowLongW(child, GWL_STYLE);
    EXPECT_EQ((style & WS_TABSTOP) != 0, c.kind == window::ControlKind::PushButton ||
                                             c.kind == window::ControlKind::Edit ||
                                             c.kind == window::ControlKind::CheckBox ||
                                             c.kind == window::ControlKind::ComboBox);
    EXPECT_EQ((style & ES_NUMBER) != 0 && c.kind == window::ControlKind::Edit,
              (c.style & window::kDigitsOnly) != 0);
    RECT rect;
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, monitor.dialog(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_NEAR(rect.left, scaled(c.rect.x, tmpl.width, client.right), 1);
    EXPECT_NEAR(rect.top, scaled(c.rect.y, tmpl.height, client.bottom), 1);
    // An etched line is drawn with an edge of its own, and its size is the system's.
    if (c.kind == window::ControlKind::Separator) continue;
    EXPECT_EQ((::GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_STATICEDGE) != 0,
              c.kind == window::ControlKind::Lamp);
    // A caption may run wider, into the free room to its right, to show whole.
    if (c.kind == window::ControlKind::Label && c.id == window::kNoId) {
      EXPECT_GE(rect.right - rect.left, scaled(c.rect.w, tmpl.width, client.right) - 1);
    } else {
      EXPECT_NEAR(rect.right - rect.left, scaled(c.rect.w, tmpl.width, client.right), 1);
    }
    // A drop-down list's height in the template includes its open list.
    if (c.kind != window::ControlKind::ComboBox) {
      EXPECT_NEAR(rect.bottom - rect.top, scaled(c.rect.h, tmpl.height, client.bottom), 1);
    }
  }
  EXPECT_FALSE(::GetWindow(child, GW_HWNDNEXT)) << "a control the template does not hold";

  // The version from the version resource, the stopped look, the trace pane hidden and, with
  // every line of the settings file traced (DRAVIK_B), holding its newest lines only.
  EXPECT_EQ(monitor.text(ctl::kVersion), "Version 1.01");
  EXPECT_EQ(monitor.text(ctl::kStatusPanel), messages().statusStopped);
  EXPECT_EQ(textOf(monitor.dialog()), profile().modelName);
  EXPECT_FALSE(::IsWindowVisible(monitor.control(ctl::kTracePane)));
  const std::string trace = monitor.text(ctl::kTracePane);
  if (profile().traceEnabled) {
    EXPECT_EQ(std::ranges::count(trace, '\n'), kTracePaneLines - 1);
    EXPECT_TRUE(trace.starts_with("#$FILLER="))
        << "the oldest lines go first: " << trace.substr(0, 40);
    EXPECT_TRUE(trace.ends_with(".set\r\n"))
        << "the newest line, cfg : <settings file>, stays: " << trace.substr(trace.size() - 40);
  } else {
    EXPECT_EQ(trace, "");
  }
  EXPECT_TRUE(monitor.shows(monitor.inputLamps(), kGray)) << "input lamps gray while stopped";
  EXPECT_TRUE(monitor.shows({ctl::kStatusPanel}, kGray));

  // Port edits take digits only, typed or pasted; a name takes 20 CP932 bytes, which ten
  // kanji fill although the edit would take twenty characters.
  const int port = kSlotControls[1].portEdit;
  monitor.focus(port);
  typeText(monitor.control(port), L"1a2");
  ASSERT_TRUE(::OpenClipboard(nullptr) && ::EmptyClipboard());
  const std::wstring pasted = L"3b";
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (pasted.size() + 1) * sizeof(wchar_t));
  std::copy_n(pasted.c_str(), pasted.size() + 1, static_cast<wchar_t*>(::GlobalLock(memory)));
  ::GlobalUnlock(memory);
  ::SetClipboardData(CF_UNICODETEXT, memory);
  ::CloseClipboard();
  post(monitor.control(port), WM_PASTE);
  typeText(monitor.control(port), L"4");
  EXPECT_TRUE(eventually([&] { return monitor.text(port) == "124"; })) << monitor.text(port);

  const int name = windowProfile(profile()).inputs[0].nameEdit;
  monitor.focus(name);
  typeText(monitor.control(name), std::wstring(11, L'東'));
  EXPECT_TRUE(eventually([&] {
    return monitor.text(name) == cp932::fromUtf8("東東東東東東東東東東");
  })) << monitor.text(name).size()
      << " bytes";

  // The log file's save dialog: the log's filter first, in the folder of the default log
  // beside the program, a name typed without extension given the log's. Controls by their
  // common-dialog ids: the type list (cmb1) and the name box (cmb13) with its edit.
  post(monitor.control(ctl::kBrowseLog), BM_CLICK);
  HWND chooser = nullptr;
  ASSERT_TRUE(
      eventually([&] { return (chooser = findDialog(monitor.process().id(), true)) != nullptr; }));
  EXPECT_EQ(textOf(::GetDlgItem(chooser, 0x470)), "CSV file (*.csv)");
  const HWND nameBox = ::GetDlgItem(chooser, 0x47C);
  const HWND nameEdit = ::FindWindowExW(::FindWindowExW(nameBox, nullptr, L"ComboBox", nullptr),
                                        nullptr, L"Edit", nullptr);
  ::SendMessageTimeoutW(nameEdit ? nameEdit : nameBox, WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(L"chosen"), SMTO_ABORTIFHUNG, 5000, nullptr);
  post(chooser, WM_COMMAND, IDOK);
  const std::string chosen = cp932::fromUtf16((monitor.folder() / "chosen.csv").wstring());
  EXPECT_TRUE(eventually([&] { return monitor.text(ctl::kLogFileField) == chosen; }))
      << monitor.text(ctl::kLogFileField);
}

TEST_P(WindowsWindow, UnitReportsReachLabelLampsAndLogAndTheOperatorsKeysMapToTheDialog) {
  MonitorRun monitor(profile(), kListening);
  ASSERT_TRUE(monitor.dialog()) << "no main dialog appeared";
  ASSERT_TRUE(eventually([&] {
    return monitor.text(ctl::kStatusPanel) == messages().statusListening;
  })) << "the startup configuration did not start the server";
  EXPECT_TRUE(monitor.shows({ctl::kStatusPanel}, kRed));
  EXPECT_TRUE(monitor.shows(monitor.inputLamps(), kBlack)) << "input lamps black once listening";

  const std::string address = monitor.address();
  const std::string bits = profile().hasOutputs() ? "1010" : "10110010";
  const auto unit = monitor.unit(bits, 8000);
  ASSERT_TRUE(unit->started());

  char label[64];
  std::snprintf(label, sizeof label, messages().sourceAddressFormat.c_str(), address.c_str());
  EXPECT_TRUE(eventually([&] { return monitor.text(kSlotControls[0].sourceLabel) == label; }))
      << monitor.text(kSlotControls[0].sourceLabel);
  std::vector<int> on;
  std::vector<int> off;
  for (std::size_t i = 0; i < bits.size(); ++i) {
    (bits[i] == '1' ? on : off).push_back(windowProfile(profile()).inputs[i].lamp);
  }
  EXPECT_TRUE(monitor.shows(on, kRed)) << "lamps of the inputs on";
  EXPECT_TRUE(monitor.shows(off, kBlack)) << "lamps of the inputs off";
  const fs::path log = monitor.folder() / (std::string(profile().modelName) + ".csv");
  EXPECT_TRUE(eventually([&] { return readFile(log).find(address) != std::string::npos; }))
      << "no log line beside the program: " << readFile(log);

  if (profile().hasOutputs()) {
    // ON/OFF sends the output frame over the unit's connection and lights the lamp.
    const OutputRow& first = windowProfile(profile()).outputs[0];
    ASSERT_TRUE(eventually([&] { return ::IsWindowEnabled(monitor.control(first.button)) != 0; }));
    post(monitor.control(first.button), BM_CLICK);
    EXPECT_TRUE(monitor.shows({first.lamp}, kRed));
    OutputStates outputs{};
    outputs[0] = 1;
    const Answer frame = encodeOutputFrame(outputs, profile().outputCount());
    char hex[32];
    std::snprintf(hex, sizeof hex, "output: %02X %02X %02X %02X %02X", frame[0], frame[1], frame[2],
                  frame[3], frame[4]);
    EXPECT_TRUE(eventually([&] {
      return readFile(monitor.folder() / "unit.txt").find(hex) != std::string::npos;
    })) << readFile(monitor.folder() / "unit.txt");
  }

  // Enter on the focused start button presses nothing: the server still listens.
  monitor.focus(ctl::kStartStop);
  pressKey(monitor.control(ctl::kStartStop), VK_RETURN);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(monitor.text(ctl::kStatusPanel), messages().statusListening)
      << "Enter pressed a button";

  // The title bar dialog: its field has the title selected, Enter there is its OK.
  post(monitor.control(ctl::kTitleBarButton), BM_CLICK);
  HWND title = nullptr;
  ASSERT_TRUE(
      eventually([&] { return (title = findDialog(monitor.process().id(), true)) != nullptr; }));
  EXPECT_EQ(textOf(title), cp932::fromUtf8("タイトルバーの変更"));
  const HWND field = ::GetDlgItem(title, window::kTitleField);
  typeText(field, L"第二ライン");
  pressKey(field, VK_RETURN);
  EXPECT_TRUE(eventually([&] { return textOf(monitor.dialog()) == cp932::fromUtf8("第二ライン"); }))
      << textOf(monitor.dialog());
}

// How a run can end, and what the ending must leave: status 0, every port free.
enum class Ending { Escape, CloseBox, EndSession };

class WindowsEnding : public testing::TestWithParam<Ending> {};

std::string endingName(const testing::TestParamInfo<Ending>& info) {
  constexpr const char* kNames[] = {"Escape", "CloseBox", "EndSession"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Wine, WindowsEnding,
                         testing::Values(Ending::Escape, Ending::CloseBox, Ending::EndSession),
                         endingName);

TEST_P(WindowsEnding, EndsWithStatusZeroAndFreesItsPortsAtOnce) {
  // A log that cannot be opened: the unit's receiver shows the message box and waits in it.
  MonitorRun monitor(kVariantA, kListening + "#$LOGFILENAME=missing\\log.csv\r\n");
  ASSERT_TRUE(monitor.dialog());
  ASSERT_TRUE(
      eventually([&] { return monitor.text(ctl::kStatusPanel) == messages().statusListening; }));
  const std::string address = monitor.address();
  const auto unit = monitor.unit("1", 30000);
  // The frame is answered, then logged: the receiver shows the box before it names the unit,
  // and holds its thread in the box while the program ends. The worker's box is modal for the
  // worker only: a window of its own, the main one usable.
  HWND box = nullptr;
  ASSERT_TRUE(eventually([&] {
    return (box = findDialog(monitor.process().id(), false, monitor.dialog())) != nullptr;
  })) << "no message box for the log that cannot be opened";
  ASSERT_FALSE(portFree(address, kPort));
  EXPECT_EQ(textOf(box), kWindowProfileA.programName);
  EXPECT_TRUE(::IsWindowEnabled(monitor.dialog()));

  switch (GetParam()) {
    case Ending::Escape:
      pressKey(monitor.control(ctl::kStartStop), VK_ESCAPE);
      break;
    case Ending::CloseBox:
      post(monitor.dialog(), WM_CLOSE);
      break;
    case Ending::EndSession: {
      DWORD_PTR agreed = 0;
      ::SendMessageTimeoutW(monitor.dialog(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                            SMTO_ABORTIFHUNG, 5000, &agreed);
      EXPECT_EQ(agreed, static_cast<DWORD_PTR>(TRUE));
      // The system may end the process as soon as this returns: by then the ports are free.
      ::SendMessageTimeoutW(monitor.dialog(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF,
                            SMTO_ABORTIFHUNG, 10000, nullptr);
      EXPECT_TRUE(portFree(address, kPort)) << "port still held when WM_ENDSESSION returned";
      break;
    }
  }
  ASSERT_TRUE(monitor.process().ended(10s));
  EXPECT_EQ(monitor.process().exitCode(), 0u);
  EXPECT_TRUE(portFree(address, kPort));
}

}  // namespace
}  // namespace dravik::test
