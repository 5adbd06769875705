// The control's trace of its own board link: TraceStart/TraceStop, and the trace every control
// starts by itself when QVX_TRACE_DIR names a folder.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <utility>

#include "board/trace_open.h"
#include "control/qel_vantorix_ctrl.h"
#include "platform/output_file.h"
#include "platform/win32/wide_text.h"

namespace {

constexpr wchar_t kTraceDirVariable[] = L"QVX_TRACE_DIR";

// Numbers the controls of this process that trace by themselves.
std::atomic<unsigned> g_environment_traces{0};

// The header's program: the host's file name, and the control in it.
std::string ProgramName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring host = n ? std::wstring(path, n) : std::wstring(L"?");
  const std::size_t slash = host.find_last_of(L"\\/");
  if (slash != std::wstring::npos) host = host.substr(slash + 1);
  return platform::win32::NarrowUtf8(host.c_str()) + "/QelVantorixActiveX.ocx";
}

}  // namespace

void CQelVantorixActiveXCtrl::ReplaceTrace(std::unique_ptr<board::TraceRecorder> trace) {
  std::unique_ptr<board::TraceRecorder> old;
  {
    // No command is in flight while the link's trace changes hands.
    platform::CsLock exchange(m_UsbChannel.m_csExchange);
    m_UsbChannel.AttachTrace(trace.get());
    old = std::move(m_pTrace);
    m_pTrace = std::move(trace);
  }
  // `old` is closed here, outside the lock: its last bytes may take a moment.
}

VARIANT_BOOL CQelVantorixActiveXCtrl::TraceStart(const wchar_t* path) {
  const std::string name = platform::win32::NarrowUtf8(path);
  if (name.empty()) return VARIANT_FALSE;
  std::string why;
  std::unique_ptr<board::TraceRecorder> trace = board::OpenTraceFile(name, ProgramName(), &why);
  if (!trace) return VARIANT_FALSE;
  ReplaceTrace(std::move(trace));
  return VARIANT_TRUE;
}

void CQelVantorixActiveXCtrl::TraceStop() {
  ReplaceTrace(nullptr);
}

void CQelVantorixActiveXCtrl::StartEnvironmentTrace() {
  // Called while the control is being made: nothing may escape, and a trace that cannot be
  // started leaves the control as it would be without the variable.
  try {
    wchar_t folder[MAX_PATH] = {};
    const DWORD n = GetEnvironmentVariableW(kTraceDirVariable, folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    const std::string dir = platform::win32::NarrowUtf8(folder);
    if (dir.empty() || !platform::IsFolder(dir)) return;
    const std::string path =
        board::TraceFileNameIn(dir, std::chrono::system_clock::now(), GetCurrentProcessId(),
                               g_environment_traces.fetch_add(1) + 1);
    std::string why;
    std::unique_ptr<board::TraceRecorder> trace = board::OpenTraceFile(path, ProgramName(), &why);
    if (trace) ReplaceTrace(std::move(trace));
  } catch (...) {
  }
}
