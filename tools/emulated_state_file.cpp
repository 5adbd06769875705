#include "tools/emulated_state_file.h"

#include "tools/qvx_actions.h"

namespace qvx {

namespace {

[[noreturn]] void Rethrow(const emulator::StateFileError& e) {
  if (e.usage()) throw UsageError(e.what());
  throw Failure(e.what());
}

}  // namespace

emulator::BoardState DecodeBoardState(const std::vector<std::uint8_t>& bytes,
                                      const std::string& file) {
  try {
    return emulator::DecodeBoardState(bytes, file);
  } catch (const emulator::StateFileError& e) {
    Rethrow(e);
  }
}

std::optional<emulator::BoardState> LoadStateFile(const std::string& file) {
  try {
    return emulator::LoadStateFile(file);
  } catch (const emulator::StateFileError& e) {
    Rethrow(e);
  }
}

void SaveStateFile(const std::string& file, const emulator::BoardState& state) {
  try {
    emulator::SaveStateFile(file, state);
  } catch (const emulator::StateFileError& e) {
    Rethrow(e);
  }
}

}  // namespace qvx
