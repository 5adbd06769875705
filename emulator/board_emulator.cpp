#include "emulator/board_emulator.h"

#include <algorithm>
#include <utility>

using namespace board;

namespace emulator {

namespace {

// Record bytes that follow the board's inputs rather than what the host writes.
bool IsInputLine(std::size_t record_byte) {
  return record_byte == kLineKey1 || record_byte == kLineKey2 || record_byte == kLineKey3 ||
         record_byte == kLineInt;
}

std::size_t TransferCount(const std::array<std::uint8_t, kReportSize>& parameters) {
  return (static_cast<std::size_t>(parameters[kI2cParamCountHigh]) << 8) |
         parameters[kI2cParamCountLow];
}

std::size_t EepromAddress(const std::array<std::uint8_t, kReportSize>& parameters) {
  return (static_cast<std::size_t>(parameters[kEepromParamAddrHigh]) << 8) |
         parameters[kEepromParamAddrLow];
}

std::size_t EepromCount(const std::array<std::uint8_t, kReportSize>& parameters) {
  return std::min<std::size_t>(parameters[kEepromParamCount], kEepromMaxPage);
}

}  // namespace

const BoardEmulator::CommandSpec* BoardEmulator::Find(std::uint8_t code) {
  static const CommandSpec kCommands[] = {
      {CMD_I2C_READ, &BoardEmulator::I2cRead},
      {CMD_I2C_WRITE, &BoardEmulator::I2cWrite},
      {CMD_I2C_SPEED, &BoardEmulator::I2cSpeed},
      {CMD_EEPROM_WRITE, &BoardEmulator::EepromWrite},
      {CMD_EEPROM_READ, &BoardEmulator::EepromRead},
      {CMD_GET_LINES, &BoardEmulator::GetLines},
      {CMD_SET_LINES, &BoardEmulator::SetLines},
      {CMD_SENSOR_DATA, &BoardEmulator::SensorData},
      {CMD_EXPAND_CHANNEL, &BoardEmulator::ExpandChannel},
      {CMD_HARDWARE_RESET, &BoardEmulator::HardwareReset},
  };
  for (const CommandSpec& spec : kCommands) {
    if (spec.code == code) return &spec;
  }
  return nullptr;
}

// Parameter and data reports a command takes after its announce report, given those received.
std::size_t BoardEmulator::FollowingReports(std::uint8_t code,
                                            const std::vector<Report>& received) {
  switch (code) {
    case CMD_I2C_WRITE:
      // The parameter report tells how many data reports follow.
      return received.empty()
                 ? 1
                 : 1 + DataReportCount(static_cast<std::uint32_t>(TransferCount(received.front())));
    case CMD_EEPROM_WRITE:
      return 2;
    case CMD_I2C_READ:
    case CMD_I2C_SPEED:
    case CMD_EEPROM_READ:
    case CMD_SET_LINES:
      return 1;
    default:
      return 0;
  }
}

BoardEmulator::BoardEmulator(BoardData data)
    : data_(std::move(data)),
      eeprom_(kEepromSize, kErasedByte, data_.eeprom),
      own_block_(DefaultSensorBlock(kOwnSensorBlock)),
      memory_(std::make_shared<SerialMemory>()),
      late_delay_ms_(data_.late_delay_ms) {
  for (int c = 0; c < static_cast<int>(channel_blocks_.size()); ++c) {
    channel_blocks_[static_cast<std::size_t>(c)] = DefaultSensorBlock(c);
  }
  bus_.Attach(kSerialMemoryAddress, memory_);
  ResetVolatileState();
}

BoardEmulator::~BoardEmulator() = default;

void BoardEmulator::OnOutputReport(const std::uint8_t (&bytes)[kReportSize],
                                   std::vector<platform::InputReport>* answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  Report report;
  std::copy(bytes, bytes + kReportSize, report.begin());
  if (report[0] != 0) {  // the board has output report 0 only
    ++ignored_reports_;
    return;
  }
  if (!in_command_) {
    if (report[kAnnounceMagic1] != kMagic1 || report[kAnnounceMagic2] != kMagic2) {
      ++ignored_reports_;
      return;
    }
    const std::uint8_t code = report[kAnnounceCommand];
    if (Find(code) == nullptr) {
      ++unknown_commands_;
      return;
    }
    if (code == CMD_SENSOR_DATA && report[kAnnounceArg1] != kSensorRequestArg) {
      ++ignored_reports_;
      return;
    }
    pending_.announce = report;
    pending_.follow.clear();
    in_command_ = true;
  } else {
    // Whatever comes while a command is incomplete is its next parameter or data report, even
    // when it looks like an announce: a data run may hold AA 55 anywhere.
    pending_.follow.push_back(report);
  }

  const std::uint8_t code = pending_.announce[kAnnounceCommand];
  if (pending_.follow.size() < FollowingReports(code, pending_.follow)) return;
  in_command_ = false;
  ++command_counts_[code];
  ++command_number_;
  Answers produced;
  (this->*Find(code)->handler)(pending_, &produced);
  pending_.follow.clear();
  Emit(code, produced, answers);
}

void BoardEmulator::Emit(std::uint8_t code, const Answers& produced,
                         std::vector<platform::InputReport>* out) {
  const unsigned delay = mode_ == AnswerMode::kLate ? late_delay_ms_ : 0;
  const auto by_code = command_fates_.find(code);
  for (std::size_t index = 0; index < produced.size(); ++index) {
    const Report& r = produced[index];
    const platform::InputReport report{r, delay, command_number_};
    if (fates_ || by_code != command_fates_.end()) {
      const AnswerFate fate = fates_ ? fates_(command_number_, index) : by_code->second;
      if (fate.drop) continue;
      const platform::InputReport planned{r, fate.delay_ms, command_number_};
      out->push_back(planned);
      if (fate.duplicate) out->push_back(planned);
      continue;
    }
    if (mode_ == AnswerMode::kSilent) continue;
    out->push_back(report);
    if (duplicate_next_) {
      out->push_back(report);
      duplicate_next_ = false;
    }
  }
}

void BoardEmulator::I2cRead(const Command& c, Answers* out) {
  const Report& p = c.follow.at(0);
  const std::size_t n = TransferCount(p);
  std::vector<std::uint8_t> data(n);
  const std::uint8_t status =
      bus_.Read(p[kI2cParamSlave], data.data(), n, p[kI2cParamStart] != 0, p[kI2cParamStop] != 0);
  const std::size_t reports = DataReportCount(static_cast<std::uint32_t>(n));
  for (std::size_t k = 0; k < reports; ++k) {
    Report r{};
    const std::size_t offset = k * kPayloadSize;
    const std::size_t len = std::min(kPayloadSize, n - offset);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), len,
                r.begin() + kPayloadOffset);
    out->push_back(r);
  }
  Report s{};
  s[kAnswerStatus] = status;
  out->push_back(s);
}

