// A small user interface on the framework base for tests: a dialog (template text below) whose
// parameter map covers every control kind and display format the base serves, hosted in a
// top-level window, with the base's protected state in reach and its error texts and status
// notifications recorded.
//
//   vkr::test::TestUserInterfaceHost host;           // the window and the dialog, shown
//   host.Ui()->InitializeUI(dtm, &ok);                // reads every entry through the DTM
//   vkr::ui::TypeText(host.Item(kTestDampingEdit), "2.5"); ...
//
// The parameter ids are those of the VKR device table, so the dialog runs against the real DTM (its
// date and double entries name ids the table lacks); the fake DTM (tests/support/fake_ui_dtm.h)
// serves all of them. Free of GoogleTest.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "ui/framework/BaseActiveX.h"

namespace vkr::test {

// Parameter ids of the test dialog.
inline constexpr LONG kTestDampingId = 1022;        // R4, edit "%.2f", unit text beside it
inline constexpr LONG kTestUpperRangeId = 1026;     // R4, edit "%.3f"
inline constexpr LONG kTestTagId = 1054;            // BSTR, edit "%s"
inline constexpr LONG kTestMessageId = 1009;        // ARRAY UI1, edit of hex bytes
inline constexpr LONG kTestShortAddressId = 121;    // UI1, edit "%d"
inline constexpr LONG kTestPvUnitId = 1024;         // UI1 enumeration: combo box, and a static showing its text
inline constexpr LONG kTestDeviceStatusId = 1001;   // UI1 bit set: multiple-selection list box
inline constexpr LONG kTestAddressingId = 120;      // BOOL, auto check box
inline constexpr LONG kTestPrimaryMasterId = 127;   // UI1, owner-drawn button with the check-box look
inline constexpr LONG kTestLoopCurrentId = 1110;    // UI1, owner-drawn button with the radio look
inline constexpr LONG kTestCurrentValueId = 1048;   // R4, static "%.3f", read cyclically (1000 ms)
inline constexpr LONG kTestDateId = 2001;           // DATE, edit (fake DTMs only)
inline constexpr LONG kTestDistanceId = 2002;       // R8, edit "%.1f" (fake DTMs only)
inline constexpr LONG kTestRefreshButtonId = 1041;  // command entry on a push button
inline constexpr LONG kTestActivateSendId = 1045;   // command entry without a control

// Control ids of the test dialog.
inline constexpr UINT kTestDampingEdit = 300;
inline constexpr UINT kTestUpperRangeEdit = 301;
inline constexpr UINT kTestTagEdit = 302;
inline constexpr UINT kTestMessageEdit = 303;
inline constexpr UINT kTestShortAddressEdit = 304;
inline constexpr UINT kTestPvUnitCombo = 305;
inline constexpr UINT kTestDeviceStatusList = 306;
inline constexpr UINT kTestAddressingCheck = 307;
inline constexpr UINT kTestPrimaryMasterButton = 308;
inline constexpr UINT kTestLoopCurrentButton = 309;
inline constexpr UINT kTestDateEdit = 310;
inline constexpr UINT kTestPvUnitText = 311;
inline constexpr UINT kTestDistanceEdit = 312;
inline constexpr UINT kTestRefreshButton = 313;
inline constexpr UINT kTestCurrentValueText = 314;
inline constexpr UINT kTestDampingUnit = 500;       // display text (unit) of the damping
inline constexpr UINT kTestDampingLabel = 400;      // label shown and hidden with the damping
inline constexpr UINT kTestApplyButton = 102;

// Entry indices of the test dialog's table, in table order.
enum TestEntry : LONG {
  kEntryDamping,
  kEntryUpperRange,
  kEntryTag,
  kEntryMessage,
  kEntryShortAddress,
  kEntryPvUnit,
  kEntryPvUnitText,
  kEntryDeviceStatus,
  kEntryAddressing,
  kEntryPrimaryMaster,
  kEntryLoopCurrent,
  kEntryCurrentValue,
  kEntryDate,
  kEntryDistance,
  kEntryRefreshButton,
  kEntryActivateSend,
  kTestEntryCount
};

class CTestUserInterface : public CovFDT_BaseActiveXImpl {
 public:
  static constexpr WORD IDD = 9001;
  static const CLSID kClassId;

  explicit CTestUserInterface(EUiFamily family = EUiFamily::Page,
                              ParameterMapFunction map = &CTestUserInterface::GetParameterMap);
  ~CTestUserInterface() override;

