// The HID back end of emulated boards held by a board server (`qvx serve`) in another process:
// it enumerates the server's boards and opens handles on them, and every handle behaves as a
// handle of an EmulatedHidSystem in that process would (each receives every input report of its
// board from the moment it is opened). Several processes may so share one emulated board.
//
// Handles: a read waits at most its timeout (plus the time the messages take); once the server
// is gone (or stopped answering), every write and read fails at once. Their CrossProcessKey()
// is "qvx-server:" + the server's name + ":" + the board's path, so that processes sharing a
// served board take turns.
//
// Also the control requests that tests use: misbehaviour of a board, and the record of which
// handle read which command's answer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/emulated/served_protocol.h"
#include "platform/hid_backend.h"

namespace platform {

// The environment variable that names the server the emulated builds and `qvx --emulated` use
// instead of an emulated board of their own.
inline constexpr char kEmulatedServerVariable[] = "QVX_EMULATED_SERVER";

class ServedHidSystem : public HidBackend {
 public:
  // `name` as the server printed it (or as given to its --name). Nothing is connected yet.
  explicit ServedHidSystem(const std::string& name);
  ~ServedHidSystem() override;

  const std::string& Name() const { return name_; }

  // HidBackend. An unreachable server has no boards; SetupFailure() tells why.
  std::unique_ptr<HidEnumeration> Enumerate() override;
  std::unique_ptr<HidDevice> Open(const std::string& path) override;
  std::unique_ptr<HidDevice> OpenExplained(const std::string& path, std::string* reason) override;
  bool PeekIds(const std::string& path, HidAttributes* ids) override;
  bool PeekPlacement(const std::string& path, std::string* serial, std::string* location) override;
  // Empty when the server answers; otherwise one line naming the server and what went wrong.
  std::string SetupFailure() const override;

  // Requests; each returns false with `why` set when the server refused it or cannot be reached.
  bool Boards(std::vector<served::Board>* boards, std::string* why) const;
  bool Misbehave(const served::Misbehaviour& how, std::string* why) const;
  // Starts (forgetting any earlier record) or stops recording which handle read which answer.
  bool RecordTakenReports(bool on, std::string* why) const;
  bool TakenReports(std::uint32_t board, std::vector<served::Taken>* taken, std::string* why) const;
  bool StopServer(std::string* why) const;

 private:
  bool Request(served::Type type, const std::vector<std::uint8_t>& body, served::Type answer,
               std::vector<std::uint8_t>* reply, std::string* why) const;
  bool FindBoard(const std::string& path, served::Board* board) const;
  bool Done(served::Type type, const std::vector<std::uint8_t>& body, std::string* why) const;

  std::string name_;
};

// Connects and says hello: the stream, or nullptr with `why` set.
std::unique_ptr<ByteStream> ConnectToBoardServer(const std::string& name, std::string* why);

}  // namespace platform
