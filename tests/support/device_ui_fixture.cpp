// The device pages' test fixture: fake DTM, function container, HART service, clock and page
// harness (see device_ui_fixture.h).
#include "tests/support/device_ui_fixture.h"

#include <string>

#include "ui/device/DeviceUiIds.h"
#include "ui/device/kit/ResponseBytes.h"
#include "ui/framework/PropertyPage.h"

namespace vkr::test::dui {

using namespace vkr::dui;

namespace {

// The function-call document a frame starts an online page with.
const char16_t* const kOnlineFunctionCall =
    u"<FDT xmlns=\"x-schema:DTMFunctionCallSchema.xml\" xmlns:func=\"x-schema:DTMFunctionsSchema.xml\" "
    u"xmlns:ops=\"x-schema:FDTOperationPhaseSchema.xml\"><FDTFunctionCall func:functionId=\"2\" "
    u"ops:operationPhase=\"service\"/></FDT>";

// A value of the type from a number.
vkr::Variant Number(VARTYPE vt, double n) {
  VARIANT r8 = vkr::EmptyVariant();
  r8.vt = VT_R8;
  r8.dblVal = n;
  vkr::Variant out;
  VariantChangeType(&out, &r8, 0, vt);
  return out;
}

}  // namespace

// ---- HART service -------------------------------------------------------------------------------

std::vector<FakeTransactionCall> FakeHartService::CallsOf(BYTE command) const {
  std::vector<FakeTransactionCall> out;
  for (const FakeTransactionCall& call : m_calls)
    if (call.command == command) out.push_back(call);
  return out;
}

HRESULT FakeHartService::Transaction(BYTE command, BSTR requestData, BYTE* deviceStatus, BYTE* statusByte,
                                     BSTR* responseData, BSTR* error) {
  if (!error) return E_INVALIDARG;
  FakeTransactionCall call{command, {}};
  if (FAILED(BytesOfHex(requestData, &call.request))) call.request.clear();
  m_calls.push_back(call);

  auto found = m_script.find(command);
  const bool scripted = found != m_script.end() && !found->second.empty();
  if (!scripted && !m_device) {
    *error = SysAllocString(u"0x80004005; error during transaction");
    return S_FALSE;
  }
  const FakeTransaction answer = scripted ? found->second.front() : m_device(command, call.request);
  if (scripted && found->second.size() > 1) found->second.pop_front();
  if (answer.result != S_OK) {
    if (answer.result == S_FALSE)
      *error = SysAllocStringLen(answer.errorText.data(), static_cast<UINT>(answer.errorText.size()));
    return answer.result;
  }
  if (deviceStatus) *deviceStatus = answer.deviceStatus;
  if (statusByte) *statusByte = answer.responseCode;
  if (responseData) {
    *responseData = nullptr;
    HexOfBytes(answer.response, responseData);
  }
  return S_OK;
}

// ---- DTM ----------------------------------------------------------------------------------------

FakeDeviceDtm::FakeDeviceDtm() {
  vkr::MakeObject<FakeHartService>(&m_hart);
  const VARTYPE kBytes = VT_ARRAY | VT_UI1;
  // {id, name, type, read from and written to the device}
  struct Row {
    ULONG id;
    const char16_t* name;
    VARTYPE vt;
    bool device;
  };
  const Row rows[] = {
      {kParDescriptor, u"Descriptor", VT_BSTR, false},
      {kParTag, u"Tag", VT_BSTR, false},
      {kParDateDay, u"Date-day", VT_UI1, false},
      {kParDateMonth, u"Date-month", VT_UI1, false},
      {kParDateYear, u"Date-year", VT_UI2, false},
      {kParFinalAssemblyNumber, u"Number", kBytes, true},
      {kParDescriptorTagDate, u"Descriptor/Tag/Date", kBytes, true},
      {kParWriteProtect, u"Write protect/Private-label", VT_UI2, true},
      {kParSelfTestResponse, u"SelftestResponse", VT_UI1, false},
      {kParRangeValues, u"Range values", kBytes, true},
      {kParRangeUnit, u"Range unit", VT_UI1, false},
      {kParLowerRange, u"Lower range", VT_R4, false},
      {kParCommand0Complete, u"Command 0 complete", kBytes, true},
      {kParCommand1Complete, u"Command 1 complete", kBytes, true},
      {kParCommand2Complete, u"Command 2 complete", kBytes, true},
      {kParCommand3Complete, u"Command 3 complete", kBytes, true},
      {kParCommand14Complete, u"Command 14 complete", kBytes, true},
      {kParCommand15Complete, u"Command 15 complete", kBytes, true},
      {kParCommand48Complete, u"Command 48 complete", kBytes, true},
      {kParPvUnitUser, u"PV unit user", VT_UI1, false},
      {kParDampingUser, u"Damping value user", VT_R4, false},
      {kParButtonSend, u"Button Send", VT_UI1, false},
      {kParButtonRead, u"Button Read", VT_UI1, false},
      {kParOnlineAxCounter, u"OnlineAxCounter", VT_UI4, false},
      {kParSpCmd1, u"SpCMD1", kBytes, true},
      {kParDisplayModeUser, u"Display Mode", VT_UI1, false},
      {kParDisplayMode, u"eDispModeID", VT_UI1, true},
      {kParTrackingUser, u"Tracking", VT_UI1, false},
      {kParTracking, u"eTrackingModeID", VT_UI1, true},
      {kParDielectricUser, u"Dielectric", VT_UI1, false},
      {kParDielectric, u"eDielectricID", VT_UI1, true},
      {kParFailSafeUser, u"FailSafe", VT_UI1, false},
      {kParFailSafe, u"eFailsafeID", VT_UI1, true},
      {kParFailTime, u"eFailtimeID", VT_UI1, true},
      {kParFailTimeUser, u"Fail Time", VT_UI1, false},
      {kParDigitizeCommand, u"Digitize command", kBytes, false},
      {kParButtonDigitize, u"Button Digitize", VT_UI1, false},
      {kParTagOnly, u"Tag only", kBytes, true},
      {kParLongTag, u"Long Tag", kBytes, true},
      {kParCommand131, u"command 131", kBytes, true},
      {kParProbeLength, u"Probe Length", VT_R4, false},
      {kParParamUnit, u"Param unit", VT_UI1, false},
      {kParParamUpperRange, u"Param Upper range", VT_R4, false},
      {kParParamLowerRange, u"Param Lower range", VT_R4, false},
      {kParParamSpan, u"Param span", VT_R4, false},
      {kParCurrentReading, u"Current reading", VT_R4, false},
      {kParManufacturerCode, u"Manufacturer code", VT_UI1, false},
      {kParDeviceTypeCode, u"Device type", VT_UI2, false},
      {1103, u"Probe Fault2 cmd", VT_UI1, false},  // the echo curve page's read trigger
      // The Advanced page's: the command 137 answer, its four settings as the device and the user
      // have them, and the probe fault.
      {kParSpCmd2, u"SpCMD2", kBytes, true},
      {1074, u"eSensitivityID", VT_UI1, true},
      {1075, u"Sensitivity", VT_UI1, false},
      {1076, u"eAnalogID", VT_UI1, true},
      {1077, u"Analog Mode", VT_UI1, false},
      {kParBlanking, u"eBlankingID", VT_R4, true},
      {1079, u"Blanking distance", VT_R4, false},
      {kParDistanceOffset, u"eDistanceOffsetID", VT_R4, true},
      {1081, u"Distance offset", VT_R4, false},
      {1101, u"Probe fault command", VT_UI1, false},
      {1102, u"Probe Fault", VT_UI1, false},
  };
  for (const Row& row : rows) {
    FakeParameter p;
    p.id = row.id;
    p.name = row.name;
    p.vt = row.vt;
    if (row.vt == kBytes) {
      p.value = vkr::test::ui::ByteArray({});
      p.maximum = Number(VT_UI4, 256);
    } else if (row.vt == VT_BSTR) {
      p.value.vt = VT_BSTR;
      p.value.bstrVal = SysAllocString(u"");
      p.maximum = Number(VT_UI4, 32);
    } else {
      p.value = Number(row.vt, 0);
    }
    p.deviceValue = p.value;
    p.defaultValue = p.value;
    p.addressed = row.device ? 1 : 0;
    AddParameter(std::move(p));
  }
  // The fake's own PV unit, damping and upper range keep their limits; the device pages write the
  // range record, so the upper range is a DTM-side value without limits here.
  if (FakeParameter* upper = Parameter(kParUpperRange)) {
    VariantClear(&upper->minimum);
    VariantClear(&upper->maximum);
  }
}

vkr::ComPtr<vkr::ComObject<FakeDeviceDtm>> FakeDeviceDtm::Create() {
  vkr::ComPtr<vkr::ComObject<FakeDeviceDtm>> fake;
  vkr::MakeObject<FakeDeviceDtm>(&fake);
  return fake;
}

void* FakeDeviceDtm::FindInterface(REFIID riid) {
  if (riid == IovFdtConnectionManagement::iid) return static_cast<IovFdtConnectionManagement*>(this);
  return FakeUiDtm::FindInterface(riid);
}

HRESULT FakeDeviceDtm::SetResponse(ULONG id, std::initializer_list<BYTE> bytes) {
  return SetResponse(id, std::vector<BYTE>(bytes));
}

HRESULT FakeDeviceDtm::SetResponse(ULONG id, const std::vector<BYTE>& bytes) {
  vkr::Variant value;
  HRESULT hr = MakeByteArray(bytes, &value);
  return FAILED(hr) ? hr : SetDeviceValue(id, value);
}

vkr::Variant FakeDeviceDtm::Value(ULONG id) {
  FakeParameter* p = Parameter(id);
  return p ? p->value : vkr::Variant();
}

HRESULT FakeDeviceDtm::ShowUserMessage(BSTR title, BSTR text, VARIANT flags, LONG* answer) {
  if (!answer) return E_POINTER;
  FakeUserMessage message;
  message.title = vkr::Bstr(title).Str();
  message.text = vkr::Bstr(text).Str();
  vkr::Variant style;
  if (SUCCEEDED(VariantChangeType(&style, &flags, 0, VT_I4))) message.style = style.lVal;
  message.answer = 1;
  if (!m_answers.empty()) {
    message.answer = m_answers.front();
    m_answers.pop_front();
  } else if (m_answerer) {
    message.answer = m_answerer(message);
  }
  *answer = message.answer;
  m_messages.push_back(std::move(message));
  return S_OK;
}

HRESULT FakeDeviceDtm::OpenUserInterface(LONG functionId, VARIANT_BOOL* opened) {
  if (!opened) return E_POINTER;
  FakeUserMessage note;
  note.text = u"open " + vkr::Utf8ToUtf16(std::to_string(functionId));
  m_messages.push_back(std::move(note));
  // No frame hosts the function's user interface here.
  *opened = VARIANT_FALSE;
  return S_OK;
}

HRESULT FakeDeviceDtm::GetConnectionCount(LONG* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT FakeDeviceDtm::GetConnection(LONG index, IUnknown** connection) {
  if (!connection) return E_POINTER;
  *connection = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return m_hart->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(connection));
}

// ---- Clock --------------------------------------------------------------------------------------

FakeClock::FakeClock(WORD hour, WORD minute, WORD second) : m_start(100000) {
  vkr::platform::UseFakeTickCount(m_start);
  vkr::platform::MoveFakeTickCountOnSleep(true);
  const SYSTEMTIME start{2026, 12, 2 /* Tuesday */, 8, hour, minute, second, 0};
  vkr::platform::SetFixedSystemTime(&start);
}

FakeClock::~FakeClock() {
  vkr::platform::SetFixedSystemTime(nullptr);
  vkr::platform::UseRealTickCount();
}

void FakeClock::Advance(DWORD milliseconds) { vkr::platform::AdvanceTickCount(milliseconds); }

DWORD FakeClock::Elapsed() const { return GetTickCount() - m_start; }

// ---- Page harness -------------------------------------------------------------------------------

DevicePageHarness::DevicePageHarness(const CLSID& clsid, IUnknown* dtm, int width, int height, bool shown)
    : m_host(width, height, shown), m_dtm(dtm) {
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IPropertyPage::iid, m_page.PutVoid())) || !m_page)
    return;
  vkr::ComPtr<IovFdtPropertyPageControl> control;
  if (FAILED(m_page->QueryInterface(IovFdtPropertyPageControl::iid, control.PutVoid())) || !control) return;
  if (FAILED(m_page->SetPageSite(m_host.Site())) || FAILED(m_page->Activate(m_host.Hwnd(), &m_host.Rect(), FALSE)))
    return;
  VARIANT_BOOL started = VARIANT_FALSE;
  if (FAILED(control->Init(vkr::Bstr(u"TAG").Get(), vkr::Bstr(kOnlineFunctionCall).Get(), dtm, &started)) ||
      started != VARIANT_TRUE)
    return;
  vkr::ui::PumpUntilIdle();
  if (FAILED(m_page->Show(SW_SHOW))) return;
  vkr::ui::PumpUntilIdle();
  m_ok = true;
}

