// OLE controls and property pages: the interfaces a container and a control speak (embedding,
// in-place activation, keyboard, persistence of initialisation bytes, property pages, connection
// points), with the Windows ids, slot orders and numbers, plus the few OLE helpers the hosting
// needs (the registered user type, ambient properties, HIMETRIC).
//
// Everything in a process is our own code on both ends, so a slot nobody calls answers E_NOTIMPL,
// and the enumerator and moniker types stay incomplete.
#pragma once

#include <string_view>

#include "platform/com/interfaces.h"
#include "platform/ui/types.h"
#include "platform/ui/windows.h"
#include "platform/win/messages.h"

struct IMoniker;
struct IDataObject;
struct IAdviseSink;
struct IEnumOLEVERB;
struct IEnumSTATDATA;
struct IOleContainer;
struct IEnumConnections;
struct IEnumConnectionPoints;
struct IConnectionPointContainer;
struct IOleInPlaceActiveObject;

using HACCEL = struct HACCEL__*;
using HOLEMENU = void*;

struct SIZEL {
  LONG cx;
  LONG cy;
};
using LPSIZEL = SIZEL*;
struct POINTL {
  LONG x;
  LONG y;
};
struct POINTF {
  float x;
  float y;
};
using BORDERWIDTHS = RECT;
using LPBORDERWIDTHS = RECT*;
using LPCBORDERWIDTHS = const RECT*;
struct OLEMENUGROUPWIDTHS {
  LONG width[6];
};
using LPOLEMENUGROUPWIDTHS = OLEMENUGROUPWIDTHS*;
struct OLEINPLACEFRAMEINFO {
  UINT cb;
  BOOL fMDIApp;
  HWND hwndFrame;
  HACCEL haccel;
  UINT cAccelEntries;
};
using LPOLEINPLACEFRAMEINFO = OLEINPLACEFRAMEINFO*;
struct LOGPALETTE;
struct CONTROLINFO {
  ULONG cb;
  HACCEL hAccel;
  USHORT cAccel;
  DWORD dwFlags;
};

// A counted array of GUIDs; pElems is task memory that the receiver frees with CoTaskMemFree.
struct CAUUID {
  ULONG cElems;
  GUID* pElems;
};

// What a property page tells its frame: the strings are task memory the frame frees; the size is
// in pixels.
struct PROPPAGEINFO {
  ULONG cb;
  LPOLESTR pszTitle;
  SIZE size;
  LPOLESTR pszDocString;
  LPOLESTR pszHelpFile;
  DWORD dwHelpContext;
};
using LPPROPPAGEINFO = PROPPAGEINFO*;

constexpr DWORD PROPPAGESTATUS_DIRTY = 0x1;
constexpr DWORD PROPPAGESTATUS_VALIDATE = 0x2;
constexpr DWORD PROPPAGESTATUS_CLEAN = 0x4;

constexpr LONG OLEIVERB_PRIMARY = 0;
constexpr LONG OLEIVERB_SHOW = -1;
constexpr LONG OLEIVERB_OPEN = -2;
constexpr LONG OLEIVERB_HIDE = -3;
constexpr LONG OLEIVERB_UIACTIVATE = -4;
constexpr LONG OLEIVERB_INPLACEACTIVATE = -5;
constexpr LONG OLEIVERB_DISCARDUNDOSTATE = -6;

constexpr DWORD OLECLOSE_SAVEIFDIRTY = 0;
constexpr DWORD OLECLOSE_NOSAVE = 1;
constexpr DWORD OLECLOSE_PROMPTSAVE = 2;

constexpr DWORD DVASPECT_CONTENT = 1;
constexpr DWORD DVASPECT_THUMBNAIL = 2;
constexpr DWORD DVASPECT_ICON = 4;
constexpr DWORD DVASPECT_DOCPRINT = 8;

constexpr DWORD USERCLASSTYPE_FULL = 1;
constexpr DWORD USERCLASSTYPE_SHORT = 2;
constexpr DWORD USERCLASSTYPE_APPNAME = 3;

