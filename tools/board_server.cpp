#include "tools/board_server.h"

#include <cstdio>
#include <utility>

#include "tools/numbered_boards.h"

namespace qvx {

namespace {

using platform::ReadResult;
using platform::served::Reader;
using platform::served::Type;
using platform::served::Writer;

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

platform::served::Board Describe(const platform::EmulatedDeviceDescription& d) {
  platform::served::Board board;
  board.path = d.path;
  board.ids.vendor_id = d.vendor_id;
  board.ids.product_id = d.product_id;
  board.ids.version = d.version;
  board.manufacturer = d.manufacturer;
  board.product = d.product;
  board.serial = d.serial;
  board.location = d.location;
  return board;
}

std::vector<std::uint8_t> DoneBody(bool ok, const std::string& message) {
  return Writer().U8(ok ? 1 : 0).Str(message).Bytes();
}

}  // namespace

PlannedBoard::PlannedBoard(std::shared_ptr<emulator::BoardEmulator> board)
    : board_(std::move(board)) {}

void PlannedBoard::Plan(const platform::served::Misbehaviour& how) {
  std::lock_guard<std::mutex> lock(mutex_);
  mixed_ = how.plan == platform::served::AnswerPlan::kMixed;
  how_ = how;
  random_.seed(how.seed);
}

void PlannedBoard::OnOutputReport(const std::uint8_t (&report)[platform::kReportSize],
                                  std::vector<platform::InputReport>* answers) {
  std::vector<platform::InputReport> own;
  board_->OnOutputReport(report, &own);
  std::lock_guard<std::mutex> lock(mutex_);
  // The answers of one report are those of the command it completed: one roll for them all.
  if (mixed_ && !own.empty()) {
    if (random_() % 100 < how_.late_percent && how_.delay_ms > 0) {
      const unsigned late = 1 + static_cast<unsigned>(random_() % how_.delay_ms);
      for (platform::InputReport& answer : own) answer.delay_ms += late;
    }
    if (random_() % 100 < how_.duplicate_percent) own.push_back(own.back());
  }
  answers->insert(answers->end(), own.begin(), own.end());
}

void PlannedBoard::OnPlugged() {
  board_->OnPlugged();
}

std::unique_ptr<BoardServer> BoardServer::Start(unsigned boards, const std::string& name,
                                                std::ostream& log, std::string* why) {
  std::unique_ptr<platform::StreamListener> listener =
      platform::ListenStream(name.empty() ? platform::ProcessStreamName() : name, why);
  if (!listener) return nullptr;
  std::unique_ptr<BoardServer> server(new BoardServer(std::move(listener), log));
  for (unsigned i = 0; i < boards; ++i) {
    const emulator::BoardData data = NumberedBoardData(i);
    auto served = std::make_unique<Served>();
    served->board = std::make_shared<emulator::BoardEmulator>(data);
    served->planned = std::make_shared<PlannedBoard>(served->board);
    served->described = Describe(emulator::HidDescriptionOf(data));
    served->id = server->system_.AddDevice(emulator::HidDescriptionOf(data), served->planned);
    server->boards_.push_back(std::move(served));
  }
  return server;
}

BoardServer::BoardServer(std::unique_ptr<platform::StreamListener> listener, std::ostream& log)
    : listener_(std::move(listener)), log_(log) {}

BoardServer::~BoardServer() {
  Stop();
  // Blocked reads wake up and fail once their board is gone; then every stream is shut.
  for (const auto& served : boards_) system_.Unplug(served->id);
  std::vector<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& c : connections_) c->stream->Shutdown();
    connections.swap(connections_);
  }
  for (const auto& c : connections) c->thread.join();
}

void BoardServer::Serve() {
  unsigned number = 0;
  while (std::unique_ptr<platform::ByteStream> stream = listener_->Accept()) {
    ReapFinished();
    std::lock_guard<std::mutex> lock(mutex_);
    auto connection = std::make_unique<Connection>();
    connection->stream = std::move(stream);
    Connection* c = connection.get();
    connection->thread = std::thread([this, c, n = ++number] { Talk(c, n); });
    connections_.push_back(std::move(connection));
  }
}

void BoardServer::ReapFinished() {
  std::vector<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& c : finished) c->thread.join();
}

void BoardServer::Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_ << "qvx serve: " << line << '\n' << std::flush;
}

