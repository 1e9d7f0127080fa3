// The controls' painter (internal): what the controls' WM_PAINT and WM_DRAWITEM use.
#pragma once

#include "platform/ui/types.h"

namespace vkr::ui::detail {

// Draws a standard control (by its class) into dc; false for a window of another class.
bool PaintControl(HWND hwnd, HDC dc);
// WM_PAINT of a standard control: BeginPaint, PaintControl, EndPaint.
bool PaintControlWindow(HWND hwnd);
// An owner-drawn item's DC made ready: the item's font, the colours its parent gives
// (WM_CTLCOLORBTN).
void PrepareItemDc(HWND hwnd, HDC dc);

}  // namespace vkr::ui::detail