void BoardEmulator::I2cWrite(const Command& c, Answers* out) {
  const Report& p = c.follow.at(0);
  const std::size_t n = TransferCount(p);
  std::vector<std::uint8_t> data(n);
  for (std::size_t offset = 0, k = 1; offset < n; offset += kPayloadSize, ++k) {
    const std::size_t len = std::min(kPayloadSize, n - offset);
    std::copy_n(c.follow.at(k).begin() + kPayloadOffset, len,
                data.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  Report s{};
  s[kAnswerStatus] =
      bus_.Write(p[kI2cParamSlave], data.data(), n, p[kI2cParamStart] != 0, p[kI2cParamStop] != 0);
  out->push_back(s);
}

void BoardEmulator::I2cSpeed(const Command& c, Answers* out) {
  speed_code_ = c.follow.at(0)[kSpeedParamCode];
  Report r{};
  r[kAnswerStatus] =
      static_cast<std::uint8_t>((speed_code_ & kSpeedAnswerMask) << kSpeedAnswerShift);
  out->push_back(r);
}

void BoardEmulator::EepromWrite(const Command& c, Answers*) {
  const Report& p = c.follow.at(0);
  const Report& d = c.follow.at(1);
  const std::size_t address = EepromAddress(p);
  const std::size_t n = EepromCount(p);
  eeprom_.Write(address, d.data() + kPayloadOffset, n);
}

void BoardEmulator::EepromRead(const Command& c, Answers* out) {
  const Report& p = c.follow.at(0);
  const std::size_t address = EepromAddress(p);
  const std::size_t n = EepromCount(p);
  Report r{};
  eeprom_.Read(address, r.data() + kPayloadOffset, n);
  out->push_back(r);
}

void BoardEmulator::GetLines(const Command&, Answers* out) {
  Report r{};
  std::copy(lines_.begin(), lines_.end(), r.begin() + kPayloadOffset);
  out->push_back(r);
}

void BoardEmulator::SetLines(const Command& c, Answers* out) {
  const Report& d = c.follow.at(0);
  for (std::size_t i = 0; i < kLineRecordSize; ++i) {
    if (!IsInputLine(i)) lines_[i] = d[kPayloadOffset + i];
  }
  GetLines(c, out);  // the answer echoes the record as it now stands
}

void BoardEmulator::SensorData(const Command&, Answers* out) {
  const SensorBlock& block =
      channel_ == kNoChannel ? own_block_ : channel_blocks_[static_cast<std::size_t>(channel_)];
  Report r{};
  std::copy(block.begin(), block.end(), r.begin() + kPayloadOffset);
  out->push_back(r);
}

void BoardEmulator::ExpandChannel(const Command& c, Answers*) {
  // Only the expander at 0x70 exists; a selection addressed elsewhere reaches nobody.
  if (c.announce[kAnnounceArg1] == kExpanderAddress) channel_ = c.announce[kAnnounceArg2];
}

void BoardEmulator::HardwareReset(const Command&, Answers*) {
  ResetVolatileState();
}

void BoardEmulator::ResetVolatileState() {
  lines_ = data_.power_up_lines;
  ApplyInputs();
  speed_code_ = 0;
  channel_ = kNoChannel;
}

void BoardEmulator::ApplyInputs() {
  lines_[kLineKey1] = keys_[0] ? 1 : 0;
  lines_[kLineKey2] = keys_[1] ? 1 : 0;
  lines_[kLineKey3] = keys_[2] ? 1 : 0;
  lines_[kLineInt] = int_high_ ? 1 : 0;
}

void BoardEmulator::OnPlugged() {
  PowerUp();
}

void BoardEmulator::PowerUp() {
  std::lock_guard<std::mutex> lock(mutex_);
  ResetVolatileState();
  in_command_ = false;  // a command cut short by the power loss is forgotten
  pending_.follow.clear();
}

void BoardEmulator::SetKey(int key, bool pressed) {
  if (key < 1 || key > 3) return;
  std::lock_guard<std::mutex> lock(mutex_);
  keys_[static_cast<std::size_t>(key - 1)] = pressed;
  ApplyInputs();
}

void BoardEmulator::SetInt(bool high) {
  std::lock_guard<std::mutex> lock(mutex_);
  int_high_ = high;
  ApplyInputs();
}

LineRecord BoardEmulator::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::uint8_t BoardEmulator::SpeedCode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return speed_code_;
}

int BoardEmulator::ExpanderChannel() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return channel_;
}

