// The access log: header and data lines, when a header is owed, failures, and many receivers
// writing at once.
#include "logging/access_log.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <thread>

#include "engine/controls.h"
#include "engine/messages.h"
#include "platform/cp932.h"
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

struct LogRig {
  explicit LogRig(const VariantProfile& profile) : log(profile, view, state), profile(profile) {}
  void use(const std::string& path, bool logging = true) {
    AccessLog::Settings s;
    s.logging = logging;
    s.path = path;
    for (int i = 0; i < profile.inputCount(); ++i)
      s.inputNames.push_back("DI" + std::to_string(i + 1));
    for (int i = 0; i < profile.outputCount(); ++i)
      s.outputNames.push_back("DO" + std::to_string(i + 1));
    log.update(s);
  }
  test::FakeView view;
  MonitorState state;
  AccessLog log;
  const VariantProfile& profile;
};

TEST(AccessLog, ANewFileGetsAHeaderAndOneLine) {
  TempDir dir;
  LogRig a(kVariantA);
  const std::string path = dir.path() + "/a.csv";
  a.use(path);
  a.state.inputs[0] = 1;
  a.state.inputs[3] = 7;  // any non-zero state is on
  a.state.outputs[1] = 1;
  a.log.appendAccessLog("192.0.2.10");
  const std::string header = messages().logHeaderStart + ",DI1,DI2,DI3,DI4,DO1,DO2,DO3,DO4";
  const std::vector<std::string> lines = logLines(path);
  ASSERT_EQ(lines.size(), 2u) << readBytes(path).value_or("<none>");
  EXPECT_EQ(lines[0], header);
  EXPECT_EQ(cp932::toUtf8(lines[0]), "日付,時刻,接続元IPアドレス,DI1,DI2,DI3,DI4,DO1,DO2,DO3,DO4")
      << "the header is CP932 on disk";
  EXPECT_EQ(afterTimestamp(lines[1]), "192.0.2.10,1,0,0,1,0,1,0,0");
  EXPECT_EQ(fieldCount(lines[1]), 11u);
  EXPECT_TRUE(a.view.messageBoxes().empty());

  a.state.inputs[0] = 0;
  a.log.appendAccessLog("192.0.2.11");
  ASSERT_EQ(logLines(path).size(), 3u) << "a non-empty file continues without a header";
  EXPECT_EQ(afterTimestamp(logLines(path)[2]), "192.0.2.11,0,0,0,1,0,1,0,0");

  LogRig b(kVariantB);
  const std::string pathB = dir.path() + "/b.csv";
  b.use(pathB);
  b.state.inputs[7] = 1;
  b.log.appendAccessLog("127.0.0.1");
  const std::vector<std::string> linesB = logLines(pathB);
  ASSERT_EQ(linesB.size(), 2u);
  EXPECT_EQ(linesB[0], messages().logHeaderStart + ",DI1,DI2,DI3,DI4,DI5,DI6,DI7,DI8");
  EXPECT_EQ(afterTimestamp(linesB[1]), "127.0.0.1,0,0,0,0,0,0,0,1");
}

TEST(AccessLog, LoggingOffTouchesNothing) {
  TempDir dir;
  LogRig a(kVariantA);
  a.use(dir.path() + "/missing-folder/a.csv", false);
  a.log.appendAccessLog("192.0.2.10");
  a.use(dir.path() + "/a.csv", false);
  a.log.appendAccessLog("192.0.2.10");
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/a.csv"));
  EXPECT_TRUE(a.view.messageBoxes().empty()) << "an invalid path raises nothing while off";
}

TEST(AccessLog, AnUnopenableFileIsReportedEveryFrameAndTriedAgain) {
  TempDir dir;
  LogRig a(kVariantA);
  const std::string folder = dir.path() + "/later";
  a.use(folder + "/a.csv");
  a.log.markNamesChanged();
  a.log.appendAccessLog("192.0.2.10");
  a.log.appendAccessLog("192.0.2.10");
  EXPECT_EQ(a.view.messageBoxes(),
            (std::vector<std::string>{messages().logCannotOpen, messages().logCannotOpen}));
  EXPECT_TRUE(a.log.namesChanged()) << "a header is still owed";

  std::filesystem::create_directory(folder);
  a.view.clearMessageBoxes();
  a.log.appendAccessLog("192.0.2.10");
  EXPECT_EQ(logLines(folder + "/a.csv").size(), 2u) << "the next frame tries again";
  EXPECT_TRUE(a.view.messageBoxes().empty());
  EXPECT_FALSE(a.log.namesChanged());

  a.use("");
  a.log.appendAccessLog("192.0.2.10");
  EXPECT_EQ(a.view.messageBoxes(), std::vector<std::string>{messages().logCannotOpen})
      << "an empty path does not open";
}

TEST(AccessLog, AFailedWriteIsReportedAndTheHeaderStaysOwed) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  LogRig a(kVariantB);
  a.use("/dev/full");
  a.log.markNamesChanged();
  a.log.appendAccessLog("192.0.2.10");
  EXPECT_EQ(a.view.messageBoxes(), std::vector<std::string>{messages().logWriteFailed});
  EXPECT_TRUE(a.log.namesChanged()) << "the header was not written";
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
  a.use(path);
  a.log.appendAccessLog("192.0.2.10");
  const std::optional<std::string> before = readBytes(path);
  ASSERT_TRUE(before);
  {
    FileSizeLimit limit(before->size() + 10);
    a.log.appendAccessLog("192.0.2.10");
  }
  EXPECT_EQ(a.view.messageBoxes(), std::vector<std::string>{messages().logWriteFailed});
  EXPECT_EQ(readBytes(path), before) << "the ten bytes that got through were taken back";
  a.log.appendAccessLog("192.0.2.10");
  EXPECT_EQ(logLines(path).size(), 3u) << "the next frame writes a whole line again";
}

