#include "module/emulated_exports.h"

#include <algorithm>
#include <vector>

#include "emulator/default_board.h"

namespace {

emulator::BoardEmulator& Board() {
  return emulator::DefaultBoard();
}

}  // namespace

extern "C" {

void WINAPI QvxEmuPlug() {
  emulator::DefaultSystem().Plug(emulator::DefaultBoardId());
}

void WINAPI QvxEmuUnplug() {
  emulator::DefaultSystem().Unplug(emulator::DefaultBoardId());
}

BOOL WINAPI QvxEmuIsPlugged() {
  return emulator::DefaultSystem().IsPlugged(emulator::DefaultBoardId()) ? TRUE : FALSE;
}

void WINAPI QvxEmuSetKey(int key, BOOL pressed) {
  Board().SetKey(key, pressed != FALSE);
}

void WINAPI QvxEmuSetInt(BOOL high) {
  Board().SetInt(high != FALSE);
}

void WINAPI QvxEmuSetSilent(BOOL silent) {
  Board().SetAnswerMode(silent ? emulator::AnswerMode::kSilent : emulator::AnswerMode::kNormal);
}

void WINAPI QvxEmuSetLate(UINT delay_ms) {
  if (delay_ms == 0) {
    Board().SetAnswerMode(emulator::AnswerMode::kNormal);
    return;
  }
  Board().SetLateDelayMs(delay_ms);
  Board().SetAnswerMode(emulator::AnswerMode::kLate);
}

void WINAPI QvxEmuDuplicateNextAnswer() {
  Board().DuplicateNextAnswer();
}

UINT WINAPI QvxEmuOpenHandleCount() {
  return static_cast<UINT>(emulator::DefaultSystem().OpenHandleCount(emulator::DefaultBoardId()));
}

UINT WINAPI QvxEmuCommandCount(int code) {
  if (code < 0) return static_cast<UINT>(Board().CommandCount());
  return static_cast<UINT>(Board().CommandCount(static_cast<std::uint8_t>(code)));
}

void WINAPI QvxEmuGetLines(BYTE* record) {
  if (record == nullptr) return;
  const emulator::LineRecord lines = Board().Lines();
  std::copy(lines.begin(), lines.end(), record);
}

void WINAPI QvxEmuReadEeprom(UINT address, BYTE* bytes, UINT count) {
  if (bytes == nullptr) return;
  const std::vector<std::uint8_t> content = Board().Eeprom(address, count);
  std::copy(content.begin(), content.end(), bytes);
}

void WINAPI QvxEmuWriteEeprom(UINT address, const BYTE* bytes, UINT count) {
  if (bytes == nullptr) return;
  Board().SetEeprom(address, std::vector<std::uint8_t>(bytes, bytes + count));
}

void WINAPI QvxEmuSetSensor(int channel, const BYTE* block) {
  if (block == nullptr) return;
  emulator::SensorBlock data{};
  std::copy(block, block + data.size(), data.begin());
  Board().SetSensor(channel, data);
}

int WINAPI QvxEmuExpanderChannel() {
  return Board().ExpanderChannel();
}

BYTE WINAPI QvxEmuSpeedCode() {
  return Board().SpeedCode();
}
}
