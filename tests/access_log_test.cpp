// The access log: header and data lines, when a header is owed, failures, a file changed under
// the open log, many receivers writing at once, and lines that wait while another caller
// writes.
#include "logging/access_log.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>

#include "monitor/controls.h"
#include "monitor/messages.h"
#include "platform/cp932.h"
#include "settings_test_support.h"

namespace dravik {
namespace {

using test::kHeaderStart;
using test::readBytes;
using test::TempDir;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> logLines(const std::string& path) {
  return linesOf(readBytes(path).value_or(""));
}

const std::string kHeaderA = kHeaderStart + ",DI1,DI2,DI3,DI4,DO1,DO2,DO3,DO4";

// The local time a data line's stamp "YYYY/MM/DD,hh:mm:ss," names; -1 when it has another
// shape.
std::time_t stampOf(const std::string& line) {
  std::tm when{};
  when.tm_isdst = -1;
  const char* end = strptime(line.c_str(), "%Y/%m/%d,%H:%M:%S,", &when);
  if (end != line.c_str() + 20) return -1;
  return std::mktime(&when);
}

// What follows a data line's time stamp, after checking that the stamp is local "now".
std::string afterTimestamp(const std::string& line) {
  const double age = std::difftime(std::time(nullptr), stampOf(line));
  if (age < 0 || age > 60) return "<no time stamp of local now: " + line + ">";
  return line.substr(20);
}

// The log driven as a receiver drives it: through the monitor's frameAccepted.
struct LogRig : test::MonitorRig {
  explicit LogRig(const VariantProfile& p = kVariantA) : MonitorRig(p) { useLog(path); }
  void frame(const std::string& peer = "192.0.2.10") { monitor.frameAccepted(0, peer); }
  std::vector<std::string> boxes() const { return view.messageBoxes(); }

