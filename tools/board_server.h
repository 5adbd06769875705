// The emulated board server behind `qvx serve`: emulated boards in this process, served to other
// processes (platform::ServedHidSystem) over a local stream (a Unix socket, a named pipe).
//
// Each connection is served by a thread of its own. A connection that opens a board becomes a
// handle of the server's EmulatedHidSystem, so it receives every input report of that board, as
// a real HID handle does, and the system's attribution records say which handle read what.
// A bad message closes its connection, with the reason on the log, never the server.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "emulator/board_emulator.h"
#include "platform/byte_stream.h"
#include "platform/emulated/emulated_hid_system.h"
#include "platform/emulated/served_protocol.h"

namespace qvx {

// A served board: the emulated board, and the mixed misbehaviour a client may ask for, which
// takes the board's answers to each command as a whole (some late, some with the last answer
// sent twice).
class PlannedBoard : public platform::SimulatedDevice {
 public:
  explicit PlannedBoard(std::shared_ptr<emulator::BoardEmulator> board);
  // Only kMixed changes anything here; the other plans are the board's own answer modes.
  void Plan(const platform::served::Misbehaviour& how);
  void OnOutputReport(const std::uint8_t (&report)[platform::kReportSize],
                      std::vector<platform::InputReport>* answers) override;
  void OnPlugged() override;

 private:
  const std::shared_ptr<emulator::BoardEmulator> board_;
  std::mutex mutex_;
  bool mixed_ = false;
  platform::served::Misbehaviour how_;
  std::mt19937 random_;
};

class BoardServer {
 public:
  // `boards` fresh emulated boards (NumberedBoardData), listening on `name` (empty: a name of
  // this process's own). nullptr with `why` set when the name cannot be listened on.
  static std::unique_ptr<BoardServer> Start(unsigned boards, const std::string& name,
                                            std::ostream& log, std::string* why);
  ~BoardServer();  // stops, closes every connection, removes the name
  BoardServer(const BoardServer&) = delete;
  BoardServer& operator=(const BoardServer&) = delete;

  std::string Name() const { return listener_->Name(); }
  // Serves until Stop() (or a client's stop request, or an interrupt once StopOnInterrupt was
  // given the listener), then closes every connection.
  void Serve();
  void Stop() { listener_->Stop(); }
  platform::StreamListener& Listener() { return *listener_; }

  emulator::BoardEmulator& Board(std::size_t index) { return *boards_[index]->board; }

 private:
  struct Served {
    platform::EmulatedHidSystem::DeviceId id;
    std::shared_ptr<emulator::BoardEmulator> board;
    std::shared_ptr<PlannedBoard> planned;
    platform::served::Board described;
    std::mutex writes;  // a write and the command number it completed, together
  };
  struct Connection {
    std::unique_ptr<platform::ByteStream> stream;
    std::thread thread;
    bool finished = false;
  };

  BoardServer(std::unique_ptr<platform::StreamListener> listener, std::ostream& log);
  void Talk(Connection* connection, unsigned number);
  // Answers one request; false (with `why`) ends the connection.
  bool Answer(platform::ByteStream& stream, platform::served::Type type,
              const std::vector<std::uint8_t>& body, std::unique_ptr<platform::HidDevice>* handle,
              std::uint64_t* handle_number, Served** board, std::string* why);
  void Misbehave(const platform::served::Misbehaviour& how);
  void Log(const std::string& line);
  void ReapFinished();

  std::unique_ptr<platform::StreamListener> listener_;
  std::ostream& log_;
  platform::EmulatedHidSystem system_;
  std::vector<std::unique_ptr<Served>> boards_;

  std::mutex mutex_;  // guards what follows and the log
  std::vector<std::unique_ptr<Connection>> connections_;
  bool recording_ = false;
  std::map<platform::EmulatedHidSystem::DeviceId, std::map<std::uint64_t, std::uint64_t>> senders_;
  std::mutex opening_;  // an open and the handle number it gets, together
};

}  // namespace qvx