std::vector<std::uint8_t> BoardEmulator::Eeprom(std::size_t address, std::size_t n) const {
  return eeprom_.Peek(address, n);
}

void BoardEmulator::SetEeprom(std::size_t address, const std::vector<std::uint8_t>& bytes) {
  eeprom_.Poke(address, bytes);
}

SensorBlock BoardEmulator::Sensor(int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return channel == kOwnSensorBlock ? own_block_
                                    : channel_blocks_[static_cast<std::size_t>(channel & 0xFF)];
}

void BoardEmulator::SetSensor(int channel, const SensorBlock& block) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (channel == kOwnSensorBlock) {
    own_block_ = block;
  } else {
    channel_blocks_[static_cast<std::size_t>(channel & 0xFF)] = block;
  }
}

std::shared_ptr<SerialMemory> BoardEmulator::Memory() const {
  return memory_;
}

void BoardEmulator::AttachI2cSlave(std::uint8_t address, std::shared_ptr<I2cSlave> slave) {
  std::lock_guard<std::mutex> lock(mutex_);
  bus_.Attach(address, std::move(slave));
}

void BoardEmulator::DetachI2cSlave(std::uint8_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  bus_.Detach(address);
  model_slaves_.erase(address);
}

BoardState BoardEmulator::SaveState() const {
  std::lock_guard<std::mutex> lock(mutex_);
  BoardState state;
  state.eeprom = eeprom_.Peek(0, kEepromSize);
  state.serial_memory = memory_->Peek(0, kSerialMemorySize);
  state.serial_pointer = memory_->Pointer();
  state.lines = lines_;
  state.keys = keys_;
  state.int_high = int_high_;
  state.speed_code = speed_code_;
  state.channel = channel_;
  for (const auto& [address, slave] : model_slaves_) state.slaves[address] = slave->SaveState();
  return state;
}