constexpr DWORD OLEMISC_RECOMPOSEONRESIZE = 0x1;
constexpr DWORD OLEMISC_ONLYICONIC = 0x2;
constexpr DWORD OLEMISC_INSERTNOTREPLACE = 0x4;
constexpr DWORD OLEMISC_STATIC = 0x8;
constexpr DWORD OLEMISC_CANTLINKINSIDE = 0x10;
constexpr DWORD OLEMISC_CANLINKBYOLE1 = 0x20;
constexpr DWORD OLEMISC_ISLINKOBJECT = 0x40;
constexpr DWORD OLEMISC_INSIDEOUT = 0x80;
constexpr DWORD OLEMISC_ACTIVATEWHENVISIBLE = 0x100;
constexpr DWORD OLEMISC_RENDERINGISDEVICEINDEPENDENT = 0x200;
constexpr DWORD OLEMISC_INVISIBLEATRUNTIME = 0x400;
constexpr DWORD OLEMISC_ALWAYSRUN = 0x800;
constexpr DWORD OLEMISC_ACTSLIKEBUTTON = 0x1000;
constexpr DWORD OLEMISC_ACTSLIKELABEL = 0x2000;
constexpr DWORD OLEMISC_NOUIACTIVATE = 0x4000;
constexpr DWORD OLEMISC_ALIGNABLE = 0x8000;
constexpr DWORD OLEMISC_SIMPLEFRAME = 0x10000;
constexpr DWORD OLEMISC_SETCLIENTSITEFIRST = 0x20000;

// The modifier bits of IOleControlSite::TranslateAccelerator.
constexpr DWORD KEYMOD_SHIFT = 0x1;
constexpr DWORD KEYMOD_CONTROL = 0x2;
constexpr DWORD KEYMOD_ALT = 0x4;

constexpr DISPID DISPID_AMBIENT_BACKCOLOR = -701;
constexpr DISPID DISPID_AMBIENT_DISPLAYNAME = -702;
constexpr DISPID DISPID_AMBIENT_FONT = -703;
constexpr DISPID DISPID_AMBIENT_FORECOLOR = -704;
constexpr DISPID DISPID_AMBIENT_LOCALEID = -705;
constexpr DISPID DISPID_AMBIENT_USERMODE = -709;


// ---- Embedding and in-place activation -----------------------------------------------------

struct IOleWindow : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("00000114-0000-0000-C000-000000000046");
  using Base = IUnknown;
  virtual HRESULT GetWindow(HWND* phwnd) = 0;
  virtual HRESULT ContextSensitiveHelp(BOOL fEnterMode) = 0;
};
inline constexpr IID IID_IOleWindow = IOleWindow::iid;

struct IOleInPlaceUIWindow : IOleWindow {
  static constexpr IID iid = vkr::MakeGuid("00000115-0000-0000-C000-000000000046");
  using Base = IOleWindow;
  virtual HRESULT GetBorder(LPRECT lprectBorder) = 0;
  virtual HRESULT RequestBorderSpace(LPCBORDERWIDTHS pborderwidths) = 0;
  virtual HRESULT SetBorderSpace(LPCBORDERWIDTHS pborderwidths) = 0;
  virtual HRESULT SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR pszObjName) = 0;
};
inline constexpr IID IID_IOleInPlaceUIWindow = IOleInPlaceUIWindow::iid;

struct IOleInPlaceActiveObject : IOleWindow {
  static constexpr IID iid = vkr::MakeGuid("00000117-0000-0000-C000-000000000046");
  using Base = IOleWindow;
  // S_OK when the control took the keystroke, S_FALSE when the container is to handle it.
  virtual HRESULT TranslateAccelerator(LPMSG lpmsg) = 0;
  virtual HRESULT OnFrameWindowActivate(BOOL fActivate) = 0;
  virtual HRESULT OnDocWindowActivate(BOOL fActivate) = 0;
  virtual HRESULT ResizeBorder(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow, BOOL fFrameWindow) = 0;
  virtual HRESULT EnableModeless(BOOL fEnable) = 0;
};
inline constexpr IID IID_IOleInPlaceActiveObject = IOleInPlaceActiveObject::iid;

