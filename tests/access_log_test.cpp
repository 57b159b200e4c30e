// The access log: its bytes, headers owed, failures, files changed under it, receivers at once.
#include "logging/access_log.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <sstream>
#include <thread>

#include "flag.h"
#include "settings_test_support.h"
#ifdef _WIN32
#include "wine_version.h"
#endif

namespace dravik {
namespace {

using namespace test;

const std::string kHeaderA = kHeaderStart + ",DI1,DI2,DI3,DI4,DO1,DO2,DO3,DO4";
const std::string kDoor = kHeaderStart + ",DI1,Door,DI3,DI4,DO1,DO2,DO3,DO4";
const std::string kOff = "192.0.2.10,0,0,0,0,0,0,0,0";

// The local time a data line's stamp "YYYY/MM/DD,hh:mm:ss," names; -1 for another shape.
std::time_t stampOf(const std::string& line) {
  std::tm when{};
  std::istringstream in(line.substr(0, 20));
  in >> std::get_time(&when, "%Y/%m/%d,%H:%M:%S,");
  when.tm_isdst = -1;
  return line.size() >= 20 && !in.fail() && in.peek() == EOF ? std::mktime(&when) : -1;
}

// The log's lines, a last one without its end marked; a stamp of local "now" is cut off unless
// `keepStamps`, a line without one is kept whole.
Lines logLines(const std::string& path, bool keepStamps = false) {
  const std::string text = fileText(path);
  Lines lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = text.substr(start, end - start);
    const double age = std::difftime(std::time(nullptr), stampOf(line));
    lines.push_back(!keepStamps && age >= 0 && age <= 60 ? line.substr(20) : line);
  }
  if (start < text.size()) lines.push_back(text.substr(start) + "<no line end>");
  return lines;
}

struct LogRig : MonitorRig {
  explicit LogRig(const VariantProfile& p = kVariantA) : MonitorRig(p) { useLog(path); }
  // The log lets its file go before the folder is removed: Windows deletes no open file.
  ~LogRig() { useLog(path, false); }
  // One burst of frames answered with `states`, one line each.
  void frame(const std::string& peer = "192.0.2.10", std::vector<FrameStates> states = {{}}) {
    monitor.framesAnswered(0, peer, states);
  }

