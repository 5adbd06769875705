#include "fake_board.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace testing_support {

namespace {
constexpr std::size_t kMaxProblems = 20;  // enough to diagnose; a broken run would flood
}

FakeBoard::FakeBoard() : eeprom_(0x10000, 0xFF), lines_(64, 0) {}

std::uint8_t FakeBoard::SlaveByte(std::uint8_t slave, std::uint32_t offset) {
  return static_cast<std::uint8_t>(slave * 31 + offset * 7 + (offset >> 6));
}

std::uint8_t FakeBoard::SensorByte(std::size_t j) {
  return static_cast<std::uint8_t>(0xF0 - j);
}

FakeBoard::Bytes FakeBoard::LineRecord() const {
  std::lock_guard<std::mutex> g(mutex_);
  return lines_;
}

void FakeBoard::SetLineRecord(const Bytes& record) {
  std::lock_guard<std::mutex> g(mutex_);
  lines_ = record;
}

std::vector<std::string> FakeBoard::Problems() const {
  std::lock_guard<std::mutex> g(mutex_);
  return problems_;
}

int FakeBoard::StaleLineWrites() const {
  std::lock_guard<std::mutex> g(mutex_);
  return stale_line_writes_;
}

std::size_t FakeBoard::LineWrites() const {
  std::lock_guard<std::mutex> g(mutex_);
  return line_writes_;
}

std::vector<std::uint8_t> FakeBoard::Commands() const {
  std::lock_guard<std::mutex> g(mutex_);
  return commands_;
}

std::size_t FakeBoard::Discards() const {
  std::lock_guard<std::mutex> g(mutex_);
  return discards_;
}

void FakeBoard::DelayNextAnswers() {
  std::lock_guard<std::mutex> g(mutex_);
  delay_next_ = true;
}

void FakeBoard::Problem(const std::string& text) {
  if (problems_.size() < kMaxProblems) {
    std::ostringstream s;
    s << "command " << commands_.size() << ": " << text;
    problems_.push_back(s.str());
  }
}

void FakeBoard::ExpectZeroFrom(const std::uint8_t* r, std::size_t from, const char* what) {
  for (std::size_t i = from; i < platform::kReportSize; ++i) {
    if (r[i] != 0) {
      Problem(std::string(what) + ": byte " + std::to_string(i) + " is not 0");
      return;
    }
  }
}

void FakeBoard::Queue(Bytes report) {
  report.resize(platform::kReportSize, 0);
  Answer answer{commands_.size() - 1, std::move(report)};
  (delaying_ ? late_ : answers_).push_back(std::move(answer));
}

bool FakeBoard::WriteReport(const std::uint8_t (&report)[platform::kReportSize]) {
  std::lock_guard<std::mutex> g(mutex_);
  const std::uint8_t* r = report;
  if (r[0] != 0) Problem("report ID is not 0");
  if (next_ == Next::kAnnounce) {
    OnAnnounce(r);
    return true;
  }
  if (command_threads_.back() != std::this_thread::get_id()) {
    Problem("a report of this command came from another thread");
  }
  switch (next_) {
    case Next::kAnnounce:
      break;
    case Next::kI2cParams:
      OnI2cParams(r);
      break;
    case Next::kI2cData:
      OnI2cData(r);
      break;
    case Next::kSpeedParams:
      if (r[1] != 0 && r[1] != 1 && r[1] != 3) Problem("speed code " + std::to_string(r[1]));
      ExpectZeroFrom(r, 2, "speed parameters");
      Queue({0, static_cast<std::uint8_t>(r[1] << 2)});
      next_ = Next::kAnnounce;
      break;
    case Next::kEepromParams:
      OnEepromParams(r);
      break;
    case Next::kEepromData:
      for (std::size_t i = 0; i < eeprom_count_; ++i) {
        eeprom_[static_cast<std::uint16_t>(eeprom_addr_ + i)] = r[1 + i];
      }
      ExpectZeroFrom(r, 1 + eeprom_count_, "EEPROM data");
      next_ = Next::kAnnounce;
      break;
    case Next::kLineData: {
      std::size_t changed = 0;
      for (std::size_t i = 0; i < lines_.size(); ++i) changed += lines_[i] != r[1 + i];
      if (changed > 1) ++stale_line_writes_;
      ++line_writes_;
      std::copy(r + 1, r + 1 + lines_.size(), lines_.begin());
      Queue({0, 0});
      next_ = Next::kAnnounce;
      break;
    }
  }
  return true;
}