struct IOleInPlaceFrame : IOleInPlaceUIWindow {
  static constexpr IID iid = vkr::MakeGuid("00000116-0000-0000-C000-000000000046");
  using Base = IOleInPlaceUIWindow;
  virtual HRESULT InsertMenus(HMENU hmenuShared, LPOLEMENUGROUPWIDTHS lpMenuWidths) = 0;
  virtual HRESULT SetMenu(HMENU hmenuShared, HOLEMENU holemenu, HWND hwndActiveObject) = 0;
  virtual HRESULT RemoveMenus(HMENU hmenuShared) = 0;
  virtual HRESULT SetStatusText(LPCOLESTR pszStatusText) = 0;
  virtual HRESULT EnableModeless(BOOL fEnable) = 0;
  virtual HRESULT TranslateAccelerator(LPMSG lpmsg, WORD wID) = 0;
};
inline constexpr IID IID_IOleInPlaceFrame = IOleInPlaceFrame::iid;

struct IOleInPlaceObject : IOleWindow {
  static constexpr IID iid = vkr::MakeGuid("00000113-0000-0000-C000-000000000046");
  using Base = IOleWindow;
  virtual HRESULT InPlaceDeactivate() = 0;
  virtual HRESULT UIDeactivate() = 0;
  virtual HRESULT SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) = 0;
  virtual HRESULT ReactivateAndUndo() = 0;
};
inline constexpr IID IID_IOleInPlaceObject = IOleInPlaceObject::iid;

struct IOleClientSite : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("00000118-0000-0000-C000-000000000046");
  using Base = IUnknown;
  virtual HRESULT SaveObject() = 0;
  virtual HRESULT GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
  virtual HRESULT GetContainer(IOleContainer** ppContainer) = 0;
  virtual HRESULT ShowObject() = 0;
  virtual HRESULT OnShowWindow(BOOL fShow) = 0;
  virtual HRESULT RequestNewObjectLayout() = 0;
};
inline constexpr IID IID_IOleClientSite = IOleClientSite::iid;

struct IOleInPlaceSite : IOleWindow {
  static constexpr IID iid = vkr::MakeGuid("00000119-0000-0000-C000-000000000046");
  using Base = IOleWindow;
  virtual HRESULT CanInPlaceActivate() = 0;
  virtual HRESULT OnInPlaceActivate() = 0;
  virtual HRESULT OnUIActivate() = 0;
  virtual HRESULT GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                   LPRECT lprcClipRect, LPOLEINPLACEFRAMEINFO lpFrameInfo) = 0;
  virtual HRESULT Scroll(SIZE scrollExtant) = 0;
  virtual HRESULT OnUIDeactivate(BOOL fUndoable) = 0;
  virtual HRESULT OnInPlaceDeactivate() = 0;
  virtual HRESULT DiscardUndoState() = 0;
  virtual HRESULT DeactivateAndUndo() = 0;
  virtual HRESULT OnPosRectChange(LPCRECT lprcPosRect) = 0;
};
inline constexpr IID IID_IOleInPlaceSite = IOleInPlaceSite::iid;