DevicePageHarness::~DevicePageHarness() { Close(); }

CovFDT_BaseActiveXImpl* DevicePageHarness::Ui() const {
  if (!m_page) return nullptr;
  vkr::ComPtr<IovFdtActiveX4> any;
  if (FAILED(m_page->QueryInterface(IovFdtActiveX4::iid, any.PutVoid())) || !any) return nullptr;
  return static_cast<CovFDT_BaseActiveXImpl*>(any.Get());
}

std::string DevicePageHarness::Text(int id) const { return vkr::ui::WindowText(Item(id)); }

void DevicePageHarness::Show(bool shown) {
  if (!m_page) return;
  m_page->Show(shown ? SW_SHOW : SW_HIDE);
  vkr::ui::PumpUntilIdle();
}

bool DevicePageHarness::Close() {
  if (!m_page) return true;
  VARIANT_BOOL ready = VARIANT_FALSE;
  vkr::ComPtr<IovFdtPropertyPageControl> control;
  if (SUCCEEDED(m_page->QueryInterface(IovFdtPropertyPageControl::iid, control.PutVoid())) && control)
    control->PrepareToRelease(&ready);
  m_page->Show(SW_HIDE);
  m_page->Deactivate();
  m_page->SetPageSite(nullptr);
  m_page = nullptr;
  vkr::ui::PumpUntilIdle();
  return ready == VARIANT_TRUE;
}

}  // namespace vkr::test::dui
