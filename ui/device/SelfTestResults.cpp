// The self-test results control: its table, the command 48 read when it starts, and its lamps.
#include "ui/device/SelfTestResults.h"

#include <cstdio>
#include <vector>

#include "include/CommunicationInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/kit/DeviceOutcome.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr ULONG kNoControl = 0x80000000;
constexpr ULONG kStateFlags = 0x71;
constexpr BYTE kReadAdditionalStatus = 48;

SCompositeControlClass SelfTestClass() {
  SCompositeControlClass cls;
  cls.dialogId = kSelfTestDialogId;
  return cls;
}

template <class Interface>
vkr::ComPtr<Interface> QueryOf(IUnknown* object) {
  vkr::ComPtr<Interface> found;
  if (object) object->QueryInterface(Interface::iid, found.PutVoid());
  return found;
}

}  // namespace

CSelfTestResults::CSelfTestResults()
    : CovFDT_IDtmActiveXControlImpl(CLSID_SelfTestResults, &CSelfTestResults::GetParameterMap, SelfTestClass()) {}

// The lamps stop showing the bitmaps before the control frees them.
CSelfTestResults::~CSelfTestResults() {
  HWND dialog = DialogWindow();
  if (dialog && ::IsWindow(dialog))
    for (UINT lamp : kSelfTestLamps) SetLamp(dialog, lamp, nullptr);
}

CActXParInfo* CSelfTestResults::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[2];
  static const bool filled = [] {
    entries[0] = CActXParInfo(kParCommand48Complete, "Command 48 complete", 0, "", kStateFlags, FALSE, kNoControl);
    // entries[1]: the end entry as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 1;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

void* CSelfTestResults::FindInterface(REFIID riid) {
  if (riid == ISelfTestResults::iid) return static_cast<ISelfTestResults*>(this);
  return CovFDT_IDtmActiveXControlImpl::FindInterface(riid);
}

HRESULT CSelfTestResults::GetTypeInfoCount(UINT* count) {
  return CovFDT_IDtmActiveXControlImpl::GetTypeInfoCount(count);
}
HRESULT CSelfTestResults::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_IDtmActiveXControlImpl::GetTypeInfo(index, lcid, info);
}
HRESULT CSelfTestResults::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return CovFDT_IDtmActiveXControlImpl::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT CSelfTestResults::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_IDtmActiveXControlImpl::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

BOOL CSelfTestResults::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_INITDIALOG) {
    if (result) *result = TRUE;
    return TRUE;
  }
  // OK, Cancel and Apply: the control family's handlers.
  return CovFDT_IDtmActiveXControlImpl::ProcessWindowMessage(window, message, wParam, lParam, result);
}

HBITMAP CSelfTestResults::LampImage(std::size_t line) const {
  if (line >= kAdditionalStatusFaultCount) return nullptr;
  return reinterpret_cast<HBITMAP>(
      ::SendDlgItemMessageA(DialogWindow(), static_cast<int>(kSelfTestLamps[line]), STM_GETIMAGE, IMAGE_BITMAP, 0));
}

// ---- Start -------------------------------------------------------------------------------------

HRESULT CSelfTestResults::InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) {
  // The bitmaps go with the control; a second start replaces them.
  m_fail.Load(kSelfTestFailBitmap);
  m_pass.Load(kSelfTestPassBitmap);
  const HRESULT hr = CovFDT_IDtmActiveXControlImpl::InitializeUI(dtm, ok);
  for (UINT edit : kSelfTestResultEdits) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), kLoadingText);
  m_nFailedTests = 0;
  ReadSelfTest();
  return hr;
}

