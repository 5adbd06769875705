#include "container_support.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "control/identity.h"
#include "dispatch_support.h"

namespace container_test {
namespace {

// --- import table redirection -----------------------------------------------------------

NotificationLog g_log;
using RegisterFn = HDEVNOTIFY(WINAPI*)(HANDLE, LPVOID, DWORD);
using UnregisterFn = BOOL(WINAPI*)(HDEVNOTIFY);
RegisterFn g_register = nullptr;
UnregisterFn g_unregister = nullptr;

HDEVNOTIFY WINAPI RecordRegister(HANDLE recipient, LPVOID filter, DWORD flags) {
  g_log.registered.push_back(static_cast<HWND>(recipient));
  HDEVNOTIFY handle = g_register(recipient, filter, flags);
  if (handle) ++g_log.succeeded;
  return handle;
}

BOOL WINAPI RecordUnregister(HDEVNOTIFY handle) {
  ++g_log.withdrawn;
  return g_unregister(handle);
}

// Replaces the import `name` of `module` (from any DLL) with `replacement`; the original entry.
void* PatchImport(HMODULE module, const char* name, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return nullptr;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       imp->Name != 0; ++imp) {
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), name) != 0) continue;
      DWORD old = 0;
      VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
      void* original = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
      return original;
    }
  }
  return nullptr;
}

// --- windows ------------------------------------------------------------------------------

struct FindContext {
  const std::wstring* needle;
  std::vector<HWND> found;
};

std::wstring WindowText(HWND hwnd) {
  wchar_t text[512] = {};
  GetWindowTextW(hwnd, text, 512);
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  return name;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM lparam) {
  auto* seen = reinterpret_cast<SeenWindow*>(lparam);
  if (GetParent(child) != seen->hwnd) return TRUE;  // direct children only
  seen->texts.push_back(WindowText(child));
  seen->classes.push_back(ClassOf(child));
  return TRUE;
}

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM lparam) {
  auto* ctx = reinterpret_cast<FindContext*>(lparam);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd)) return TRUE;
  SeenWindow probe;
  probe.hwnd = hwnd;
  EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&probe));
  bool match = WindowText(hwnd).find(*ctx->needle) != std::wstring::npos;
  for (const std::wstring& t : probe.texts)
    match = match || t.find(*ctx->needle) != std::wstring::npos;
  if (match) ctx->found.push_back(hwnd);
  return TRUE;
}

}  // namespace

NotificationLog& Notifications() {
  static bool patched = [] {
    HMODULE ocx = dispatch_test::EmulatedOcx::Get().module();
    g_register = reinterpret_cast<RegisterFn>(
        PatchImport(ocx, "RegisterDeviceNotificationW", reinterpret_cast<void*>(&RecordRegister)));
    g_unregister = reinterpret_cast<UnregisterFn>(PatchImport(
        ocx, "UnregisterDeviceNotification", reinterpret_cast<void*>(&RecordUnregister)));
    return g_register && g_unregister;
  }();
  EXPECT_TRUE(patched) << "the OCX does not import the device notification functions";
  return g_log;
}

void ResetNotificationLog() {
  Notifications() = NotificationLog();
}

void RegisterPageClass() {
  static const bool registered = [] {
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = reinterpret_cast<GetClassObjectFn>(
        GetProcAddress(dispatch_test::EmulatedOcx::Get().module(), "DllGetClassObject"));
    ole::ComPtr<IUnknown> factory;
    DWORD cookie = 0;
    return get && SUCCEEDED(get(qvx::kClsidPropPage, IID_IClassFactory, factory.PutVoid())) &&
           SUCCEEDED(CoRegisterClassObject(qvx::kClsidPropPage, factory.Get(), CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie));
  }();
  EXPECT_TRUE(registered) << "the property page's class could not be made known to COM";
}

ModalCloser::ModalCloser(std::wstring needle, WPARAM command, int max_closes)
    : needle_(std::move(needle)), command_(command), max_closes_(max_closes) {
  thread_ = std::thread([this] { Run(); });
}

ModalCloser::~ModalCloser() {
  Stop();
}

void ModalCloser::Stop() {
  stop_ = true;
  // The watcher reads window texts, which for this thread's windows are messages sent here:
  // answer them while waiting, or the two threads wait for each other.
  while (thread_.joinable() && !done_) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  if (thread_.joinable()) thread_.join();
}

std::vector<SeenWindow> ModalCloser::seen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

void ModalCloser::Run() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int closed = 0;
  HWND last = nullptr;
  auto posted = std::chrono::steady_clock::now();
  int retries = 0;
  // Until the last window closed is really gone: it may need asking again.
  while (!stop_ && (closed < max_closes_ || IsWindow(last)) &&
         std::chrono::steady_clock::now() < deadline) {
    FindContext ctx{&needle_, {}};
    EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&ctx));
    for (HWND hwnd : ctx.found) {
      if (hwnd == last && IsWindow(hwnd)) {
        // Still closing, or deaf to the command: ask again now and then. A property sheet
        // without a page (its page could not be made) ignores every cancel: end its modal loop.
        if (std::chrono::steady_clock::now() - posted > std::chrono::milliseconds(500)) {
          if (++retries > 3) {
            PostThreadMessageW(GetWindowThreadProcessId(hwnd, nullptr), WM_QUIT, 0, 0);
          } else {
            PostMessageW(hwnd, WM_COMMAND, command_, 0);
          }
          posted = std::chrono::steady_clock::now();
        }
        continue;
      }
      if (closed == max_closes_) continue;
      SeenWindow seen;
      seen.hwnd = hwnd;
      seen.caption = WindowText(hwnd);
      seen.owner = GetWindow(hwnd, GW_OWNER);
      seen.owner_was_disabled = seen.owner && !IsWindowEnabled(seen.owner);
      EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&seen));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(seen);
      }
      last = hwnd;
      PostMessageW(hwnd, WM_COMMAND, command_, 0);
      posted = std::chrono::steady_clock::now();
      retries = 0;
      ++closed;
      break;
    }
    Sleep(50);
  }
  done_ = true;
}

