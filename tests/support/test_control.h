// A control of the tests' own on the control layer: the test dialog's parameter table in a dialog
// with OK, Cancel and Apply, registered as a COM class so that the frame's ActiveX host can make
// it by its class id. What it was told (status notifications, errors) is recorded.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "ui/framework/ActiveXControl.h"

namespace vkr::test {

inline constexpr CLSID CLSID_TestControl = vkr::MakeGuid("5D2E8B41-7A0C-4F93-B6E1-0C9D8A7B6F21");
inline constexpr UINT kTestControlDialogId = 9101;
// The class's user type in the registry (the help file's translation is found by it).
inline constexpr const char16_t* kTestControlUserType = u"Vorn Test Control";
// Items of the variant with display controls: two status displays, only the first listed as a
// hosted display control of the class.
inline constexpr UINT kTestListedDisplay = 218;
inline constexpr UINT kTestUnlistedDisplay = 219;

class CTestControl : public CovFDT_IDtmActiveXControlImpl {
 public:
  // withDisplays: the dialog also holds the two status displays (the outside controls must be
  // registered), and the class lists the first as its hosted display control.
  explicit CTestControl(bool withDisplays = false);
  ~CTestControl() override;

  // Live objects of the class, for tests that check every road out lets the control go.
  static int liveCount;

  // The dialog template text.
  static const char* DialogTemplateText();

  std::vector<std::u16string> errors;
  std::vector<std::pair<ULONG, ULONG>> statuses;
  HRESULT ReportError(BSTR text) override;
  HRESULT NotifyStatus(ULONG kind, ULONG value) override;

  // The layer's state, for tests to read.
  using CovFDT_BaseActiveXImpl::m_bDeviceChanged;
  using CovFDT_BaseActiveXImpl::m_bDtmChanged;
  using CovFDT_BaseActiveXImpl::m_nAccessMode;
  using CovFDT_BaseActiveXImpl::m_nDialogType;
  using CovFDT_BaseActiveXImpl::m_nDtmState;
  using CovFDT_BaseActiveXImpl::m_nStatusSubscription;
  using CovFDT_BaseActiveXImpl::m_spDtm;
  CActXParInfo& Entry(LONG index) { return m_pParInfo[index]; }
};

// Registers the test control's class for the calling thread's COM (CoRegisterClassObject), with
// its user type in the registry, and revokes it again.
HRESULT RegisterTestControl();
void RevokeTestControl();

// The test control behind a control's IUnknown, or null.
CTestControl* AsTestControl(IUnknown* control);

}  // namespace vkr::test
