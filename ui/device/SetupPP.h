// CSetupPP: the property page "Setup" ("Setup device"), a small page with edits for the upper and
// lower range value and the damping. Its parameter table is empty, so the base binds none of its
// edits; the page's own code refreshes command 15 and decodes the answers of commands 1, 2 and 15
// into DTM parameters as the Process / Output page does. Its Send does nothing. No frame of the
// system lists the page.
//
// With an empty table the DTM's values would never reach the page: the ids its own code acts on
// (the answers of commands 1, 2 and 15, the range unit, the PV unit and the frame's buttons) are
// taken from the DTM's notifications although the table holds none of them, and the decoded range
// values and damping are shown in the page's three edits.
#pragma once

#include "platform/platform.h"
#include "ui/device/DevicePage.h"

namespace vkr::dui {

// The page's default interface: a dispatch interface without methods of its own.
struct ISetupPP : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("6F0D2C31-84B7-4E52-9A1D-3C5E7B9F1A40");
  using Base = IDispatch;
};

inline constexpr UINT kSetupDialogId = 142;
inline constexpr UINT kSetupUpperRangeEdit = 529;
inline constexpr UINT kSetupLowerRangeEdit = 530;
inline constexpr UINT kSetupDampingEdit = 531;
inline constexpr UINT kSetupUpperUnitText = 384;  // the range unit beside 529 and 530
inline constexpr UINT kSetupLowerUnitText = 386;
inline constexpr UINT kSetupTitleId = 135;
inline constexpr UINT kSetupHelpFileId = 136;
inline constexpr UINT kSetupDocStringId = 137;

class CSetupPP : public CDevicePropertyPage, public ISetupPP {
 public:
  CSetupPP();
  ~CSetupPP() override;
  CSetupPP(const CSetupPP&) = delete;
  CSetupPP& operator=(const CSetupPP&) = delete;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // The page makes no use of the display control: construction and release do nothing.
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

  // One IUnknown and IDispatch for every base.
  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CDevicePropertyPage::QueryInterface;
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override;

  // ---- IovFdtActiveX4 operations the page replaces ----
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  // S_OK; the page has no values of its own to give (the VARIANT comes back empty).
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  // The DTM's notifications of the ids the page's own code handles reach it without table entries.
  HRESULT OnParameterRefreshEvent(VARIANT event) override;
  HRESULT OnRefreshAllEvent(VARIANT event) override;
  HRESULT OnParameterChangedEvent(VARIANT event) override;

  using CDevicePropertyPage::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // Command 15 read again while online.
  HRESULT OnRefresh();

  USHORT CurrentPvUnit() const { return m_nPvUnit; }
  BYTE RangeUnit() const { return m_nRangeUnit; }
  bool IsShown() const { return m_bShown != 0; }

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  // Hands a notification of an id the page handles to SetControlValueById; false for other ids.
  bool TakeOwnNotification(const VARIANT& event, HRESULT* result);

  USHORT m_nPvUnit = 0xFFFF;
  BYTE m_nRangeUnit = 0;
  BYTE m_bFirstShow = 1;
  BYTE m_bShown = 0;
};

}  // namespace vkr::dui
