#include "logging/access_log.h"

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

AccessLog::Outcome AccessLog::append(const std::string& sourceAddress, States states) {
  // Nothing is built while logging is off; the switch is looked at again under the lock.
  if (!loggingOn_.load()) return Outcome::Off;
  // Built before queueing: the time of this frame.
  std::string line = dataLine(sourceAddress, states);
  Waiter waiter;
  std::unique_lock lock(lock_);
  if (!settings_->logging) return Outcome::Off;
  queue_.push_back({std::move(line), settings_, &waiter});
  // Whoever finds no writer at work becomes it and writes batches until its own line is
  // done; the others sleep until theirs is. A writer that leaves lines queued wakes the
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
  // Lines are queued only while logging is on, so only the path tells one batch from the
  // next: a line goes to the file named when it was queued.
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
    record_.clear();
    if (header) appendHeader(record_, *names);
    for (const Entry& entry : batch_) record_ += entry.line;
    // One write for the batch; a failure takes all of it back, so every line of the batch
    // has failed and none is left in part.
    if (!file_.append(record_)) outcome = Outcome::WriteFailed;
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

std::string AccessLog::dataLine(const std::string& sourceAddress, States states) const {
  std::string line;
  line.reserve(64);
  line.append(timestamp(std::time(nullptr))).append(",").append(sourceAddress);
  for (int i = 0; i < inputCount_; ++i) line += (states.inputs >> i) & 1u ? ",1" : ",0";
  for (int i = 0; i < outputCount_; ++i) line += (states.outputs >> i) & 1u ? ",1" : ",0";
  return line.append(kLineEnd);
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

std::size_t AccessLog::queuedLines() const {
  std::lock_guard lock(lock_);
  return queue_.size();
}

}  // namespace dravik
