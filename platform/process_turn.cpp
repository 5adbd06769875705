#include "platform/process_turn.h"

#include <cstddef>

namespace platform {

// The same layout in every build that shares the record (no padding, 64-bit fields aligned).
static_assert(sizeof(TurnRecord) == 32 && offsetof(TurnRecord, owed_until_ns) == 8 &&
                  offsetof(TurnRecord, waiter_seen_ns) == 24,
              "the shared record's layout");

std::string TurnKeyHash(const std::string& key) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : key) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3u;
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) text[static_cast<std::size_t>(i)] = kDigits[hash & 15];
  return text;
}

}  // namespace platform
