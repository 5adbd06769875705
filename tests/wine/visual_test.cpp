// The lamp as a container renders it (IViewObject::Draw into a memory DC), the persistent state
// through every medium, the property page object and the About box.
#include <gtest/gtest.h>

#include <olectl.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "container_support.h"
#include "control/identity.h"
#include "dispatch_support.h"
#include "test_files.h"

namespace container_test {
namespace {

using dispatch_test::Call;
using dispatch_test::CallResult;
using dispatch_test::EmulatedOcx;

constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr DWORD kStateVersion = 0x00010008;

// A 32-bit top-down DIB selected into a memory DC, read back pixel by pixel.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ =
        CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    for (int i = 0; i < width * height; ++i) bits_[i] = 0x00123456;  // not a lamp colour
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  // A container's own content: 4-pixel checks of two colours that are not lamp colours.
  static COLORREF PatternAt(int x, int y) {
    return ((x / 4 + y / 4) & 1) ? RGB(0x12, 0x34, 0x56) : RGB(0xAB, 0xCD, 0xEF);
  }
  void FillPattern() {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        const COLORREF c = PatternAt(x, y);
        bits_[y * width_ + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
      }
    }
  }
  // Pixels outside `inside` that no longer show the pattern.
  int PatternChangedOutside(const RECT& inside) const {
    int changed = 0;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        const POINT p = {x, y};
        if (!PtInRect(&inside, p) && At(x, y) != PatternAt(x, y)) ++changed;
      }
    }
    return changed;
  }
  COLORREF At(int x, int y) const {
    GdiFlush();
    const DWORD p = bits_[y * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  // Pixels that are neither `fill` colour: the ink of the text.
  std::vector<bool> InkMask(COLORREF fill) const { return InkMask(fill, {0, 0, width_, height_}); }
  // The same within `region`, row by row from its top-left corner.
  std::vector<bool> InkMask(COLORREF fill, const RECT& region) const {
    std::vector<bool> mask;
    for (int y = region.top; y < region.bottom; ++y) {
      for (int x = region.left; x < region.right; ++x) mask.push_back(At(x, y) != fill);
    }
    return mask;
  }

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  DWORD* bits_ = nullptr;
};

HRESULT DrawInto(IUnknown* control, HDC dc, const RECTL& bounds) {
  ole::ComPtr<IViewObject> view;
  EXPECT_EQ(view.QueryFrom(control, IID_IViewObject), S_OK);
  if (!view) return E_NOINTERFACE;
  return view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr,
                    0);
}

// The lamp that bounds (0, 0, 102, 32) must give: a font 30 high and 20 wide, "HID" centred on
// the inner rectangle from its measured extent.
void ExpectedLamp(Canvas* canvas, COLORREF fill) {
  RECT rect = {0, 0, 102, 32};
  HBRUSH brush = CreateSolidBrush(fill);
  FillRect(canvas->dc(), &rect, brush);
  DeleteObject(brush);
  SetBkMode(canvas->dc(), TRANSPARENT);
  HFONT font = CreateFontW(30, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial Narrow");
  HGDIOBJ old = SelectObject(canvas->dc(), font);
  SetTextColor(canvas->dc(), kBlue);
  SIZE extent;
  GetTextExtentPoint32W(canvas->dc(), L"HID", 3, &extent);
  TextOutW(canvas->dc(), 1 + (100 - extent.cx) / 2, 1 + (30 - extent.cy) / 2, L"HID", 3);
  SelectObject(canvas->dc(), old);
  DeleteObject(font);
}

class Visual : public ::testing::Test {
 protected:
  void SetUp() override {
    ocx_.Plug();
    control_ = ocx_.CreateControl();
    ASSERT_TRUE(control_);
  }
  void TearDown() override {
    host_.reset();
    control_.Reset();
  }
  // In the ATL host, with the board opened through the script (the control has a window, so
  // no message box).
  void Connect() {
    host_ = std::make_unique<AtlHost>(control_.Get());
    ASSERT_TRUE(host_->ok());
    CallResult r = Call(control_.Get(), kOpenUSBHidDevice);
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_EQ(V_BOOL(r.value.Get()), VARIANT_FALSE);
  }

  EmulatedOcx& ocx_ = EmulatedOcx::Get();
  ole::ComPtr<IDispatch> control_;
  std::unique_ptr<AtlHost> host_;
};

TEST_F(Visual, WithoutAWindowTheLampIsGreyWithBlueTextAtTheComputedPlace) {
  Canvas drawn(102, 32);
  ASSERT_EQ(DrawInto(control_.Get(), drawn.dc(), {0, 0, 102, 32}), S_OK);
  EXPECT_EQ(drawn.At(0, 0), kGrey);
  EXPECT_EQ(drawn.At(101, 31), kGrey);
  Canvas expected(102, 32);
  ExpectedLamp(&expected, kGrey);
  const std::vector<bool> ink = drawn.InkMask(kGrey);
  EXPECT_EQ(ink, expected.InkMask(kGrey)) << "the text's font or position differs";
  int blue = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 102; ++x) blue += drawn.At(x, y) == kBlue;
  }
  EXPECT_GT(blue, 50) << "no blue text";
}