  TempDir dir;
  const std::string path = dir.path() + "/a.csv";
};

TEST(AccessLog, ANewFileGetsAHeaderAndOneLinePerFrame) {
  LogRig a;
  a.monitor.state().inputs[0] = 1;
  a.monitor.state().inputs[3] = 7;  // any non-zero state is on
  a.monitor.state().outputs[1] = 1;
  a.frame();
  a.monitor.state().inputs[0] = 0;
  a.frame("192.0.2.11");
  const std::vector<std::string> lines = logLines(a.path);
  ASSERT_EQ(lines.size(), 3u) << "a non-empty file continues without a header";
  EXPECT_EQ(lines[0], kHeaderA);
  EXPECT_EQ(cp932::toUtf8(lines[0]), "日付,時刻,接続元IPアドレス,DI1,DI2,DI3,DI4,DO1,DO2,DO3,DO4")
      << "the header is CP932 on disk";
  EXPECT_EQ(afterTimestamp(lines[1]), "192.0.2.10,1,0,0,1,0,1,0,0");
  EXPECT_EQ(afterTimestamp(lines[2]), "192.0.2.11,0,0,0,1,0,1,0,0");

  LogRig b(kVariantB);
  b.monitor.state().inputs[7] = 1;
  b.frame("127.0.0.1");
  const std::vector<std::string> linesB = logLines(b.path);
  ASSERT_EQ(linesB.size(), 2u);
  EXPECT_EQ(linesB[0], kHeaderStart + ",DI1,DI2,DI3,DI4,DI5,DI6,DI7,DI8");
  EXPECT_EQ(afterTimestamp(linesB[1]), "127.0.0.1,0,0,0,0,0,0,0,1");
  EXPECT_TRUE(a.boxes().empty() && b.boxes().empty());
}

// Each thread formats its stamp once a second: a line of the next second must not carry the
// stamp of the last.
TEST(AccessLog, TheStampFollowsTheClockAcrossASecond) {
  LogRig a;
  std::time_t before = std::time(nullptr);
  a.frame();
  std::time_t after = std::time(nullptr);
  while (std::time(nullptr) == after) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::time_t before2 = std::time(nullptr);
  a.frame();
  const std::time_t after2 = std::time(nullptr);
  const std::vector<std::string> lines = logLines(a.path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_GE(stampOf(lines[1]), before) << lines[1];
  EXPECT_LE(stampOf(lines[1]), after) << lines[1];
  EXPECT_GE(stampOf(lines[2]), before2) << lines[2] << " after " << lines[1];
  EXPECT_LE(stampOf(lines[2]), after2) << lines[2];
}

// True when some descriptor of this process still leads to `path` (or to it deleted).
bool heldOpen(const std::string& path) {
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code gone;
    if (std::filesystem::read_symlink(fd.path(), gone).string().starts_with(path)) return true;
  }
  return false;
}

// The log stays open between lines, yet each line lands where a fresh open of the path would
// put it, with a header whenever that file is empty.
TEST(AccessLog, AFileChangedUnderTheOpenLogIsOpenedAfresh) {
  LogRig rig;
  rig.frame();
  rig.frame();
  ASSERT_EQ(logLines(rig.path).size(), 3u);
  EXPECT_TRUE(heldOpen(rig.path)) << "the log stays open between lines";

  const std::string moved = rig.dir.path() + "/moved.csv";
  std::filesystem::rename(rig.path, moved);
  rig.frame();
  EXPECT_EQ(logLines(moved).size(), 3u) << "nothing more into the renamed file";
  EXPECT_EQ(logLines(rig.path).size(), 2u);
  EXPECT_EQ(logLines(rig.path)[0], kHeaderA);

  const std::string other = rig.dir.path() + "/other.csv";
  test::writeBytes(other, "kept\r\n");
  std::filesystem::rename(other, rig.path);
  rig.frame();
  ASSERT_EQ(logLines(rig.path).size(), 2u) << "a non-empty replacement continues headless";
  EXPECT_EQ(logLines(rig.path)[0], "kept");

  std::filesystem::resize_file(rig.path, 0);
  rig.frame();
  EXPECT_EQ(logLines(rig.path).size(), 2u);
  EXPECT_EQ(logLines(rig.path)[0], kHeaderA) << "emptied by someone else: a header again";
  EXPECT_TRUE(rig.boxes().empty());
}

TEST(AccessLog, SettingsTakeEffectAtTheNextLineAndFailuresAreToldEveryFrame) {
  LogRig rig;
  rig.frame();
  const std::string second = rig.dir.path() + "/second.csv";
  rig.useLog(second);
  rig.frame();
  EXPECT_EQ(logLines(rig.path).size(), 2u) << "nothing more into the old path";
  EXPECT_EQ(logLines(second).size(), 2u);
  EXPECT_FALSE(heldOpen(rig.path)) << "the old file is let go";

  rig.useLog(second, false);
  EXPECT_FALSE(heldOpen(second)) << "nothing is held open while logging is off";
  std::filesystem::remove(second);
  rig.frame();
  rig.useLog(rig.dir.path() + "/missing-folder/a.csv", false);
  rig.frame();
  EXPECT_FALSE(std::filesystem::exists(second)) << "logging off touches no file";
  EXPECT_TRUE(rig.boxes().empty()) << "an invalid path raises nothing while off";

  // A folder that vanishes while the file is open; a header owed all the while.
  const std::string sub = rig.dir.path() + "/sub";
  std::filesystem::create_directory(sub);
  rig.useLog(sub + "/a.csv");
  rig.frame();
  std::filesystem::remove_all(sub);
  rig.monitor.accessLog().markNamesChanged();
  rig.frame();
  rig.frame();
  EXPECT_EQ(rig.boxes(), std::vector<std::string>(2, messages().logCannotOpen));
  EXPECT_TRUE(rig.monitor.accessLog().namesChanged()) << "a header is still owed";
  std::filesystem::create_directory(sub);
  rig.view.clearMessageBoxes();
  rig.frame();
  EXPECT_EQ(logLines(sub + "/a.csv").size(), 2u) << "created again once the folder is back";
  EXPECT_FALSE(rig.monitor.accessLog().namesChanged());

  rig.useLog("");
  rig.frame();
  EXPECT_EQ(rig.boxes(), std::vector<std::string>{messages().logCannotOpen})
      << "an empty path does not open";
}

// The file may only grow a few bytes more: the next line is cut short by the system.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST(AccessLog, AWriteCutShortLeavesNoHalfLineAndTheHeaderOwed) {
  LogRig a;
  a.frame();
  const std::optional<std::string> before = readBytes(a.path);
  ASSERT_TRUE(before);
  a.monitor.accessLog().markNamesChanged();
  {
    FileSizeLimit limit(before->size() + 10);
    a.frame();
  }
  EXPECT_EQ(a.boxes(), std::vector<std::string>{messages().logWriteFailed});
  EXPECT_EQ(readBytes(a.path), before) << "the ten bytes that got through were taken back";
  EXPECT_TRUE(a.monitor.accessLog().namesChanged()) << "the header was not written";
  a.frame();
  const std::vector<std::string> lines = logLines(a.path);
  ASSERT_EQ(lines.size(), 4u) << "the next frame writes the header and a whole line again";
  EXPECT_EQ(lines[2], kHeaderA);
}

TEST(AccessLog, HeadersFollowTheOperatorsNames) {
  TempDir dir;
  test::Rig a(kVariantA, dir.path());
  ASSERT_TRUE(a.monitor.initDialog());
  const std::string path = a.monitor.logFilePath();
  const auto frame = [&a] { a.monitor.frameAccepted(0, "192.0.2.10"); };
  a.view.setChecked(ctl::kLogging, true);
  a.monitor.onLoggingToggled();
  frame();
  a.view.type(1005, "Door");
  frame();
  frame();
  std::vector<std::string> lines = logLines(path);
  ASSERT_EQ(lines.size(), 5u) << "a header for the rename, once";
  EXPECT_EQ(lines[2], kHeaderStart + ",DI1,Door,DI3,DI4,DO1,DO2,DO3,DO4");

  // Renamed while logging is off: the first logged frame carries the new name.
  a.view.setChecked(ctl::kLogging, false);
  a.monitor.onLoggingToggled();
  a.view.type(1016, "Lamp");
  frame();
  a.view.setChecked(ctl::kLogging, true);
  a.monitor.onLoggingToggled();
  frame();
  lines = logLines(path);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[5], kHeaderStart + ",DI1,Door,DI3,DI4,Lamp,DO2,DO3,DO4");