  TempDir dir;
  const std::string path = dir.path() + "/a.csv";
};

TEST(AccessLog, ANewFileGetsAHeaderAndOneStampedLinePerFrame) {
  LogRig a;
  // A line records the states its frame was answered with, not those of the monitor now.
  a.monitor.state().inputs[1] = 1;
  a.frame("192.0.2.10", {{0x9, 0x2}, {0x1, 0x0}});
  // Each thread formats its stamp once a second: a line of the next second needs a new one.
  const std::time_t first = std::time(nullptr);
  while (std::time(nullptr) == first) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  a.frame("192.0.2.11", {{0x8, 0x2}});
  EXPECT_EQ(logLines(a.path), (Lines{kHeaderA, "192.0.2.10,1,0,0,1,0,1,0,0",
                                     "192.0.2.10,1,0,0,0,0,0,0,0", "192.0.2.11,0,0,0,1,0,1,0,0"}));
  const Lines raw = logLines(a.path, true);
  EXPECT_LT(stampOf(raw.at(2)), stampOf(raw.at(3))) << raw[2] << " then " << raw[3];
}

#ifndef _WIN32
// True when some descriptor of this process still leads to `path` (or to it deleted).
bool heldOpen(const std::string& path) {
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code gone;
    if (std::filesystem::read_symlink(fd.path(), gone).string().starts_with(path)) return true;
  }
  return false;
}
#else
// True when something holds `path` open: a file held open cannot be opened unshared.
bool heldOpen(const std::string& path) {
  const HANDLE file = ::CreateFileW(std::filesystem::path(path).wstring().c_str(), GENERIC_READ, 0,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
}
#endif

// Kept open between lines, the log still writes where a fresh open of the path would; a new
// path takes effect at the next line, and every line that fails is told.
TEST(AccessLog, EachLineGoesWhereTheSettingsAndTheFileSystemSayNow) {
  LogRig rig;
  rig.frame();
  rig.frame();
  EXPECT_TRUE(heldOpen(rig.path)) << "the log stays open between lines";
  const std::string moved = rig.dir.path() + "/moved.csv";
  std::filesystem::rename(rig.path, moved);
  rig.frame();
  EXPECT_EQ(logLines(moved).size(), 3u) << "nothing more into the renamed file";
  EXPECT_EQ(logLines(rig.path), (Lines{kHeaderA, kOff}));

#ifndef _WIN32
  writeBytes(rig.dir.path() + "/other.csv", "kept\r\n");
  std::filesystem::rename(rig.dir.path() + "/other.csv", rig.path);
#else
  // Windows renames no file over one that is open, as the log is: there a replacement is
  // written into the file itself, as an editor saves.
  writeBytes(rig.path, "kept\r\n");
#endif
  rig.frame();
  EXPECT_EQ(logLines(rig.path), (Lines{"kept", kOff})) << "a non-empty replacement goes headless";
  std::filesystem::resize_file(rig.path, 0);
  rig.frame();
  EXPECT_EQ(logLines(rig.path), (Lines{kHeaderA, kOff})) << "emptied by someone else: a header";
  EXPECT_TRUE(rig.view.messageBoxes().empty());

  const std::string second = rig.dir.path() + "/second.csv";
  rig.useLog(second);
  rig.frame();
  EXPECT_EQ(logLines(rig.path).size() + logLines(second).size(), 4u) << "only into the new path";
  EXPECT_FALSE(heldOpen(rig.path)) << "the old file is let go";
  rig.useLog(second, false);
  EXPECT_FALSE(heldOpen(second)) << "nothing is held open while logging is off";
  std::filesystem::remove(second);
  rig.frame();
  EXPECT_FALSE(std::filesystem::exists(second)) << "logging off touches no file";

  const std::string sub = rig.dir.path() + "/sub";
  std::filesystem::create_directory(sub);
  rig.useLog(sub + "/a.csv");
  rig.frame();
  std::error_code refused;
  std::filesystem::remove_all(sub, refused);
#ifdef _WIN32
  if (refused && !wineVersion().empty()) {
    GTEST_SKIP() << "Wine " << wineVersion()
                 << " keeps the name of a deleted file until its last handle closes, so the "
                    "log's folder cannot be removed while the log holds it";
  }
#endif
  ASSERT_FALSE(refused) << refused.message();
  rig.monitor.accessLog().markNamesChanged();
  rig.frame();
  rig.frame();
  EXPECT_EQ(rig.view.messageBoxes(), Lines(2, messages().logCannotOpen));
  EXPECT_TRUE(rig.monitor.accessLog().namesChanged()) << "a header is still owed";
  std::filesystem::create_directory(sub);
  rig.frame();
  EXPECT_EQ(logLines(sub + "/a.csv"), (Lines{kHeaderA, kOff})) << "created again";
  EXPECT_FALSE(rig.monitor.accessLog().namesChanged());

  // RLIMIT_FSIZE, which has the system cut a write short, is Linux's.
#ifndef _WIN32
  // A write the system cuts short: the header is owed again, and no half line is left.
  const std::optional<std::string> before = readBytes(sub + "/a.csv");
  rig.view.clearMessageBoxes();
  rig.monitor.accessLog().markNamesChanged();
  {
    FileSizeLimit limit(before->size() + 10);
    rig.frame("192.0.2.10", {{}, {}, {}});
  }
  EXPECT_EQ(rig.view.messageBoxes(), Lines{messages().logWriteFailed}) << "one box for a burst";
  EXPECT_EQ(readBytes(sub + "/a.csv"), before) << "the bytes that got through are taken back";
  EXPECT_TRUE(rig.monitor.accessLog().namesChanged()) << "the header was not written";
  rig.frame();
  EXPECT_EQ(logLines(sub + "/a.csv"), (Lines{kHeaderA, kOff, kHeaderA, kOff}));
#endif
}

TEST(AccessLog, HeadersFollowTheOperatorsNames) {
  TempDir dir;
  MonitorRig a(kVariantA, dir.path());
  ASSERT_TRUE(a.monitor.initDialog());
  const std::string path = a.monitor.logFilePath();
  const auto frame = [&a] {
    a.monitor.framesAnswered(0, "192.0.2.10", std::vector<FrameStates>(1));
  };
  a.view.setChecked(ctl::kLogging, true);
  a.monitor.onLoggingToggled();
  frame();
  a.view.type(1005, "Door");
  frame();
  frame();
  EXPECT_EQ(logLines(path), (Lines{kHeaderA, kOff, kDoor, kOff, kOff})) << "a header, once";

  const std::string other = dir.path() + "/ログ置き場/記録.csv";
  std::filesystem::create_directory(utf8Path(dir.path() + "/ログ置き場"));
  choose(a, cp932::fromUtf8(other), &Monitor::browseLogFile);
  const View::FileDialog shown = a.view.fileDialogs().back();
  EXPECT_TRUE(shown.save && shown.defaultExtension == "csv" && shown.initialPath == path);
  EXPECT_EQ(shown.filter, "CSV file (*.csv)|*.csv|all files(*.*)|*.*||");
  EXPECT_EQ(a.view.text(ctl::kLogFileField), cp932::fromUtf8(other));
  frame();
  EXPECT_EQ(logLines(other), (Lines{kDoor, kOff})) << "the chosen file, in CP932 on every system";
  EXPECT_EQ(logLines(path).size(), 5u) << "a line went to the file logged before";

  choose(a, path, &Monitor::browseLogFile);
  frame();
  ASSERT_EQ(logLines(path).size(), 6u);
  std::filesystem::remove(path);
#ifdef _WIN32
  if (std::filesystem::exists(path) && !wineVersion().empty()) {
    GTEST_SKIP() << "Wine " << wineVersion()
                 << " keeps the name of a deleted file until its last handle closes";
  }
#endif
  // Deleted: recreated under the names as they stand; a comma shifts the header, not the data.
  a.view.type(1004, "in,out");
  frame();
  EXPECT_EQ(logLines(path), (Lines{kHeaderStart + ",in,out,Door,DI3,DI4,DO1,DO2,DO3,DO4", kOff}));
}

TEST(AccessLog, ManyReceiversWriteWholeBurstsInTheirOwnOrder) {
  LogRig b(kVariantB);
  constexpr int kThreads = 8, kCalls = 300, kMarks = 50;
  {
    std::vector<std::jthread> receivers;
    for (int t = 0; t < kThreads; ++t) {
      receivers.emplace_back([&b, t] {
        for (int i = 0; i < kCalls; ++i)
          b.frame(std::to_string(t) + "/" + std::to_string(i), {{0x80, 0}, {0x01, 0}});
      });
    }
    for (int m = 0; m < kMarks; ++m) {
      b.monitor.accessLog().markNamesChanged();
      b.useLog(b.path);
      std::this_thread::yield();
    }
  }
  Lines lines = logLines(b.path);
  const auto headers = std::erase(lines, kHeaderStart + ",DI1,DI2,DI3,DI4,DI5,DI6,DI7,DI8");
  EXPECT_TRUE(headers >= 1 && headers <= 1 + kMarks) << headers << " headers, at most one a mark";
  ASSERT_EQ(lines.size(), std::size_t{2 * kThreads * kCalls}) << "one line per frame";
  std::vector<int> nextCall(kThreads, 0);
  for (std::size_t i = 0; i < lines.size(); i += 2) {
    int thread = -1, call = -1, consumed = 0;
    ASSERT_TRUE(std::sscanf(lines[i].c_str(), "%d/%d%n", &thread, &call, &consumed) == 2 &&
                thread >= 0 && thread < kThreads &&
                lines[i].substr(consumed) == ",0,0,0,0,0,0,0,1" &&
                lines[i + 1] == lines[i].substr(0, consumed) + ",1,0,0,0,0,0,0,0")
        << "lines " << i << " and on are not one call's two whole lines together: " << lines[i]
        << " / " << lines[i + 1];
    EXPECT_EQ(call, nextCall[thread]) << "line " << i << ": thread " << thread << " out of order";
    nextCall[thread] = call + 1;
  }
  EXPECT_TRUE(b.view.messageBoxes().empty());
}

// The log's first open of `held` waits until `released`, so that the lines of every other
// caller wait in the queue meanwhile.
std::string held;
std::atomic<bool> taken{false};
Flag released;
textfile::AppendFile::OpenFunction systemOpen = nullptr;
int holdingOpen(const char* name, int flags, unsigned mode) {
  if (name == held && !taken.exchange(true)) released.wait();
  return systemOpen(name, flags, mode);
}

TEST(AccessLog, WaitingLinesGoTogetherToTheFileNamedWhenTheyWereQueued) {
  LogRig a;
  held = a.dir.path() + "/held.csv";
  systemOpen = textfile::AppendFile::replaceOpenFunction(&holdingOpen);
  // Waits (at most 10 s, only to catch a hang) until `count` lines wait for the writer.
  const auto queueReaches = [&a](std::size_t count) {
    for (int i = 0; i < 10000 && a.monitor.accessLog().queuedRecords() != count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return a.monitor.accessLog().queuedRecords() == count;
  };
  a.useLog(held);
  {
    std::vector<std::jthread> callers;
    const auto addCallers = [&](int count) {
      for (int i = 0; i < count; ++i) callers.emplace_back([&a] { a.frame(); });
    };
    addCallers(5);
    EXPECT_TRUE(queueReaches(4)) << "the lines never queued behind the held writer";
    // As the window renames DI2: the flag, then the names.
    a.monitor.accessLog().markNamesChanged();
    a.monitor.accessLog().update(
        {true, a.path, {"DI1", "Door", "DI3", "DI4"}, {"DO1", "DO2", "DO3", "DO4"}});
    addCallers(2);
    EXPECT_TRUE(queueReaches(6));
    released.raise();
  }
  textfile::AppendFile::replaceOpenFunction(systemOpen);
  // The held writer took its names before they changed; the header owed to the rename comes
  // before the waiting lines.
  EXPECT_EQ(logLines(held), (Lines{kHeaderA, kOff, kDoor, kOff, kOff, kOff, kOff}));
  EXPECT_EQ(logLines(a.path), (Lines{kDoor, kOff, kOff})) << "each line where it was queued";
  EXPECT_FALSE(a.monitor.accessLog().namesChanged());
  EXPECT_TRUE(a.view.messageBoxes().empty());
}

}  // namespace
}  // namespace dravik
