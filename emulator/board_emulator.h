// The emulated board: consumes the host's output reports in order and answers them as the
// board does. docs/emulator.md describes its behaviour in full; tests and the emulated builds
// rely on that description.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "emulator/board_data.h"
#include "emulator/i2c_bus.h"
#include "emulator/model_slaves.h"
#include "emulator/serial_memory.h"
#include "emulator/wrapping_memory.h"
#include "platform/emulated/simulated_device.h"

namespace emulator {

// How the board delivers its answers.
enum class AnswerMode {
  kNormal,
  kSilent,  // carries out every command, sends no report
  kLate,    // every answer report arrives late_delay_ms after the command
};

// What happens to one answer report, planned ahead (PlanAnswers).
struct AnswerFate {
  unsigned delay_ms = 0;   // after the command's last report
  bool drop = false;       // never sent
  bool duplicate = false;  // sent twice
};

// No expander channel selected since power-up or the last reset.
inline constexpr int kNoChannel = -1;

// What a powered board keeps from one host session to the next: both memories and everything a
// reset or power-up would clear. Sensor blocks, extra I2C slaves, misbehaviour settings and
// counters are test set-up, not board state.
struct BoardState {
  std::vector<std::uint8_t> eeprom;         // kEepromSize bytes
  std::vector<std::uint8_t> serial_memory;  // kSerialMemorySize bytes: the default slave at 0x50
  std::size_t serial_pointer = 0;           // below kSerialMemorySize
  LineRecord lines{};                       // its input bytes follow `keys` and `int_high`
  std::array<bool, 3> keys{};               // pressed
  bool int_high = false;
  std::uint8_t speed_code = 0;
  int channel = kNoChannel;  // kNoChannel or 0..255
  // The state of each slave attached with AttachModelSlave, by address (empty: none kept).
  std::map<std::uint8_t, std::vector<std::uint8_t>> slaves;
};

class BoardEmulator : public platform::SimulatedDevice {
 public:
  explicit BoardEmulator(BoardData data = BoardData());
  ~BoardEmulator() override;

  // platform::SimulatedDevice
  void OnOutputReport(const std::uint8_t (&report)[platform::kReportSize],
                      std::vector<platform::InputReport>* answers) override;
  void OnPlugged() override;  // power-up: see PowerUp()

  // Power-up state: lines from the data's record (inputs at their current levels), speed code 0,
  // no expander channel, waiting for an announce report. EEPROM and I2C slaves keep content.
  void PowerUp();

  // Inputs: a pressed key reads 1, a released one 0; INT reads 1 when high.
  void SetKey(int key, bool pressed);  // key 1..3; others ignored
  void SetInt(bool high);

  // Inspection and test set-up.
  LineRecord Lines() const;
  std::uint8_t SpeedCode() const;
  int ExpanderChannel() const;  // kNoChannel or 0..255
  std::vector<std::uint8_t> Eeprom(std::size_t address, std::size_t n) const;  // wraps at 64 KiB
  void SetEeprom(std::size_t address, const std::vector<std::uint8_t>& bytes);
  SensorBlock Sensor(int channel) const;  // kOwnSensorBlock or 0..255
  void SetSensor(int channel, const SensorBlock& block);
  std::shared_ptr<SerialMemory> Memory() const;  // the default slave at 0x50
  void AttachI2cSlave(std::uint8_t address, std::shared_ptr<I2cSlave> slave);
  void DetachI2cSlave(std::uint8_t address);

  // The board's state, and the same put back (into this or another board). LoadState refuses a
  // state with a memory of the wrong size or a pointer or channel out of range (false, nothing
  // changed); a command only partly received is forgotten.
  BoardState SaveState() const;
  bool LoadState(const BoardState& state);

