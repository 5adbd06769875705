// A board imitation for tests that drive the link from several threads. It takes every output
// report as the board would, queues exactly the answers each command is due, keeps an EEPROM and
// a line-state record, and notes every departure from the protocol: a report out of place or not
// zero-filled, reports of one command coming from two threads, an answer taken by a thread other
// than the one whose command it answers, a command starting while answers are still unread.
// Thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid_device.h"

namespace testing_support {

class FakeBoard : public platform::HidDevice {
 public:
  using Bytes = std::vector<std::uint8_t>;

  FakeBoard();

  // The byte the imitated I2C slave `slave` returns at `offset` of a read run; it accepts only
  // the same bytes in a write run. A transfer's status byte is the slave address.
  static std::uint8_t SlaveByte(std::uint8_t slave, std::uint32_t offset);
  // Raw sensor byte j of every sensor answer.
  static std::uint8_t SensorByte(std::size_t j);

  Bytes LineRecord() const;  // 64 bytes
  void SetLineRecord(const Bytes& record);
  // Departures from the protocol seen so far; empty when the host kept to it.
  std::vector<std::string> Problems() const;
  // Line-state writes that changed more than one byte of the record: write-backs that carried a
  // stale copy of another line.
  int StaleLineWrites() const;
  std::size_t LineWrites() const;
  // Command codes in the order their announce reports arrived.
  std::vector<std::uint8_t> Commands() const;
  std::size_t Discards() const;
  // The answers of the next command arrive too late: its first read times out, and they are
  // waiting in the input queue afterwards.
  void DelayNextAnswers();

  bool WriteReport(const std::uint8_t (&report)[platform::kReportSize]) override;
  platform::ReadResult ReadReport(std::uint8_t (&report)[platform::kReportSize],
                                  unsigned timeout_ms) override;
  void DiscardPendingInput() override;
  bool GetAttributes(platform::HidAttributes* attributes) override;
  bool GetManufacturerString(char16_t*, std::size_t) override { return false; }
  bool GetProductString(char16_t*, std::size_t) override { return false; }

 private:
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

  void OnAnnounce(const std::uint8_t* r);
  void OnI2cParams(const std::uint8_t* r);
  void OnI2cData(const std::uint8_t* r);
  void OnEepromParams(const std::uint8_t* r);
  void Queue(Bytes report);
  void ExpectZeroFrom(const std::uint8_t* r, std::size_t from, const char* what);
  void Problem(const std::string& text);

  mutable std::mutex mutex_;
  Next next_ = Next::kAnnounce;
  std::uint8_t code_ = 0;
  std::vector<std::uint8_t> commands_;
  std::vector<std::thread::id> command_threads_;
  std::deque<Answer> answers_;
  std::deque<Answer> late_;
  bool delay_next_ = false;
  bool delaying_ = false;
  bool owed_wait_allowed_ = false;  // one read with nothing due may follow a timeout

  std::uint8_t slave_ = 0;
  std::uint32_t count_ = 0;
  std::uint32_t data_reports_left_ = 0;
  std::uint32_t offset_ = 0;
  std::uint16_t eeprom_addr_ = 0;
  std::uint8_t eeprom_count_ = 0;

  Bytes eeprom_;
  Bytes lines_;
  int stale_line_writes_ = 0;
  std::size_t line_writes_ = 0;
  std::size_t discards_ = 0;
  std::vector<std::string> problems_;
};

}  // namespace testing_support
