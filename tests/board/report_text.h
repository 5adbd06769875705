// Report logs as short text lines, so that a whole exchange compares in one assertion and a
// mismatch prints readably: "W 00 AA 55 1C" is a 65-byte write whose later bytes are all 0,
// "R" a read that returned a report, "R-" a read that returned none, "M" a marker the test put
// in. Discards of pending input, which start every command, are left out.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "recording_device.h"

namespace testing_support {

inline std::string HexHead(const Bytes& report) {
  std::size_t end = report.size();
  while (end > 1 && report[end - 1] == 0) --end;
  std::string text;
  for (std::size_t i = 0; i < end; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", report[i]);
    text += byte;
  }
  if (report.size() != platform::kReportSize)
    text += " [size " + std::to_string(report.size()) + "]";
  return text;
}

inline std::string Describe(const Event& event) {
  switch (event.kind) {
    case Event::kWrite:
      return "W " + HexHead(event.report);
    case Event::kRead:
      return event.report.empty() ? "R-" : "R";
    case Event::kDiscard:
      return "D";
    case Event::kMark:
      return "M";
  }
  return "?";
}

inline std::vector<std::string> Describe(const std::vector<Event>& log) {
  std::vector<std::string> lines;
  for (const Event& event : log) {
    if (event.kind != Event::kDiscard) lines.push_back(Describe(event));
  }
  return lines;
}

// The expected side of a comparison with Describe().
class Expected {
 public:
  Expected& Write(const Bytes& report) { return Add("W " + HexHead(report)); }
  Expected& Write(std::initializer_list<int> head) { return Write(ReportOf(head)); }
  Expected& Read(int times = 1) {
    for (int i = 0; i < times; ++i) Add("R");
    return *this;
  }
  Expected& ReadNone() { return Add("R-"); }
  Expected& Mark() { return Add("M"); }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  Expected& Add(std::string line) {
    lines_.push_back(std::move(line));
    return *this;
  }
  std::vector<std::string> lines_;
};

}  // namespace testing_support