struct IOleObject : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("00000112-0000-0000-C000-000000000046");
  using Base = IUnknown;
  virtual HRESULT SetClientSite(IOleClientSite* pClientSite) = 0;
  virtual HRESULT GetClientSite(IOleClientSite** ppClientSite) = 0;
  virtual HRESULT SetHostNames(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) = 0;
  virtual HRESULT Close(DWORD dwSaveOption) = 0;
  virtual HRESULT SetMoniker(DWORD dwWhichMoniker, IMoniker* pmk) = 0;
  virtual HRESULT GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
  virtual HRESULT InitFromData(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) = 0;
  virtual HRESULT GetClipboardData(DWORD dwReserved, IDataObject** ppDataObject) = 0;
  virtual HRESULT DoVerb(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
                         LPCRECT lprcPosRect) = 0;
  virtual HRESULT EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) = 0;
  virtual HRESULT Update() = 0;
  virtual HRESULT IsUpToDate() = 0;
  virtual HRESULT GetUserClassID(CLSID* pClsid) = 0;
  virtual HRESULT GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) = 0;
  // Extents are HIMETRIC (0.01 mm).
  virtual HRESULT SetExtent(DWORD dwDrawAspect, SIZEL* psizel) = 0;
  virtual HRESULT GetExtent(DWORD dwDrawAspect, SIZEL* psizel) = 0;
  virtual HRESULT Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) = 0;
  virtual HRESULT Unadvise(DWORD dwConnection) = 0;
  virtual HRESULT EnumAdvise(IEnumSTATDATA** ppenumAdvise) = 0;
  virtual HRESULT GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) = 0;
  virtual HRESULT SetColorScheme(LOGPALETTE* pLogpal) = 0;
};
inline constexpr IID IID_IOleObject = IOleObject::iid;

// ---- Controls ------------------------------------------------------------------------------

struct IOleControl : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("B196B288-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT GetControlInfo(CONTROLINFO* pCI) = 0;
  virtual HRESULT OnMnemonic(MSG* pMsg) = 0;
  virtual HRESULT OnAmbientPropertyChange(DISPID dispID) = 0;
  virtual HRESULT FreezeEvents(BOOL bFreeze) = 0;
};
inline constexpr IID IID_IOleControl = IOleControl::iid;

struct IOleControlSite : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("B196B289-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT OnControlInfoChanged() = 0;
  virtual HRESULT LockInPlaceActive(BOOL fLock) = 0;
  virtual HRESULT GetExtendedControl(IDispatch** ppDisp) = 0;
  virtual HRESULT TransformCoords(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) = 0;
  // grfModifiers: KEYMOD_SHIFT | KEYMOD_CONTROL | KEYMOD_ALT. S_OK when the container took it.
  virtual HRESULT TranslateAccelerator(MSG* pMsg, DWORD grfModifiers) = 0;
  virtual HRESULT OnFocus(BOOL fGotFocus) = 0;
  virtual HRESULT ShowPropertyFrame() = 0;
};
inline constexpr IID IID_IOleControlSite = IOleControlSite::iid;

// ---- Property pages ------------------------------------------------------------------------

struct IPropertyPageSite : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("B196B28C-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT OnStatusChange(DWORD dwFlags) = 0;
  virtual HRESULT GetLocaleID(LCID* pLocaleID) = 0;
  virtual HRESULT GetPageContainer(IUnknown** ppUnk) = 0;
  virtual HRESULT TranslateAccelerator(MSG* pMsg) = 0;
};
inline constexpr IID IID_IPropertyPageSite = IPropertyPageSite::iid;

struct IPropertyPage : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("B196B28D-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT SetPageSite(IPropertyPageSite* pPageSite) = 0;
  virtual HRESULT Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) = 0;
  virtual HRESULT Deactivate() = 0;
  virtual HRESULT GetPageInfo(PROPPAGEINFO* pPageInfo) = 0;
  virtual HRESULT SetObjects(ULONG cObjects, IUnknown** ppUnk) = 0;
  virtual HRESULT Show(UINT nCmdShow) = 0;
  virtual HRESULT Move(LPCRECT pRect) = 0;
  virtual HRESULT IsPageDirty() = 0;
  virtual HRESULT Apply() = 0;
  virtual HRESULT Help(LPCOLESTR pszHelpDir) = 0;
  virtual HRESULT TranslateAccelerator(MSG* pMsg) = 0;
};
inline constexpr IID IID_IPropertyPage = IPropertyPage::iid;