void FakeBoard::OnAnnounce(const std::uint8_t* r) {
  if (!answers_.empty()) {
    Problem(std::to_string(answers_.size()) + " answers of the previous command left unread");
    answers_.clear();
  }
  code_ = r[3];
  commands_.push_back(code_);
  command_threads_.push_back(std::this_thread::get_id());
  delaying_ = delay_next_;
  delay_next_ = false;
  if (r[1] != 0xAA || r[2] != 0x55) Problem("announce without AA 55");
  std::size_t zeroFrom = 4;
  switch (code_) {
    case 0x1A:
    case 0x1B:
      next_ = Next::kI2cParams;
      break;
    case 0x1C:
      next_ = Next::kSpeedParams;
      break;
    case 0x22:
    case 0x23:
      next_ = Next::kEepromParams;
      break;
    case 0x24: {
      Bytes answer(platform::kReportSize, 0);
      std::copy(lines_.begin(), lines_.end(), answer.begin() + 1);
      Queue(std::move(answer));
      break;
    }
    case 0x25:
      next_ = Next::kLineData;
      break;
    case 0x30: {
      if (r[4] != 0x20) Problem("sensor request without 0x20");
      zeroFrom = 5;
      Bytes answer(platform::kReportSize, 0);
      for (std::size_t j = 0; j < 64; ++j) answer[1 + j] = SensorByte(j);
      Queue(std::move(answer));
      break;
    }
    case 0x50:
      zeroFrom = 6;
      break;
    case 0xFD:
      break;
    default:
      Problem("unknown command " + std::to_string(code_));
  }
  ExpectZeroFrom(r, zeroFrom, "announce");
}

void FakeBoard::OnI2cParams(const std::uint8_t* r) {
  slave_ = r[1];
  count_ = static_cast<std::uint32_t>(r[2] << 8 | r[3]);
  if (r[4] > 1 || r[5] > 1) Problem("START/STOP flags not 0 or 1");
  ExpectZeroFrom(r, 6, "I2C parameters");
  offset_ = 0;
  data_reports_left_ = count_ / 64 + 1;
  if (code_ == 0x1B) {
    next_ = Next::kI2cData;
    return;
  }
  for (std::uint32_t k = 0; k < data_reports_left_; ++k) {
    Bytes answer(platform::kReportSize, 0);
    for (std::uint32_t j = 0; j < 64; ++j) answer[1 + j] = SlaveByte(slave_, 64 * k + j);
    Queue(std::move(answer));
  }
  Queue({0, slave_});
  next_ = Next::kAnnounce;
}

void FakeBoard::OnI2cData(const std::uint8_t* r) {
  const std::uint32_t n = std::min<std::uint32_t>(64, count_ - offset_);
  for (std::uint32_t j = 0; j < n; ++j) {
    if (r[1 + j] != SlaveByte(slave_, offset_ + j)) {
      Problem("write run byte " + std::to_string(offset_ + j) + " is not the slave's");
      break;
    }
  }
  ExpectZeroFrom(r, 1 + n, "I2C data");
  offset_ += n;
  if (--data_reports_left_ == 0) {
    Queue({0, slave_});
    next_ = Next::kAnnounce;
  }
}

void FakeBoard::OnEepromParams(const std::uint8_t* r) {
  eeprom_addr_ = static_cast<std::uint16_t>(r[1] << 8 | r[2]);
  eeprom_count_ = r[3];
  if (eeprom_count_ > 64) Problem("EEPROM count above 64");
  ExpectZeroFrom(r, 4, "EEPROM parameters");
  if (code_ == 0x22) {
    next_ = Next::kEepromData;
    return;
  }
  Bytes answer(platform::kReportSize, 0);
  for (std::size_t i = 0; i < eeprom_count_; ++i) {
    answer[1 + i] = eeprom_[static_cast<std::uint16_t>(eeprom_addr_ + i)];
  }
  Queue(std::move(answer));
  next_ = Next::kAnnounce;
}

platform::ReadResult FakeBoard::ReadReport(std::uint8_t (&report)[platform::kReportSize],
                                           unsigned) {
  std::lock_guard<std::mutex> g(mutex_);
  if (answers_.empty()) {
    if (!late_.empty()) {
      answers_.insert(answers_.end(), late_.begin(), late_.end());
      late_.clear();
      owed_wait_allowed_ = true;
    } else if (owed_wait_allowed_) {
      owed_wait_allowed_ = false;  // the next command waiting for the answers it dropped
    } else {
      Problem("a read with no answer due");
    }
    return platform::ReadResult::kTimedOut;
  }
  const Answer& answer = answers_.front();
  if (command_threads_[answer.command] != std::this_thread::get_id()) {
    Problem("an answer was taken by another thread than the one that asked");
  }
  std::memcpy(report, answer.report.data(), platform::kReportSize);
  answers_.pop_front();
  return platform::ReadResult::kOk;
}

void FakeBoard::DiscardPendingInput() {
  std::lock_guard<std::mutex> g(mutex_);
  answers_.clear();
  ++discards_;
}

bool FakeBoard::GetAttributes(platform::HidAttributes* attributes) {
  attributes->vendor_id = 0x04B4;
  attributes->product_id = 0xE006;
  return true;
}

}  // namespace testing_support
