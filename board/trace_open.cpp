#include "board/trace_open.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <utility>

#include "board/trace_pcapng.h"
#include "board/trace_text.h"

namespace board {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The file name's part before its first dot, as Windows matches device names.
std::string Stem(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return Lower(name);
}

bool ReservedDeviceName(const std::string& stem) {
  static const char* const kNames[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
  for (const char* n : kNames) {
    if (stem == n) return true;
  }
  return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) &&
         stem[3] >= '0' && stem[3] <= '9';
}

}  // namespace

TraceFileKind TraceKindOf(const std::string& path, std::string* why) {
  auto refuse = [&](const std::string& reason) {
    if (why) *why = reason;
    return TraceFileKind::kRefused;
  };
  if (path.empty()) return refuse("the trace file name is empty");
  const bool separator0 = path[0] == '\\' || path[0] == '/';
  if (path.size() >= 2 && separator0 && (path[1] == '\\' || path[1] == '/')) {
    return refuse("'" + path + "' is a device or network path; a trace goes to a local file");
  }
  if (ReservedDeviceName(Stem(path))) {
    return refuse("'" + path + "' names a device; a trace goes to a file");
  }
  const std::string lower = Lower(path);
  if (EndsWith(lower, ".pcapng")) return TraceFileKind::kPcapng;
  if (EndsWith(lower, ".txt") || EndsWith(lower, ".log")) return TraceFileKind::kText;
  return refuse("'" + path + "' does not end in .pcapng, .txt or .log");
}

std::unique_ptr<TraceRecorder> MakeTraceRecorder(TraceFileKind kind,
                                                 std::unique_ptr<platform::OutputFile> output,
                                                 const std::string& program) {
  std::unique_ptr<TraceFormat> format;
  if (kind == TraceFileKind::kPcapng) {
    format = std::make_unique<PcapngTraceFormat>();
  } else {
    format = NewTextTraceFormat();
  }
  return std::make_unique<TraceRecorder>(std::move(format), std::move(output), program);
}

std::unique_ptr<TraceRecorder> OpenTraceFile(const std::string& path, const std::string& program,
                                             std::string* why) {
  const TraceFileKind kind = TraceKindOf(path, why);
  if (kind == TraceFileKind::kRefused) return nullptr;
  std::string system;
  std::unique_ptr<platform::OutputFile> file = platform::CreateNewFile(path, &system);
  if (!file) {
    if (why) *why = "cannot create the trace file '" + path + "': " + system;
    return nullptr;
  }
  return MakeTraceRecorder(kind, std::move(file), program);
}

std::string TraceFileNameIn(const std::string& folder, std::chrono::system_clock::time_point when,
                            unsigned long pid, unsigned n) {
  const std::tm utc = UtcTime(when);
  char name[80];
  const std::size_t stamp = std::strftime(name, sizeof name, "qvx-%Y%m%d-%H%M%S", &utc);
  std::snprintf(name + stamp, sizeof name - stamp, "-%lu-%u.pcapng", pid, n);
  std::string path = folder;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') {
    path += path.find('\\') != std::string::npos ? '\\' : '/';
  }
  return path + name;
}

}  // namespace board