// --- event sink ----------------------------------------------------------------------------

STDMETHODIMP EventSink::QueryInterface(REFIID riid, void** ppv) {
  if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
      IsEqualIID(riid, qvx::kDiidEvents)) {
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP EventSink::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

STDMETHODIMP EventSink::Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params,
                               VARIANT*, EXCEPINFO*, UINT*) {
  if (dispid != 1 || !(flags & DISPATCH_METHOD) || params->cArgs != 1 ||
      V_VT(&params->rgvarg[0]) != VT_BOOL) {
    log.push_back(L"unexpected call");
    return DISP_E_MEMBERNOTFOUND;
  }
  const VARIANT_BOOL value = V_BOOL(&params->rgvarg[0]);
  if (value != VARIANT_TRUE && value != VARIANT_FALSE) log.push_back(L"not a VARIANT_BOOL");
  events.push_back(value == VARIANT_TRUE);
  if (on_event_) on_event_();
  return fail_ ? E_FAIL : S_OK;
}

DWORD Connect(IUnknown* control, IDispatch* sink) {
  ole::ComPtr<IConnectionPointContainer> container;
  if (FAILED(container.QueryFrom(control, IID_IConnectionPointContainer))) return 0;
  ole::ComPtr<IConnectionPoint> point;
  if (FAILED(container->FindConnectionPoint(qvx::kDiidEvents, point.Put()))) return 0;
  DWORD cookie = 0;
  if (FAILED(point->Advise(sink, &cookie))) return 0;
  return cookie;
}

void Disconnect(IUnknown* control, DWORD cookie) {
  ole::ComPtr<IConnectionPointContainer> container;
  if (FAILED(container.QueryFrom(control, IID_IConnectionPointContainer))) return;
  ole::ComPtr<IConnectionPoint> point;
  if (SUCCEEDED(container->FindConnectionPoint(qvx::kDiidEvents, point.Put()))) {
    point->Unadvise(cookie);
  }
}

// --- ATL host ------------------------------------------------------------------------------

// One top-level window for the whole run: under Xvfb without a window manager, Wine waits
// about a second for each top-level window it unmaps.
HWND SharedFrame() {
  static HWND frame =
      CreateWindowExW(0, L"STATIC", L"container test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                      320, 200, nullptr, nullptr, nullptr, nullptr);
  return frame;
}

AtlHost::AtlHost(IUnknown* control) {
  HMODULE atl = LoadLibraryW(L"atl.dll");
  if (!atl) return;
  using InitFn = BOOL(WINAPI*)();
  using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
  auto init = reinterpret_cast<InitFn>(GetProcAddress(atl, "AtlAxWinInit"));
  auto attach = reinterpret_cast<AttachFn>(GetProcAddress(atl, "AtlAxAttachControl"));
  // A second AtlAxWinInit fails: its window classes exist already.
  static const bool initialised = init && init();
  if (!attach || !initialised) return;
  frame_ = SharedFrame();
  host_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 10, 10, 102, 32, frame_,
                          nullptr, nullptr, nullptr);
  if (!frame_ || !host_) return;
  SetForegroundWindow(frame_);
  ok_ = SUCCEEDED(attach(control, host_, container_.Put()));
  PumpMessages();
}

AtlHost::~AtlHost() {
  Destroy();
}

void AtlHost::Destroy() {
  container_.Reset();
  if (host_) DestroyWindow(host_);
  host_ = nullptr;
  PumpMessages();
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

LRESULT SendDeviceChange(HWND hwnd, UINT event, DWORD device_type) {
  DEV_BROADCAST_DEVICEINTERFACE_W interface_header = {};
  interface_header.dbcc_size = sizeof interface_header;
  interface_header.dbcc_devicetype = device_type;
  interface_header.dbcc_classguid = {
      0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  return SendMessageW(hwnd, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&interface_header));
}

COLORREF WindowPixel(HWND hwnd, int x, int y) {
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  HDC hdc = GetDC(hwnd);
  const COLORREF color = GetPixel(hdc, x, y);
  ReleaseDC(hwnd, hdc);
  return color;
}

HWND ControlWindow(IUnknown* control) {
  ole::ComPtr<IOleInPlaceObject> inplace;
  if (FAILED(inplace.QueryFrom(control, IID_IOleInPlaceObject))) return nullptr;
  HWND hwnd = nullptr;
  inplace->GetWindow(&hwnd);
  return hwnd;
}

}  // namespace container_test
