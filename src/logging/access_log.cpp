#include "logging/access_log.h"

#include <algorithm>
#include <ctime>
#include <utility>

#include "platform/cp932.h"
#include "platform/text_file.h"

namespace dravik {
namespace {

// Lines end in CR LF so the file opens unchanged in the spreadsheets of the Windows-era
// monitors that read the same logs.
constexpr std::string_view kLineEnd = "\r\n";

// The local date and time of `now` as "YYYY/MM/DD,hh:mm:ss". A receiver logs thousands of
// frames a second; each thread formats its stamp again only when the second changes, and
// needs no lock for it.
const char* timestamp(std::time_t now) {
  thread_local std::time_t formattedSecond = -1;
  thread_local char formatted[32] = "";
  if (now != formattedSecond) {
    std::tm local{};
    formatted[0] = '\0';
    if (localtime_r(&now, &local) != nullptr) {
      std::strftime(formatted, sizeof formatted, "%Y/%m/%d,%H:%M:%S", &local);
    }
    formattedSecond = now;
  }
  return formatted;
}

void appendHeader(std::string& record, const AccessLog::Settings& names) {
  static const std::string start = cp932::fromUtf8("日付,時刻,接続元IPアドレス");
  record += start;
  for (const std::string& name : names.inputNames) record.append(",").append(name);
  for (const std::string& name : names.outputNames) record.append(",").append(name);
  record += kLineEnd;
}

}  // namespace

AccessLog::AccessLog(int inputCount, int outputCount)
    : inputCount_(inputCount),
      outputCount_(outputCount),
      settings_(std::make_shared<const Settings>()) {}

AccessLog::Outcome AccessLog::append(const std::string& sourceAddress,
                                     std::span<const States> lines) {
  // Nothing is built while logging is off; the switch is looked at again under the lock.
  if (!loggingOn_.load() || lines.empty()) return Outcome::Off;
  // Built before queueing: the time of these frames.
  std::string record = dataLines(sourceAddress, lines);
  Waiter waiter;
  std::unique_lock lock(lock_);
  if (!settings_->logging) return Outcome::Off;
  queue_.push_back({std::move(record), settings_, &waiter});
  // Whoever finds no writer at work becomes it and writes batches until its own record is
  // done; the others sleep until theirs is. A writer that leaves records queued wakes the
  // owner of the oldest to take over, so no receiver goes on writing for the others.
  while (!waiter.done) {
    if (writerActive_) {
      waiter.wake.wait(lock);
      continue;
    }
    writerActive_ = true;
    writeBatch(lock);
    // Nothing is held open while logging is off, even when the switch went off while a
    // batch queued before it was being written.
    if (!settings_->logging) file_.close();
    writerActive_ = false;
  }
  if (!writerActive_ && !queue_.empty()) queue_.front().waiter->wake.notify_one();
  return waiter.outcome;
}

void AccessLog::writeBatch(std::unique_lock<std::mutex>& lock) {
  // Records are queued only while logging is on, so only the path tells one batch from the
  // next: a record goes to the file named when it was queued.
  const std::shared_ptr<const Settings> target = queue_.front().settings;
  while (!queue_.empty() && queue_.front().settings->path == target->path) {
    batch_.push_back(std::move(queue_.front()));
    queue_.pop_front();
  }
  // A header carries the names as they stand now.
  const std::shared_ptr<const Settings> names = settings_;
  const bool headerOwed = namesChanged_;
  const unsigned long long marks = nameMarks_;
  lock.unlock();

  Outcome outcome = Outcome::Written;
  bool header = false;
  if (!file_.open(target->path)) {
    outcome = Outcome::CannotOpen;
  } else {
    header = file_.size() == 0 || headerOwed;
    // A receiver alone writes its own record as it stands, without a copy.
    std::string_view bytes = batch_.front().lines;
    if (header || batch_.size() > 1) {
      record_.clear();
      if (header) appendHeader(record_, *names);
      for (const Entry& entry : batch_) record_ += entry.lines;
      bytes = record_;
    }
    // One write for the batch; a failure takes all of it back, so every line of the batch
    // has failed and none is left in part.
    if (!file_.append(bytes)) outcome = Outcome::WriteFailed;
  }

  lock.lock();
  if (outcome == Outcome::Written && header && nameMarks_ == marks) namesChanged_ = false;
  // Notified under the lock: once it sees its outcome a waiter returns, and its Waiter
  // is gone.
  for (const Entry& entry : batch_) {
    entry.waiter->done = true;
    entry.waiter->outcome = outcome;
    entry.waiter->wake.notify_one();
  }
  batch_.clear();
}

std::string AccessLog::dataLines(const std::string& sourceAddress,
                                 std::span<const States> lines) const {
  // Every line of a record starts alike, and all are the same length: the record is sized once
  // and filled in place, as a burst of a thousand frames is logged in one go.
  const std::string start = std::string(timestamp(std::time(nullptr))) + "," + sourceAddress;
  const std::size_t lineBytes = start.size() + 2 * (inputCount_ + outputCount_) + kLineEnd.size();
  std::string record(lineBytes * lines.size(), '\0');
  char* out = record.data();
  const auto columns = [&out](unsigned bits, int count) {
    for (int i = 0; i < count; ++i) {
      *out++ = ',';
      *out++ = (bits >> i) & 1u ? '1' : '0';
    }
  };
  for (const States& states : lines) {
    out = std::copy(start.begin(), start.end(), out);
    columns(states.inputs, inputCount_);
    columns(states.outputs, outputCount_);
    out = std::copy(kLineEnd.begin(), kLineEnd.end(), out);
  }
  return record;
}

void AccessLog::update(Settings settings) {
  auto next = std::make_shared<const Settings>(std::move(settings));
  std::lock_guard lock(lock_);
  settings_.swap(next);
  loggingOn_.store(settings_->logging);
  // Nothing is held open while logging is off; a writer at work closes the file itself.
  if (!settings_->logging && !writerActive_) file_.close();
}

void AccessLog::markNamesChanged() {
  std::lock_guard lock(lock_);
  namesChanged_ = true;
  ++nameMarks_;
}

void AccessLog::clearNamesChanged() {
  std::lock_guard lock(lock_);
  namesChanged_ = false;
}

bool AccessLog::namesChanged() const {
  std::lock_guard lock(lock_);
  return namesChanged_;
}

std::size_t AccessLog::queuedRecords() const {
  std::lock_guard lock(lock_);
  return queue_.size();
}

}  // namespace dravik