void CSelfTestResults::ReadSelfTest() {
  vkr::ComPtr<IovFdtConnectionManagement> connections = QueryOf<IovFdtConnectionManagement>(m_spDtm.Get());
  vkr::ComPtr<IovFdtBaseDTM> base = QueryOf<IovFdtBaseDTM>(m_spDtm.Get());
  if (!connections || !base) return;
  EDtmState state = dsUNDEFINED;
  if (FAILED(base->GetDTMState(&state)) || state == dsGOINGONLINE) return;
  if (state != dsONLINE) {
    // No answer is coming: "Loading..." would wait for ever; each line says why it is empty.
    for (UINT edit : kSelfTestResultEdits) MatchPlaceholders(m_hWndDialog, false, {edit}, {});
    ::SetDlgItemTextA(m_hWndDialog, kSelfTestSummaryEdit, kNotConnectedText);
    return;
  }
  vkr::ComPtr<IUnknown> connection;
  if (FAILED(connections->GetConnection(0, connection.Put())) || !connection) return;
  vkr::ComPtr<IovFdtHartServiceInterface> hart = QueryOf<IovFdtHartServiceInterface>(connection.Get());
  if (!hart) return;

  // Command 48 without request data only reads; it acknowledges nothing on the device.
  vkr::Bstr requestHex, responseHex, error;
  BYTE deviceStatus = 0, responseCode = 0;
  const HRESULT hr = hart->Transaction(kReadAdditionalStatus, requestHex.Get(), &deviceStatus, &responseCode,
                                       responseHex.Put(), error.Put());
  std::vector<BYTE> bytes;
  std::optional<AdditionalStatusFaults> faults;
  if (SUCCEEDED(hr) && error.Length() == 0 && responseHex.Length() > 0 &&
      SUCCEEDED(BytesOfHex(responseHex.Get(), &bytes)))
    faults = DecodeAdditionalStatus(bytes);
  if (!faults) {
    // No line shows a result the device did not give; the summary says why, as every user
    // interface says it. An answer too short to hold the flags was lost on the way.
    SDeviceOutcome outcome = ServiceOutcome(hr, responseCode, error.View(), kReadAdditionalStatus);
    if (outcome.Ok()) outcome = SDeviceOutcome{EDeviceOutcome::Lost};
    const std::u16string why = NotReadText({kSelfTestUnreadSummary}, outcome, kReadAdditionalStatus);
    for (UINT edit : kSelfTestResultEdits) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), kSelfTestNotRead);
    ::SetDlgItemTextA(m_hWndDialog, kSelfTestSummaryEdit, vkr::Utf16ToUtf8(why).c_str());
    return;
  }
  for (std::size_t i = 0; i < kAdditionalStatusFaultCount; ++i) {
    const bool failed = (*faults)[i];
    if (failed) ++m_nFailedTests;
    ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(kSelfTestResultEdits[i]),
                      failed ? kSelfTestFailText : kSelfTestPassText);
  }
  PaintLamps(*faults);
  if (m_nFailedTests > 0) {
    char summary[96];
    std::snprintf(summary, sizeof summary, kSelfTestFailedSummary, static_cast<int>(m_nFailedTests));
    ::SetDlgItemTextA(m_hWndDialog, kSelfTestSummaryEdit, summary);
  } else {
    ::SetDlgItemTextA(m_hWndDialog, kSelfTestSummaryEdit, kSelfTestPassedSummary);
  }
  m_nFailedTests = 0;
}

void CSelfTestResults::PaintLamps(const AdditionalStatusFaults& faults) {
  for (std::size_t i = 0; i < kAdditionalStatusFaultCount; ++i)
    SetLamp(m_hWndDialog, kSelfTestLamps[i], faults[i] ? m_fail.Get() : m_pass.Get());
}

// ---- Values from the DTM -----------------------------------------------------------------------

HRESULT CSelfTestResults::OnDtmStateChanged(ULONG state) {
  const bool wasOnline = m_nDtmState == kDtmStateOnline;
  const HRESULT hr = CovFDT_IDtmActiveXControlImpl::OnDtmStateChanged(state);
  if (FAILED(hr)) return hr;
  if (!wasOnline && state == kDtmStateOnline && m_spDtm) {
    for (UINT edit : kSelfTestResultEdits) ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(edit), kLoadingText);
    ReadSelfTest();
  }
  return hr;
}

HRESULT CSelfTestResults::SetControlValueById(LONG id, VARIANT value) {
  if (id != kParCommand48Complete || value.vt != (VT_ARRAY | VT_UI1))
    return CovFDT_IDtmActiveXControlImpl::SetControlValueById(id, value);
  std::vector<BYTE> bytes;
  const HRESULT hr = ResponseBytes(value, &bytes);
  if (FAILED(hr)) return hr;
  if (const std::optional<AdditionalStatusFaults> faults = DecodeAdditionalStatus(bytes)) PaintLamps(*faults);
  return S_OK;
}

}  // namespace vkr::dui