  // Misbehaviour on demand.
  void SetAnswerMode(AnswerMode mode);
  AnswerMode GetAnswerMode() const;
  void SetLateDelayMs(unsigned ms);
  void DuplicateNextAnswer();  // the next answer report is sent twice (once)
  // Chooses the fate of every answer report from the number of its command and its index among
  // that command's answers, instead of the answer mode; nullptr restores the mode. Called with
  // the board's lock held.
  using FateChooser = std::function<AnswerFate(std::uint64_t command, std::size_t index)>;
  void SetAnswerFates(FateChooser chooser);
  // The fate of every answer report to commands with `code`, while no chooser is set; it wins
  // over the answer mode for that code. ClearCommandFates() forgets every one.
  void SetCommandFate(std::uint8_t code, AnswerFate fate);
  void ClearCommandFates();

  // A slave whose content is board state: SaveState and LoadState carry it (by address).
  void AttachModelSlave(std::uint8_t address, std::shared_ptr<ModelSlave> slave);
  // The power line (record byte 9) as it stands; for slaves, which are called with the board's
  // lock held.
  bool PowerLineOnLocked() const;

  // Commands are numbered from 1 in the order carried out; every answer report carries the
  // number of its command as its tag. 0 before the first command.
  std::uint64_t LastCommandNumber() const;

  // Counters: commands carried out (by code), reports ignored, unknown command codes.
  std::size_t CommandCount(std::uint8_t code) const;
  std::size_t CommandCount() const;
  std::size_t IgnoredReportCount() const;
  std::size_t UnknownCommandCount() const;

 private:
  using Report = std::array<std::uint8_t, platform::kReportSize>;
  struct Command {
    Report announce;
    std::vector<Report> follow;  // parameter and data reports, in order
  };
  using Answers = std::vector<Report>;
  using Handler = void (BoardEmulator::*)(const Command&, Answers*);
  struct CommandSpec {
    std::uint8_t code;
    Handler handler;
  };
  static const CommandSpec* Find(std::uint8_t code);
  static std::size_t FollowingReports(std::uint8_t code, const std::vector<Report>& received);

  // One handler per command code. Lock held.
  void I2cRead(const Command& c, Answers* out);        // 0x1A
  void I2cWrite(const Command& c, Answers* out);       // 0x1B
  void I2cSpeed(const Command& c, Answers* out);       // 0x1C
  void EepromWrite(const Command& c, Answers* out);    // 0x22
  void EepromRead(const Command& c, Answers* out);     // 0x23
  void GetLines(const Command& c, Answers* out);       // 0x24
  void SetLines(const Command& c, Answers* out);       // 0x25
  void SensorData(const Command& c, Answers* out);     // 0x30
  void ExpandChannel(const Command& c, Answers* out);  // 0x50
  void HardwareReset(const Command& c, Answers* out);  // 0xFD

  void ResetVolatileState();  // lock held
  void ApplyInputs();         // lock held: keys and INT into the record
  void Emit(std::uint8_t code, const Answers& answers,
            std::vector<platform::InputReport>* out);  // lock held

  mutable std::mutex mutex_;
  BoardData data_;
  WrappingMemory eeprom_;
  LineRecord lines_{};
  std::array<bool, 3> keys_{};
  bool int_high_ = false;
  std::uint8_t speed_code_ = 0;
  int channel_ = kNoChannel;
  SensorBlock own_block_;
  std::array<SensorBlock, 256> channel_blocks_;
  std::shared_ptr<SerialMemory> memory_;
  I2cBus bus_;

  bool in_command_ = false;
  Command pending_;

  AnswerMode mode_ = AnswerMode::kNormal;
  unsigned late_delay_ms_;
  bool duplicate_next_ = false;
  FateChooser fates_;
  std::map<std::uint8_t, AnswerFate> command_fates_;
  std::map<std::uint8_t, std::shared_ptr<ModelSlave>> model_slaves_;
  std::uint64_t command_number_ = 0;

  std::array<std::size_t, 256> command_counts_{};
  std::size_t ignored_reports_ = 0;
  std::size_t unknown_commands_ = 0;
};

}  // namespace emulator