struct ISpecifyPropertyPages : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("B196B28B-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  // The caller frees pPages->pElems with CoTaskMemFree.
  virtual HRESULT GetPages(CAUUID* pPages) = 0;
};
inline constexpr IID IID_ISpecifyPropertyPages = ISpecifyPropertyPages::iid;

// ---- Connection points ---------------------------------------------------------------------

struct IConnectionPoint : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("B196B286-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
  // The cookie is never 0 and names the sink until Unadvise (CONNECT_E_NOCONNECTION for an unknown one).
  virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  virtual HRESULT Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;
};
inline constexpr IID IID_IConnectionPoint = IConnectionPoint::iid;

struct IConnectionPointContainer : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("B196B284-BAB4-101A-B69C-00AA00341D07");
  using Base = IUnknown;
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
  // CONNECT_E_NOCONNECTION when the object has no point for riid.
  virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};
inline constexpr IID IID_IConnectionPointContainer = IConnectionPointContainer::iid;

// ---- Helpers -------------------------------------------------------------------------------

// The user-type name of a class from HKCR\CLSID\{clsid}: its default value (USERCLASSTYPE_FULL),
// or AuxUserType\2 / \3 for the short and application names, falling back to the full name.
// *pszUserType is task memory. REGDB_E_CLASSNOTREG without the key, REGDB_E_READREGDB without a
// name.
VKR_API HRESULT OleRegGetUserType(REFCLSID clsid, DWORD dwFormOfType, LPOLESTR* pszUserType);

// Connects a sink to an object's connection point for iid (AtlAdvise / AtlUnadvise).
VKR_API HRESULT AtlAdvise(IUnknown* pUnkCP, IUnknown* pUnk, REFIID iid, LPDWORD pdw);
VKR_API HRESULT AtlUnadvise(IUnknown* pUnkCP, REFIID iid, DWORD dw);

namespace vkr {
// HIMETRIC (0.01 mm) and pixels at 96 pixels per inch, rounded to the nearest.
constexpr LONG kHimetricPerInch = 2540;
constexpr LONG kPixelsPerInch = 96;
constexpr LONG PixelsToHimetric(LONG px) {
  const long long v = static_cast<long long>(px) * kHimetricPerInch;
  return static_cast<LONG>((v >= 0 ? v + kPixelsPerInch / 2 : v - kPixelsPerInch / 2) / kPixelsPerInch);
}
constexpr LONG HimetricToPixels(LONG hm) {
  const long long v = static_cast<long long>(hm) * kPixelsPerInch;
  return static_cast<LONG>((v >= 0 ? v + kHimetricPerInch / 2 : v - kHimetricPerInch / 2) / kHimetricPerInch);
}
inline SIZEL PixelsToHimetric(SIZE px) { return {PixelsToHimetric(px.cx), PixelsToHimetric(px.cy)}; }
inline SIZE HimetricToPixels(SIZEL hm) { return {HimetricToPixels(hm.cx), HimetricToPixels(hm.cy)}; }

// Reads an ambient property through the site's IDispatch (a property get of `id`): S_OK with the
// value, or the failure (E_NOINTERFACE when the site has no IDispatch).
VKR_API HRESULT GetAmbientProperty(IUnknown* site, DISPID id, VARIANT* value);
// The ambient user mode (true when the site does not say) and back colour (`fallback` when it
// does not say; an OLE_COLOR system colour is given as is).
VKR_API bool AmbientUserMode(IUnknown* site);
VKR_API COLORREF AmbientBackColor(IUnknown* site, COLORREF fallback);

// Fills a CAUUID with a task-memory copy of the ids (ISpecifyPropertyPages::GetPages); an empty
// list gives {0, null}. E_POINTER for a null out, E_OUTOFMEMORY (out emptied) when the copy fails.
VKR_API HRESULT MakeCAUUID(const GUID* ids, ULONG count, CAUUID* out);

// A text copied into task memory (null when out of memory), for PROPPAGEINFO and user types.
VKR_API LPOLESTR CoTaskMemString(std::u16string_view text);
}  // namespace vkr
