// The access log: header and data lines, when a header is owed, failures, many receivers
// writing at once, and lines that wait while another caller writes.
#include "logging/access_log.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <thread>

#include "monitor/controls.h"
#include "monitor/messages.h"
#include "platform/cp932.h"
#include "platform/text_file.h"
#include "settings_test_support.h"

namespace dravik {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

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

// True when `text` has the shape of `pattern`, in which 'd' stands for any decimal digit.
bool hasShape(std::string_view text, std::string_view pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}

// What follows a data line's time stamp, after checking that the stamp is local "now".
std::string afterTimestamp(const std::string& line) {
  constexpr std::string_view kShape = "dddd/dd/dd,dd:dd:dd,";
  if (line.size() < kShape.size() || !hasShape(line.substr(0, kShape.size()), kShape)) {
    return "<bad time stamp: " + line + ">";
  }
  std::tm when{};
  when.tm_isdst = -1;
  strptime(line.c_str(), "%Y/%m/%d,%H:%M:%S", &when);
  const double age = std::difftime(std::time(nullptr), std::mktime(&when));
  if (age < -2 || age > 60) return "<time stamp not local now: " + line + ">";
  return line.substr(kShape.size());
}

std::size_t fieldCount(const std::string& line) {
  return static_cast<std::size_t>(std::count(line.begin(), line.end(), ',')) + 1;
}

// The log driven as a receiver drives it: through the monitor's frameAccepted.
using LogRig = test::MonitorRig;
using test::kHeaderStart;

TEST(AccessLog, ANewFileGetsAHeaderAndOneLine) {
  TempDir dir;
  LogRig a(kVariantA);
  const std::string path = dir.path() + "/a.csv";
  a.useLog(path);
  a.monitor.state().inputs[0] = 1;
  a.monitor.state().inputs[3] = 7;  // any non-zero state is on
  a.monitor.state().outputs[1] = 1;
  a.monitor.frameAccepted(0, "192.0.2.10");
  const std::string header = kHeaderStart + ",DI1,DI2,DI3,DI4,DO1,DO2,DO3,DO4";
  const std::vector<std::string> lines = logLines(path);
  ASSERT_EQ(lines.size(), 2u) << readBytes(path).value_or("<none>");
  EXPECT_EQ(lines[0], header);
  EXPECT_EQ(cp932::toUtf8(lines[0]), "日付,時刻,接続元IPアドレス,DI1,DI2,DI3,DI4,DO1,DO2,DO3,DO4")
      << "the header is CP932 on disk";
  EXPECT_EQ(afterTimestamp(lines[1]), "192.0.2.10,1,0,0,1,0,1,0,0");
  EXPECT_EQ(fieldCount(lines[1]), 11u);
  EXPECT_TRUE(a.view.messageBoxes().empty());

  a.monitor.state().inputs[0] = 0;
  a.monitor.frameAccepted(0, "192.0.2.11");
  ASSERT_EQ(logLines(path).size(), 3u) << "a non-empty file continues without a header";
  EXPECT_EQ(afterTimestamp(logLines(path)[2]), "192.0.2.11,0,0,0,1,0,1,0,0");

  LogRig b(kVariantB);
  const std::string pathB = dir.path() + "/b.csv";
  b.useLog(pathB);
  b.monitor.state().inputs[7] = 1;
  b.monitor.frameAccepted(0, "127.0.0.1");
  const std::vector<std::string> linesB = logLines(pathB);
  ASSERT_EQ(linesB.size(), 2u);
  EXPECT_EQ(linesB[0], kHeaderStart + ",DI1,DI2,DI3,DI4,DI5,DI6,DI7,DI8");
  EXPECT_EQ(afterTimestamp(linesB[1]), "127.0.0.1,0,0,0,0,0,0,0,1");
}

TEST(AccessLog, LoggingOffTouchesNothing) {
  TempDir dir;
  LogRig a(kVariantA);
  a.useLog(dir.path() + "/missing-folder/a.csv", false);
  a.monitor.frameAccepted(0, "192.0.2.10");
  a.useLog(dir.path() + "/a.csv", false);
  a.monitor.frameAccepted(0, "192.0.2.10");
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/a.csv"));
  EXPECT_TRUE(a.view.messageBoxes().empty()) << "an invalid path raises nothing while off";
}

TEST(AccessLog, AnUnopenableFileIsReportedEveryFrameAndTriedAgain) {
  TempDir dir;
  LogRig a(kVariantA);
  const std::string folder = dir.path() + "/later";
  a.useLog(folder + "/a.csv");
  a.monitor.accessLog().markNamesChanged();
  a.monitor.frameAccepted(0, "192.0.2.10");
  a.monitor.frameAccepted(0, "192.0.2.10");
  EXPECT_EQ(a.view.messageBoxes(),
            (std::vector<std::string>{messages().logCannotOpen, messages().logCannotOpen}));
  EXPECT_TRUE(a.monitor.accessLog().namesChanged()) << "a header is still owed";

  std::filesystem::create_directory(folder);
  a.view.clearMessageBoxes();
  a.monitor.frameAccepted(0, "192.0.2.10");
  EXPECT_EQ(logLines(folder + "/a.csv").size(), 2u) << "the next frame tries again";
  EXPECT_TRUE(a.view.messageBoxes().empty());
  EXPECT_FALSE(a.monitor.accessLog().namesChanged());

  a.useLog("");
  a.monitor.frameAccepted(0, "192.0.2.10");
  EXPECT_EQ(a.view.messageBoxes(), std::vector<std::string>{messages().logCannotOpen})
      << "an empty path does not open";
}

TEST(AccessLog, AFailedWriteIsReportedAndTheHeaderStaysOwed) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  LogRig a(kVariantB);
  a.useLog("/dev/full");
  a.monitor.accessLog().markNamesChanged();
  a.monitor.frameAccepted(0, "192.0.2.10");
  EXPECT_EQ(a.view.messageBoxes(), std::vector<std::string>{messages().logWriteFailed});
  EXPECT_TRUE(a.monitor.accessLog().namesChanged()) << "the header was not written";
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

TEST(AccessLog, AWriteCutShortLeavesNoHalfLine) {
  TempDir dir;
  LogRig a(kVariantA);
  const std::string path = dir.path() + "/short.csv";
  a.useLog(path);
  a.monitor.frameAccepted(0, "192.0.2.10");
  const std::optional<std::string> before = readBytes(path);
  ASSERT_TRUE(before);
  {
    FileSizeLimit limit(before->size() + 10);
    a.monitor.frameAccepted(0, "192.0.2.10");
  }
  EXPECT_EQ(a.view.messageBoxes(), std::vector<std::string>{messages().logWriteFailed});
  EXPECT_EQ(readBytes(path), before) << "the ten bytes that got through were taken back";
  a.monitor.frameAccepted(0, "192.0.2.10");
  EXPECT_EQ(logLines(path).size(), 3u) << "the next frame writes a whole line again";
}

TEST(AccessLog, HeadersFollowOperatorEditsAndDeletedFiles) {
  TempDir dir;
  test::Rig a(kVariantA, dir.path());
  ASSERT_TRUE(a.monitor.initDialog());
  const std::string path = a.monitor.logFilePath();
  a.view.setChecked(ctl::kLogging, true);
  a.monitor.onLoggingToggled();
  EngineEvents& log = a.monitor;
  log.frameAccepted(0, "192.0.2.10");
  a.view.type(1005, "Door");
  log.frameAccepted(0, "192.0.2.10");
  log.frameAccepted(0, "192.0.2.10");
  std::vector<std::string> lines = logLines(path);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], kHeaderStart + ",DI1,Door,DI3,DI4,DO1,DO2,DO3,DO4")
      << "the renamed input heads its column";
  EXPECT_NE(afterTimestamp(lines[3]).find("192.0.2.10"), std::string::npos);
  EXPECT_NE(afterTimestamp(lines[4]).find("192.0.2.10"), std::string::npos) << "header once";

  // Renamed while logging is off: the first logged frame carries the new name.
  a.view.setChecked(ctl::kLogging, false);
  a.monitor.onLoggingToggled();
  a.view.type(1016, "Lamp");
  log.frameAccepted(0, "192.0.2.10");
  a.view.setChecked(ctl::kLogging, true);
  a.monitor.onLoggingToggled();
  log.frameAccepted(0, "192.0.2.10");
  lines = logLines(path);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[5], kHeaderStart + ",DI1,Door,DI3,DI4,Lamp,DO2,DO3,DO4");

  // A loaded file that renames inputs owes no header to a non-empty log.
  const std::string settings = dir.path() + "/names.dva";
  writeBytes(settings, "#$DI1=Gate\r\n#$LOGGING=ON\r\n");
  a.view.answerFileDialog(settings);
  a.monitor.loadSettings();
  log.frameAccepted(0, "192.0.2.10");
  lines = logLines(path);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[7].find(kHeaderStart), std::string::npos);

  // Deleted while running: recreated with a header of the names as they stand.
  std::filesystem::remove(cp932::toUtf8(path));
  log.frameAccepted(0, "192.0.2.10");
  lines = logLines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], kHeaderStart + ",Gate,Door,DI3,DI4,Lamp,DO2,DO3,DO4");

  // A comma in a name shifts the header, never the data.
  a.view.type(1004, "in,out");
  log.frameAccepted(0, "192.0.2.10");
  lines = logLines(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(fieldCount(lines[2]), 12u);
  EXPECT_EQ(fieldCount(lines[3]), 11u);

  // Browsing for another file sends the next line there.
  a.view.answerFileDialog(dir.path() + "/other.csv");
  a.monitor.browseLogFile();
  const View::FileDialog shown = a.view.fileDialogs().back();
  EXPECT_TRUE(shown.save);
  EXPECT_EQ(shown.defaultExtension, "csv");
  EXPECT_EQ(shown.initialPath, path);
  EXPECT_EQ(shown.filter, "CSV file (*.csv)|*.csv|all files(*.*)|*.*||");
  EXPECT_EQ(a.view.text(ctl::kLogFileField), dir.path() + "/other.csv");
  log.frameAccepted(0, "192.0.2.10");
  EXPECT_EQ(logLines(dir.path() + "/other.csv").size(), 2u);
  EXPECT_EQ(logLines(path).size(), 4u);
  EXPECT_TRUE(a.view.messageBoxes().empty());
}

