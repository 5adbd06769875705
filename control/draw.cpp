// OnDraw: the status lamp, painted into a memory bitmap and copied to the target in one block.
#include "control/draw.h"

#include "control/qel_vantorix_ctrl.h"
#include "ole/raii.h"

namespace control {
namespace {

// The device context the memory objects are made compatible with: a paint on the control's own
// window, or the screen for a control that has no window yet (a container asking for a picture
// before it activates the control). Released when the drawing returns.
class ReferenceDC {
 public:
  explicit ReferenceDC(HWND window) : window_(window) {
    hdc_ = window_ ? BeginPaint(window_, &paint_) : GetDC(nullptr);
  }
  ~ReferenceDC() {
    if (window_) {
      EndPaint(window_, &paint_);
    } else if (hdc_) {
      ReleaseDC(nullptr, hdc_);
    }
  }
  ReferenceDC(const ReferenceDC&) = delete;
  ReferenceDC& operator=(const ReferenceDC&) = delete;
  HDC get() const { return hdc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_ = {};
  HDC hdc_ = nullptr;
};

}  // namespace

void DrawStatusLamp(HWND window, HDC target, const RECT& bounds, BYTE connected, RECT* kept) {
  if (!target) return;
  *kept = bounds;
  const RECT& rc = *kept;

  ReferenceDC reference(window);
  // From the origin to the bounds' bottom-right corner, so that the copy below lands the bounds
  // at their own coordinates. Held before the memory DC, which still holds the bitmap and lets
  // go of it as it goes first.
  ole::GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(reference.get(), rc.right, rc.bottom));
  ole::MemoryDC memory(CreateCompatibleDC(reference.get()));
  SelectObject(memory.Get(), bitmap.Get());
  // The block copy below covers more than the bounds when they do not start at the origin: the
  // target's own pixels go into the bitmap first so that only the bounds change. A target that
  // cannot be read back (a metafile, some printers) gets the bounds alone instead.
  const bool whole_block = GetObjectType(target) != OBJ_ENHMETADC &&
                           GetObjectType(target) != OBJ_METADC &&
                           BitBlt(memory.Get(), 0, 0, rc.right, rc.bottom, target, 0, 0, SRCCOPY);

  {
    ole::GdiObject<HBRUSH> brush(
        CreateSolidBrush(connected == 1 ? kLampConnected : kLampNotConnected));
    FillRect(memory.Get(), &rc, brush.Get());
  }

  SetBkMode(memory.Get(), TRANSPARENT);
  {
    // Layout inside the bounds inset by one pixel; integer division truncates toward zero.
    const int width = bounds.right - bounds.left - 2;
    const int height = bounds.bottom - bounds.top - 2;
    ole::GdiObject<HFONT> font(CreateFontW(
        height, width / 5, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kLampFace));
    ole::SelectedObject selected_font(memory.Get(), font.Get());
    SetTextColor(memory.Get(), kLampText);
    SIZE extent = {0, 0};
    GetTextExtentPoint32W(memory.Get(), kLampLabel, 3, &extent);
    TextOutW(memory.Get(), bounds.left + 1 + (width - extent.cx) / 2,
             bounds.top + 1 + (height - extent.cy) / 2, kLampLabel, 3);
  }
  SetBkMode(memory.Get(), OPAQUE);

  if (whole_block) {
    BitBlt(target, 0, 0, rc.right, rc.bottom, memory.Get(), 0, 0, SRCCOPY);
  } else {
    BitBlt(target, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, memory.Get(), rc.left,
           rc.top, SRCCOPY);
  }
}

}  // namespace control

void CQelVantorixActiveXCtrl::OnDraw(HDC hdc, const RECT& rcBounds, const RECT&) {
  control::DrawStatusLamp(GetSafeHwnd(), hdc, rcBounds, m_bConnected, &m_rcBounds);
}