void BoardServer::Talk(Connection* connection, unsigned number) {
  platform::ByteStream& stream = *connection->stream;
  std::unique_ptr<platform::HidDevice> handle;
  std::uint64_t handle_number = 0;
  Served* board = nullptr;
  bool greeted = false;
  std::string why;
  for (;;) {
    Type type = Type::kRefused;
    std::vector<std::uint8_t> body;
    std::string failure;
    if (platform::served::Receive(stream, &type, &body, platform::kWaitForever, &failure) !=
        ReadResult::kOk) {
      if (failure != "closed") why = failure;  // a client that hangs up is no fault
      break;
    }
    if (!greeted) {
      std::uint8_t version = 0;
      Reader reader(body);
      if (type != Type::kHello || !reader.U8(&version) || !reader.Done()) {
        why = "the first message is no hello";
      } else if (version != platform::served::kProtocolVersion) {
        why = "the client speaks protocol version " + std::to_string(version) + ", this server " +
              std::to_string(platform::served::kProtocolVersion);
      }
      if (!why.empty()) {
        platform::served::Send(stream, Type::kRefused, Writer().Str(why).Bytes());
        break;
      }
      greeted = true;
      platform::served::Send(stream, Type::kHelloReply,
                             Writer().U8(platform::served::kProtocolVersion).Bytes());
      continue;
    }
    if (!Answer(stream, type, body, &handle, &handle_number, &board, &why)) {
      if (!why.empty()) platform::served::Send(stream, Type::kRefused, Writer().Str(why).Bytes());
      break;
    }
  }
  if (!why.empty()) Log("connection " + std::to_string(number) + " closed: " + why);
  handle.reset();
  stream.Shutdown();
  std::lock_guard<std::mutex> lock(mutex_);
  connection->finished = true;
}

