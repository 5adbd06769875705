// The visual side of a control: embedding in an OLE container (IOleObject), in-place and UI
// activation with the control's own window, IOleControl, rendering for the container
// (IViewObjectEx), persistence and the property pages. The control class derives from this and
// answers the hooks; its QueryInterface table routes the interfaces below here.
//
// The interface implementations are spread over the files named for them: ole_object.cpp
// (IOleObject, verbs), inplace.cpp (IOleInPlaceObject, IOleInPlaceActiveObject, the window),
// ole_control_site.cpp (IOleControl, ambient properties), view_object.cpp (IViewObjectEx),
// persistence.cpp (IPersistStreamInit, IPersistPropertyBag, IPersistStorage) and
// property_frame.cpp (ISpecifyPropertyPages and the property frame).
#pragma once

#include <ocidl.h>
#include <oleidl.h>
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "ole/com_object.h"
#include "ole/persistence.h"
#include "ole/raii.h"

namespace ole {

class CVisualControl;

// One row of a control's message map: either a custom OLE verb (numbered from 0 in map order)
// or a window message handler.
struct MessageMapEntry {
  enum class Kind { kVerb, kMessage };
  using VerbHandler = BOOL (*)(CVisualControl& control, LPMSG msg, HWND parent, LPCRECT rect);
  using MessageHandler = LRESULT (*)(CVisualControl& control, WPARAM wparam, LPARAM lparam);

