// A HidDevice that records every output report and answers from a script of input reports.
// Reads beyond the script behave as the test asks: fail at once, or time out. Its log reads as
// short text lines (Describe), so that a whole exchange compares in one assertion with what the
// test expects (Expected).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "platform/hid_device.h"
#include "tests/support/byte_pattern.h"

namespace testing_support {

// A 65-byte report from its leading bytes; the rest is 0.
inline Bytes ReportOf(std::initializer_list<int> head) {
  Bytes r(platform::kReportSize, 0);
  std::size_t i = 0;
  for (int b : head) r[i++] = static_cast<std::uint8_t>(b);
  return r;
}

// A 65-byte report: byte 0 is 0, `payload` from byte 1 on, the rest 0.
inline Bytes ReportWithPayload(const std::uint8_t* payload, std::size_t n) {
  Bytes report(platform::kReportSize, 0);
  for (std::size_t i = 0; i < n; ++i) report[1 + i] = payload[i];
  return report;
}

struct Event {
  enum Kind { kWrite, kRead, kDiscard, kMark } kind;
  Bytes report;  // the report written, or the report returned by a read (empty when none)
};

class RecordingDevice : public platform::HidDevice {
 public:
  enum class WhenEmpty { kFail, kTimeOut };

  explicit RecordingDevice(std::vector<Event>* log, std::mutex* mutex = nullptr)
      : log_(log), mutex_(mutex) {}

  // An answer the board sends just when it is read: a discard of pending input never drops it.
  void QueueAnswer(const Bytes& report) {
    Guard g(mutex_);
    scripted_.push_back(report);
  }
  // A report that has arrived already: a discard drops it.
  void QueueArrivedAnswer(const Bytes& report) {
    Guard g(mutex_);
    answers_.push_back(report);
  }
  // An answer the board sends only once it has received `writes` more output reports, so that
  // a discard of pending input before those reports cannot drop it.
  void QueueAnswerAfterWrites(const Bytes& report, int writes = 1) {
    Guard g(mutex_);
    deferred_.push_back({writes, report});
  }
  void SetWhenEmpty(WhenEmpty w) { when_empty_ = w; }
  // Writes from the n-th on (counting from 0) fail and are not logged; -1: none fails.
  void FailWritesFrom(long n) { fail_from_ = n < 0 ? -1 : static_cast<long>(writes_) + n; }
  unsigned last_timeout_ms() const { return last_timeout_ms_; }
  std::size_t pending_answers() const { return answers_.size() + scripted_.size(); }
  const std::vector<unsigned>& read_timeouts() const { return read_timeouts_; }

  bool WriteReport(const std::uint8_t (&report)[platform::kReportSize]) override {
    Guard g(mutex_);
    if (fail_from_ >= 0 && static_cast<long>(writes_) >= fail_from_) return false;
    ++writes_;
    log_->push_back({Event::kWrite, Bytes(report, report + platform::kReportSize)});
    for (auto it = deferred_.begin(); it != deferred_.end();) {
      if (--it->writes_left > 0) {
        ++it;
        continue;
      }
      answers_.push_back(it->report);
      it = deferred_.erase(it);
    }
    return true;
  }
  platform::ReadResult ReadReport(std::uint8_t (&report)[platform::kReportSize],
                                  unsigned timeout_ms) override {
    Guard g(mutex_);
    last_timeout_ms_ = timeout_ms;
    read_timeouts_.push_back(timeout_ms);
    if (answers_.empty() && !scripted_.empty()) {
      answers_.push_back(scripted_.front());
      scripted_.pop_front();
    }
    if (answers_.empty()) {
      log_->push_back({Event::kRead, {}});
      return when_empty_ == WhenEmpty::kFail ? platform::ReadResult::kFailed
                                             : platform::ReadResult::kTimedOut;
    }
    std::memcpy(report, answers_.front().data(), platform::kReportSize);
    log_->push_back({Event::kRead, answers_.front()});
    answers_.pop_front();
    return platform::ReadResult::kOk;
  }
  // Puts a marker into the log, in order with the device's own events (e.g. "pause over").
  void Mark() {
    Guard g(mutex_);
    log_->push_back({Event::kMark, {}});
  }
  std::size_t DiscardPendingInput() override {
    Guard g(mutex_);
    log_->push_back({Event::kDiscard, {}});
    const std::size_t dropped = answers_.size();
    answers_.clear();
    return dropped;
  }
  // The test attaches the device itself: discovery, which would ask these, never sees it.
  bool GetAttributes(platform::HidAttributes*) override { return false; }
  bool GetManufacturerString(char16_t*, std::size_t) override { return false; }
  bool GetProductString(char16_t*, std::size_t) override { return false; }

 private:
  struct Guard {
    explicit Guard(std::mutex* m) : m_(m) {
      if (m_) m_->lock();
    }
    ~Guard() {
      if (m_) m_->unlock();
    }
    std::mutex* m_;
  };
  std::vector<Event>* log_;
  std::mutex* mutex_;
  std::deque<Bytes> answers_;   // arrived
  std::deque<Bytes> scripted_;  // sent when read
  struct Deferred {
    int writes_left;
    Bytes report;
  };
  std::deque<Deferred> deferred_;
  WhenEmpty when_empty_ = WhenEmpty::kFail;
  std::size_t writes_ = 0;
  long fail_from_ = -1;
  unsigned last_timeout_ms_ = 0;
  std::vector<unsigned> read_timeouts_;
};

// The log as text: "W 00 AA 55 1C" is a 65-byte write whose later bytes are all 0, "R" a read
// that returned a report, "R-" a read that returned none, "M" a marker the test put in.
// Discards of pending input, which start every command, are left out of a whole log.
inline std::string HexHead(const Bytes& report) {
  std::size_t end = report.size();
  while (end > 1 && report[end - 1] == 0) --end;
  std::string text;
  for (std::size_t i = 0; i < end; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", report[i]);
    text += byte;
  }
  if (report.size() != platform::kReportSize)
    text += " [size " + std::to_string(report.size()) + "]";
  return text;
}

inline std::string Describe(const Event& event) {
  switch (event.kind) {
    case Event::kWrite:
      return "W " + HexHead(event.report);
    case Event::kRead:
      return event.report.empty() ? "R-" : "R";
    case Event::kDiscard:
      return "D";
    case Event::kMark:
      return "M";
  }
  return "?";
}

inline std::vector<std::string> Describe(const std::vector<Event>& log) {
  std::vector<std::string> lines;
  for (const Event& event : log) {
    if (event.kind != Event::kDiscard) lines.push_back(Describe(event));
  }
  return lines;
}

// The expected side of a comparison with Describe().
class Expected {
 public:
  Expected& Write(const Bytes& report) { return Add("W " + HexHead(report)); }
  Expected& Write(std::initializer_list<int> head) { return Write(ReportOf(head)); }
  Expected& Read(int times = 1) {
    for (int i = 0; i < times; ++i) Add("R");
    return *this;
  }
  Expected& ReadNone() { return Add("R-"); }
  Expected& Mark() { return Add("M"); }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  Expected& Add(std::string line) {
    lines_.push_back(std::move(line));
    return *this;
  }
  std::vector<std::string> lines_;
};

}  // namespace testing_support