bool BoardEmulator::LoadState(const BoardState& state) {
  constexpr int kLastChannel = 255;
  if (state.eeprom.size() != kEepromSize || state.serial_memory.size() != kSerialMemorySize ||
      state.serial_pointer >= kSerialMemorySize ||
      (state.channel != kNoChannel && (state.channel < 0 || state.channel > kLastChannel))) {
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  // Modelled slaves: all or none (a state without them leaves them as they are).
  if (!state.slaves.empty()) {
    if (state.slaves.size() != model_slaves_.size()) return false;
    std::map<std::uint8_t, std::vector<std::uint8_t>> before;
    for (const auto& [address, slave] : model_slaves_) {
      const auto it = state.slaves.find(address);
      if (it == state.slaves.end()) return false;
      before[address] = slave->SaveState();
    }
    for (const auto& [address, slave] : model_slaves_) {
      if (slave->LoadState(state.slaves.at(address))) continue;
      for (const auto& [a, bytes] : before) model_slaves_.at(a)->LoadState(bytes);
      return false;
    }
  }
  eeprom_.Poke(0, state.eeprom);
  memory_->Poke(0, state.serial_memory);
  memory_->SetPointer(state.serial_pointer);
  lines_ = state.lines;
  keys_ = state.keys;
  int_high_ = state.int_high;
  ApplyInputs();
  speed_code_ = state.speed_code;
  channel_ = state.channel;
  in_command_ = false;
  pending_.follow.clear();
  return true;
}

void BoardEmulator::SetAnswerMode(AnswerMode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  mode_ = mode;
}

AnswerMode BoardEmulator::GetAnswerMode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mode_;
}

void BoardEmulator::SetLateDelayMs(unsigned ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  late_delay_ms_ = ms;
}

void BoardEmulator::DuplicateNextAnswer() {
  std::lock_guard<std::mutex> lock(mutex_);
  duplicate_next_ = true;
}

void BoardEmulator::SetAnswerFates(FateChooser chooser) {
  std::lock_guard<std::mutex> lock(mutex_);
  fates_ = std::move(chooser);
}

void BoardEmulator::SetCommandFate(std::uint8_t code, AnswerFate fate) {
  std::lock_guard<std::mutex> lock(mutex_);
  command_fates_[code] = fate;
}

void BoardEmulator::ClearCommandFates() {
  std::lock_guard<std::mutex> lock(mutex_);
  command_fates_.clear();
}

void BoardEmulator::AttachModelSlave(std::uint8_t address, std::shared_ptr<ModelSlave> slave) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (slave) {
    model_slaves_[address] = slave;
  } else {
    model_slaves_.erase(address);
  }
  bus_.Attach(address, std::move(slave));
}

bool BoardEmulator::PowerLineOnLocked() const {
  return lines_[kLinePower] != 0;
}

std::uint64_t BoardEmulator::LastCommandNumber() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return command_number_;
}

std::size_t BoardEmulator::CommandCount(std::uint8_t code) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return command_counts_[code];
}

std::size_t BoardEmulator::CommandCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t total = 0;
  for (std::size_t n : command_counts_) total += n;
  return total;
}

std::size_t BoardEmulator::IgnoredReportCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ignored_reports_;
}

std::size_t BoardEmulator::UnknownCommandCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unknown_commands_;
}

}  // namespace emulator