  Kind kind;
  UINT id;  // verb: string resource of the verb's name; message: the message
  VerbHandler verb;
  MessageHandler message;
};

struct MessageMap {
  const MessageMapEntry* entries;
  std::size_t count;
};

// The control flags of GetControlFlags.
inline constexpr DWORD kClipPaintDC = 0x2;
inline constexpr DWORD kNoFlickerActivate = 0x8;

// The default size of a new control: 100 by 50 pixels, in HIMETRIC at 96 pixels per inch.
inline constexpr LONG kDefaultExtentX = 2646;
inline constexpr LONG kDefaultExtentY = 1323;

class CVisualControl : public IOleObject,
                       public IOleInPlaceObject,
                       public IOleInPlaceActiveObject,
                       public IOleControl,
                       public IViewObjectEx,
                       public IPersistStreamInit,
                       public IPersistPropertyBag,
                       public IPersistStorage,
                       public ISpecifyPropertyPages {
 public:
  CVisualControl();
  virtual ~CVisualControl();
  CVisualControl(const CVisualControl&) = delete;
  CVisualControl& operator=(const CVisualControl&) = delete;

  // The interfaces served here, for the derived class's interface table to chain to.
  static InterfaceTable Interfaces();

  // --- hooks the control answers ---------------------------------------------------------
  virtual const CLSID& ControlClassId() const = 0;
  // Paints the control: `bounds` in the device units of `hdc`, `hdc` may be null.
  virtual void OnDraw(HDC hdc, const RECT& bounds, const RECT& invalid);
  // The control has become UI-active (after the frame's shared menu is set), or the container's
  // document window was re-activated while it is UI-active. Default: clears the frame's border
  // space.
  virtual void OnShowToolBars();
  virtual DWORD GetControlFlags() const { return kClipPaintDC; }
  virtual MessageMap GetMessageMap() const { return {nullptr, 0}; }
  // The persistent state. Default: the extent and the stock property mask.
  virtual void DoPropExchange(PropExchange& px);
  virtual UINT UserTypeNameId() const { return 1; }
  // The OLEMISC bits of GetMiscStatus: the same the control's class registers.
  virtual DWORD MiscStatus() const = 0;
  virtual std::vector<CLSID> PropertyPageIds() const { return {}; }
  // The control's window is about to go away.
  virtual void OnDestroyWindow() {}

  // --- services for the control ----------------------------------------------------------
  HWND GetSafeHwnd() const { return hwnd_; }
  bool IsInPlaceActive() const { return inplace_active_; }
  bool IsUIActive() const { return ui_active_; }
  // Has the whole control repainted: the window invalidated with background erasing, or, with
  // no window, the container's view sink told.
  void InvalidateControl();
  // The framework's Properties verb handler: the container's property frame, else one of ours.
  BOOL OnProperties(LPMSG msg, HWND parent, LPCRECT rect);
  // The version stored in the data the control was last loaded from (the current one after
  // InitNew).
  DWORD LoadedVersion() const { return loaded_version_; }
  // Exchanges "_Version": saving writes `current`, loading keeps the stored value.
  void ExchangeVersion(PropExchange& px, DWORD current);
  // The container's locale (ambient property), or the user's default.
  LCID AmbientLocaleId() const;
  IOleClientSite* ClientSite() const { return client_site_.Get(); }

  // --- IOleObject ------------------------------------------------------------------------
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** site) override;
  STDMETHODIMP SetHostNames(LPCOLESTR app, LPCOLESTR obj) override;
  STDMETHODIMP Close(DWORD save_option) override;
  STDMETHODIMP SetMoniker(DWORD which, IMoniker* mk) override;
  STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** mk) override;
  STDMETHODIMP InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  STDMETHODIMP GetClipboardData(DWORD reserved, IDataObject** data) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* active_site, LONG index, HWND parent,
                      LPCRECT pos) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
  STDMETHODIMP Update() override;
  STDMETHODIMP IsUpToDate() override;
  STDMETHODIMP GetUserClassID(CLSID* clsid) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
  STDMETHODIMP Unadvise(DWORD connection) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE* pal) override;

  // --- IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject -----------------------------
  STDMETHODIMP GetWindow(HWND* hwnd) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override;
  STDMETHODIMP TranslateAccelerator(LPMSG msg) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL activate) override;
  STDMETHODIMP OnDocWindowActivate(BOOL activate) override;
  STDMETHODIMP ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
  STDMETHODIMP EnableModeless(BOOL enable) override;

  // --- IOleControl ----------------------------------------------------------------------
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG* msg) override;
  STDMETHODIMP OnAmbientPropertyChange(DISPID dispid) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;

  // --- IViewObject, IViewObject2, IViewObjectEx -------------------------------------------
  STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspect_info, DVTARGETDEVICE* target_device,
                    HDC target_dev_hdc, HDC hdc, LPCRECTL bounds, LPCRECTL wbounds,
                    BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR), ULONG_PTR cont_arg) override;
  STDMETHODIMP GetColorSet(DWORD aspect, LONG index, void* aspect_info,
                           DVTARGETDEVICE* target_device, HDC target_dev_hdc,
                           LOGPALETTE** colors) override;
  STDMETHODIMP Freeze(DWORD aspect, LONG index, void* aspect_info, DWORD* freeze) override;
  STDMETHODIMP Unfreeze(DWORD freeze) override;
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target_device,
                         LPSIZEL size) override;
  STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) override;
  STDMETHODIMP GetViewStatus(DWORD* status) override;
  STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT loc, LONG close_hint,
                             DWORD* hit) override;
  STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT loc, LONG close_hint,
                            DWORD* hit) override;
  STDMETHODIMP GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target_device,
                                HDC target_dev_hdc, DVEXTENTINFO* info, LPSIZEL size) override;

  // --- IPersist, IPersistStreamInit, IPersistPropertyBag, IPersistStorage ----------------
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(LPSTREAM stream) override;
  STDMETHODIMP Save(LPSTREAM stream, BOOL clear_dirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  STDMETHODIMP InitNew() override;
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* log) override;
  STDMETHODIMP Save(IPropertyBag* bag, BOOL clear_dirty, BOOL save_all) override;
  STDMETHODIMP InitNew(IStorage* storage) override;
  STDMETHODIMP Load(IStorage* storage) override;
  STDMETHODIMP Save(IStorage* storage, BOOL same_as_load) override;
  STDMETHODIMP SaveCompleted(IStorage* storage) override;
  STDMETHODIMP HandsOffStorage() override;

  // --- ISpecifyPropertyPages ------------------------------------------------------------
  STDMETHODIMP GetPages(CAUUID* pages) override;

  // The window procedure's work, on the control's window.
  LRESULT WindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

 private:
  HRESULT InPlaceActivate(bool ui_activate);
  HRESULT UIActivate();
  void AddFrameLevelUI();
  HRESULT CreateControlWindow(HWND parent, const RECT& pos);
  void DestroyControlWindow();
  // The control's window has been destroyed, by whomever.
  void WindowGone();
  HRESULT RunVerb(std::size_t index, LPMSG msg, HWND parent, LPCRECT pos);
  std::size_t VerbCount() const;
  void ResetState();
  // Runs the property exchange and then accounts for what it loaded, or after a save that
  // wrote everything and `clear_dirty`, for the control being clean. The exchange's result.
  HRESULT ExchangeState(PropExchange& px, bool clear_dirty = false);

  ComPtr<IOleClientSite> client_site_;
  ComPtr<IOleAdviseHolder> advise_holder_;
  ComPtr<IAdviseSink> view_sink_;
  DWORD view_sink_aspects_ = 0;
  DWORD view_sink_flags_ = 0;

  ComPtr<IOleInPlaceSite> inplace_site_;
  ComPtr<IOleInPlaceSiteEx> inplace_site_ex_;
  ComPtr<IOleInPlaceFrame> frame_;
  ComPtr<IOleInPlaceUIWindow> ui_window_;
  bool inplace_active_ = false;
  bool ui_active_ = false;
  HWND hwnd_ = nullptr;
  RECT pos_rect_ = {0, 0, 0, 0};

  SIZEL extent_ = {kDefaultExtentX, kDefaultExtentY};
  DWORD loaded_version_ = 0;
  bool modified_ = false;
  LONG freeze_events_ = 0;
};

}  // namespace ole
