// I2C slaves built from a board model (emulator/board_model.h): a serial memory of any size with
// pages, a register file, and the faults any of them can carry. docs/emulator.md, "Board model
// files", describes what each does on the bus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "emulator/i2c_bus.h"

namespace emulator {

// What can go wrong with one slave, whatever its kind.
struct SlaveFaults {
  unsigned nack_first = 0;             // the first N transfers are not acknowledged
  bool nack_while_unpowered = false;   // no acknowledge while the board's power line is off
  std::optional<std::uint8_t> status;  // every acknowledged transfer ends with this status
};

struct MemorySpec {
  std::size_t size = 256;
  unsigned address_bytes = 1;         // 1 or 2, high byte first
  std::size_t page_size = 8;          // divides size; a write wraps inside its page
  bool write_protect = false;         // writes are acknowledged and not stored
  std::vector<std::uint8_t> content;  // exactly `size` bytes
};

// One register of a register file.
struct RegisterSpec {
  unsigned at = 0;
  unsigned value = 0;            // initial value (or the counter's start)
  bool read_only = false;        // writes are acknowledged and ignored
  std::vector<unsigned> values;  // when not empty: each read gives the next, repeating
  std::optional<unsigned> step;  // when set: each read gives the value, then adds the step
};

struct RegistersSpec {
  unsigned pointer_bytes = 1;  // 1 or 2, high byte first
  bool auto_increment = true;
  unsigned width = 1;      // bytes per register, 1 or 2
  bool big_endian = true;  // byte order of 2-byte registers
  std::vector<RegisterSpec> registers;
};

// A slave whose content belongs to the board state (saved and loaded across runs).
class ModelSlave : public I2cSlave {
 public:
  // The board's power line, asked during a transfer (the board's lock is held then).
  void SetPowerProbe(std::function<bool()> powered) { powered_ = std::move(powered); }

  std::uint8_t Write(const std::uint8_t* data, std::size_t n, bool start, bool stop) final;
  std::uint8_t Read(std::uint8_t* data, std::size_t n, bool start, bool stop) final;

  // The slave's state as bytes, and the same put back; LoadState refuses (false, nothing
  // changed) bytes that this slave did not save.
  virtual std::vector<std::uint8_t> SaveState() const = 0;
  virtual bool LoadState(const std::vector<std::uint8_t>& bytes) = 0;

 protected:
  explicit ModelSlave(SlaveFaults faults) : faults_(faults) {}
  virtual void DoWrite(const std::uint8_t* data, std::size_t n) = 0;
  virtual void DoRead(std::uint8_t* data, std::size_t n) = 0;

 private:
  bool Acknowledges();
  SlaveFaults faults_;
  unsigned refused_ = 0;
  std::function<bool()> powered_;
};

class ModelMemory : public ModelSlave {
 public:
  ModelMemory(MemorySpec spec, SlaveFaults faults);
  std::vector<std::uint8_t> SaveState() const override;
  bool LoadState(const std::vector<std::uint8_t>& bytes) override;
  const std::vector<std::uint8_t>& Cells() const { return spec_.content; }

 protected:
  void DoWrite(const std::uint8_t* data, std::size_t n) override;
  void DoRead(std::uint8_t* data, std::size_t n) override;

 private:
  MemorySpec spec_;
  std::size_t pointer_ = 0;
};

class ModelRegisters : public ModelSlave {
 public:
  ModelRegisters(RegistersSpec spec, SlaveFaults faults);
  std::vector<std::uint8_t> SaveState() const override;
  bool LoadState(const std::vector<std::uint8_t>& bytes) override;

 protected:
  void DoWrite(const std::uint8_t* data, std::size_t n) override;
  void DoRead(std::uint8_t* data, std::size_t n) override;

 private:
  struct Cell {
    RegisterSpec spec;
    unsigned value = 0;
    std::size_t next = 0;  // index into spec.values
  };
  unsigned NextValue(unsigned at);  // the value a read gives, moving a changing register on
  void Store(unsigned at, unsigned value);
  void Advance();

  RegistersSpec spec_;
  std::map<unsigned, Cell> cells_;
  unsigned pointer_ = 0;
};

// A slave that never acknowledges (the same as no slave; named in a model so that it cannot
// be given twice).
class AbsentSlave : public I2cSlave {
 public:
  std::uint8_t Write(const std::uint8_t*, std::size_t, bool, bool) override {
    return kI2cStatusNoAck;
  }
  std::uint8_t Read(std::uint8_t* data, std::size_t n, bool, bool) override;
};

}  // namespace emulator
