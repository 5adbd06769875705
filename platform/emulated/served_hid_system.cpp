#include "platform/emulated/served_hid_system.h"

#include <mutex>
#include <utility>

#include "platform/emulated/device_text.h"

namespace platform {

namespace {

using served::Type;

// How much longer than the wait it asked for a request may take before the server counts as
// gone: the messages' own time on a loaded machine.
constexpr unsigned kReplyMarginMs = 2000;
// A request that does not wait for the board (list, open, control requests).
constexpr unsigned kRequestTimeoutMs = 5000;

// One request and its reply on `stream`; false with `why` set when the reply is not `answer`.
bool Exchange(ByteStream& stream, Type type, const std::vector<std::uint8_t>& body, Type answer,
              std::vector<std::uint8_t>* reply, unsigned timeout_ms, std::string* why) {
  if (!served::Send(stream, type, body)) {
    if (why != nullptr) *why = "the server is gone";
    return false;
  }
  Type got = Type::kRefused;
  std::string failure;
  if (served::Receive(stream, &got, reply, timeout_ms, &failure) != ReadResult::kOk) {
    stream.Shutdown();
    if (why != nullptr) *why = "the server did not answer (" + failure + ")";
    return false;
  }
  if (got == Type::kRefused) {
    std::string reason;
    served::Reader(*reply).Str(&reason);
    stream.Shutdown();
    if (why != nullptr) *why = "the server refused the request: " + reason;
    return false;
  }
  if (got != answer) {
    stream.Shutdown();
    if (why != nullptr) *why = "the server gave an answer of the wrong kind";
    return false;
  }
  return true;
}

// A reply that is a u32 count and that many items, nothing more. Otherwise `items` is left
// empty and `why` says the server sent a bad `what`.
template <typename Item>
bool ReadCountedList(const std::vector<std::uint8_t>& reply, std::vector<Item>* items,
                     const char* what, std::string* why) {
  served::Reader reader(reply);
  std::uint32_t count = 0;
  reader.U32(&count);
  items->clear();
  for (std::uint32_t i = 0; i < count && reader.Get(&items->emplace_back()); ++i) {
  }
  if (!reader.Done() || items->size() != count) {
    if (why != nullptr) *why = std::string("the server sent a bad ") + what;
    items->clear();
    return false;
  }
  return true;
}

class ServedHandle : public HidDevice {
 public:
  ServedHandle(std::unique_ptr<ByteStream> stream, served::Board board, std::string key)
      : stream_(std::move(stream)), board_(std::move(board)), key_(std::move(key)) {}
  ~ServedHandle() override { stream_->Shutdown(); }  // the server closes its handle

  bool WriteReport(const std::uint8_t (&report)[kReportSize]) override {
    std::vector<std::uint8_t> reply;
    if (!Call(Type::kWrite, served::Writer().Raw(report, kReportSize).Bytes(), Type::kWritten,
              &reply, kWriteTimeoutMs)) {
      return false;
    }
    std::uint8_t ok = 0;
    served::Reader(reply).U8(&ok);
    return ok != 0;
  }

  ReadResult ReadReport(std::uint8_t (&report)[kReportSize], unsigned timeout_ms) override {
    return Take(Type::kRead, &report, timeout_ms);
  }

  ReadResult SkipReport(unsigned timeout_ms) override {
    return Take(Type::kSkip, nullptr, timeout_ms);
  }

  std::size_t DiscardPendingInput() override {
    std::vector<std::uint8_t> reply;
    if (!Call(Type::kDiscard, {}, Type::kDiscarded, &reply, 0)) return 0;
    std::uint64_t count = 0;
    served::Reader(reply).U64(&count);
    return static_cast<std::size_t>(count);
  }

  std::string CrossProcessKey() const override { return key_; }

  bool GetAttributes(HidAttributes* attributes) override {
    if (attributes == nullptr || Broken()) return false;
    *attributes = board_.ids;
    return true;
  }
  bool GetManufacturerString(char16_t* buffer, std::size_t bytes) override {
    return !Broken() && CopyDeviceString(board_.manufacturer, buffer, bytes);
  }
  bool GetProductString(char16_t* buffer, std::size_t bytes) override {
    return !Broken() && CopyDeviceString(board_.product, buffer, bytes);
  }

