#include "module/emulated_exports.h"

#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/hid_notifications.h"
#include "emulator/default_board.h"
#include "platform/win32/wide_text.h"

namespace {

emulator::BoardEmulator& Board() {
  return emulator::DefaultBoard();
}

// How long a window's thread may take to handle one notification before the next window is
// told: a thread that pumps no messages must not stop the caller for good.
constexpr UINT kDeliveryTimeoutMs = 5000;

// The broadcast the system sends for a board's HID interface: the header, then the device
// path. Kept in static storage, so that a window that handles it after the delivery timed out
// still reads valid memory.
alignas(DEV_BROADCAST_DEVICEINTERFACE_W) unsigned char g_broadcast
    [sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + MAX_PATH * sizeof(wchar_t)];

const DEV_BROADCAST_DEVICEINTERFACE_W* BoardBroadcast(const std::string& path) {
  DEV_BROADCAST_DEVICEINTERFACE_W header = {};
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  header.dbcc_classguid = control::kHidInterfaceClass;
  const std::size_t chars = std::min<std::size_t>(path.size(), MAX_PATH - 1);
  const std::size_t name_offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  header.dbcc_size = static_cast<DWORD>(name_offset + (chars + 1) * sizeof(wchar_t));
  std::memset(g_broadcast, 0, sizeof g_broadcast);
  std::memcpy(g_broadcast, &header, name_offset);
  for (std::size_t i = 0; i < chars; ++i) {
    const wchar_t c = static_cast<unsigned char>(path[i]);
    std::memcpy(g_broadcast + name_offset + i * sizeof c, &c, sizeof c);
  }
  return reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(g_broadcast);
}

// As the system does: WM_DEVICECHANGE to every window of the process registered for HID
// interfaces, handled on each window's own thread.
void Deliver(UINT event, const std::string& path) {
  const LPARAM broadcast = reinterpret_cast<LPARAM>(BoardBroadcast(path));
  for (HWND window : control::WindowsRegisteredForHid()) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_DEVICECHANGE, event, broadcast, SMTO_NORMAL, kDeliveryTimeoutMs,
                        &ignored);
  }
}

// A board plugged in by QvxEmuAddBoard: its own EEPROM, lines and I2C devices.
struct AddedBoard {
  int id;
  platform::EmulatedHidSystem::DeviceId device;
  std::string path;
  std::shared_ptr<emulator::BoardEmulator> board;
  bool removed = false;
};

std::mutex g_added_mutex;
std::vector<AddedBoard> g_added;  // in the order added; removed ones stay, marked

// The added board `id` still there (not removed), copied out of the list; false when none.
bool FindAdded(int id, AddedBoard* out) {
  std::lock_guard<std::mutex> lock(g_added_mutex);
  for (const AddedBoard& b : g_added) {
    if (b.id == id && !b.removed) {
      *out = b;
      return true;
    }
  }
  return false;
}

// Plugs the device in or pulls it out, and tells the registered windows when that changed
// anything.
void PlugDevice(platform::EmulatedHidSystem::DeviceId device, const std::string& path,
                bool plugged) {
  platform::EmulatedHidSystem& system = emulator::DefaultSystem();
  if (system.IsPlugged(device) == plugged) return;
  if (plugged) {
    system.Plug(device);
    Deliver(DBT_DEVICEARRIVAL, path);
  } else {
    system.Unplug(device);
    Deliver(DBT_DEVICEREMOVECOMPLETE, path);
  }
}

