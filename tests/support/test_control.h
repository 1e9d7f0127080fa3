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

class CTestControl : public CovFDT_IDtmActiveXControlImpl {
 public:
  CTestControl();
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
  using CovFDT_BaseActiveXImpl::m_spDtm;
  CActXParInfo& Entry(LONG index) { return m_pParInfo[index]; }
};

// Registers the test control's class for the calling thread's COM (CoRegisterClassObject) and
// revokes it again.
HRESULT RegisterTestControl();
void RevokeTestControl();

// The test control behind a control's IUnknown, or null.
CTestControl* AsTestControl(IUnknown* control);

}  // namespace vkr::test
