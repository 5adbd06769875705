// The EEPROM commands: reads and writes of any run of the 64 KiB, split into page commands of
// at most 64 bytes that never cross a 64-byte boundary, and whole-memory dump and load.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "board/protocol.h"
#include "tools/hex_text.h"
#include "tools/qvx_actions.h"

namespace qvx {

namespace {

constexpr std::uint32_t kEepromSize = 64 * 1024;
constexpr std::uint32_t kPage = board::kEepromMaxPage;
constexpr int kBarWidth = 40;

// A bar on one terminal line, redrawn when the percentage changes; nothing off a terminal.
class Progress {
 public:
  Progress(const Output& output, const char* label, std::uint32_t total)
      : output_(output), label_(label), total_(total) {}

  void Update(std::uint32_t done) {
    if (!output_.terminal) return;
    const int percent = static_cast<int>(100ull * done / total_);
    if (percent == shown_) return;
    shown_ = percent;
    const int filled = percent * kBarWidth / 100;
    output_.out << '\r' << label_ << " [" << std::string(static_cast<std::size_t>(filled), '#')
                << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << percent
                << '%';
    if (done == total_) output_.out << '\n';
    output_.out.flush();
  }

 private:
  const Output& output_;
  const char* label_;
  std::uint32_t total_;
  int shown_ = -1;
};

// Calls `step(address, count)` for each page-bounded run of [address, address + count).
template <typename Step>
void ForEachPage(std::uint32_t address, std::uint32_t count, Step step) {
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t at = address + done;
    const std::uint32_t run = std::min(count - done, kPage - at % kPage);
    step(at, done, run);
    done += run;
  }
}

// Where a run of pages stopped: `done` bytes made it, the page at `at` did not.
struct Stopped {
  std::uint32_t at;
  std::uint32_t done;
};

// Runs `page(at, done, run)` page by page; stops at the first page the board did not take
// (for a read: did not answer).
template <class PageOp>
std::optional<Stopped> ForEachAnsweredPage(CUSBChannel& board, std::uint32_t address,
                                           std::uint32_t count, Progress* progress, PageOp page) {
  std::optional<Stopped> stopped;
  ForEachPage(address, count, [&](std::uint32_t at, std::uint32_t done, std::uint32_t run) {
    if (stopped) return;
    page(static_cast<std::int32_t>(at), done, static_cast<std::uint8_t>(run));
    if (!board.LastCommandAnswered()) {
      stopped = Stopped{at, done};
      return;
    }
    if (progress) progress->Update(done + run);
  });
  return stopped;
}

std::optional<Stopped> ReadRange(CUSBChannel& board, std::uint32_t address, std::uint8_t* data,
                                 std::uint32_t count, Progress* progress) {
  return ForEachAnsweredPage(board, address, count, progress,
                             [&](std::int32_t at, std::uint32_t done, std::uint8_t run) {
                               board.ReadEEPROMPage(at, data + done, run);
                             });
}

// A page write has no answer, so only a page the board would not take stops it.
std::optional<Stopped> WriteRange(CUSBChannel& board, std::uint32_t address,
                                  const std::uint8_t* data, std::uint32_t count,
                                  Progress* progress) {
  return ForEachAnsweredPage(board, address, count, progress,
                             [&](std::int32_t at, std::uint32_t done, std::uint8_t run) {
                               board.WriteEEPROMPage(at, data + done, run);
                             });
}

std::string Progressed(const char* verb, const Stopped& stopped, std::uint32_t total) {
  return "at " + HexWord(stopped.at) + ": " + verb + " " + std::to_string(stopped.done) + " of " +
         std::to_string(total) + " bytes";
}

std::uint32_t ParseEepromAddress(const std::string& text) {
  std::uint32_t address = 0;
  if (!ParseHex(text, kEepromSize - 1, &address)) {
    throw UsageError("bad EEPROM address '" + text + "': expected hex 0000..FFFF");
  }
  return address;
}

void CheckFits(std::uint32_t address, std::uint32_t count) {
  if (address + count > kEepromSize) {
    throw UsageError(std::to_string(count) + " bytes at " + HexWord(address) +
                     " run past the end of the 64 KiB EEPROM");
  }
}

}  // namespace