  // Deleted while running: recreated with a header of the names as they stand. A comma in a
  // name shifts the header, never the data.
  std::filesystem::remove(cp932::toUtf8(path));
  a.view.type(1004, "in,out");
  frame();
  lines = logLines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], kHeaderStart + ",in,out,Door,DI3,DI4,Lamp,DO2,DO3,DO4");
  EXPECT_EQ(afterTimestamp(lines[1]), "192.0.2.10,0,0,0,0,0,0,0,0");

  // Browsing for another file sends the next line there.
  a.view.answerFileDialog(dir.path() + "/other.csv");
  a.monitor.browseLogFile();
  const View::FileDialog shown = a.view.fileDialogs().back();
  EXPECT_TRUE(shown.save && shown.defaultExtension == "csv");
  EXPECT_EQ(shown.initialPath, path);
  EXPECT_EQ(shown.filter, "CSV file (*.csv)|*.csv|all files(*.*)|*.*||");
  EXPECT_EQ(a.view.text(ctl::kLogFileField), dir.path() + "/other.csv");
  frame();
  EXPECT_EQ(logLines(dir.path() + "/other.csv").size(), 2u);
  EXPECT_EQ(logLines(path).size(), 2u);
  EXPECT_TRUE(a.view.messageBoxes().empty());
}

TEST(AccessLog, ManyReceiversWriteWholeLinesOnePerCallInTheirOwnOrder) {
  LogRig b(kVariantB);
  constexpr int kThreads = 8;
  constexpr int kCalls = 300;
  std::vector<std::thread> receivers;
  for (int t = 0; t < kThreads; ++t) {
    // The address names the thread and the call, so the file shows each thread's order.
    receivers.emplace_back([&b, t] {
      for (int i = 0; i < kCalls; ++i) {
        b.frame("10." + std::to_string(t) + "." + std::to_string(i / 100) + "." +
                std::to_string(i % 100));
      }
    });
  }
  // Meanwhile the window renames signals and hands over its settings again and again: every
  // mark owes a header, at most one per mark.
  constexpr int kMarks = 50;
  for (int m = 0; m < kMarks; ++m) {
    b.monitor.accessLog().markNamesChanged();
    b.useLog(b.path);
    std::this_thread::yield();
  }
  for (std::thread& r : receivers) r.join();
  std::vector<std::string> lines = logLines(b.path);
  const auto headers = std::erase(lines, kHeaderStart + ",DI1,DI2,DI3,DI4,DI5,DI6,DI7,DI8");
  EXPECT_GE(headers, 1u);
  EXPECT_LE(headers, 1u + kMarks);
  ASSERT_EQ(lines.size(), std::size_t{kThreads * kCalls}) << "one line per call";
  std::vector<int> nextCall(kThreads, 0);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string rest = afterTimestamp(lines[i]);
    int thread = -1, hundreds = -1, units = -1, consumed = 0;
    const bool parsed =
        std::sscanf(rest.c_str(), "10.%d.%d.%d%n", &thread, &hundreds, &units, &consumed) == 3;
    ASSERT_TRUE(parsed && thread >= 0 && thread < kThreads &&
                rest.substr(static_cast<std::size_t>(consumed)) == ",0,0,0,0,0,0,0,0")
        << "line " << i << " is not a whole line of ours: " << lines[i];
    EXPECT_EQ(hundreds * 100 + units, nextCall[thread])
        << "line " << i << ": thread " << thread << "'s calls out of order";
    nextCall[thread] = hundreds * 100 + units + 1;
  }
  EXPECT_TRUE(b.boxes().empty());
}

