// Host-side cost of one command against the in-process emulated board: the board link, the
// emulated HID system and the emulator together, without any real device latency. The EEPROM
// write is measured without its 10 ms pause.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "board/usb_channel.h"
#include "emulator/board_emulator.h"
#include "platform/emulated/emulated_hid_system.h"
#include "platform/pause.h"

namespace {

class Bench {
 public:
  Bench() {
    system_.AddDevice(emulator::HidDescriptionOf(emulator::BoardData()),
                      std::make_shared<emulator::BoardEmulator>());
    platform::SetActiveHidBackend(&system_);
    opened_ = channel_.OpenBoard() == 0;
  }
  ~Bench() { platform::SetActiveHidBackend(nullptr); }
  bool opened() const { return opened_; }
  CUSBChannel& channel() { return channel_; }

 private:
  platform::EmulatedHidSystem system_;
  CUSBChannel channel_;
  bool opened_ = false;
};

void ReadI2CLongBytes(benchmark::State& state) {
  Bench bench;
  if (!bench.opened()) return state.SkipWithError("the emulated board was not found");
  const auto n = static_cast<std::uint32_t>(state.range(0));
  std::vector<std::uint8_t> buffer(n);
  for (auto _ : state) {
    benchmark::DoNotOptimize(bench.channel().ReadI2CLongBytes(0x50, buffer.data(), n, true, true));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * n);
}
BENCHMARK(ReadI2CLongBytes)->Arg(64)->Arg(65535);

void WriteEEPROMPageWithoutPause(benchmark::State& state) {
  Bench bench;
  if (!bench.opened()) return state.SkipWithError("the emulated board was not found");
  std::uint8_t page[64] = {};
  platform::SetPauseSleeps(false);
  std::int32_t address = 0;
  for (auto _ : state) {
    bench.channel().WriteEEPROMPage(address, page, 64);
    address = (address + 64) & 0xFFFF;
  }
  platform::SetPauseSleeps(true);
}
BENCHMARK(WriteEEPROMPageWithoutPause);

void SetPower(benchmark::State& state) {
  Bench bench;
  if (!bench.opened()) return state.SkipWithError("the emulated board was not found");
  int level = 0;
  for (auto _ : state) {
    bench.channel().SetPower(level);
    level ^= 1;
  }
}
BENCHMARK(SetPower);

void ReadSensorRawData(benchmark::State& state) {
  Bench bench;
  if (!bench.opened()) return state.SkipWithError("the emulated board was not found");
  std::uint16_t values[board::kSensorValueCount];
  for (auto _ : state) {
    bench.channel().ReadSensorRawData(values);
    benchmark::DoNotOptimize(values);
  }
}
BENCHMARK(ReadSensorRawData);

}  // namespace

BENCHMARK_MAIN();