bool BoardServer::Answer(platform::ByteStream& stream, Type type,
                         const std::vector<std::uint8_t>& body,
                         std::unique_ptr<platform::HidDevice>* handle, std::uint64_t* handle_number,
                         Served** board, std::string* why) {
  Reader reader(body);
  const auto bad = [&](const char* what) {
    *why = std::string("bad ") + what + " message";
    return false;
  };
  const auto need_handle = [&](const char* what) {
    *why = std::string(what) + " before any board was opened";
    return false;
  };
  const auto send = [&](Type reply, const std::vector<std::uint8_t>& bytes) {
    if (platform::served::Send(stream, reply, bytes)) return true;
    why->clear();  // the client is gone: nothing to tell
    return false;
  };
  switch (type) {
    case Type::kList: {
      if (!reader.Done()) return bad("list");
      Writer listing;
      listing.U32(static_cast<std::uint32_t>(boards_.size()));
      for (const auto& served : boards_) listing.Put(served->described);
      return send(Type::kBoards, listing.Bytes());
    }
    case Type::kOpen: {
      std::string path;
      if (!reader.Str(&path) || !reader.Done()) return bad("open");
      if (*handle) {
        *why = "a second open on one connection";
        return false;
      }
      std::string reason;
      {
        std::lock_guard<std::mutex> lock(opening_);
        *handle_number = system_.NextHandleNumber();
        *handle = system_.OpenExplained(path, &reason);
      }
      if (!*handle) return send(Type::kOpened, Writer().U8(0).Str(reason).Bytes());
      for (const auto& served : boards_) {
        if (served->described.path == path) {
          *board = served.get();
          return send(Type::kOpened,
                      Writer().U8(1).U64(*handle_number).Put(served->described).Bytes());
        }
      }
      *why = "opened a board it does not hold";
      return false;
    }
    case Type::kWrite: {
      std::uint8_t report[platform::kReportSize];
      if (!reader.Raw(report, sizeof report) || !reader.Done()) return bad("write");
      if (!*handle) return need_handle("a write");
      bool ok = false;
      {
        std::lock_guard<std::mutex> lock((*board)->writes);
        const std::uint64_t before = (*board)->board->LastCommandNumber();
        ok = (*handle)->WriteReport(report);
        const std::uint64_t after = (*board)->board->LastCommandNumber();
        std::lock_guard<std::mutex> record(mutex_);
        if (recording_) {
          for (std::uint64_t c = before + 1; c <= after; ++c) {
            senders_[(*board)->id][c] = *handle_number;
          }
        }
      }
      return send(Type::kWritten, Writer().U8(ok ? 1 : 0).Bytes());
    }
    case Type::kRead:
    case Type::kSkip: {
      std::uint32_t timeout_ms = 0;
      if (!reader.U32(&timeout_ms) || !reader.Done()) return bad("read");
      if (!*handle) return need_handle("a read");
      std::uint8_t report[platform::kReportSize];
      const ReadResult got = type == Type::kRead ? (*handle)->ReadReport(report, timeout_ms)
                                                 : (*handle)->SkipReport(timeout_ms);
      Writer reply;
      reply.U8(got == ReadResult::kOk ? 0 : got == ReadResult::kFailed ? 1 : 2);
      if (got == ReadResult::kOk && type == Type::kRead) reply.Raw(report, sizeof report);
      return send(Type::kReport, reply.Bytes());
    }
    case Type::kDiscard: {
      if (!reader.Done()) return bad("discard");
      if (!*handle) return need_handle("a discard");
      return send(Type::kDiscarded, Writer().U64((*handle)->DiscardPendingInput()).Bytes());
    }
    case Type::kMisbehave: {
      platform::served::Misbehaviour how;
      if (!reader.Get(&how) || !reader.Done()) return bad("misbehave");
      if (how.board >= boards_.size()) {
        return send(Type::kDone, DoneBody(false, "no board " + std::to_string(how.board) + " (" +
                                                     std::to_string(boards_.size()) + " served)"));
      }
      if (how.plan > platform::served::AnswerPlan::kMixed || how.late_percent > 100 ||
          how.duplicate_percent > 100) {
        return send(Type::kDone, DoneBody(false, "no such misbehaviour"));
      }
      Misbehave(how);
      return send(Type::kDone, DoneBody(true, ""));
    }
    case Type::kRecord: {
      std::uint8_t on = 0;
      if (!reader.U8(&on) || !reader.Done()) return bad("record");
      {
        std::lock_guard<std::mutex> lock(mutex_);
        recording_ = on != 0;
        senders_.clear();
      }
      // Off first: switching off forgets the record, so that it starts afresh.
      system_.RecordTakenReports(false);
      if (on != 0) system_.RecordTakenReports(true);
      return send(Type::kDone, DoneBody(true, ""));
    }
    case Type::kTaken: {
      std::uint32_t index = 0;
      if (!reader.U32(&index) || !reader.Done()) return bad("taken");
      if (index >= boards_.size()) {
        *why = "no board " + std::to_string(index);
        return false;
      }
      const platform::EmulatedHidSystem::DeviceId id = boards_[index]->id;
      const std::vector<platform::TakenReport> taken = system_.TakenReports(id);
      Writer reply;
      reply.U32(static_cast<std::uint32_t>(taken.size()));
      std::lock_guard<std::mutex> lock(mutex_);
      const auto& senders = senders_[id];
      for (const platform::TakenReport& t : taken) {
        const auto sender = senders.find(t.tag);
        reply.Put(platform::served::Taken{t.handle, t.tag, t.late_ms,
                                          sender == senders.end() ? 0 : sender->second});
      }
      return send(Type::kTakenList, reply.Bytes());
    }
    case Type::kStop: {
      if (!reader.Done()) return bad("stop");
      send(Type::kDone, DoneBody(true, ""));
      Stop();
      return true;
    }
    default:
      *why = "unknown message type " + Hex(static_cast<unsigned>(type));
      return false;
  }
}

void BoardServer::Misbehave(const platform::served::Misbehaviour& how) {
  using platform::served::AnswerPlan;
  emulator::BoardEmulator& board = *boards_[how.board]->board;
  boards_[how.board]->planned->Plan(how);
  board.SetAnswerFates(nullptr);
  board.SetAnswerMode(emulator::AnswerMode::kNormal);
  switch (how.plan) {
    case AnswerPlan::kNormal:
      break;
    case AnswerPlan::kSilent:
      board.SetAnswerMode(emulator::AnswerMode::kSilent);
      break;
    case AnswerPlan::kLate:
      board.SetLateDelayMs(how.delay_ms);
      board.SetAnswerMode(emulator::AnswerMode::kLate);
      break;
    case AnswerPlan::kDuplicateNext:
      board.DuplicateNextAnswer();
      break;
    case AnswerPlan::kMixed:
      break;
  }
}

}  // namespace qvx
