// Host-side cost of one command against the in-process emulated board: the board link, the
// emulated HID system and the emulator together, without any real device latency. The EEPROM
// write is measured without its 10 ms pause. The Traced cases run a command with the trace off,
// in text and in pcapng, into an output that takes the bytes and drops them (the cost of the
// trace itself, not of a disk); they count the trace's bytes per command. The Turn cases run a
// command with the board's turn taken in the process only (as for the in-process emulated board)
// and with the turn among processes added (the same emulated board behind a device that names a
// cross-process key, as a real device does), side by side.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/trace_open.h"
#include "board/usb_channel.h"
#include "emulator/board_emulator.h"
#include "link/board_link.h"
#include "platform/emulated/emulated_hid_system.h"
#include "platform/pause.h"
#include "tests/support/forwarding_device.h"
#include "tests/support/test_channel.h"

namespace {

class Bench {
 public:
  Bench() {
    system_.AddDevice(emulator::HidDescriptionOf(emulator::BoardData()),
                      std::make_shared<emulator::BoardEmulator>());
    opened_ = channel_.OpenBoard() == 0;
  }
  bool opened() const { return opened_; }
  CUSBChannel& channel() { return channel_; }

 private:
  platform::EmulatedHidSystem system_;
  HidBoardOpener opener_{system_};
  CUSBChannel channel_{opener_};
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

// Takes every byte and keeps none.
class DroppedOutput : public platform::OutputFile {
 public:
  explicit DroppedOutput(std::uint64_t* bytes) : bytes_(bytes) {}
  bool Write(const void*, std::size_t n) override {
    *bytes_ += n;
    return true;
  }
  bool Flush() override { return true; }

 private:
  std::uint64_t* bytes_;
};

// state.range(0): 0 off, 1 text, 2 pcapng.
void Traced(benchmark::State& state, void (*command)(CUSBChannel&)) {
  Bench bench;
  if (!bench.opened()) return state.SkipWithError("the emulated board was not found");
  std::uint64_t bytes = 0;
  std::unique_ptr<board::TraceRecorder> trace;
  if (state.range(0) != 0) {
    trace = board::MakeTraceRecorder(
        state.range(0) == 1 ? board::TraceFileKind::kText : board::TraceFileKind::kPcapng,
        std::make_unique<DroppedOutput>(&bytes), "qvx_board_bench");
    bench.channel().AttachTrace(trace.get());
  }
  for (auto _ : state) command(bench.channel());
  bench.channel().AttachTrace(nullptr);
  state.counters["trace_bytes_per_command"] =
      benchmark::Counter(static_cast<double>(bytes) / static_cast<double>(state.iterations()));
}

void TracedGetLines(benchmark::State& state) {
  Traced(state, [](CUSBChannel& c) {
    std::uint8_t record[board::kLineRecordSize];
    c.ReadLineState(record);
    benchmark::DoNotOptimize(record);
  });
}
BENCHMARK(TracedGetLines)->ArgName("trace")->Arg(0)->Arg(1)->Arg(2);

void TracedRead64KiB(benchmark::State& state) {
  Traced(state, [](CUSBChannel& c) {
    static std::vector<std::uint8_t> buffer(65535);
    benchmark::DoNotOptimize(c.ReadI2CLongBytes(0x50, buffer.data(), 65535, true, true));
  });
}
BENCHMARK(TracedRead64KiB)->ArgName("trace")->Arg(0)->Arg(1)->Arg(2);

// state.range(0): 0 the turn in the process only, 1 the turn among processes as well.
void Turn(benchmark::State& state, void (*command)(CUSBChannel&)) {
  platform::EmulatedHidSystem system;
  const platform::EmulatedDeviceDescription description =
      emulator::HidDescriptionOf(emulator::BoardData());
  system.AddDevice(description, std::make_shared<emulator::BoardEmulator>());
  std::unique_ptr<platform::HidDevice> device = system.Open(description.path);
  if (!device) return state.SkipWithError("the emulated board was not found");
  const std::string key =
      state.range(0) == 0 ? std::string() : "qvx_board_bench:" + description.path;
  testing_support::TestChannel channel;
  channel.Attach(std::make_unique<testing_support::KeyedDevice>(std::move(device), key),
                 description.path);
  for (auto _ : state) command(channel);
}

void TurnGetLines(benchmark::State& state) {
  Turn(state, [](CUSBChannel& c) {
    std::uint8_t record[board::kLineRecordSize];
    c.ReadLineState(record);
    benchmark::DoNotOptimize(record);
  });
}
BENCHMARK(TurnGetLines)->ArgName("processes")->Arg(0)->Arg(1);

void TurnSetPower(benchmark::State& state) {
  Turn(state, [](CUSBChannel& c) {
    static int level = 0;
    c.SetPower(level ^= 1);
  });
}
BENCHMARK(TurnSetPower)->ArgName("processes")->Arg(0)->Arg(1);

void TurnRead64KiB(benchmark::State& state) {
  Turn(state, [](CUSBChannel& c) {
    static std::vector<std::uint8_t> buffer(65535);
    benchmark::DoNotOptimize(c.ReadI2CLongBytes(0x50, buffer.data(), 65535, true, true));
  });
}
BENCHMARK(TurnRead64KiB)->ArgName("processes")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
