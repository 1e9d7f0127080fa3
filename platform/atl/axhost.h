// The control host window (the counterpart of ATL's "AtlAxWin"): a child window that holds one
// OLE control and is its container's side. The window's object is the control's client site,
// in-place site and control site, and answers the ambient properties (user mode, back colour)
// through its IDispatch.
//
//   - WM_ATLGETHOST answers the host's IUnknown and WM_ATLGETCONTROL the control's (neither
//     AddRef'd), so GetDlgControl(dialog, id, iid) reaches a hosted dialog item's control;
//   - WM_FORWARDMSG (lParam a MSG*) goes to the control's IOleInPlaceActiveObject::
//     TranslateAccelerator; the answer is 1 when that took the message, else 0;
//   - WM_SIZE moves the control (SetObjectRects and the HIMETRIC extent);
//   - WM_SETFOCUS gives the focus to the control's window;
//   - WM_DESTROY deactivates the control, takes the site away and closes it; the host lets go
//     of the control when its window is gone.
//
// AtlAxWinInit registers the class and installs the dialog engine's creator of hosted items, so
// that a dialog template's items given by CLSID or ProgID (with their initialisation bytes) are
// made as host windows with their controls.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/ole.h"

// The host window's class name.
inline constexpr const char16_t* kAtlAxWinClassName = u"AtlAxWin";

// The registered numbers of the two host messages (0 before AtlAxWinInit).
VKR_API UINT AtlGetHostMessage();
VKR_API UINT AtlGetControlMessage();

// Registers the host window class (once per process) and installs the hosted-item creator.
VKR_API BOOL AtlAxWinInit();

// The host object or the control of a host window (AddRef'd); E_FAIL for another window.
VKR_API HRESULT AtlAxGetHost(HWND hwnd, IUnknown** host);
VKR_API HRESULT AtlAxGetControl(HWND hwnd, IUnknown** control);

// The interface iid of the control hosted by dialog item `id`: E_FAIL without such an item or
// when it hosts no control, else the control's QueryInterface.
VKR_API HRESULT GetDlgControl(HWND dialog, int id, REFIID iid, void** ppv);

namespace vkr::atl {

// Makes a host window (child of `parent`, with the id, style and rectangle given) and the control
// of `classText` in it: a "{CLSID}" or a ProgID. The control is created in process, given the
// host as its client site before anything else when its misc status asks for that (else after
// initialisation), initialised from `initData` (IPersistStreamInit::Load over a stream of those
// bytes; InitNew when there are none) and activated in place. On failure nothing is left and the
// error is returned (REGDB_E_CLASSNOTREG for an unknown class). *control is AddRef'd.
VKR_API HRESULT CreateHostedControl(HWND parent, std::u16string_view classText, int id, DWORD style,
                                    DWORD exStyle, const RECT& rect, const std::vector<BYTE>& initData,
                                    HWND* host, IUnknown** control);

// The same for a class id, as the frame opens a user interface: the host fills `parent`'s client
// area when rect is null.
VKR_API HRESULT CreateHostedControl(HWND parent, REFCLSID clsid, int id, DWORD style, const RECT* rect,
                                    const std::vector<BYTE>& initData, HWND* host, IUnknown** control);

// The ambient properties a host answers, and what it does with an accelerator the control gives
// back to it (IOleControlSite::TranslateAccelerator; S_FALSE when unset). Per host window.
struct HostSettings {
  bool userMode = true;
  COLORREF backColor = RGB(0xF0, 0xF0, 0xF0);
  std::function<HRESULT(MSG* msg, DWORD modifiers)> onAccelerator;
};
VKR_API bool SetHostSettings(HWND host, const HostSettings& settings);

// What a host saw: "OnInPlaceActivate", "OnUIActivate", "TranslateAccelerator 256 9 mods 2",
// "OnInPlaceDeactivate", ... For tests; empty for another window.
VKR_API std::vector<std::string> HostRecord(HWND host);

// The pixels of a HIMETRIC extent and back (96 DPI), for the bases.
inline SIZE ExtentToPixels(const SIZEL& e) { return HimetricToPixels(e); }

}  // namespace vkr::atl