// Holds the log's first writer to `path` inside open(), so the lines of every other caller
// wait in the queue. Once released the writer opens the file that had the name when this
// began, kept through a descriptor, so the name can be given to another file meanwhile.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& path) : path_(path) {
    std::ofstream(path, std::ios::binary).flush();
    handle_ = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    held_ = this;
    original_ = textfile::AppendFile::replaceOpenFunction(&holdingOpen);
  }
  ~HeldOpen() {
    release();
    textfile::AppendFile::replaceOpenFunction(original_);
    held_ = nullptr;
    if (handle_ >= 0) ::close(handle_);
  }
  bool made() const { return handle_ >= 0; }
  void release() {
    const std::lock_guard lock(mutex_);
    released_ = true;
    wake_.notify_all();
  }
  // The lines written into the kept file.
  std::vector<std::string> drain() const { return linesOf(test::fileText(kept())); }

 private:
  std::string kept() const { return "/proc/self/fd/" + std::to_string(handle_); }
  static int holdingOpen(const char* name, int flags, unsigned mode) {
    HeldOpen& held = *held_;
    if (name != held.path_ || held.taken_.exchange(true)) return ::open(name, flags, mode);
    std::unique_lock lock(held.mutex_);
    held.wake_.wait(lock, [&] { return held.released_; });
    return ::open(held.kept().c_str(), flags, mode);
  }

  static inline HeldOpen* held_ = nullptr;
  std::string path_;
  int handle_ = -1;
  textfile::AppendFile::OpenFunction original_ = nullptr;
  std::atomic<bool> taken_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool released_ = false;
};

// Callers of one log, each making one call on its own thread; `first` names the first.
class Callers {
 public:
  void add(LogRig& rig, int count, int first = 0) {
    for (int i = first; i < first + count; ++i) {
      threads_.emplace_back([&rig, i] { rig.frame("192.0.2." + std::to_string(i)); });
    }
  }
  ~Callers() { join(); }
  void join() {
    for (std::thread& t : threads_) {
      if (t.joinable()) t.join();
    }
  }

 private:
  std::vector<std::thread> threads_;
};