  // The class's parameter map, as every user-interface class hands it out.
  static CActXParInfo* GetParameterMap(int* count, BOOL copy);
  // The dialog template text.
  static const char* DialogTemplateText();

  // Makes the dialog as a child of parent (visible); its messages go to the base's message map.
  HWND CreateDialogWindow(HWND parent);
  void DestroyDialogWindow();

  // Recorded: error texts (ReportError answers S_OK), status notifications, apply-button changes.
  std::vector<std::u16string> errors;
  std::vector<std::pair<ULONG, ULONG>> statuses;
  std::vector<BOOL> applyButtonChanges;
  HRESULT ReportError(BSTR text) override;
  HRESULT NotifyStatus(ULONG kind, ULONG value) override;
  HRESULT EnableApplyButton(BOOL enable) override;

  // The function call the user interface was opened with: answered as information item 1, as a
  // control opened by a frame answers it (nothing set: the base's answer).
  std::u16string functionCall;
  HRESULT SetInfo(VARIANT id, VARIANT* value) override;

  // The base's state, for tests to read and set.
  using CovFDT_BaseActiveXImpl::m_bAccessGranted;
  using CovFDT_BaseActiveXImpl::m_bBusy;
  using CovFDT_BaseActiveXImpl::m_bDataSetLocked;
  using CovFDT_BaseActiveXImpl::m_bDirty;
  using CovFDT_BaseActiveXImpl::m_bDisplayOption;
  using CovFDT_BaseActiveXImpl::m_bIndicatorsPending;
  using CovFDT_BaseActiveXImpl::m_bObserver;
  using CovFDT_BaseActiveXImpl::m_bOnline;
  using CovFDT_BaseActiveXImpl::m_bPageHidden;
  using CovFDT_BaseActiveXImpl::m_bstrSystemTag;
  using CovFDT_BaseActiveXImpl::m_bstrTranslationPath;
  using CovFDT_BaseActiveXImpl::m_bUpdatingControls;
  using CovFDT_BaseActiveXImpl::m_nAccessMode;
  using CovFDT_BaseActiveXImpl::m_nDialogType;
  using CovFDT_BaseActiveXImpl::m_nDtmState;
  using CovFDT_BaseActiveXImpl::m_nFocusedEntryState;
  using CovFDT_BaseActiveXImpl::m_nLanguage;
  using CovFDT_BaseActiveXImpl::m_nStatusSubscription;
  using CovFDT_BaseActiveXImpl::m_nUserLevel;
  using CovFDT_BaseActiveXImpl::m_spDtm;
  using CovFDT_BaseActiveXImpl::m_spPageSite;
  using CovFDT_BaseActiveXImpl::m_vFocusSnapshot;

  CActXParInfo& Entry(LONG index) { return m_pParInfo[index]; }

 private:
  static INT_PTR DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};

// A top-level window holding one test user interface with its dialog made and shown. The
// destructor uninitialises the user interface when it was initialised, destroys the windows and
// drops the host's reference.
class TestUserInterfaceHost {
 public:
  explicit TestUserInterfaceHost(EUiFamily family = EUiFamily::Page,
                                 ParameterMapFunction map = &CTestUserInterface::GetParameterMap, int width = 640,
                                 int height = 480);
  // Hosts a user interface made elsewhere (a test's subclass); the host holds a reference.
  explicit TestUserInterfaceHost(CTestUserInterface* ui, int width = 640, int height = 480);
  ~TestUserInterfaceHost();
  TestUserInterfaceHost(const TestUserInterfaceHost&) = delete;
  TestUserInterfaceHost& operator=(const TestUserInterfaceHost&) = delete;

  CTestUserInterface* Ui() const { return m_ui; }
  HWND Window() const { return m_window; }
  HWND Dialog() const { return m_ui ? m_ui->DialogWindow() : nullptr; }
  HWND Item(UINT controlId) const { return GetDlgItem(Dialog(), static_cast<int>(controlId)); }
  // The text of a dialog item (UTF-8).
  std::string Text(UINT controlId) const;

  // InitializeUI with the DTM; the host uninitialises it at the end.
  HRESULT Open(IUnknown* dtm);

 private:
  void MakeWindow(int width, int height);

  HWND m_window = nullptr;
  CTestUserInterface* m_ui = nullptr;
  vkr::ComPtr<IUnknown> m_hold;
  bool m_opened = false;
};

}  // namespace vkr::test
