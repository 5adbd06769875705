#include "platform/emulated/served_protocol.h"

#include <cstring>

namespace platform::served {

namespace {
// Once a frame's length has come, the rest follows at once; this bounds a sender that stalls.
constexpr unsigned kFrameRestTimeoutMs = 5000;
}  // namespace

Writer& Writer::U8(std::uint8_t v) {
  bytes_.push_back(v);
  return *this;
}

Writer& Writer::U16(std::uint16_t v) {
  for (int i = 0; i < 2; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return *this;
}

Writer& Writer::U32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return *this;
}

Writer& Writer::U64(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return *this;
}

Writer& Writer::Raw(const std::uint8_t* data, std::size_t bytes) {
  bytes_.insert(bytes_.end(), data, data + bytes);
  return *this;
}

Writer& Writer::Str(const std::string& s) {
  U32(static_cast<std::uint32_t>(s.size()));
  return Raw(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

Writer& Writer::Str16(const std::u16string& s) {
  U32(static_cast<std::uint32_t>(s.size()));
  for (char16_t unit : s) U16(static_cast<std::uint16_t>(unit));
  return *this;
}

Writer& Writer::Put(const Board& board) {
  Str(board.path).U16(board.ids.vendor_id).U16(board.ids.product_id).U16(board.ids.version);
  return Str16(board.manufacturer).Str16(board.product).Str16(board.serial).Str(board.location);
}

Writer& Writer::Put(const Misbehaviour& m) {
  U32(m.board).U8(static_cast<std::uint8_t>(m.plan)).U32(m.delay_ms);
  return U8(m.late_percent).U8(m.duplicate_percent).U32(m.seed);
}

Writer& Writer::Put(const Taken& t) {
  return U64(t.handle).U64(t.tag).U32(t.late_ms).U64(t.sender);
}

bool Reader::Take(std::size_t bytes) {
  if (!ok_ || body_.size() - at_ < bytes) ok_ = false;
  return ok_;
}

bool Reader::U8(std::uint8_t* v) {
  if (!Take(1)) return false;
  *v = body_[at_++];
  return true;
}

bool Reader::U16(std::uint16_t* v) {
  if (!Take(2)) return false;
  *v = static_cast<std::uint16_t>(body_[at_] | body_[at_ + 1] << 8);
  at_ += 2;
  return true;
}

bool Reader::U32(std::uint32_t* v) {
  if (!Take(4)) return false;
  *v = 0;
  for (int i = 3; i >= 0; --i) *v = *v << 8 | body_[at_ + static_cast<std::size_t>(i)];
  at_ += 4;
  return true;
}

bool Reader::U64(std::uint64_t* v) {
  if (!Take(8)) return false;
  *v = 0;
  for (int i = 7; i >= 0; --i) *v = *v << 8 | body_[at_ + static_cast<std::size_t>(i)];
  at_ += 8;
  return true;
}

bool Reader::Raw(std::uint8_t* data, std::size_t bytes) {
  if (!Take(bytes)) return false;
  std::memcpy(data, body_.data() + at_, bytes);
  at_ += bytes;
  return true;
}

bool Reader::Str(std::string* s) {
  std::uint32_t n = 0;
  if (!U32(&n) || !Take(n)) return false;
  s->assign(reinterpret_cast<const char*>(body_.data() + at_), n);
  at_ += n;
  return true;
}

bool Reader::Str16(std::u16string* s) {
  std::uint32_t n = 0;
  if (!U32(&n) || n > (body_.size() - at_) / 2) {
    ok_ = false;
    return false;
  }
  s->clear();
  for (std::uint32_t i = 0; i < n; ++i) {
    std::uint16_t unit = 0;
    U16(&unit);
    s->push_back(static_cast<char16_t>(unit));
  }
  return true;
}

bool Reader::Get(Board* board) {
  return Str(&board->path) && U16(&board->ids.vendor_id) && U16(&board->ids.product_id) &&
         U16(&board->ids.version) && Str16(&board->manufacturer) && Str16(&board->product) &&
         Str16(&board->serial) && Str(&board->location);
}

bool Reader::Get(Misbehaviour* m) {
  std::uint8_t plan = 0;
  if (!U32(&m->board) || !U8(&plan) || !U32(&m->delay_ms) || !U8(&m->late_percent) ||
      !U8(&m->duplicate_percent) || !U32(&m->seed)) {
    return false;
  }
  m->plan = static_cast<AnswerPlan>(plan);
  return true;
}

bool Reader::Get(Taken* t) {
  return U64(&t->handle) && U64(&t->tag) && U32(&t->late_ms) && U64(&t->sender);
}

bool Send(ByteStream& stream, Type type, const std::vector<std::uint8_t>& body) {
  Writer frame;
  frame.U32(static_cast<std::uint32_t>(body.size() + 1)).U8(static_cast<std::uint8_t>(type));
  frame.Raw(body.data(), body.size());
  return stream.WriteAll(frame.Bytes().data(), frame.Bytes().size());
}

ReadResult Receive(ByteStream& stream, Type* type, std::vector<std::uint8_t>* body,
                   unsigned timeout_ms, std::string* why) {
  std::uint8_t header[4];
  const ReadResult got = stream.ReadExact(header, sizeof header, timeout_ms);
  if (got != ReadResult::kOk) {
    if (why != nullptr) *why = got == ReadResult::kTimedOut ? "no message in time" : "closed";
    return got;
  }
  const std::uint32_t length =
      static_cast<std::uint32_t>(header[0] | header[1] << 8 | header[2] << 16 | header[3] << 24);
  if (length == 0 || length > kMaxMessageBytes) {
    if (why != nullptr) *why = "a frame of " + std::to_string(length) + " bytes";
    stream.Shutdown();
    return ReadResult::kFailed;
  }
  std::vector<std::uint8_t> frame(length);
  const ReadResult rest = stream.ReadExact(frame.data(), length, kFrameRestTimeoutMs);
  if (rest != ReadResult::kOk) {
    if (why != nullptr) *why = "a frame cut short";
    return ReadResult::kFailed;
  }
  *type = static_cast<Type>(frame[0]);
  body->assign(frame.begin() + 1, frame.end());
  return ReadResult::kOk;
}

}  // namespace platform::served