TEST_F(Visual, ConnectedTheLampIsGreen) {
  Connect();
  Canvas drawn(102, 32);
  ASSERT_EQ(DrawInto(control_.Get(), drawn.dc(), {0, 0, 102, 32}), S_OK);
  EXPECT_EQ(drawn.At(0, 0), kGreen);
  EXPECT_EQ(drawn.At(101, 0), kGreen);
  Canvas expected(102, 32);
  ExpectedLamp(&expected, kGreen);
  EXPECT_EQ(drawn.InkMask(kGreen), expected.InkMask(kGreen));
}

// A container drawing the lamp at an offset (print preview, a windowless container) over its own
// content: the lamp fills the bounds and every pixel outside them keeps the container's pattern.
TEST_F(Visual, DrawnAtAnOffsetOnlyTheBoundsChange) {
  struct Case {
    RECTL bounds;
    bool connected;
  };
  const Case cases[] = {
      {{40, 30, 142, 62}, false},
      {{0, 0, 102, 32}, false},
      {{40, 30, 142, 62}, true},  // from here on in the ATL host, connected
      {{5, 47, 107, 79}, true},
  };
  Canvas grey(102, 32);
  ExpectedLamp(&grey, kGrey);
  Canvas green(102, 32);
  ExpectedLamp(&green, kGreen);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "at (" << c.bounds.left << ", " << c.bounds.top
                                    << ") connected " << c.connected);
    if (c.connected && !host_) Connect();
    Canvas drawn(160, 90);
    drawn.FillPattern();
    ASSERT_EQ(DrawInto(control_.Get(), drawn.dc(), c.bounds), S_OK);
    const RECT inside = {c.bounds.left, c.bounds.top, c.bounds.right, c.bounds.bottom};
    EXPECT_EQ(drawn.PatternChangedOutside(inside), 0) << "the container's pixels were painted over";
    const COLORREF fill = c.connected ? kGreen : kGrey;
    EXPECT_EQ(drawn.At(inside.left, inside.top), fill);
    EXPECT_EQ(drawn.At(inside.right - 1, inside.bottom - 1), fill);
    EXPECT_EQ(drawn.InkMask(fill, inside), (c.connected ? green : grey).InkMask(fill))
        << "the text's font or position differs";
  }
}

// Every block copy's destination rectangle, from EnumEnhMetaFile.
int CALLBACK CollectBlockCopies(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
  if (record->iType == EMR_BITBLT) {
    const auto* blt = reinterpret_cast<const EMRBITBLT*>(record);
    reinterpret_cast<std::vector<RECTL>*>(data)->push_back(
        {blt->xDest, blt->yDest, blt->xDest + blt->cxDest, blt->yDest + blt->cyDest});
  }
  return 1;
}

// A target that cannot be read back, a metafile: the picture holds one block copy, of the
// bounds alone, so playing it anywhere leaves the rest of the page as it is.
TEST_F(Visual, IntoAMetafileOnlyTheBoundsAreCopied) {
  HDC metafile = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(metafile, nullptr);
  ASSERT_EQ(DrawInto(control_.Get(), metafile, {40, 30, 142, 62}), S_OK);
  HENHMETAFILE picture = CloseEnhMetaFile(metafile);
  ASSERT_NE(picture, nullptr);
  std::vector<RECTL> copies;
  EnumEnhMetaFile(nullptr, picture, CollectBlockCopies, &copies, nullptr);
  DeleteEnhMetaFile(picture);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].left, 40);
  EXPECT_EQ(copies[0].top, 30);
  EXPECT_EQ(copies[0].right, 142);
  EXPECT_EQ(copies[0].bottom, 62);
}

TEST_F(Visual, OtherAspectsAndMissingBoundsAreRefused) {
  Canvas drawn(10, 10);
  ole::ComPtr<IViewObject> view;
  ASSERT_EQ(view.QueryFrom(control_.Get(), IID_IViewObject), S_OK);
  RECTL bounds = {0, 0, 10, 10};
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, drawn.dc(), &bounds, nullptr,
                       nullptr, 0),
            DV_E_DVASPECT);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, drawn.dc(), nullptr,
                       nullptr, nullptr, 0),
            E_INVALIDARG);
  EXPECT_EQ(drawn.At(0, 0), RGB(0x12, 0x34, 0x56));
}