TEST(AccessLog, ManyReceiversWriteWholeLinesOnePerCallInTheirOwnOrder) {
  TempDir dir;
  LogRig b(kVariantB);
  const std::string path = dir.path() + "/busy.csv";
  b.useLog(path);
  constexpr int kThreads = 8;
  constexpr int kCalls = 300;
  std::vector<std::thread> receivers;
  for (int t = 0; t < kThreads; ++t) {
    receivers.emplace_back([&b, t] {
      // The address names the thread and the call, so the file shows the order of each
      // thread's calls.
      for (int i = 0; i < kCalls; ++i) {
        b.monitor.frameAccepted(0, "10." + std::to_string(t) + "." + std::to_string(i / 100) + "." +
                                       std::to_string(i % 100));
      }
    });
  }
  for (std::thread& r : receivers) r.join();
  const std::vector<std::string> lines = logLines(path);
  ASSERT_EQ(lines.size(), 1u + kThreads * kCalls) << "one header, then one line per call";
  EXPECT_EQ(lines[0], kHeaderStart + ",DI1,DI2,DI3,DI4,DI5,DI6,DI7,DI8");
  std::vector<int> nextCall(kThreads, 0);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string rest = afterTimestamp(lines[i]);
    int thread = -1, hundreds = -1, units = -1, consumed = 0;
    const bool parsed =
        std::sscanf(rest.c_str(), "10.%d.%d.%d%n", &thread, &hundreds, &units, &consumed) == 3;
    ASSERT_TRUE(parsed && thread >= 0 && thread < kThreads)
        << "line " << i << " is not a whole line of ours: " << lines[i];
    ASSERT_EQ(rest.substr(static_cast<std::size_t>(consumed)), ",0,0,0,0,0,0,0,0")
        << "line " << i << ": " << lines[i];
    EXPECT_EQ(hundreds * 100 + units, nextCall[thread])
        << "line " << i << ": thread " << thread << "'s calls out of order";
    nextCall[thread] = hundreds * 100 + units + 1;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(nextCall[t], kCalls) << "thread " << t;
  EXPECT_TRUE(b.view.messageBoxes().empty());
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
  // What was written into the kept file.
  std::string drain() const { return test::fileText(kept()); }

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

// Callers of one log, each making one call on its own thread.
class Callers {
 public:
  Callers(EngineEvents& log, int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([&log, i] { log.frameAccepted(0, "192.0.2." + std::to_string(i)); });
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
bool queueReaches(const AccessLog& log, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (log.queuedLines() != count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(AccessLog, AQueuedBatchThatFailsFailsForEachOfItsCallersAndLeavesNoHalfLine) {
  constexpr int kQueued = 4;
  TempDir dir;
  LogRig a(kVariantA);
  const std::string path = dir.path() + "/held.csv";

  // The name becomes a folder while the lines wait: the whole batch cannot open.
  {
    HeldOpen holder(path);
    ASSERT_TRUE(holder.made());
    a.useLog(path);
    Callers callers(a.monitor, kQueued + 1);
    const bool queued = queueReaches(a.monitor.accessLog(), kQueued);
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    holder.release();
    callers.join();
    ASSERT_TRUE(queued) << "the lines never queued behind the held writer";
    const std::vector<std::string> written = linesOf(holder.drain());
    ASSERT_EQ(written.size(), 2u) << "the held writer's header and line";
    EXPECT_NE(afterTimestamp(written[1]).find("192.0.2."), std::string::npos) << written[1];
    EXPECT_EQ(a.view.messageBoxes(), std::vector<std::string>(kQueued, messages().logCannotOpen))
        << "one box for each queued line, none for the line that was written";
  }

  // A regular log takes the name while the lines wait, and may grow only 60 bytes: the
  // batch is cut short, taken back whole, and fails for every one of its callers.
  std::filesystem::remove(path);
  const std::string other = dir.path() + "/other.csv";
  a.useLog(other);
  a.monitor.frameAccepted(0, "192.0.2.200");
  const std::optional<std::string> before = readBytes(other);
  ASSERT_TRUE(before);
  a.view.clearMessageBoxes();
  {
    HeldOpen holder(path);
    ASSERT_TRUE(holder.made());
    a.useLog(path);
    Callers callers(a.monitor, kQueued + 1);
    const bool queued = queueReaches(a.monitor.accessLog(), kQueued);
    std::filesystem::rename(other, path);
    {
      FileSizeLimit limit(before->size() + 60);
      holder.release();
      callers.join();
    }
    ASSERT_TRUE(queued) << "the lines never queued behind the held writer";
    EXPECT_EQ(linesOf(holder.drain()).size(), 2u);
    EXPECT_EQ(a.view.messageBoxes(), std::vector<std::string>(kQueued, messages().logWriteFailed))
        << "every caller of the batch learns that its line is not in the file";
    EXPECT_EQ(readBytes(path), before) << "the part of the batch that got through was taken back";
  }
  a.view.clearMessageBoxes();
  a.monitor.frameAccepted(0, "192.0.2.201");
  const std::vector<std::string> lines = logLines(path);
  ASSERT_EQ(lines.size(), 3u) << "the next frame writes a whole line again";
  EXPECT_EQ(afterTimestamp(lines[2]), "192.0.2.201,0,0,0,0,0,0,0,0");
  EXPECT_TRUE(a.view.messageBoxes().empty());
}

TEST(AccessLog, NamesChangedWhileLinesWaitGiveOneHeaderBeforeThem) {
  constexpr int kQueued = 4;
  TempDir dir;
  LogRig a(kVariantA);
  const std::string path = dir.path() + "/held.csv";
  const std::string kept = dir.path() + "/kept.csv";
  a.useLog(kept);
  a.monitor.frameAccepted(0, "192.0.2.200");
  ASSERT_EQ(logLines(kept).size(), 2u);

  HeldOpen holder(path);
  ASSERT_TRUE(holder.made());
  a.useLog(path);
  Callers callers(a.monitor, kQueued + 1);
  const bool queued = queueReaches(a.monitor.accessLog(), kQueued);
  // While the lines wait: the non-empty log takes the name, and the operator renames DI2
  // (as the window does it: the flag, then the names).
  std::filesystem::rename(kept, path);
  a.monitor.accessLog().markNamesChanged();
  AccessLog::Settings renamed;
  renamed.logging = true;
  renamed.path = path;
  renamed.inputNames = {"DI1", "Door", "DI3", "DI4"};
  renamed.outputNames = {"DO1", "DO2", "DO3", "DO4"};
  a.monitor.accessLog().update(renamed);
  holder.release();
  callers.join();
  ASSERT_TRUE(queued) << "the lines never queued behind the held writer";

  const std::vector<std::string> held = linesOf(holder.drain());
  ASSERT_EQ(held.size(), 2u) << "the held writer's header and line";
  EXPECT_EQ(held[0], kHeaderStart + ",DI1,DI2,DI3,DI4,DO1,DO2,DO3,DO4")
      << "that header was settled before the rename";
  a.monitor.frameAccepted(0, "192.0.2.201");
  const std::vector<std::string> lines = logLines(path);
  ASSERT_EQ(lines.size(), 2u + 1u + kQueued + 1u) << readBytes(path).value_or("");
  EXPECT_EQ(lines[2], kHeaderStart + ",DI1,Door,DI3,DI4,DO1,DO2,DO3,DO4")
      << "the header owed to the rename comes before the waiting lines, although another "
         "header was written while the names changed";
  for (std::size_t i = 3; i < lines.size(); ++i) {
    EXPECT_TRUE(hasShape(afterTimestamp(lines[i]).substr(0, 8), "192.0.2."))
        << "line " << i << " should be a data line: " << lines[i];
  }
  EXPECT_FALSE(a.monitor.accessLog().namesChanged()) << "the header was written";
  EXPECT_TRUE(a.view.messageBoxes().empty());
}

TEST(AccessLog, AJapaneseFolderWorks) {
  TempDir dir;
  const std::string utf8Folder = dir.path() + "/ログ置き場";
  std::filesystem::create_directory(utf8Folder);
  LogRig a(kVariantA);
  a.useLog(cp932::fromUtf8(utf8Folder + "/記録.csv"));
  a.monitor.frameAccepted(0, "192.0.2.10");
  EXPECT_TRUE(a.view.messageBoxes().empty());
  EXPECT_EQ(logLines(utf8Folder + "/記録.csv").size(), 2u) << "the file name on disk is UTF-8";
}

}  // namespace
}  // namespace dravik