std::u16string Utf16Of(const wchar_t* text) {
  std::u16string out;
  for (; text != nullptr && *text != 0; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

// Runs what an export does to the boards of this process. Served boards are the server's: the
// export then leaves them alone and gives `served`.
template <typename Act>
void OnOwnBoards(Act act) {
  if (!emulator::ServedBoards()) act();
}
template <typename Result, typename Act>
Result OnOwnBoards(Result served, Act act) {
  return emulator::ServedBoards() ? served : act();
}

}  // namespace

extern "C" {

void WINAPI QvxEmuPlug() {
  OnOwnBoards([] {
    PlugDevice(emulator::DefaultBoardId(), emulator::HidDescriptionOf(emulator::BoardData()).path,
               true);
  });
}

void WINAPI QvxEmuUnplug() {
  OnOwnBoards([] {
    PlugDevice(emulator::DefaultBoardId(), emulator::HidDescriptionOf(emulator::BoardData()).path,
               false);
  });
}

int WINAPI QvxEmuAddBoard(const wchar_t* serial, const wchar_t* location) {
  return OnOwnBoards(0, [serial, location] {
    try {
      AddedBoard added{};
      {
        std::lock_guard<std::mutex> lock(g_added_mutex);
        added.id = static_cast<int>(g_added.size()) + 1;
        emulator::BoardData data;
        data.path = "\\\\?\\hid#vid_04b4&pid_e006#emulated&" + std::to_string(added.id) +
                    "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
        data.serial = Utf16Of(serial);
        data.location = location != nullptr ? platform::win32::NarrowUtf8(location) : std::string();
        added.path = data.path;
        added.board = std::make_shared<emulator::BoardEmulator>(data);
        added.device =
            emulator::DefaultSystem().AddDevice(emulator::HidDescriptionOf(data), added.board);
        g_added.push_back(added);
      }
      Deliver(DBT_DEVICEARRIVAL, added.path);
      return added.id;
    } catch (...) {
      return 0;
    }
  });
}

void WINAPI QvxEmuRemoveBoard(int id) {
  AddedBoard b;
  if (!FindAdded(id, &b)) return;
  {
    std::lock_guard<std::mutex> lock(g_added_mutex);
    for (AddedBoard& a : g_added) {
      if (a.id == id) a.removed = true;
    }
  }
  PlugDevice(b.device, b.path, false);
}

void WINAPI QvxEmuPlugBoard(int id, BOOL plugged) {
  AddedBoard b;
  if (FindAdded(id, &b)) PlugDevice(b.device, b.path, plugged != FALSE);
}

void WINAPI QvxEmuReadBoardEeprom(int id, UINT address, BYTE* bytes, UINT count) {
  AddedBoard b;
  if (bytes == nullptr || !FindAdded(id, &b)) return;
  const std::vector<std::uint8_t> content = b.board->Eeprom(address, count);
  std::copy(content.begin(), content.end(), bytes);
}

void WINAPI QvxEmuSetPlugged(BOOL plugged) {
  OnOwnBoards([plugged] {
    if (plugged) {
      emulator::DefaultSystem().Plug(emulator::DefaultBoardId());
    } else {
      emulator::DefaultSystem().Unplug(emulator::DefaultBoardId());
    }
  });
}

void WINAPI QvxEmuRefuseNotifications(BOOL refuse) {
  control::RefuseHidRegistrations(refuse != FALSE);
}

BOOL WINAPI QvxEmuIsPlugged() {
  return OnOwnBoards(FALSE, [] {
    return emulator::DefaultSystem().IsPlugged(emulator::DefaultBoardId()) ? TRUE : FALSE;
  });
}

void WINAPI QvxEmuSetKey(int key, BOOL pressed) {
  OnOwnBoards([key, pressed] { Board().SetKey(key, pressed != FALSE); });
}

void WINAPI QvxEmuSetInt(BOOL high) {
  OnOwnBoards([high] { Board().SetInt(high != FALSE); });
}

void WINAPI QvxEmuSetSilent(BOOL silent) {
  OnOwnBoards([silent] {
    Board().SetAnswerMode(silent ? emulator::AnswerMode::kSilent : emulator::AnswerMode::kNormal);
  });
}

void WINAPI QvxEmuSetLate(UINT delay_ms) {
  OnOwnBoards([delay_ms] {
    if (delay_ms == 0) {
      Board().SetAnswerMode(emulator::AnswerMode::kNormal);
      return;
    }
    Board().SetLateDelayMs(delay_ms);
    Board().SetAnswerMode(emulator::AnswerMode::kLate);
  });
}

void WINAPI QvxEmuDuplicateNextAnswer() {
  OnOwnBoards([] { Board().DuplicateNextAnswer(); });
}

UINT WINAPI QvxEmuOpenHandleCount() {
  return OnOwnBoards(UINT{0}, [] {
    return static_cast<UINT>(emulator::DefaultSystem().OpenHandleCount(emulator::DefaultBoardId()));
  });
}

UINT WINAPI QvxEmuCommandCount(int code) {
  return OnOwnBoards(UINT{0}, [code] {
    if (code < 0) return static_cast<UINT>(Board().CommandCount());
    return static_cast<UINT>(Board().CommandCount(static_cast<std::uint8_t>(code)));
  });
}

void WINAPI QvxEmuGetLines(BYTE* record) {
  OnOwnBoards([record] {
    if (record == nullptr) return;
    const emulator::LineRecord lines = Board().Lines();
    std::copy(lines.begin(), lines.end(), record);
  });
}

void WINAPI QvxEmuReadEeprom(UINT address, BYTE* bytes, UINT count) {
  OnOwnBoards([address, bytes, count] {
    if (bytes == nullptr) return;
    const std::vector<std::uint8_t> content = Board().Eeprom(address, count);
    std::copy(content.begin(), content.end(), bytes);
  });
}

void WINAPI QvxEmuWriteEeprom(UINT address, const BYTE* bytes, UINT count) {
  OnOwnBoards([address, bytes, count] {
    if (bytes == nullptr) return;
    Board().SetEeprom(address, std::vector<std::uint8_t>(bytes, bytes + count));
  });
}

void WINAPI QvxEmuSetSensor(int channel, const BYTE* block) {
  OnOwnBoards([channel, block] {
    if (block == nullptr) return;
    emulator::SensorBlock data{};
    std::copy(block, block + data.size(), data.begin());
    Board().SetSensor(channel, data);
  });
}

int WINAPI QvxEmuExpanderChannel() {
  return OnOwnBoards(emulator::kNoChannel, [] { return Board().ExpanderChannel(); });
}

BYTE WINAPI QvxEmuSpeedCode() {
  return OnOwnBoards(BYTE{0}, [] { return Board().SpeedCode(); });
}
}