 private:
  ReadResult Take(Type type, std::uint8_t (*report)[kReportSize], unsigned timeout_ms) {
    std::vector<std::uint8_t> reply;
    if (!Call(type, served::Writer().U32(timeout_ms).Bytes(), Type::kReport, &reply, timeout_ms)) {
      return ReadResult::kFailed;
    }
    served::Reader reader(reply);
    std::uint8_t result = 1;
    if (!reader.U8(&result)) return ReadResult::kFailed;
    if (result == 2) return ReadResult::kTimedOut;
    if (result != 0) return ReadResult::kFailed;
    std::uint8_t sink[kReportSize];
    if (!reader.Raw(report != nullptr ? *report : sink, type == Type::kRead ? kReportSize : 0)) {
      return ReadResult::kFailed;
    }
    return ReadResult::kOk;
  }

  // One request; a handle whose server is gone or out of step fails every later call at once.
  bool Call(Type type, const std::vector<std::uint8_t>& body, Type answer,
            std::vector<std::uint8_t>* reply, unsigned wait_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (broken_) return false;
    if (!Exchange(*stream_, type, body, answer, reply, wait_ms + kReplyMarginMs, nullptr)) {
      broken_ = true;
      return false;
    }
    return true;
  }

  bool Broken() {
    std::lock_guard<std::mutex> lock(mutex_);
    return broken_;
  }

  std::mutex mutex_;
  bool broken_ = false;
  const std::unique_ptr<ByteStream> stream_;
  const served::Board board_;
  const std::string key_;
};

class ServedEnumeration : public HidEnumeration {
 public:
  explicit ServedEnumeration(std::vector<served::Board> boards) : boards_(std::move(boards)) {}
  InterfaceStatus InterfacePath(unsigned index, std::string* path) override {
    if (index >= boards_.size()) return InterfaceStatus::kEnd;
    if (path != nullptr) *path = boards_[index].path;
    return InterfaceStatus::kFound;
  }

