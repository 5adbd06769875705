// Property pages: the page object a property frame creates (IPropertyPage on a dialog template
// of the module) and the exchange between the page's fields and the objects it shows.
#pragma once

#include <ocidl.h>
#include <windows.h>

#include <string>
#include <vector>

#include "ole/com_object.h"
#include "ole/raii.h"

namespace ole {

// One run of a page's exchange: loading the fields from the objects, or saving them back.
// Saved values are collected and set on every object at the closing step.
class DataExchange {
 public:
  DataExchange(bool save, const std::vector<ComPtr<IUnknown>>& objects)
      : save_(save), objects_(objects) {}
  bool saving() const { return save_; }
  // Queues `value` for the property `name` (saving only).
  void QueueProperty(const wchar_t* name, const VARIANT& value);
  // Sets the queued properties on every object. The number of values set.
  std::size_t ApplyQueued();

 private:
  struct Pending {
    std::wstring name;
    Variant value;
  };
  bool save_;
  const std::vector<ComPtr<IUnknown>>& objects_;
  std::vector<Pending> pending_;
};

// The closing step of a page's exchange: saving sets what the fields queued on the objects.
void DDP_PostProcessing(DataExchange* dx);

// The page is deleted with its last reference.
class COlePropertyPage : public ComObject<COlePropertyPage, IPropertyPage> {
 public:
  COlePropertyPage(UINT dialog_id, UINT caption_id);
  ~COlePropertyPage() override;
  COlePropertyPage(const COlePropertyPage&) = delete;
  COlePropertyPage& operator=(const COlePropertyPage&) = delete;

  static InterfaceTable Interfaces();

  // The page's class identifier.
  virtual CLSID GetClassID() const = 0;
  HWND GetSafeHwnd() const { return hwnd_; }
  std::size_t ObjectCount() const { return objects_.size(); }

  // IPropertyPage
  STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
  STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  STDMETHODIMP Deactivate() override;
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
  STDMETHODIMP Show(UINT cmd_show) override;
  STDMETHODIMP Move(LPCRECT rect) override;
  STDMETHODIMP IsPageDirty() override;
  STDMETHODIMP Apply() override;
  STDMETHODIMP Help(LPCOLESTR help_dir) override;
  STDMETHODIMP TranslateAccelerator(MSG* msg) override;

 protected:
  // Moves data between the page's fields and the objects. The default only closes the exchange.
  virtual void DoDataExchange(DataExchange* dx);

 private:
  static INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  HWND CreatePageWindow(HWND parent) const;

  UINT dialog_id_;
  UINT caption_id_;
  HWND hwnd_ = nullptr;
  ComPtr<IPropertyPageSite> site_;
  std::vector<ComPtr<IUnknown>> objects_;
};

}  // namespace ole
