// The messages between the emulated board server (`qvx serve`) and its clients
// (ServedHidSystem). docs/emulator.md, "The board server", describes them for people.
//
// Every message is a frame: 4 bytes little-endian length L (1..kMaxMessageBytes), then L bytes:
// one type byte and the body. Integers in bodies are little-endian; a string is a 4-byte length
// and its bytes (UTF-8, or UTF-16LE code units for the 16-bit strings). The client speaks first
// (kHello with its version); every request gets exactly one reply, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_stream.h"
#include "platform/hid_device.h"

namespace platform::served {

inline constexpr std::uint8_t kProtocolVersion = 1;
inline constexpr std::uint32_t kMaxMessageBytes = 1u << 20;

enum class Type : std::uint8_t {
  // Requests.
  kHello = 0x01,      // u8 version                       -> kHelloReply u8 version
  kList = 0x02,       //                                  -> kBoards
  kOpen = 0x03,       // str path                         -> kOpened
  kWrite = 0x04,      // 65 bytes                         -> kWritten u8 ok
  kRead = 0x05,       // u32 timeout_ms                   -> kReport
  kSkip = 0x06,       // u32 timeout_ms                   -> kReport (without the bytes)
  kDiscard = 0x07,    //                                  -> kDiscarded u64 count
  kMisbehave = 0x10,  // see Misbehaviour                 -> kDone
  kRecord = 0x11,     // u8 on                            -> kDone
  kTaken = 0x12,      // u32 board index                  -> kTakenList
  kStop = 0x13,       //                                  -> kDone, then the server stops
  // Replies.
  kHelloReply = 0x81,
  kBoards = 0x82,  // u32 n, n x Board
  kOpened = 0x83,  // u8 ok; ok: u64 handle number, Board; else str reason
  kWritten = 0x84,
  kReport = 0x85,  // u8 ReadResult (0 ok, 1 failed, 2 timed out); ok and kRead: 65 bytes
  kDiscarded = 0x86,
  kDone = 0x90,       // u8 ok; str message (why it was refused)
  kTakenList = 0x91,  // u32 n, n x (u64 handle, u64 tag, u32 late_ms, u64 sender)
  kRefused = 0xFF,    // str reason: the server closes the connection after it
};

// What LIST tells of a board and OPEN of the opened one.
struct Board {
  std::string path;
  HidAttributes ids;
  std::u16string manufacturer;
  std::u16string product;
  std::u16string serial;
  std::string location;
};

// How a served board delivers its answers from now on (a control request, for tests).
enum class AnswerPlan : std::uint8_t {
  kNormal = 0,
  kSilent = 1,         // carries out every command, sends nothing
  kLate = 2,           // every answer delay_ms late
  kDuplicateNext = 3,  // the next answer sent twice
  kMixed = 4,          // late_percent of the commands answered 1..delay_ms late (all their
                       // answers), duplicate_percent with their last answer sent twice
                       // (seeded: the same run every time)
};
struct Misbehaviour {       // u32 board, u8 plan, u32 delay_ms, u8 late%, u8 dup%, u32 seed
  std::uint32_t board = 0;  // index in the server's list, from 0
  AnswerPlan plan = AnswerPlan::kNormal;
  std::uint32_t delay_ms = 0;
  std::uint8_t late_percent = 0;
  std::uint8_t duplicate_percent = 0;
  std::uint32_t seed = 0;
};

// One answer report a handle read, with the handle that sent the command it answers (0 when
// unknown: the command was sent before recording began).
struct Taken {
  std::uint64_t handle = 0;
  std::uint64_t tag = 0;
  std::uint32_t late_ms = 0;
  std::uint64_t sender = 0;
};

// Writes a message body.
class Writer {
 public:
  Writer& U8(std::uint8_t v);
  Writer& U16(std::uint16_t v);
  Writer& U32(std::uint32_t v);
  Writer& U64(std::uint64_t v);
  Writer& Raw(const std::uint8_t* data, std::size_t bytes);
  Writer& Str(const std::string& s);
  Writer& Str16(const std::u16string& s);
  Writer& Put(const Board& board);
  Writer& Put(const Misbehaviour& m);
  Writer& Put(const Taken& t);
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Reads a message body; every getter returns false (and keeps failing) once the body is short.
class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& body) : body_(body) {}
  bool U8(std::uint8_t* v);
  bool U16(std::uint16_t* v);
  bool U32(std::uint32_t* v);
  bool U64(std::uint64_t* v);
  bool Raw(std::uint8_t* data, std::size_t bytes);
  bool Str(std::string* s);
  bool Str16(std::u16string* s);
  bool Get(Board* board);
  bool Get(Misbehaviour* m);
  bool Get(Taken* t);
  // True when everything was read and nothing is left over.
  bool Done() const { return ok_ && at_ == body_.size(); }

 private:
  bool Take(std::size_t bytes);
  const std::vector<std::uint8_t>& body_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

bool Send(ByteStream& stream, Type type, const std::vector<std::uint8_t>& body = {});
// Waits at most `timeout_ms` for one whole message. kFailed with `why` set for a closed stream
// or a frame of a bad length.
ReadResult Receive(ByteStream& stream, Type* type, std::vector<std::uint8_t>* body,
                   unsigned timeout_ms, std::string* why);

}  // namespace platform::served