// The slot index of a GDI object made and deleted now. Wine answers GetGuiResources with 0, but
// its handle table hands freed slots out again: while nothing leaks, new objects keep landing in
// the same small range of slots; a paint that kept even one object would push them up by one
// slot per paint. Windows counts the objects, the check there; the order in which it hands
// slots out is not documented.
unsigned ProbeSlot() {
  HGDIOBJ probe = CreateSolidBrush(RGB(1, 2, 3));
  DeleteObject(probe);
  return static_cast<unsigned>(reinterpret_cast<UINT_PTR>(probe) & 0xFFFF);
}

TEST_F(Visual, AThousandPaintsLeaveNoGdiObjectBehind) {
  Connect();
  Canvas drawn(102, 32);
  HWND window = ControlWindow(control_.Get());
  // Both routes once first: the window's first paint makes the system's own lasting objects.
  ASSERT_EQ(DrawInto(control_.Get(), drawn.dc(), {0, 0, 102, 32}), S_OK);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  const DWORD objects_before = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  const unsigned slot_before = ProbeSlot();
  unsigned highest = slot_before;
  for (int i = 0; i < 500; ++i) {
    DrawInto(control_.Get(), drawn.dc(), {0, 0, 102, 32});
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    highest = std::max(highest, ProbeSlot());
  }
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), objects_before);
  if (test_files::OnWine()) {
    EXPECT_LT(highest - slot_before, 32u) << "GDI objects pile up over the paints";
  }
  EXPECT_EQ(drawn.At(0, 0), kGreen);
}

// --- persistence ---------------------------------------------------------------------------

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class RecordingBag : public IPropertyBag {
 public:
  struct Entry {
    std::wstring name;
    VARTYPE vt;
    LONG value;
  };
  std::vector<Entry> writes;
  std::vector<Entry> stored;  // what Read answers
  std::vector<std::wstring> reads;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPropertyBag)) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
    reads.push_back(name);
    for (const Entry& e : stored) {
      if (e.name == name) {
        VariantClear(value);
        V_VT(value) = VT_I4;
        V_I4(value) = e.value;
        return S_OK;
      }
    }
    return E_INVALIDARG;
  }
  STDMETHODIMP Write(LPCOLESTR name, VARIANT* value) override {
    writes.push_back({name, V_VT(value), V_VT(value) == VT_I4 ? V_I4(value) : -1});
    return S_OK;
  }
};
#pragma GCC diagnostic pop

std::vector<BYTE> StreamBytes(IStream* stream) {
  STATSTG stat = {};
  stream->Stat(&stat, STATFLAG_NONAME);
  std::vector<BYTE> bytes(static_cast<std::size_t>(stat.cbSize.QuadPart));
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  return bytes;
}

std::vector<BYTE> Le32(std::initializer_list<DWORD> values) {
  std::vector<BYTE> bytes;
  for (DWORD v : values) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
  }
  return bytes;
}

ole::ComPtr<IStream> StreamOf(const std::vector<BYTE>& bytes) {
  ole::ComPtr<IStream> stream;
  CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
  ULONG written = 0;
  stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  LARGE_INTEGER zero = {};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return stream;
}

TEST_F(Visual, APropertyBagGetsTheFourValuesInOrder) {
  ole::ComPtr<IPersistPropertyBag> persist;
  ASSERT_EQ(persist.QueryFrom(control_.Get(), IID_IPersistPropertyBag), S_OK);
  ASSERT_EQ(persist->InitNew(), S_OK);
  ole::ComPtr<IOleObject> object;
  ASSERT_EQ(object.QueryFrom(control_.Get(), IID_IOleObject), S_OK);
  SIZEL size = {3000, 1000};
  ASSERT_EQ(object->SetExtent(DVASPECT_CONTENT, &size), S_OK);
  RecordingBag bag;
  ASSERT_EQ(persist->Save(&bag, TRUE, TRUE), S_OK);
  ASSERT_EQ(bag.writes.size(), 4u);
  const wchar_t* names[] = {L"_Version", L"_ExtentX", L"_ExtentY", L"_StockProps"};
  const LONG values[] = {65544, 3000, 1000, 0};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(bag.writes[i].name, names[i]);
    EXPECT_EQ(bag.writes[i].vt, VT_I4) << i;
    EXPECT_EQ(bag.writes[i].value, values[i]) << i;
  }
  EXPECT_TRUE(bag.reads.empty());
}

