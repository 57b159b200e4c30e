// The access log keeps its file open between lines: whatever happens to the file under it
// (deleted, renamed, replaced, emptied) or to its settings, each line lands where a fresh
// open of the path would have put it.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "monitor/messages.h"
#include "settings_test_support.h"

namespace dravik {
namespace {

using test::fileText;
using test::lineCount;

bool startsWithHeader(const std::string& path) {
  return fileText(path).rfind(test::kHeaderStart, 0) == 0;
}

// True when some descriptor of this process still leads to `path` (or to it deleted).
bool heldOpen(const std::string& path) {
  bool held = false;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(d)) {
      char target[4096];
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      target[n] = '\0';
      held = held || std::string(target).rfind(path, 0) == 0;
    }
    ::closedir(d);
  }
  return held;
}

struct LogRig : test::MonitorRig {
  LogRig() : MonitorRig(kVariantA) { useLog(path); }
  void frame() { monitor.frameAccepted(0, "192.0.2.10"); }

  test::TempDir dir;
  const std::string folder = dir.path();
  const std::string path = folder + "/access.csv";
};

TEST(KeptOpenLog, AFileChangedUnderTheLogIsOpenedAfresh) {
  LogRig rig;
  rig.frame();
  rig.frame();
  ASSERT_EQ(lineCount(rig.path), 3u) << "header and two lines";
  EXPECT_TRUE(heldOpen(rig.path)) << "the log stays open between lines";

  // Renamed away: a new file with a header at the path; the renamed one gets nothing more.
  const std::string moved = rig.folder + "/moved.csv";
  std::filesystem::rename(rig.path, moved);
  rig.frame();
  EXPECT_EQ(lineCount(moved), 3u) << "nothing more into the renamed file";
  EXPECT_EQ(lineCount(rig.path), 2u);
  EXPECT_TRUE(startsWithHeader(rig.path));

  // Replaced by another file renamed over it: the lines go into the replacement.
  const std::string other = rig.folder + "/other.csv";
  std::ofstream(other, std::ios::binary) << "kept\r\n";
  std::filesystem::rename(other, rig.path);
  rig.frame();
  EXPECT_EQ(fileText(rig.path).rfind("kept\r\n", 0), 0u) << fileText(rig.path);
  EXPECT_EQ(lineCount(rig.path), 2u) << "a non-empty replacement continues without a header";

  // Emptied by someone else: the next line is preceded by a header, as for a new file.
  std::filesystem::resize_file(rig.path, 0);
  rig.frame();
  EXPECT_EQ(lineCount(rig.path), 2u);
  EXPECT_TRUE(startsWithHeader(rig.path));

  // Deleted: recreated with a header.
  std::filesystem::remove(rig.path);
  rig.frame();
  EXPECT_EQ(lineCount(rig.path), 2u);
  EXPECT_TRUE(startsWithHeader(rig.path));
  EXPECT_TRUE(rig.view.messageBoxes().empty());
}

TEST(KeptOpenLog, SettingsTakeEffectAtTheNextLine) {
  LogRig rig;
  rig.frame();
  const std::string second = rig.folder + "/second.csv";
  rig.useLog(second, true);
  rig.frame();
  EXPECT_EQ(lineCount(rig.path), 2u) << "nothing more into the old path";
  EXPECT_EQ(lineCount(second), 2u);
  EXPECT_FALSE(heldOpen(rig.path)) << "the old file is let go";

  rig.useLog(second, false);
  EXPECT_FALSE(heldOpen(second)) << "nothing is held open while logging is off";
  std::filesystem::remove(second);
  rig.frame();
  EXPECT_FALSE(std::filesystem::exists(second)) << "logging off touches no file";

  // A folder that vanishes while the file is open: the next line cannot open and says so.
  const std::string sub = rig.folder + "/sub";
  std::filesystem::create_directory(sub);
  rig.useLog(sub + "/a.csv", true);
  rig.frame();
  std::filesystem::remove_all(sub);
  rig.frame();
  EXPECT_EQ(rig.view.messageBoxes(), std::vector<std::string>{messages().logCannotOpen});
  std::filesystem::create_directory(sub);
  rig.frame();
  EXPECT_EQ(lineCount(sub + "/a.csv"), 2u) << "created again once the folder is back";
}

}  // namespace
}  // namespace dravik
