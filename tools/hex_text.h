// Parsing and printing the numbers the qvx tool takes and shows: hex bytes and addresses (the
// 0x prefix optional), counts (decimal, or hex with 0x), hex dumps.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qvx {

// Hex, "0x" prefix optional, 1 to 8 digits; true when the value is within [0, max].
bool ParseHex(const std::string& text, std::uint32_t max, std::uint32_t* value);

// Decimal, or hex with a "0x" prefix; true when the value is within [min, max].
bool ParseCount(const std::string& text, std::uint32_t min, std::uint32_t max,
                std::uint32_t* value);

// "0x" and two or four upper-case hex digits.
std::string HexByte(unsigned value);
std::string HexWord(unsigned value);

// 16 bytes a line: "0050: 01 02 ...", offsets counted from `base` (4 digits, 5 above 0xFFFF).
void HexDump(std::ostream& out, std::uint32_t base, const std::vector<std::uint8_t>& bytes);

// UTF-16 device strings as UTF-8 for printing; unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(const std::u16string& text);

}  // namespace qvx