 private:
  std::vector<served::Board> boards_;
};

}  // namespace

std::unique_ptr<ByteStream> ConnectToBoardServer(const std::string& name, std::string* why) {
  std::string failure;
  std::unique_ptr<ByteStream> stream = ConnectStream(name, &failure);
  if (!stream) {
    if (why != nullptr) *why = failure;
    return nullptr;
  }
  std::vector<std::uint8_t> reply;
  if (!Exchange(*stream, Type::kHello, served::Writer().U8(served::kProtocolVersion).Bytes(),
                Type::kHelloReply, &reply, kRequestTimeoutMs, why)) {
    return nullptr;
  }
  std::uint8_t version = 0;
  served::Reader(reply).U8(&version);
  if (version != served::kProtocolVersion) {
    if (why != nullptr) *why = "the server speaks protocol version " + std::to_string(version);
    return nullptr;
  }
  return stream;
}

ServedHidSystem::ServedHidSystem(const std::string& name) : name_(FullStreamName(name)) {}

ServedHidSystem::~ServedHidSystem() = default;

bool ServedHidSystem::Request(Type type, const std::vector<std::uint8_t>& body, Type answer,
                              std::vector<std::uint8_t>* reply, std::string* why) const {
  std::unique_ptr<ByteStream> stream = ConnectToBoardServer(name_, why);
  return stream && Exchange(*stream, type, body, answer, reply, kRequestTimeoutMs, why);
}

bool ServedHidSystem::Boards(std::vector<served::Board>* boards, std::string* why) const {
  std::vector<std::uint8_t> reply;
  if (!Request(Type::kList, {}, Type::kBoards, &reply, why)) return false;
  return ReadCountedList(reply, boards, "list of boards", why);
}

bool ServedHidSystem::FindBoard(const std::string& path, served::Board* board) const {
  std::vector<served::Board> boards;
  if (!Boards(&boards, nullptr)) return false;
  for (served::Board& b : boards) {
    if (b.path == path) {
      *board = std::move(b);
      return true;
    }
  }
  return false;
}

std::unique_ptr<HidEnumeration> ServedHidSystem::Enumerate() {
  std::vector<served::Board> boards;
  Boards(&boards, nullptr);
  return std::make_unique<ServedEnumeration>(std::move(boards));
}

std::unique_ptr<HidDevice> ServedHidSystem::Open(const std::string& path) {
  return OpenExplained(path, nullptr);
}

std::unique_ptr<HidDevice> ServedHidSystem::OpenExplained(const std::string& path,
                                                          std::string* reason) {
  std::string why;
  std::unique_ptr<ByteStream> stream = ConnectToBoardServer(name_, &why);
  std::vector<std::uint8_t> reply;
  if (!stream || !Exchange(*stream, Type::kOpen, served::Writer().Str(path).Bytes(), Type::kOpened,
                           &reply, kRequestTimeoutMs, &why)) {
    if (reason != nullptr) *reason = "board server '" + name_ + "': " + why;
    return nullptr;
  }
  served::Reader reader(reply);
  std::uint8_t ok = 0;
  std::uint64_t number = 0;
  served::Board board;
  if (!reader.U8(&ok) || ok == 0) {
    std::string refused = "the server refused to open it";
    reader.Str(&refused);
    if (reason != nullptr) *reason = refused;
    return nullptr;
  }
  if (!reader.U64(&number) || !reader.Get(&board) || !reader.Done()) {
    if (reason != nullptr) *reason = "board server '" + name_ + "' sent a bad answer";
    return nullptr;
  }
  std::string key = "qvx-server:" + name_ + ":" + board.path;
  return std::make_unique<ServedHandle>(std::move(stream), std::move(board), std::move(key));
}

bool ServedHidSystem::PeekIds(const std::string& path, HidAttributes* ids) {
  served::Board board;
  if (!FindBoard(path, &board)) return false;
  *ids = board.ids;
  return true;
}

bool ServedHidSystem::PeekPlacement(const std::string& path, std::string* serial,
                                    std::string* location) {
  served::Board board;
  if (!FindBoard(path, &board)) return false;
  if (serial != nullptr) *serial = NarrowDeviceString(board.serial);
  if (location != nullptr) *location = board.location;
  return true;
}

std::string ServedHidSystem::SetupFailure() const {
  std::string why;
  if (ConnectToBoardServer(name_, &why)) return std::string();
  return "the emulated board server '" + name_ + "' (" + kEmulatedServerVariable +
         ") cannot be reached: " + why;
}

bool ServedHidSystem::Done(Type type, const std::vector<std::uint8_t>& body,
                           std::string* why) const {
  std::vector<std::uint8_t> reply;
  if (!Request(type, body, Type::kDone, &reply, why)) return false;
  served::Reader reader(reply);
  std::uint8_t ok = 0;
  std::string message;
  if (!reader.U8(&ok) || !reader.Str(&message)) {
    if (why != nullptr) *why = "the server sent a bad answer";
    return false;
  }
  if (ok == 0 && why != nullptr) *why = message;
  return ok != 0;
}

bool ServedHidSystem::Misbehave(const served::Misbehaviour& how, std::string* why) const {
  return Done(Type::kMisbehave, served::Writer().Put(how).Bytes(), why);
}

bool ServedHidSystem::RecordTakenReports(bool on, std::string* why) const {
  return Done(Type::kRecord, served::Writer().U8(on ? 1 : 0).Bytes(), why);
}

bool ServedHidSystem::TakenReports(std::uint32_t board, std::vector<served::Taken>* taken,
                                   std::string* why) const {
  std::vector<std::uint8_t> reply;
  if (!Request(Type::kTaken, served::Writer().U32(board).Bytes(), Type::kTakenList, &reply, why)) {
    return false;
  }
  return ReadCountedList(reply, taken, "record", why);
}

bool ServedHidSystem::StopServer(std::string* why) const {
  return Done(Type::kStop, {}, why);
}

}  // namespace platform
