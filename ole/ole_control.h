// COleControl: the base of the module's ActiveX controls. This part is the control's automation
// face: IUnknown from a flat interface table, IDispatch served from the control's dispatch
// table, the event connection point, and the class information a container asks for.
//
// The visual side (IOleObject, in-place activation, persistence, view objects, the window) is
// the base CVisualControl, whose own table Interfaces() chains to; the derived control does not
// change for it.
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include "ole/com_object.h"
#include "ole/connection_point.h"
#include "ole/dispatch_table.h"
#include "ole/module.h"
#include "ole/ole_object.h"

namespace ole {

// What a control tells the framework about itself; a static of the derived class.
struct ControlDescription {
  const CLSID* clsid;
  const IID* dispatch_iid;  // the primary dispatch interface
  const IID* events_iid;    // the default source (event) dispatch interface
  const DispatchTable* dispatch;
};

class COleControl : public ComObject<COleControl, IDispatch, IConnectionPointContainer,
                                     IProvideClassInfo2, CVisualControl> {
 public:
  COleControl(const COleControl&) = delete;
  COleControl& operator=(const COleControl&) = delete;

  static InterfaceTable Interfaces();

  // IDispatch
  IFACEMETHODIMP GetTypeInfoCount(UINT* count) override;
  IFACEMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** type_info) override;
  IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) override;
  IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override;

  // IConnectionPointContainer
  IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppenum) override;
  IFACEMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppcp) override;

  // IProvideClassInfo2
  IFACEMETHODIMP GetClassInfo(ITypeInfo** type_info) override;
  IFACEMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

  // The control window, null while the control has none. InvalidateControl() (from
  // CVisualControl) has it repainted.
  HWND GetControlWindow() const { return GetSafeHwnd(); }
  const CLSID& ControlClassId() const override { return *description_.clsid; }

 protected:
  explicit COleControl(const ControlDescription& description);
  ~COleControl() override;

  // Calls `dispid` on every sink of the event interface, in connection order.
  void FireEvent(DISPID dispid, DISPPARAMS* params);
  std::size_t EventSinkCount() const { return events_.SinkCount(); }

 private:
  friend ComObject;  // deletes the control on its last Release
  // Function rows of Interfaces(): the control's primary dispatch interface, and the visual side.
  static HRESULT QueryPrimaryDispatch(void* object, REFIID riid, void** ppv);
  static HRESULT QueryVisualSide(void* object, REFIID riid, void** ppv);

  const ControlDescription& description_;
  ModuleObjectLock module_lock_;
  ConnectionPoint events_;
};

// Dispatch table handler for `F(T&, DispCall&)`, T derived from COleControl: the table hands
// handlers the COleControl they were invoked on.
template <class T, void (*F)(T&, DispCall&)>
void ControlRow(void* control, DispCall& call) {
  F(*static_cast<T*>(static_cast<COleControl*>(control)), call);
}

}  // namespace ole
