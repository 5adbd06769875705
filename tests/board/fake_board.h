// A strict board for tests that drive the link from several threads. The emulated board carries
// out every command and builds its answers; this device adds what the emulated board tolerates
// and a host must not do, and notes every departure: a report out of place or not zero-filled,
// reports of one command coming from two threads, an answer taken by a thread other than the
// one whose command it answers, a command starting while answers are still unread, a read with
// no answer due. Every I2C address answers with bytes of its own (SlaveByte) and every sensor
// block is the same (SensorByte). To discovery's queries it answers as the emulated board does.
// Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/board_emulator.h"
#include "platform/hid_device.h"
#include "tests/support/byte_pattern.h"

namespace testing_support {

class FakeBoard : public platform::HidDevice {
 public:
  FakeBoard();

  // The byte the imitated I2C slave `slave` returns at `offset` of a read run; it accepts only
  // the same bytes in a write run. A transfer's status byte is the slave address.
  static std::uint8_t SlaveByte(std::uint8_t slave, std::uint32_t offset);
  // Raw sensor byte j of every sensor answer.
  static std::uint8_t SensorByte(std::size_t j);

  // The line-state record, 64 bytes. The board drives its input bytes (keys, INT): they read
  // 0 or 1, and a record set here sets those inputs.
  Bytes LineRecord() const;
  void SetLineRecord(const Bytes& record);
  // Departures from the protocol seen so far; empty when the host kept to it.
  std::vector<std::string> Problems() const { return Locked(problems_); }
  // Line-state writes that changed more than one byte of the record: write-backs that carried a
  // stale copy of another line.
  int StaleLineWrites() const { return Locked(stale_line_writes_); }
  std::size_t LineWrites() const { return Locked(line_writes_); }
  // Command codes in the order their announce reports arrived.
  std::vector<std::uint8_t> Commands() const { return Locked(commands_); }
  std::size_t Discards() const { return Locked(discards_); }
  // The answers of the next command arrive too late: its first read times out, and they are
  // waiting in the input queue afterwards.
  void DelayNextAnswers();

  bool WriteReport(const std::uint8_t (&report)[platform::kReportSize]) override;
  platform::ReadResult ReadReport(std::uint8_t (&report)[platform::kReportSize],
                                  unsigned timeout_ms) override;
  std::size_t DiscardPendingInput() override;
  bool GetAttributes(platform::HidAttributes* attributes) override;
  bool GetManufacturerString(char16_t* buffer, std::size_t bytes) override;
  bool GetProductString(char16_t* buffer, std::size_t bytes) override;

 private:
  class PatternSlave;
  enum class Next {
    kAnnounce,
    kI2cParams,
    kI2cData,
    kSpeedParams,
    kEepromParams,
    kEepromData,
    kLineData
  };
  struct Answer {
    std::size_t command;
    Bytes report;
  };

  void CheckReport(const std::uint8_t* r);  // lock held
  void OnAnnounce(const std::uint8_t* r);
  void OnI2cParams(const std::uint8_t* r);
  void OnI2cData(const std::uint8_t* r);
  void OnEepromParams(const std::uint8_t* r);
  void ExpectZeroFrom(const std::uint8_t* r, std::size_t from, const char* what);
  void Problem(const std::string& text);
  // A copy of `member`, taken under the lock: the workers keep changing it.
  template <typename T>
  T Locked(const T& member) const {
    std::lock_guard<std::mutex> g(mutex_);
    return member;
  }

  mutable std::mutex mutex_;
  emulator::BoardEmulator board_;
  Next next_ = Next::kAnnounce;
  std::uint8_t code_ = 0;
  std::vector<std::uint8_t> commands_;
  std::vector<std::thread::id> command_threads_;
  std::deque<Answer> answers_;
  std::deque<Answer> late_;
  bool delay_next_ = false;
  bool delaying_ = false;
  bool owed_wait_allowed_ = false;  // one read with nothing due may follow a timeout

  std::uint32_t count_ = 0;
  std::uint32_t data_reports_left_ = 0;
  std::uint32_t offset_ = 0;
  std::uint8_t eeprom_count_ = 0;

  int stale_line_writes_ = 0;
  std::size_t line_writes_ = 0;
  std::size_t discards_ = 0;
  std::vector<std::string> problems_;
};

}  // namespace testing_support
