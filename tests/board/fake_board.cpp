#include "fake_board.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>

#include "board/protocol.h"
#include "emulator/board_data.h"
#include "platform/emulated/device_text.h"

using namespace board;

namespace testing_support {

namespace {
constexpr std::size_t kMaxProblems = 20;  // enough to diagnose; a broken run would flood
constexpr int kAddressCount = 256;
}  // namespace

// Reads give SlaveByte; a write run must consist of them. The status byte is the address, so a
// status taken by the wrong command shows.
class FakeBoard::PatternSlave : public emulator::I2cSlave {
 public:
  PatternSlave(FakeBoard* owner, std::uint8_t address) : owner_(owner), address_(address) {}
  std::uint8_t Write(const std::uint8_t* data, std::size_t n, bool, bool) override {
    for (std::size_t j = 0; j < n; ++j) {
      if (data[j] != SlaveByte(address_, static_cast<std::uint32_t>(j))) {
        owner_->Problem("write run byte " + std::to_string(j) + " is not the slave's");
        break;
      }
    }
    return address_;
  }
  std::uint8_t Read(std::uint8_t* data, std::size_t n, bool, bool) override {
    for (std::size_t j = 0; j < n; ++j)
      data[j] = SlaveByte(address_, static_cast<std::uint32_t>(j));
    return address_;
  }