TEST(AccessLog, HeadersFollowOperatorEditsAndDeletedFiles) {
  TempDir dir;
  test::Rig a(kVariantA, dir.path());
  ASSERT_TRUE(a.monitor.initDialog());
  const std::string path = a.monitor.logFilePath();
  a.view.setChecked(ctl::kLogging, true);
  a.monitor.onLoggingToggled();
  AccessLogSink& log = a.monitor.accessLog();
  log.appendAccessLog("192.0.2.10");
  a.view.type(1005, "Door");
  log.appendAccessLog("192.0.2.10");
  log.appendAccessLog("192.0.2.10");
  std::vector<std::string> lines = logLines(path);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], messages().logHeaderStart + ",DI1,Door,DI3,DI4,DO1,DO2,DO3,DO4")
      << "the renamed input heads its column";
  EXPECT_NE(afterTimestamp(lines[3]).find("192.0.2.10"), std::string::npos);
  EXPECT_NE(afterTimestamp(lines[4]).find("192.0.2.10"), std::string::npos) << "header once";

  // Renamed while logging is off: the first logged frame carries the new name.
  a.view.setChecked(ctl::kLogging, false);
  a.monitor.onLoggingToggled();
  a.view.type(1016, "Lamp");
  log.appendAccessLog("192.0.2.10");
  a.view.setChecked(ctl::kLogging, true);
  a.monitor.onLoggingToggled();
  log.appendAccessLog("192.0.2.10");
  lines = logLines(path);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[5], messages().logHeaderStart + ",DI1,Door,DI3,DI4,Lamp,DO2,DO3,DO4");

  // A loaded file that renames inputs owes no header to a non-empty log.
  const std::string settings = dir.path() + "/names.dva";
  writeBytes(settings, "#$DI1=Gate\r\n#$LOGGING=ON\r\n");
  a.view.answerFileDialog(settings);
  a.monitor.loadSettings();
  log.appendAccessLog("192.0.2.10");
  lines = logLines(path);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[7].find(messages().logHeaderStart), std::string::npos);

  // Deleted while running: recreated with a header of the names as they stand.
  std::filesystem::remove(cp932::toUtf8(path));
  log.appendAccessLog("192.0.2.10");
  lines = logLines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], messages().logHeaderStart + ",Gate,Door,DI3,DI4,Lamp,DO2,DO3,DO4");

  // A comma in a name shifts the header, never the data.
  a.view.type(1004, "in,out");
  log.appendAccessLog("192.0.2.10");
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
  log.appendAccessLog("192.0.2.10");
  EXPECT_EQ(logLines(dir.path() + "/other.csv").size(), 2u);
  EXPECT_EQ(logLines(path).size(), 4u);
  EXPECT_TRUE(a.view.messageBoxes().empty());
}

TEST(AccessLog, ManyReceiversWriteWholeLinesOnePerCall) {
  TempDir dir;
  LogRig b(kVariantB);
  const std::string path = dir.path() + "/busy.csv";
  b.use(path);
  constexpr int kThreads = 8;
  constexpr int kCalls = 200;
  std::vector<std::thread> receivers;
  for (int t = 0; t < kThreads; ++t) {
    receivers.emplace_back([&b, t] {
      const std::string address = "10.0.0." + std::to_string(t);
      for (int i = 0; i < kCalls; ++i) b.log.appendAccessLog(address);
    });
  }
  for (std::thread& r : receivers) r.join();
  const std::vector<std::string> lines = logLines(path);
  ASSERT_EQ(lines.size(), 1u + kThreads * kCalls) << "one header, then one line per call";
  EXPECT_EQ(lines[0], messages().logHeaderStart + ",DI1,DI2,DI3,DI4,DI5,DI6,DI7,DI8");
  std::vector<int> perThread(kThreads, 0);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string rest = afterTimestamp(lines[i]);
    ASSERT_TRUE(hasShape(rest, "10.0.0.d,0,0,0,0,0,0,0,0") && rest[7] < '0' + kThreads)
        << "line " << i << ": " << lines[i];
    ++perThread[rest[7] - '0'];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(perThread[t], kCalls) << "thread " << t;
  EXPECT_TRUE(b.view.messageBoxes().empty());
}

TEST(AccessLog, AJapaneseFolderWorks) {
  TempDir dir;
  const std::string utf8Folder = dir.path() + "/ログ置き場";
  std::filesystem::create_directory(utf8Folder);
  LogRig a(kVariantA);
  a.use(cp932::fromUtf8(utf8Folder + "/記録.csv"));
  a.log.appendAccessLog("192.0.2.10");
  EXPECT_TRUE(a.view.messageBoxes().empty());
  EXPECT_EQ(logLines(utf8Folder + "/記録.csv").size(), 2u) << "the file name on disk is UTF-8";
}

}  // namespace
}  // namespace dravik