// Waits (at most 10 s, only to catch a hang) until `count` lines wait for the writer.
bool queueReaches(LogRig& rig, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (rig.monitor.accessLog().queuedLines() != count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

constexpr int kQueued = 4;

// Holds the first of kQueued + 1 callers to `held` inside open() until kQueued lines wait behind
// it, runs `whileWaiting` (which may add callers), then lets every line through; returns the
// lines the held writer wrote.
std::vector<std::string> throughHeldWriter(LogRig& a, const std::string& held,
                                           const std::function<void(Callers&)>& whileWaiting) {
  HeldOpen holder(held);
  EXPECT_TRUE(holder.made());
  a.useLog(held);
  Callers callers;
  callers.add(a, kQueued + 1);
  EXPECT_TRUE(queueReaches(a, kQueued)) << "the lines never queued behind the held writer";
  whileWaiting(callers);
  holder.release();
  callers.join();
  return holder.drain();
}

TEST(AccessLog, AQueuedBatchThatFailsFailsForEachOfItsCallersAndLeavesNoHalfLine) {
  LogRig a;
  const std::string held = a.dir.path() + "/held.csv";
  // The name becomes a folder while the lines wait: the whole batch cannot open.
  const std::vector<std::string> written = throughHeldWriter(a, held, [&](Callers&) {
    std::filesystem::remove(held);
    std::filesystem::create_directory(held);
  });
  EXPECT_EQ(written.size(), 2u) << "the held writer's header and line";
  EXPECT_EQ(a.boxes(), std::vector<std::string>(kQueued, messages().logCannotOpen))
      << "one box for each queued line, none for the line that was written";

  // A regular log takes the name while the lines wait, and may grow only 60 bytes: the
  // batch is cut short, taken back whole, and fails for every one of its callers.
  std::filesystem::remove(held);
  a.useLog(a.path);
  a.frame();
  const std::optional<std::string> before = readBytes(a.path);
  a.view.clearMessageBoxes();
  std::optional<FileSizeLimit> limit;
  throughHeldWriter(a, held, [&](Callers&) {
    std::filesystem::rename(a.path, held);
    limit.emplace(before->size() + 60);
  });
  limit.reset();
  EXPECT_EQ(a.boxes(), std::vector<std::string>(kQueued, messages().logWriteFailed))
      << "every caller of the batch learns that its line is not in the file";
  EXPECT_EQ(readBytes(held), before) << "the part of the batch that got through was taken back";
  a.view.clearMessageBoxes();
  a.frame("192.0.2.201");
  const std::vector<std::string> lines = logLines(held);
  ASSERT_EQ(lines.size(), 3u) << "the next frame writes a whole line again";
  EXPECT_EQ(afterTimestamp(lines[2]), "192.0.2.201,0,0,0,0,0,0,0,0");
  EXPECT_TRUE(a.boxes().empty());
}

// Lines queued under one path go to it although the path changed while they waited; lines
// queued under the new path go to the new file.
TEST(AccessLog, EachWaitingLineGoesToTheFileNamedWhenItWasQueued) {
  LogRig a;
  std::vector<std::string> toHeld =
      throughHeldWriter(a, a.dir.path() + "/held.csv", [&](Callers& callers) {
        a.useLog(a.path);
        callers.add(a, 2, 100);
        EXPECT_TRUE(queueReaches(a, kQueued + 2));
      });
  std::erase(toHeld, kHeaderA);
  ASSERT_EQ(toHeld.size(), 1u + kQueued) << "every line queued for the held file";
  for (const std::string& line : toHeld) {
    EXPECT_EQ(afterTimestamp(line).find("192.0.2.10"), std::string::npos) << line;
  }
  const std::vector<std::string> toFile = logLines(a.path);
  ASSERT_EQ(toFile.size(), 3u) << readBytes(a.path).value_or("");
  EXPECT_EQ(toFile[0], kHeaderA);
  for (std::size_t i = 1; i < toFile.size(); ++i) {
    EXPECT_EQ(afterTimestamp(toFile[i]).substr(0, 10), "192.0.2.10") << toFile[i];
  }
  EXPECT_TRUE(a.boxes().empty());
}

TEST(AccessLog, NamesChangedWhileLinesWaitGiveOneHeaderBeforeThem) {
  LogRig a;
  a.frame("192.0.2.200");
  const std::string held = a.dir.path() + "/held.csv";
  // While the lines wait: the non-empty log takes the name, and the operator renames DI2
  // (as the window does it: the flag, then the names).
  const std::vector<std::string> written = throughHeldWriter(a, held, [&](Callers&) {
    std::filesystem::rename(a.path, held);
    a.monitor.accessLog().markNamesChanged();
    a.monitor.accessLog().update(
        {true, held, {"DI1", "Door", "DI3", "DI4"}, {"DO1", "DO2", "DO3", "DO4"}});
  });
  ASSERT_EQ(written.size(), 2u) << "the held writer's header and line";
  EXPECT_EQ(written[0], kHeaderA) << "that header was settled before the rename";
  a.frame("192.0.2.201");
  const std::vector<std::string> lines = logLines(held);
  ASSERT_EQ(lines.size(), 2u + 1u + kQueued + 1u) << readBytes(held).value_or("");
  EXPECT_EQ(lines[2], kHeaderStart + ",DI1,Door,DI3,DI4,DO1,DO2,DO3,DO4")
      << "the header owed to the rename comes before the waiting lines, although another "
         "header was written while the names changed";
  for (std::size_t i = 3; i < lines.size(); ++i) {
    EXPECT_EQ(afterTimestamp(lines[i]).substr(0, 8), "192.0.2.") << "line " << i;
  }
  EXPECT_FALSE(a.monitor.accessLog().namesChanged()) << "the header was written";
  EXPECT_TRUE(a.boxes().empty());
}

TEST(AccessLog, AJapaneseFolderWorks) {
  LogRig a;
  const std::string utf8Folder = a.dir.path() + "/ログ置き場";
  std::filesystem::create_directory(utf8Folder);
  a.useLog(cp932::fromUtf8(utf8Folder + "/記録.csv"));
  a.frame();
  EXPECT_TRUE(a.boxes().empty());
  EXPECT_EQ(logLines(utf8Folder + "/記録.csv").size(), 2u) << "the file name on disk is UTF-8";
}

}  // namespace
}  // namespace dravik