TEST_F(Visual, DataOfAnotherVersionLoadsAndSavesTheCurrentVersion) {
  RecordingBag old_bag;
  old_bag.stored = {{L"_Version", VT_I4, 0x00010000},
                    {L"_ExtentX", VT_I4, 1234},
                    {L"_ExtentY", VT_I4, 567},
                    {L"_StockProps", VT_I4, 0}};
  ole::ComPtr<IPersistPropertyBag> bag_persist;
  ASSERT_EQ(bag_persist.QueryFrom(control_.Get(), IID_IPersistPropertyBag), S_OK);
  ASSERT_EQ(bag_persist->Load(&old_bag, nullptr), S_OK);
  EXPECT_EQ(old_bag.reads,
            (std::vector<std::wstring>{L"_Version", L"_ExtentX", L"_ExtentY", L"_StockProps"}));

  ole::ComPtr<IPersistStreamInit> stream_persist;
  ASSERT_EQ(stream_persist.QueryFrom(control_.Get(), IID_IPersistStreamInit), S_OK);
  ole::ComPtr<IStream> out;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, out.Put()), S_OK);
  ASSERT_EQ(stream_persist->Save(out.Get(), TRUE), S_OK);
  EXPECT_EQ(StreamBytes(out.Get()), Le32({kStateVersion, 1234, 567, 0}));

  // The same through a stream written by version 1.7.
  ole::ComPtr<IStream> old_stream = StreamOf(Le32({0x00010007, 2000, 800, 0}));
  ASSERT_EQ(stream_persist->Load(old_stream.Get()), S_OK);
  ole::ComPtr<IStream> again;
  CreateStreamOnHGlobal(nullptr, TRUE, again.Put());
  ASSERT_EQ(stream_persist->Save(again.Get(), TRUE), S_OK);
  EXPECT_EQ(StreamBytes(again.Get()), Le32({kStateVersion, 2000, 800, 0}));
  ULARGE_INTEGER size_max = {};
  EXPECT_EQ(stream_persist->GetSizeMax(&size_max), S_OK);
  EXPECT_EQ(size_max.QuadPart, 16u);
}

TEST_F(Visual, ExtentsOfNothingOrLessLoadAsTheDefaultSize) {
  ole::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(persist.QueryFrom(control_.Get(), IID_IPersistStreamInit), S_OK);
  ole::ComPtr<IOleObject> object;
  ASSERT_EQ(object.QueryFrom(control_.Get(), IID_IOleObject), S_OK);
  struct Case {
    LONG cx, cy, want_cx, want_cy;
  };
  for (Case c :
       {Case{0, 0, 2646, 1323}, Case{-5, 700, 2646, 700}, Case{900, LONG(0x80000000), 900, 1323}}) {
    SCOPED_TRACE(c.cx);
    ole::ComPtr<IStream> stream = StreamOf(Le32({kStateVersion, DWORD(c.cx), DWORD(c.cy), 0}));
    ASSERT_EQ(persist->Load(stream.Get()), S_OK);
    SIZEL size = {};
    ASSERT_EQ(object->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, c.want_cx);
    EXPECT_EQ(size.cy, c.want_cy);
  }
}

TEST_F(Visual, AShortStreamFailsToLoad) {
  ole::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(persist.QueryFrom(control_.Get(), IID_IPersistStreamInit), S_OK);
  ole::ComPtr<IStream> stream = StreamOf(Le32({kStateVersion, 2000}));
  EXPECT_TRUE(FAILED(persist->Load(stream.Get())));
}

