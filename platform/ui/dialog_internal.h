// What the dialog files share inside the platform: each dialog's own state and the constants of
// the controls the dialog manager talks to.
#pragma once

#include <memory>
#include <vector>

#include "platform/ui/dialogs.h"

namespace vkr::ui::internal {

// The messages and styles of the standard controls, by their Windows numbers (the controls'
// public names live in controls.h).
constexpr UINT kBmGetCheck = 0x00F0;
constexpr UINT kBmSetCheck = 0x00F1;
constexpr UINT kBmSetStyle = 0x00F4;
constexpr UINT kBmClick = 0x00F5;
constexpr UINT kEmSetSel = 0x00B1;
constexpr UINT kStmSetImage = 0x0172;
constexpr WPARAM kImageBitmap = 0;
constexpr WPARAM kImageIcon = 1;
constexpr DWORD kButtonTypeMask = 0x0F;
constexpr DWORD kBsPushButton = 0x00;
constexpr DWORD kBsDefPushButton = 0x01;
constexpr DWORD kBsGroupBox = 0x07;
constexpr DWORD kBsAutoRadioButton = 0x09;
constexpr DWORD kStaticTypeMask = 0x1F;
constexpr DWORD kSsIcon = 0x03;
constexpr DWORD kSsBitmap = 0x0E;
constexpr DWORD kSsNoPrefix = 0x80;
constexpr WORD kBnClicked = 0;

struct DialogState {
  HINSTANCE instance = nullptr;
  bool modal = false;
  bool ended = false;
  INT_PTR result = 0;
  WORD defaultId = 0;      // DM_SETDEFID / the template's first BS_DEFPUSHBUTTON; 0 = none
  HWND savedFocus = nullptr;  // the control that had the focus last, restored on WM_SETFOCUS
  HWND disabledOwner = nullptr;  // the owner the modal loop disabled, enabled again at the end
  HFONT font = nullptr;
  std::vector<HostedItemFailure> hostedFailures;
};

// The state of a dialog window (one made by CreateDialog*), or null.
std::shared_ptr<DialogState> StateOf(HWND dialog);
// Whether hwnd is a window of the dialog class.
bool IsDialogWindow(HWND hwnd);
// The window's top-level ancestor (itself when it is top-level); null for null.
HWND TopLevelOf(HWND hwnd);
// Moves the focus to `control` as the dialog manager does: selects an edit's whole text and moves
// the default-button look.
void DialogSetFocus(HWND dialog, HWND control);
// The dialog manager's filter-chain slot: IsDialogMessage for the outermost dialog holding the
// message's window.
BOOL DialogMessageHook(MSG* msg);

}  // namespace vkr::ui::internal
