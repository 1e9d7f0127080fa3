// The controls' painter (internal): what the controls' WM_PAINT and WM_DRAWITEM use.
#pragma once

#include "platform/ui/types.h"

namespace vkr::ui::detail {

// Draws a standard control (by its class) into dc; false for a window of another class.
bool PaintControl(HWND hwnd, HDC dc);
// WM_PAINT of a standard control: BeginPaint, PaintControl, EndPaint.
bool PaintControlWindow(HWND hwnd);
// The DC of an owner-drawn item: the item's client DC with the colours its parent gives
// (WM_CTLCOLORBTN).
HDC ItemDc(HWND hwnd);

}  // namespace vkr::ui::detail