TEST_F(Visual, InitNewKeepsTheDefaultsAndTheControlStartsClean) {
  ole::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(persist.QueryFrom(control_.Get(), IID_IPersistStreamInit), S_OK);
  ASSERT_EQ(persist->InitNew(), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  ole::ComPtr<IStream> out;
  CreateStreamOnHGlobal(nullptr, TRUE, out.Put());
  ASSERT_EQ(persist->Save(out.Get(), TRUE), S_OK);
  // A new control is 100 by 50 pixels: 2646 by 1323 HIMETRIC.
  EXPECT_EQ(StreamBytes(out.Get()), Le32({kStateVersion, 2646, 1323, 0}));
  ole::ComPtr<IOleObject> object;
  ASSERT_EQ(object.QueryFrom(control_.Get(), IID_IOleObject), S_OK);
  SIZEL size = {100, 100};
  object->SetExtent(DVASPECT_CONTENT, &size);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  CreateStreamOnHGlobal(nullptr, TRUE, out.Put());
  ASSERT_EQ(persist->Save(out.Get(), TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
}

TEST_F(Visual, AStorageKeepsTheStateInItsContentsStream) {
  ole::ComPtr<ILockBytes> bytes;
  ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.Put()), S_OK);
  ole::ComPtr<IStorage> storage;
  ASSERT_EQ(StgCreateDocfileOnILockBytes(
                bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, storage.Put()),
            S_OK);
  ole::ComPtr<IPersistStorage> persist;
  ASSERT_EQ(persist.QueryFrom(control_.Get(), IID_IPersistStorage), S_OK);
  ASSERT_EQ(persist->InitNew(storage.Get()), S_OK);
  ASSERT_EQ(persist->Save(storage.Get(), TRUE), S_OK);
  ole::ComPtr<IStream> contents;
  ASSERT_EQ(storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                contents.Put()),
            S_OK);
  EXPECT_EQ(StreamBytes(contents.Get()), Le32({kStateVersion, 2646, 1323, 0}));
  contents.Reset();
  // A second control loads it.
  ole::ComPtr<IDispatch> other = ocx_.CreateControl();
  ole::ComPtr<IPersistStorage> other_persist;
  ASSERT_EQ(other_persist.QueryFrom(other.Get(), IID_IPersistStorage), S_OK);
  EXPECT_EQ(other_persist->Load(storage.Get()), S_OK);
}

// --- the property page object and the About box ----------------------------------------------

TEST_F(Visual, ThePageIsGeneralNeverDirtyAndApplyingChangesNothing) {
  ole::ComPtr<IClassFactory> factory;
  using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObjectFn>(GetProcAddress(ocx_.module(), "DllGetClassObject"));
  ASSERT_EQ(get(qvx::kClsidPropPage, IID_IClassFactory, factory.PutVoid()), S_OK);
  ole::ComPtr<IPropertyPage> page;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, page.PutVoid()), S_OK);

  PROPPAGEINFO info = {};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_STREQ(info.pszTitle, L"General");
  EXPECT_GT(info.size.cx, 300);  // the 317-pixel picture fits
  EXPECT_GT(info.size.cy, 170);
  CoTaskMemFree(info.pszTitle);

  IUnknown* objects[] = {control_.Get()};
  ASSERT_EQ(page->SetObjects(1, objects), S_OK);
  HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr,
                                nullptr, nullptr);
  RECT rect = {0, 0, 380, 260};
  ASSERT_EQ(page->Activate(parent, &rect, TRUE), S_OK);
  HWND picture = GetWindow(GetWindow(parent, GW_CHILD), GW_CHILD);
  ASSERT_NE(picture, nullptr);
  EXPECT_TRUE(GetWindowLongW(picture, GWL_STYLE) & SS_BITMAP);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  ole::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(persist.QueryFrom(control_.Get(), IID_IPersistStreamInit), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
  DestroyWindow(parent);
}

TEST_F(Visual, TheAboutBoxShowsThreeControlsAndReturnsOnOkTwiceInARow) {
  // Owned by the active top-level window, which is disabled while the box is open.
  HWND page = CreateWindowExW(0, L"STATIC", L"page", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                              nullptr, nullptr, nullptr);
  SetActiveWindow(page);
  ModalCloser closer(L"QelVantorixActiveX Control, Version 1.7", IDOK, 2);
  for (int i = 0; i < 2; ++i) {
    CallResult r = Call(control_.Get(), DISPID_ABOUTBOX);
    EXPECT_EQ(r.hr, S_OK);
  }
  closer.Stop();
  const std::vector<SeenWindow> seen = closer.seen();
  ASSERT_EQ(seen.size(), 2u);
  for (const SeenWindow& box : seen) {
    EXPECT_EQ(box.caption, L"About QelVantorixActiveX Control");
    ASSERT_EQ(box.texts.size(), 3u);
    EXPECT_EQ(box.classes[0], L"Static");
    EXPECT_EQ(box.classes[1], L"Static");
    EXPECT_EQ(box.texts[1], L"QelVantorixActiveX Control, Version 1.7");
    EXPECT_EQ(box.classes[2], L"Button");
    EXPECT_EQ(box.texts[2], L"OK");
    EXPECT_EQ(box.owner, page);
    EXPECT_TRUE(box.owner_was_disabled);
  }
  EXPECT_NE(seen[0].hwnd, seen[1].hwnd);
  EXPECT_TRUE(IsWindowEnabled(page));
  DestroyWindow(page);
}

}  // namespace
}  // namespace container_test
