// The status lamp: the control's face, green while the board is connected and grey otherwise,
// with "HID" in blue across it.
#pragma once

#include <windows.h>

namespace control {

inline constexpr COLORREF kLampConnected = 0x0000FF00;
inline constexpr COLORREF kLampNotConnected = 0x00808080;
inline constexpr COLORREF kLampText = 0x00FF0000;
inline constexpr wchar_t kLampFace[] = L"Arial Narrow";
inline constexpr wchar_t kLampLabel[] = L"HID";

// Paints the lamp over `bounds` of `target` (double-buffered) and copies `bounds` into *kept.
// The memory bitmap is made compatible with a paint on `window`, or with the screen when the
// control has no window. Draws nothing when `target` is null.
void DrawStatusLamp(HWND window, HDC target, const RECT& bounds, BYTE connected, RECT* kept);

}  // namespace control
