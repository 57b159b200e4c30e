// The CSV access log: one line per answered frame, under a header of the signal names.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/text_file.h"

namespace dravik {

class AccessLog {
 public:
  // What the receivers need from the window, copied on the window's thread.
  struct Settings {
    bool logging = false;
    std::string path;
    std::vector<std::string> inputNames;
    std::vector<std::string> outputNames;
  };

  // The signal states one line records, those its frame was answered with: bit i set when
  // signal i (DI1, DO1 = bit 0) is on.
  struct States {
    unsigned inputs = 0;
    unsigned outputs = 0;
  };

  // What became of one line.
  enum class Outcome { Off, Written, CannotOpen, WriteFailed };

  // A log of lines with `inputCount` input and `outputCount` output columns.
  AccessLog(int inputCount, int outputCount);

  // Receiver threads: appends one line per entry of `lines`, in order, stamped with the time of
  // the call (after a header when the file is empty or the names changed), and returns once
  // they are in the file or have failed. They are one record: written in one write, all or
  // none, with one outcome. Records of receivers calling at the same time are written together
  // in one write, in arrival order. Shows nothing: the caller reports lines that did not reach
  // the file. Off when logging is off or `lines` is empty.
  Outcome append(const std::string& sourceAddress, std::span<const States> lines);

  // Window's thread: replaces the copies the receivers read.
  void update(Settings settings);
  // The operator changed a signal name: the next line is preceded by a header.
  void markNamesChanged();
  // Start-up: no header is owed.
  void clearNamesChanged();
  bool namesChanged() const;
  // Records waiting for a writer (not counting the ones being written).
  std::size_t queuedRecords() const;

 private:
  // A caller whose record is queued; lives on its stack until the record is done.
  struct Waiter {
    bool done = false;
    Outcome outcome = Outcome::Written;
    std::condition_variable wake;
  };
  struct Entry {
    std::string lines;
    // The settings the record was queued under: they name its file.
    std::shared_ptr<const Settings> settings;
    Waiter* waiter;
  };

  std::string dataLines(const std::string& sourceAddress, std::span<const States> lines) const;
  // The active writer: writes the oldest queued records that go to one file, with one write.
  // Called and returning with `lock` held; lets it go while touching the file.
  void writeBatch(std::unique_lock<std::mutex>& lock);

  const int inputCount_;
  const int outputCount_;

  // Held around every change of the settings, the flag, the queue and the outcomes; never
  // around file access.
  mutable std::mutex lock_;
  std::shared_ptr<const Settings> settings_;
  // The logging switch of settings_, looked at before a line is built.
  std::atomic<bool> loggingOn_{false};
  bool namesChanged_ = false;
  // Counts markNamesChanged(), so that a header written while the names changed again does
  // not clear the newer mark.
  unsigned long long nameMarks_ = 0;
  std::deque<Entry> queue_;
  // At most one caller at a time is the writer. The members below are used only by it, or
  // under lock_ while there is no writer.
  bool writerActive_ = false;
  std::vector<Entry> batch_;
  std::string record_;
  // Kept open between lines; reopened whenever the path no longer leads to it.
  textfile::AppendFile file_;
};

}  // namespace dravik