 private:
  FakeBoard* owner_;  // whose lock is held: the emulated board runs transfers inside WriteReport
  std::uint8_t address_;
};

FakeBoard::FakeBoard() {
  emulator::SensorBlock block;
  for (std::size_t j = 0; j < block.size(); ++j) block[j] = SensorByte(j);
  board_.SetSensor(emulator::kOwnSensorBlock, block);
  for (int a = 0; a < kAddressCount; ++a) {
    board_.SetSensor(a, block);
    const auto address = static_cast<std::uint8_t>(a);
    board_.AttachI2cSlave(address, std::make_shared<PatternSlave>(this, address));
  }
}

std::uint8_t FakeBoard::SlaveByte(std::uint8_t slave, std::uint32_t offset) {
  return static_cast<std::uint8_t>(slave * 31 + offset * 7 + (offset >> 6));
}

std::uint8_t FakeBoard::SensorByte(std::size_t j) {
  return static_cast<std::uint8_t>(0xF0 - j);
}

Bytes FakeBoard::LineRecord() const {
  std::lock_guard<std::mutex> g(mutex_);
  const emulator::LineRecord lines = board_.Lines();
  return Bytes(lines.begin(), lines.end());
}

void FakeBoard::SetLineRecord(const Bytes& record) {
  std::lock_guard<std::mutex> g(mutex_);
  emulator::BoardState state = board_.SaveState();
  std::copy_n(record.begin(), state.lines.size(), state.lines.begin());
  state.keys = {record[kLineKey1] != 0, record[kLineKey2] != 0, record[kLineKey3] != 0};
  state.int_high = record[kLineInt] != 0;
  board_.LoadState(state);
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
  for (std::size_t i = from; i < kReportSize; ++i) {
    if (r[i] != 0) {
      Problem(std::string(what) + ": byte " + std::to_string(i) + " is not 0");
      return;
    }
  }
}

bool FakeBoard::WriteReport(const std::uint8_t (&report)[kReportSize]) {
  std::lock_guard<std::mutex> g(mutex_);
  CheckReport(report);
  std::vector<platform::InputReport> produced;
  board_.OnOutputReport(report, &produced);
  for (const platform::InputReport& answer : produced) {
    (delaying_ ? late_ : answers_)
        .push_back({commands_.size() - 1, Bytes(answer.bytes.begin(), answer.bytes.end())});
  }
  return true;
}

void FakeBoard::CheckReport(const std::uint8_t* r) {
  if (r[0] != 0) Problem("report ID is not 0");
  if (next_ == Next::kAnnounce) {
    OnAnnounce(r);
    return;
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
      if (r[kSpeedParamCode] != kSpeedCode50k && r[kSpeedParamCode] != kSpeedCode400k &&
          r[kSpeedParamCode] != kSpeedCode1M) {
        Problem("speed code " + std::to_string(r[kSpeedParamCode]));
      }
      ExpectZeroFrom(r, kSpeedParamCode + 1, "speed parameters");
      next_ = Next::kAnnounce;
      break;
    case Next::kEepromParams:
      OnEepromParams(r);
      break;
    case Next::kEepromData:
      ExpectZeroFrom(r, kPayloadOffset + eeprom_count_, "EEPROM data");
      next_ = Next::kAnnounce;
      break;
    case Next::kLineData: {
      const emulator::LineRecord lines = board_.Lines();
      std::size_t changed = 0;
      for (std::size_t i = 0; i < lines.size(); ++i) changed += lines[i] != r[1 + i];
      if (changed > 1) ++stale_line_writes_;
      ++line_writes_;
      next_ = Next::kAnnounce;
      break;
    }
  }
}

void FakeBoard::OnAnnounce(const std::uint8_t* r) {
  if (!answers_.empty()) {
    Problem(std::to_string(answers_.size()) + " answers of the previous command left unread");
    answers_.clear();
  }
  code_ = r[kAnnounceCommand];
  commands_.push_back(code_);
  command_threads_.push_back(std::this_thread::get_id());
  delaying_ = delay_next_;
  delay_next_ = false;
  if (r[kAnnounceMagic1] != kMagic1 || r[kAnnounceMagic2] != kMagic2) {
    Problem("announce without AA 55");
  }
  std::size_t zero_from = kAnnounceArg1;
  switch (code_) {
    case CMD_I2C_READ:
    case CMD_I2C_WRITE:
      next_ = Next::kI2cParams;
      break;
    case CMD_I2C_SPEED:
      next_ = Next::kSpeedParams;
      break;
    case CMD_EEPROM_WRITE:
    case CMD_EEPROM_READ:
      next_ = Next::kEepromParams;
      break;
    case CMD_GET_LINES:
      break;
    case CMD_SET_LINES:
      next_ = Next::kLineData;
      break;
    case CMD_SENSOR_DATA:
      if (r[kAnnounceArg1] != kSensorRequestArg) Problem("sensor request without 0x20");
      zero_from = kAnnounceArg1 + 1;
      break;
    case CMD_EXPAND_CHANNEL:
      zero_from = kAnnounceArg2 + 1;
      break;
    case CMD_HARDWARE_RESET:
      break;
    default:
      Problem("unknown command " + std::to_string(code_));
  }
  ExpectZeroFrom(r, zero_from, "announce");
}

void FakeBoard::OnI2cParams(const std::uint8_t* r) {
  count_ = static_cast<std::uint32_t>(r[kI2cParamCountHigh] << 8 | r[kI2cParamCountLow]);
  if (r[kI2cParamStart] > 1 || r[kI2cParamStop] > 1) Problem("START/STOP flags not 0 or 1");
  ExpectZeroFrom(r, kI2cParamStop + 1, "I2C parameters");
  offset_ = 0;
  data_reports_left_ = DataReportCount(count_);
  next_ = code_ == CMD_I2C_WRITE ? Next::kI2cData : Next::kAnnounce;
}

void FakeBoard::OnI2cData(const std::uint8_t* r) {
  const auto n = std::min<std::uint32_t>(kPayloadSize, count_ - offset_);
  ExpectZeroFrom(r, kPayloadOffset + n, "I2C data");
  offset_ += n;
  if (--data_reports_left_ == 0) next_ = Next::kAnnounce;
}

void FakeBoard::OnEepromParams(const std::uint8_t* r) {
  eeprom_count_ = r[kEepromParamCount];
  if (eeprom_count_ > kEepromMaxPage) Problem("EEPROM count above 64");
  ExpectZeroFrom(r, kEepromParamCount + 1, "EEPROM parameters");
  next_ = code_ == CMD_EEPROM_WRITE ? Next::kEepromData : Next::kAnnounce;
}

platform::ReadResult FakeBoard::ReadReport(std::uint8_t (&report)[kReportSize], unsigned) {
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
  std::memcpy(report, answer.report.data(), kReportSize);
  answers_.pop_front();
  return platform::ReadResult::kOk;
}

std::size_t FakeBoard::DiscardPendingInput() {
  std::lock_guard<std::mutex> g(mutex_);
  const std::size_t dropped = answers_.size();
  answers_.clear();
  ++discards_;
  return dropped;
}

bool FakeBoard::GetAttributes(platform::HidAttributes* attributes) {
  const emulator::BoardData board;
  attributes->vendor_id = board.vendor_id;
  attributes->product_id = board.product_id;
  return true;
}

bool FakeBoard::GetManufacturerString(char16_t* buffer, std::size_t bytes) {
  return platform::CopyDeviceString(emulator::BoardData().manufacturer, buffer, bytes);
}

bool FakeBoard::GetProductString(char16_t* buffer, std::size_t bytes) {
  return platform::CopyDeviceString(emulator::BoardData().product, buffer, bytes);
}

}  // namespace testing_support