Action MakeEepromRead(const std::string& address_text, const std::string& count_text) {
  const std::uint32_t address = ParseEepromAddress(address_text);
  std::uint32_t count = 0;
  if (!ParseCount(count_text, 1, kEepromSize, &count)) {
    throw UsageError("bad count '" + count_text + "': expected 1.." + std::to_string(kEepromSize));
  }
  CheckFits(address, count);
  return [=](CUSBChannel& board, const Output& output) {
    std::vector<std::uint8_t> data(count);
    if (const auto stopped = ReadRange(board, address, data.data(), count, nullptr)) {
      throw NoAnswer("board did not answer " + Progressed("read", *stopped, count));
    }
    HexDump(output.out, address, data);
    return 0;
  };
}

Action MakeEepromWrite(const std::string& address_text, const std::vector<std::string>& texts) {
  const std::uint32_t address = ParseEepromAddress(address_text);
  const std::vector<std::uint8_t> data = ParseBytesArg(texts, kEepromSize);
  if (data.empty()) throw UsageError("no bytes to write");
  const auto count = static_cast<std::uint32_t>(data.size());
  CheckFits(address, count);
  return [=](CUSBChannel& board, const Output& output) {
    if (const auto stopped = WriteRange(board, address, data.data(), count, nullptr)) {
      throw NoAnswer("board did not take the page " + Progressed("wrote", *stopped, count));
    }
    output.out << "wrote " << count << " bytes at " << HexWord(address) << '\n';
    return 0;
  };
}

Action MakeEepromDump(const std::string& file) {
  // Created before the board is touched, so a path that cannot be written sends nothing.
  auto stream = std::make_shared<std::ofstream>(file, std::ios::binary | std::ios::trunc);
  if (!*stream) throw UsageError("cannot create '" + file + "'");
  return [stream, file](CUSBChannel& board, const Output& output) {
    std::vector<std::uint8_t> image(kEepromSize);
    Progress progress(output, "read  ", kEepromSize);
    const auto stopped = ReadRange(board, 0, image.data(), kEepromSize, &progress);
    // What was read is kept, but only that: the file is no image of the whole memory then.
    const std::uint32_t kept = stopped ? stopped->done : kEepromSize;
    stream->write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(kept));
    stream->close();
    if (!*stream) throw Failure("writing '" + file + "' failed");
    if (stopped) {
      if (output.terminal) output.out << '\n';
      throw NoAnswer("board did not answer " + Progressed("read", *stopped, kEepromSize) + "; '" +
                     file + "' holds only those (incomplete dump)");
    }
    output.out << "dumped " << kEepromSize << " bytes to " << file << '\n';
    return 0;
  };
}

Action MakeEepromLoad(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw UsageError("cannot read '" + file + "'");
  std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (image.size() != kEepromSize) {
    throw UsageError("'" + file + "' holds " + std::to_string(image.size()) +
                     " bytes; an EEPROM image holds exactly " + std::to_string(kEepromSize));
  }
  return [image, file](CUSBChannel& board, const Output& output) {
    Progress writing(output, "write ", kEepromSize);
    if (const auto stopped = WriteRange(board, 0, image.data(), kEepromSize, &writing)) {
      if (output.terminal) output.out << '\n';
      throw NoAnswer("board did not take the page " + Progressed("wrote", *stopped, kEepromSize));
    }

    std::vector<std::uint8_t> back(kEepromSize);
    Progress verifying(output, "verify", kEepromSize);
    if (const auto stopped = ReadRange(board, 0, back.data(), kEepromSize, &verifying)) {
      if (output.terminal) output.out << '\n';
      throw NoAnswer("board did not answer the verify pass " +
                     Progressed("verified", *stopped, kEepromSize) + " (all were written)");
    }
    const auto first = std::mismatch(image.begin(), image.end(), back.begin());
    if (first.first != image.end()) {
      std::size_t differing = 0;
      for (std::size_t i = 0; i < image.size(); ++i) differing += image[i] != back[i];
      throw Failure("verify failed: " + std::to_string(differing) +
                    (differing == 1 ? " byte differs" : " bytes differ") + ", the first at " +
                    HexWord(static_cast<unsigned>(first.first - image.begin())));
    }
    output.out << "loaded " << kEepromSize << " bytes from " << file << ", verified\n";
    return 0;
  };
}

}  // namespace qvx
