// The DTM for user-interface tests (see fake_ui_dtm.h).
#include "tests/support/fake_ui_dtm.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <utility>

namespace vkr::test::ui {

namespace {

constexpr char kWindowClass[] = "VkrFakeUiDtmQueue";

VARIANT VariantOfType(VARTYPE vt) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = vt;
  return v;
}

vkr::Variant Text(std::u16string_view text) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}

vkr::Variant EnumList(std::initializer_list<std::u16string_view> entries) {
  vkr::Variant v;
  SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(entries.size()));
  LONG index = 0;
  for (std::u16string_view entry : entries) {
    vkr::Bstr text(entry);
    SafeArrayPutElement(array, &index, text.Get());
    ++index;
  }
  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = array;
  return v;
}

// The entries of an enumeration list: value and label.
std::vector<std::pair<LONG, std::u16string>> EntriesOf(const VARIANT& list) {
  std::vector<std::pair<LONG, std::u16string>> entries;
  if (list.vt != (VT_ARRAY | VT_BSTR) || !list.parray) return entries;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(list.parray, 1, &lower);
  SafeArrayGetUBound(list.parray, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    vkr::Bstr text;
    if (FAILED(SafeArrayGetElement(list.parray, &i, text.Put()))) continue;
    const std::u16string_view view = text.View();
    const std::size_t split = view.find(u';');
    if (split == std::u16string_view::npos) continue;
    LONG value = 0;
    bool negative = false;
    std::size_t at = 0;
    if (at < split && view[at] == u'-') {
      negative = true;
      ++at;
    }
    for (; at < split; ++at) value = value * 10 + (view[at] - u'0');
    entries.emplace_back(negative ? -value : value, std::u16string(view.substr(split + 1)));
  }
  return entries;
}

vkr::Variant Converted(const VARIANT& value, VARTYPE vt, HRESULT* result) {
  vkr::Variant out;
  if (vt == (VT_ARRAY | VT_UI1)) {
    *result = value.vt == vt ? VariantCopy(&out, &value) : DISP_E_TYPEMISMATCH;
    return out;
  }
  *result = VariantChangeType(&out, &value, 0, vt);
  return out;
}

HRESULT IdOf(const VARIANT& id, ULONG* out) {
  vkr::Variant number;
  HRESULT hr = VariantChangeType(&number, &id, 0, VT_UI4);
  if (FAILED(hr)) return hr;
  if (number.vt != VT_UI4) return E_FAIL;
  *out = number.ulVal;
  return S_OK;
}

}  // namespace

// ---- Helpers ----------------------------------------------------------------------------------------

vkr::Variant PackParameterPair(ULONG id, const VARIANT& value) {
  vkr::Variant pair;
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  if (!array) return pair;
  LONG index = 0;
  VARIANT number = vkr::UI4(id);
  SafeArrayPutElement(array, &index, &number);
  index = 1;
  SafeArrayPutElement(array, &index, const_cast<VARIANT*>(&value));
  pair.vt = VT_ARRAY | VT_VARIANT;
  pair.parray = array;
  return pair;
}

bool UnpackParameterPair(const VARIANT& pair, ULONG* id, vkr::Variant* value) {
  if (pair.vt != (VT_ARRAY | VT_VARIANT) || !pair.parray) return false;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(pair.parray, 1, &lower);
  SafeArrayGetUBound(pair.parray, 1, &upper);
  if (upper - lower != 1) return false;
  vkr::Variant first;
  if (FAILED(SafeArrayGetElement(pair.parray, &lower, first.Put())) || first.vt != VT_UI4) return false;
  LONG second = lower + 1;
  if (FAILED(SafeArrayGetElement(pair.parray, &second, value->Put()))) return false;
  *id = first.ulVal;
  return true;
}

vkr::Variant ByteArray(std::initializer_list<BYTE> bytes) {
  vkr::Variant v;
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!array) return v;
  void* data = nullptr;
  if (bytes.size() && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
    SafeArrayUnaccessData(array);
  }
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = array;
  return v;
}

std::vector<BYTE> BytesOf(const VARIANT& value) {
  std::vector<BYTE> bytes;
  if (value.vt != (VT_ARRAY | VT_UI1) || !value.parray) return bytes;
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(value.parray, 1, &lower);
  SafeArrayGetUBound(value.parray, 1, &upper);
  for (LONG i = lower; i <= upper; ++i) {
    BYTE b = 0;
    if (SUCCEEDED(SafeArrayGetElement(value.parray, &i, &b))) bytes.push_back(b);
  }
  return bytes;
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  if (a.vt == (VT_ARRAY | VT_UI1)) return BytesOf(a) == BytesOf(b);
  if (a.vt == VT_EMPTY || a.vt == VT_NULL) return true;
  if (a.vt == VT_R4 || a.vt == VT_R8) {
    // Values that show alike at five decimals are one value, as the parameter model compares them.
    const double x = a.vt == VT_R4 ? a.fltVal : a.dblVal;
    const double y = b.vt == VT_R4 ? b.fltVal : b.dblVal;
    return std::llround(x * 1e5) == std::llround(y * 1e5);
  }
  return VarCmp(const_cast<VARIANT*>(&a), const_cast<VARIANT*>(&b), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

// ---- Construction -----------------------------------------------------------------------------------

FakeUiDtm::FakeUiDtm() {
  static const ATOM registered = [] {
    WNDCLASSA cls{};
    cls.lpfnWndProc = &FakeUiDtm::WindowProc;
    cls.lpszClassName = kWindowClass;
    return RegisterClassA(&cls);
  }();
  (void)registered;
  m_window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  if (m_window) SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

  auto add = [this](ULONG id, std::u16string_view name, VARTYPE vt, USHORT kind, const VARIANT& value,
                    const VARIANT& minimum, const VARIANT& maximum, std::u16string_view unit,
                    const VARIANT& enumeration = vkr::EmptyVariant()) {
    FakeParameter p;
    p.id = id;
    p.name = name;
    p.vt = vt;
    p.kind = kind;
    VariantCopy(&p.value, &value);
    VariantCopy(&p.deviceValue, &value);
    VariantCopy(&p.defaultValue, &value);
    VariantCopy(&p.minimum, &minimum);
    VariantCopy(&p.maximum, &maximum);
    VariantCopy(&p.enumeration, &enumeration);
    p.unit = unit;
    p.addressed = 0;
    AddParameter(std::move(p));
  };
  auto number = [](VARTYPE vt, double n) {
    VARIANT r8 = VariantOfType(VT_R8);
    r8.dblVal = n;
    vkr::Variant out;
    VariantChangeType(&out, &r8, 0, vt);
    return out;
  };
  const VARIANT none = vkr::EmptyVariant();
  auto device = [this](ULONG id) { m_parameters[id].addressed = 1; };

  add(kFakeAddressing, u"Addressing type", VT_BOOL, 0, number(VT_BOOL, 0), none, none, u"");
  add(kFakeShortAddress, u"Short address", VT_UI1, 0, number(VT_UI1, 0), number(VT_UI1, 0), number(VT_UI1, 15), u"");
  add(kFakePrimaryMaster, u"Primary master", VT_UI1, 0, number(VT_UI1, 0), number(VT_UI1, 0), number(VT_UI1, 1), u"");
  add(kFakeDeviceStatus, u"DeviceStatus", VT_UI1, 2, number(VT_UI1, 0x41), none, none, u"",
      EnumList({u"1;PV out of limits", u"2;Non-PV out of limits", u"4;Loop current saturated",
                u"8;Loop current fixed", u"16;More status available", u"32;Cold start",
                u"64;Configuration changed", u"128;Device malfunction"}));
  add(kFakeMessage, u"Message", VT_ARRAY | VT_UI1, 0, ByteArray({0x01, 0xAB, 0x20}), none, number(VT_UI4, 24), u"");
  device(kFakeMessage);
  add(kFakeDamping, u"Damping Value", VT_R4, 0, number(VT_R4, 0.5), number(VT_R4, 0), number(VT_R4, 60), u"s");
  device(kFakeDamping);
  add(kFakePvUnit, u"PV unit", VT_UI1, 1, number(VT_UI1, 45), none, none, u"",
      EnumList({u"44;ft", u"45;m", u"47;in", u"48;cm", u"49;mm"}));
  device(kFakePvUnit);
  add(kFakeUpperRange, u"Upper range", VT_R4, 0, number(VT_R4, 6), number(VT_R4, 0), number(VT_R4, 66), u"m");
  add(kFakeRefreshButton, u"Button Refresh", VT_UI1, 0, number(VT_UI1, 0), none, none, u"");
  add(kFakeActivateSend, u"Activate Button Send", VT_UI1, 0, number(VT_UI1, 0), none, none, u"");
  add(kFakeCurrentValue, u"Current value", VT_R4, 0, number(VT_R4, 2.5), none, none, u"m");
  device(kFakeCurrentValue);
  m_parameters[kFakeCurrentValue].flags = kFlagReadable | 0x40;
  add(kFakeTag, u"Tag", VT_BSTR, 0, Text(u"LT-100"), number(VT_UI4, 6), number(VT_UI4, 8), u"");
  device(kFakeTag);
  add(kFakeLoopCurrent, u"Loop current", VT_UI1, 0, number(VT_UI1, 0), number(VT_UI1, 0), number(VT_UI1, 3), u"");
  add(kFakeDate, u"Calibration date", VT_DATE, 0, number(VT_DATE, 46000), none, none, u"");  // 2025-12-09
  add(kFakeDistance, u"Distance", VT_R8, 0, number(VT_R8, 12.5), number(VT_R8, -1000), number(VT_R8, 1000), u"m");
  device(kFakeDistance);
}

FakeUiDtm::~FakeUiDtm() {
  if (!m_window) return;
  // A delivery still queued finds no fake behind the window.
  SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
  DestroyWindow(m_window);
}

vkr::ComPtr<vkr::ComObject<FakeUiDtm>> FakeUiDtm::Create() {
  vkr::ComPtr<vkr::ComObject<FakeUiDtm>> fake;
  vkr::MakeObject<FakeUiDtm>(&fake);
  return fake;
}

void* FakeUiDtm::FindInterface(REFIID riid) {
  for (const IID& withdrawn : m_withdrawn)
    if (withdrawn == riid) return nullptr;
  return FakeUiDtmStubs::FindInterface(riid);
}

// ---- Set-up -----------------------------------------------------------------------------------------

FakeParameter* FakeUiDtm::Parameter(ULONG id) {
  auto found = m_parameters.find(id);
  return found == m_parameters.end() ? nullptr : &found->second;
}

void FakeUiDtm::AddParameter(FakeParameter parameter) {
  const ULONG id = parameter.id;
  m_parameters.insert_or_assign(id, std::move(parameter));
}

HRESULT FakeUiDtm::RemoveParameter(ULONG id) { return m_parameters.erase(id) ? S_OK : E_INVALIDARG; }

HRESULT FakeUiDtm::SetDeviceValue(ULONG id, const VARIANT& value) {
  FakeParameter* p = Parameter(id);
  if (!p) return E_INVALIDARG;
  HRESULT hr = S_OK;
  vkr::Variant converted = Converted(value, p->vt, &hr);
  if (FAILED(hr)) return hr;
  p->deviceValue = std::move(converted);
  return S_OK;
}

void FakeUiDtm::SetTranslation(std::u16string_view xpath, std::u16string_view text) {
  m_translations[std::u16string(xpath)] = std::u16string(text);
}

void FakeUiDtm::ChangeState(EDtmState state) {
  m_state = state;
  // Stands for the function container's NotifyStateChanged, which reaches every open user
  // interface's OnDtmStateChanged; queued as the broadcasts are.
  FakeBroadcast b;
  b.command = 0;
  b.argument = vkr::Variant(vkr::UI4(state));
  m_pending.push_back(std::move(b));
  if (m_window) PostMessageA(m_window, kDeliverMessage, 0, 0);
}

// ---- User interfaces and delivery -------------------------------------------------------------------

void FakeUiDtm::Attach(IUnknown* userInterface, std::u16string_view invokeId) {
  if (!userInterface) return;
  for (Attached& a : m_userInterfaces)
    if (a.userInterface.Get() == userInterface) {
      if (!invokeId.empty()) a.invokeId = invokeId;
      return;
    }
  Attached a;
  a.userInterface = vkr::ComPtr<IUnknown>(userInterface);
  a.invokeId = invokeId;
  m_userInterfaces.push_back(std::move(a));
}

void FakeUiDtm::Detach(IUnknown* userInterface) {
  std::erase_if(m_userInterfaces, [&](const Attached& a) { return a.userInterface.Get() == userInterface; });
}

void FakeUiDtm::DetachAll() {
  std::vector<Attached> gone;
  gone.swap(m_userInterfaces);
}

void FakeUiDtm::Post(ULONG command, const VARIANT& argument) {
  FakeBroadcast b;
  b.command = command;
  VariantCopy(&b.argument, &argument);
  m_pending.push_back(std::move(b));
  if (m_window) PostMessageA(m_window, kDeliverMessage, 0, 0);
}

void FakeUiDtm::PostParameter(ULONG command, ULONG id, const VARIANT& value) {
  Post(command, PackParameterPair(id, value));
}

bool FakeUiDtm::Deliver() {
  for (int round = 0; round < 100 && !m_hold && !m_pending.empty(); ++round) vkr::ui::PumpUntilIdle();
  // A queue without a window (or whose messages someone else took) is handed over here.
  while (!m_pending.empty()) DeliverOne();
  return m_pending.empty();
}

void FakeUiDtm::HoldDeliveries(bool hold) {
  m_hold = hold;
  // The messages pumped while held handed nothing over: one for each broadcast still waiting.
  if (!hold && m_window)
    for (std::size_t i = 0; i < m_pending.size(); ++i) PostMessageA(m_window, kDeliverMessage, 0, 0);
}

LRESULT FakeUiDtm::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kDeliverMessage) {
    if (auto* self = reinterpret_cast<FakeUiDtm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))) {
      if (!self->m_hold && !self->m_pending.empty()) self->DeliverOne();
    }
    return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

void FakeUiDtm::DeliverOne() {
  FakeBroadcast b = std::move(m_pending.front());
  m_pending.pop_front();
  // The fake may lose its last reference inside a user interface's handler.
  vkr::ComPtr<IUnknown> keep(static_cast<IovFdtBaseDTM*>(this));
  if (b.command == 0) {
    NotifyStateChanged(b.argument.ulVal);
  } else {
    Walk(b.command, b.argument);
  }
  m_delivered.push_back(std::move(b));
}

void FakeUiDtm::Walk(ULONG command, const VARIANT& argument) {
  // A copy: a user interface may detach (or attach another) while it is being called.
  std::vector<vkr::ComPtr<IUnknown>> snapshot;
  for (const Attached& a : m_userInterfaces) snapshot.push_back(a.userInterface);
  for (const vkr::ComPtr<IUnknown>& unknown : snapshot) {
    vkr::ComPtr<IovFdtActiveX4> ui;
    if (FAILED(unknown->QueryInterface(IovFdtActiveX4::iid, ui.PutVoid())) || !ui) {
      m_deliveryResults.push_back(E_UNEXPECTED);
      continue;
    }
    m_deliveryResults.push_back(ui->ExecuteCommand(vkr::UI4(command), argument));
  }
}

// ---- Recording and failures -------------------------------------------------------------------------

void FakeUiDtm::FailCall(std::string_view op, HRESULT result, int times) {
  m_failures.push_back(Failure{std::string(op), result, times});
}

bool FakeUiDtm::Begin(std::string_view op, ULONG id, const VARIANT& argument, HRESULT* result) {
  FakeCall call;
  call.op = std::string(op);
  call.id = id;
  VariantCopy(&call.argument, &argument);
  m_calls.push_back(std::move(call));
  for (auto it = m_failures.begin(); it != m_failures.end(); ++it) {
    if (it->op != op) continue;
    *result = it->result;
    if (it->times > 0 && --it->times == 0) m_failures.erase(it);
    m_calls.back().result = *result;
    return true;
  }
  return false;
}

HRESULT FakeUiDtm::End(HRESULT result) {
  if (!m_calls.empty()) m_calls.back().result = result;
  return result;
}

std::vector<FakeCall> FakeUiDtm::CallsOf(std::string_view op, ULONG id) const {
  std::vector<FakeCall> found;
  for (const FakeCall& c : m_calls)
    if (c.op == op && (id == kAnyId || c.id == id)) found.push_back(c);
  return found;
}

HRESULT FakeUiDtm::Lookup(const VARIANT& id, ULONG* out, FakeParameter** parameter) {
  HRESULT hr = IdOf(id, out);
  if (FAILED(hr)) return hr;
  *parameter = Parameter(*out);
  return *parameter ? S_OK : E_INVALIDARG;
}

// ---- IovFdtBaseDTM ----------------------------------------------------------------------------------

HRESULT FakeUiDtm::GetDTMState(EDtmState* state) {
  HRESULT hr = S_OK;
  if (Begin("GetDTMState", 0, vkr::EmptyVariant(), &hr)) return hr;
  if (!state) return End(E_POINTER);
  *state = m_state;
  return End(S_OK);
}

HRESULT FakeUiDtm::Broadcast(VARIANT id, VARIANT argument) {
  HRESULT hr = S_OK;
  ULONG command = 0;
  IdOf(id, &command);
  if (Begin("Broadcast", command, argument, &hr)) return hr;
  return End(BroadcastToActiveX(id, argument));
}

HRESULT FakeUiDtm::GetCurLanguageId(LCID* language) {
  HRESULT hr = S_OK;
  if (Begin("GetCurLanguageId", 0, vkr::EmptyVariant(), &hr)) return hr;
  if (!language) return End(E_POINTER);
  *language = m_language;
  return End(S_OK);
}

HRESULT FakeUiDtm::GetSystemTag(BSTR* tag) {
  HRESULT hr = S_OK;
  if (Begin("GetSystemTag", 0, vkr::EmptyVariant(), &hr)) return hr;
  if (!tag) return End(E_POINTER);
  *tag = SysAllocStringLen(m_systemTag.data(), static_cast<UINT>(m_systemTag.size()));
  return End(S_OK);
}

// ---- IovFdtParameterHandler4 ------------------------------------------------------------------------

HRESULT FakeUiDtm::ReadDeviceParameter(VARIANT id, VARIANT_BOOL* result) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("ReadDeviceParameter", n, vkr::EmptyVariant(), &hr)) return hr;
  FakeParameter* p = nullptr;
  if (!result) return End(E_INVALIDARG);
  *result = VARIANT_FALSE;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  if (m_state != dsONLINE) return End(S_OK);
  if (p->addressed == 1 && (p->flags & kFlagReadable)) {
    // The read goes out; the device's answer comes back later.
    *result = VARIANT_TRUE;
    PostDeviceValue(n);
  }
  return End(S_OK);
}

HRESULT FakeUiDtm::ReadDeviceParameterEx(VARIANT id, VARIANT_BOOL* result) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("ReadDeviceParameterEx", n, vkr::EmptyVariant(), &hr)) return hr;
  FakeParameter* p = nullptr;
  if (!result) return End(E_INVALIDARG);
  *result = VARIANT_FALSE;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  if (m_state != dsONLINE) return End(S_OK);
  if (p->addressed == 1 && (p->flags & kFlagReadable)) {
    // Blocking: the value is there when the call returns; the user interfaces hear of it later.
    *result = VARIANT_TRUE;
    PostDeviceValue(n);
  }
  return End(S_OK);
}

void FakeUiDtm::PostDeviceValue(ULONG id) {
  FakeParameter* p = Parameter(id);
  if (!p) return;
  p->flags &= ~static_cast<ULONG>(kFlagModified);
  PostParameter(kBroadcastDeviceValue, id, p->deviceValue);
}

HRESULT FakeUiDtm::WriteToDevice(FakeParameter& p, const VARIANT& value, VARIANT_BOOL* done) {
  HRESULT hr = S_OK;
  vkr::Variant converted = Converted(value, p.vt, &hr);
  if (FAILED(hr)) return hr;
  p.deviceValue = std::move(converted);
  *done = VARIANT_TRUE;
  // The device's answer carries the written value back.
  PostDeviceValue(p.id);
  return S_OK;
}

HRESULT FakeUiDtm::WriteDeviceParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("WriteDeviceParameter", n, value, &hr)) return hr;
  FakeParameter* p = nullptr;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  if (!done) return End(E_INVALIDARG);
  *done = VARIANT_FALSE;
  const bool toDevice = p->addressed == 1 && (p->flags & kFlagWritable);
  if (toDevice && m_state == dsONLINE) return End(WriteToDevice(*p, value, done));
  ULONG word = 0;
  if (FAILED(hr = Validate(*p, value, &word))) return End(hr);
  if (word & (kFlagDisabled | kFlagInvalid)) return End(E_FAIL);
  if (FAILED(hr = Store(*p, value))) return End(hr);
  // A device parameter changed offline still has to go to the device.
  const ULONG flags = toDevice ? (word | kFlagModified) : (word & ~static_cast<ULONG>(kFlagModified));
  p->flags = flags;
  PostParameter(kBroadcastStatusChanged, n, vkr::EmptyVariant());
  *done = VARIANT_TRUE;
  return End(S_OK);
}

HRESULT FakeUiDtm::WriteDeviceParameterEx(VARIANT id, VARIANT value, VARIANT_BOOL* result) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("WriteDeviceParameterEx", n, value, &hr)) return hr;
  if (!result) return End(E_INVALIDARG);
  *result = VARIANT_FALSE;
  FakeParameter* p = nullptr;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  if (m_state != dsONLINE) return End(S_OK);
  if (p->addressed == 1 && (p->flags & kFlagWritable)) return End(WriteToDevice(*p, value, result));
  ULONG word = 0;
  if (FAILED(hr = Validate(*p, value, &word))) return End(hr);
  if (word & (kFlagDisabled | kFlagInvalid)) return End(E_FAIL);
  if (FAILED(hr = Store(*p, value))) return End(hr);
  p->flags = word & ~static_cast<ULONG>(kFlagModified);
  PostParameter(kBroadcastStatusChanged, n, vkr::EmptyVariant());
  *result = VARIANT_TRUE;
  return End(S_OK);
}

HRESULT FakeUiDtm::GetParameterInfo(VARIANT id, VARIANT* value, BSTR* name, VARTYPE* type, VARIANT* minimum,
                                    VARIANT* maximum, VARIANT* defaultValue, VARIANT* status) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("GetParameterInfo", n, vkr::EmptyVariant(), &hr)) return hr;
  FakeParameter* p = nullptr;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  auto copy = [](VARIANT* out, const VARIANT& from) {
    if (!out) return;
    VariantClear(out);
    VariantCopy(out, &from);
  };
  copy(value, p->value);
  if (name) *name = SysAllocStringLen(p->name.data(), static_cast<UINT>(p->name.size()));
  if (type) *type = p->vt;
  copy(minimum, p->minimum);
  copy(maximum, p->maximum);
  copy(defaultValue, p->defaultValue);
  if (status) {
    VariantClear(status);
    *status = vkr::UI4(p->flags);
  }
  return End(S_OK);
}

HRESULT FakeUiDtm::GetParameterValue(VARIANT id, VARIANT* value) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("GetParameterValue", n, vkr::EmptyVariant(), &hr)) return hr;
  if (!value) return End(E_INVALIDARG);
  FakeParameter* p = nullptr;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  VariantClear(value);
  return End(VariantCopy(value, &p->value));
}

HRESULT FakeUiDtm::Store(FakeParameter& p, const VARIANT& value) {
  HRESULT hr = S_OK;
  vkr::Variant converted = Converted(value, p.vt, &hr);
  if (FAILED(hr)) return hr;
  p.value = converted;
  // Told also when the value did not change: the user interfaces rely on hearing every set.
  PostParameter(kBroadcastValueChanged, p.id, converted);
  return S_OK;
}

HRESULT FakeUiDtm::SetParameterValue(VARIANT id, VARIANT value) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("SetParameterValue", n, value, &hr)) return hr;
  FakeParameter* p = nullptr;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  return End(Store(*p, value));
}

HRESULT FakeUiDtm::GetParameterDisplayText(VARIANT id, VARIANT value, BSTR* text) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("GetParameterDisplayText", n, value, &hr)) return hr;
  if (!text) return End(E_INVALIDARG);
  FakeParameter* p = nullptr;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  std::u16string shown;
  bool found = false;
  if (p->kind == 1) {
    vkr::Variant number;
    if (SUCCEEDED(VariantChangeType(&number, &value, 0, VT_I4))) {
      for (const auto& [entry, label] : EntriesOf(p->enumeration))
        if (entry == number.lVal) {
          shown = label;
          found = true;
          break;
        }
    }
  } else if (p->kind == 2) {
    vkr::Variant number;
    if (SUCCEEDED(VariantChangeType(&number, &value, 0, VT_UI4))) {
      for (const auto& [entry, label] : EntriesOf(p->enumeration)) {
        if (!(static_cast<ULONG>(entry) & number.ulVal)) continue;
        if (!shown.empty()) shown += u" | ";
        shown += label;
      }
      if (shown.empty()) shown.push_back(u' ');
      found = true;
    }
  }
  if (!found) {
    vkr::Variant plain;
    if (value.vt == (VT_ARRAY | VT_UI1)) {
      static const char16_t digits[] = u"0123456789ABCDEF";
      for (BYTE b : BytesOf(value)) {
        if (!shown.empty()) shown.push_back(u' ');
        shown.push_back(digits[b >> 4]);
        shown.push_back(digits[b & 15]);
      }
    } else if (SUCCEEDED(hr = VariantChangeType(&plain, &value, 0, VT_BSTR)) && plain.vt == VT_BSTR) {
      shown = vkr::Bstr(plain.bstrVal).Str();
    } else if (value.vt != VT_EMPTY) {
      return End(FAILED(hr) ? hr : E_FAIL);
    }
  }
  *text = SysAllocStringLen(shown.data(), static_cast<UINT>(shown.size()));
  return End(*text ? S_OK : E_OUTOFMEMORY);
}

HRESULT FakeUiDtm::SetParameterStatus(ULONG id, ULONG status) {
  HRESULT hr = S_OK;
  if (Begin("SetParameterStatus", id, vkr::UI4(status), &hr)) return hr;
  FakeParameter* p = Parameter(id);
  if (!p) return End(E_INVALIDARG);
  p->flags = status;
  PostParameter(kBroadcastStatusChanged, id, vkr::EmptyVariant());
  return End(S_OK);
}

HRESULT FakeUiDtm::GetParameterCount(ULONG* count) {
  if (!count) return E_INVALIDARG;
  *count = static_cast<ULONG>(m_parameters.size());
  return S_OK;
}

HRESULT FakeUiDtm::GetParameterIdAt(LONG index, ULONG* id) {
  if (!id || index < 0 || static_cast<std::size_t>(index) >= m_parameters.size()) return E_INVALIDARG;
  auto it = m_parameters.begin();
  std::advance(it, index);
  *id = it->first;
  return S_OK;
}

// ---- IovFdtParameterInfo ----------------------------------------------------------------------------

HRESULT FakeUiDtm::GetParameterCount(VARIANT* count) {
  HRESULT hr = S_OK;
  if (Begin("GetParameterCount", 0, vkr::EmptyVariant(), &hr)) return hr;
  if (!count) return End(E_INVALIDARG);
  VariantClear(count);
  *count = vkr::UI4(static_cast<ULONG>(m_parameters.size()));
  return End(S_OK);
}

HRESULT FakeUiDtm::GetParameterIdAt(VARIANT index, VARIANT* id) {
  HRESULT hr = S_OK;
  if (Begin("GetParameterIdAt", 0, index, &hr)) return hr;
  ULONG at = 0, found = 0;
  if (!id) return End(E_INVALIDARG);
  if (FAILED(hr = IdOf(index, &at))) return End(hr);
  if (FAILED(hr = GetParameterIdAt(static_cast<LONG>(at), &found))) return End(hr);
  VariantClear(id);
  *id = vkr::UI4(found);
  return End(S_OK);
}

HRESULT FakeUiDtm::GetParameterField(VARIANT id, VARIANT field, VARIANT* result) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("GetParameterField", n, field, &hr)) return hr;
  if (!result) return End(E_INVALIDARG);
  ULONG mask = 0;
  if (field.vt == VT_I4 || field.vt == VT_UI4)
    mask = field.ulVal;
  else if (FAILED(hr = IdOf(field, &mask)))
    return End(hr);
  FakeParameter* p = nullptr;
  hr = Lookup(id, &n, &p);
  vkr::Variant answer;
  if (mask == kFieldExists) {
    answer = vkr::Variant(vkr::BoolVariant(SUCCEEDED(hr)));
  } else {
    if (FAILED(hr)) return End(hr);
    switch (mask) {
      case kFieldAddressed: answer = vkr::Variant(vkr::UI4(p->addressed)); break;
      case kFieldName: answer = Text(p->name); break;
      case kFieldType:
        answer.vt = VT_UI2;
        answer.uiVal = p->vt;
        break;
      case kFieldMinimum: answer = p->minimum; break;
      case kFieldMaximum: answer = p->maximum; break;
      case kFieldValue: answer = p->value; break;
      case kFieldDefault: answer = p->defaultValue; break;
      case kFieldUnit: answer = Text(p->unit); break;
      case 0x40000: answer = Text(p->unit); break;  // the display reference: a text, here the unit
      case kFieldFlags: answer = vkr::Variant(vkr::UI4(p->flags)); break;
      case kFieldEnumeration: answer = p->enumeration; break;
      case kFieldKind:
        answer.vt = VT_UI2;
        answer.uiVal = p->kind;
        break;
      case kFieldDeviceValue: answer = p->deviceValue; break;
      default: return End(E_FAIL);
    }
  }
  VariantClear(result);
  answer.Detach(result);
  return End(S_OK);
}

HRESULT FakeUiDtm::SetParameterField(VARIANT id, VARIANT field, VARIANT value) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("SetParameterField", n, value, &hr)) return hr;
  ULONG mask = 0;
  if (FAILED(hr = IdOf(field, &mask))) return End(hr);
  FakeParameter* p = nullptr;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  switch (mask) {
    case kFieldValue:
    case kFieldDeviceValue: {
      vkr::Variant converted = Converted(value, p->vt, &hr);
      if (FAILED(hr)) return End(hr);
      (mask == kFieldValue ? p->value : p->deviceValue) = std::move(converted);
      break;
    }
    case kFieldMinimum: p->minimum = vkr::Variant(value); break;
    case kFieldMaximum: p->maximum = vkr::Variant(value); break;
    case kFieldEnumeration: p->enumeration = vkr::Variant(value); break;
    case kFieldFlags:
      if (SUCCEEDED(hr = IdOf(value, &p->flags))) break;
      return End(hr);
    default: return End(E_FAIL);
  }
  return End(FAILED(hr) ? hr : S_OK);
}

// ---- IovFdtParameterValidation ----------------------------------------------------------------------

HRESULT FakeUiDtm::Validate(const FakeParameter& p, const VARIANT& value, ULONG* result) const {
  ULONG flags = p.flags;
  if (flags & kFlagDisabled) {
    *result = flags;
    return S_OK;
  }
  HRESULT hr = S_OK;
  vkr::Variant typed = Converted(value, p.vt, &hr);
  bool valid = SUCCEEDED(hr);
  if (valid && p.kind == 1) {
    vkr::Variant number;
    valid = SUCCEEDED(VariantChangeType(&number, &typed, 0, VT_I4));
    if (valid) {
      LONG v = number.lVal;
      if (p.vt == VT_BOOL && v == -1) v = 1;
      const auto entries = EntriesOf(p.enumeration);
      valid = std::any_of(entries.begin(), entries.end(), [v](const auto& e) { return e.first == v; });
    }
  } else if (valid && p.kind == 2) {
    vkr::Variant number;
    valid = SUCCEEDED(VariantChangeType(&number, &typed, 0, VT_UI4));
    ULONG allowed = 0;
    for (const auto& e : EntriesOf(p.enumeration)) allowed |= static_cast<ULONG>(e.first);
    valid = valid && (number.ulVal & ~allowed) == 0;
  } else if (valid && (p.vt == VT_BSTR || p.vt == (VT_ARRAY | VT_UI1))) {
    // The maximum of a text or byte string is its largest length.
    vkr::Variant longest;
    if (p.maximum.vt != VT_EMPTY && SUCCEEDED(VariantChangeType(&longest, &p.maximum, 0, VT_UI4))) {
      const ULONG length =
          p.vt == VT_BSTR ? SysStringLen(typed.bstrVal) : static_cast<ULONG>(BytesOf(typed).size());
      valid = length <= longest.ulVal;
    }
  } else if (valid) {
    auto inRange = [&](const VARIANT& limit, bool lower) {
      if (limit.vt == VT_EMPTY) return true;
      vkr::Variant x, bound;
      if (FAILED(VariantChangeType(&x, typed.Ptr(), 0, VT_R8)) ||
          FAILED(VariantChangeType(&bound, const_cast<VARIANT*>(&limit), 0, VT_R8)))
        return false;
      return lower ? x.dblVal >= bound.dblVal : x.dblVal <= bound.dblVal;
    };
    valid = inRange(p.minimum, true) && inRange(p.maximum, false);
  }
  if (valid)
    flags &= ~static_cast<ULONG>(kFlagInvalid);
  else
    flags |= kFlagInvalid;
  const bool unchanged = valid ? SameValue(typed, p.value) : SameValue(value, p.value);
  if (!unchanged)
    flags |= kFlagModified;
  else if (p.addressed != 0)
    flags &= ~static_cast<ULONG>(kFlagModified);
  *result = flags;
  return S_OK;
}

HRESULT FakeUiDtm::ValidateParameter(VARIANT id, VARIANT value, ULONG* result) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("ValidateParameter", n, value, &hr)) return hr;
  if (!result) return End(E_INVALIDARG);
  FakeParameter* p = nullptr;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  return End(Validate(*p, value, result));
}

HRESULT FakeUiDtm::ValidateAndSetParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) {
  ULONG n = 0;
  IdOf(id, &n);
  HRESULT hr = S_OK;
  if (Begin("ValidateAndSetParameter", n, value, &hr)) return hr;
  if (!done) return End(E_INVALIDARG);
  *done = VARIANT_FALSE;
  FakeParameter* p = nullptr;
  if (FAILED(hr = Lookup(id, &n, &p))) return End(hr);
  ULONG word = 0;
  if (FAILED(hr = Validate(*p, value, &word))) return End(hr);
  // A refused value is not stored: the data set keeps its value and flags.
  if (word & (kFlagDisabled | kFlagInvalid)) return End(S_OK);
  const ULONG previous = p->flags;
  p->flags = p->addressed == 0 ? (word & ~static_cast<ULONG>(kFlagModified)) : word;
  if (FAILED(hr = Store(*p, value))) {
    p->flags = previous;
    return End(hr);
  }
  *done = VARIANT_TRUE;
  return End(S_OK);
}

// ---- IovFdtDtmEvents --------------------------------------------------------------------------------

HRESULT FakeUiDtm::DtmMessage(VARIANT id, VARIANT argument) {
  ULONG message = 0;
  const HRESULT conversion = IdOf(id, &message);
  HRESULT hr = S_OK;
  if (Begin("DtmMessage", message, argument, &hr)) return hr;
  if (FAILED(conversion)) return End(conversion);
  switch (message) {
    case kMsgAxInitialized: {
      // The new user interface learns the data-set state.
      VARIANT state = VariantOfType(VT_UI2);
      state.uiVal = 0;
      Post(kBroadcastDataSetState, state);
      return End(S_OK);
    }
    case kMsgUpdateRateChanged: return End(OnUpdateRateChanged(argument));
    case kMsgAxReleased:
    case kMsgLockDtm:
    case kMsgSwitchAuditTrail:
    case kMsgReportText: return End(S_OK);
    case kMsgGoOnline:
      if (m_state == dsONLINE) return End(S_OK);
      ChangeState(dsGOINGONLINE);
      ChangeState(dsONLINE);
      return End(S_OK);
    case kMsgGoOffline:
      if (m_state != dsONLINE) return End(S_OK);
      ChangeState(dsGOINGOFFLINE);
      ChangeState(dsCOMMUNICATIONSET);
      return End(S_OK);
    case kMsgUpload: OnUpload(); return End(S_OK);
    case kMsgDownload: OnDownload(); return End(S_OK);
    default: return End(S_FALSE);
  }
}

HRESULT FakeUiDtm::OnUpdateRateChanged(const VARIANT& key) {
  // The real DTM finds the user interface by the key it was started under and asks it for its
  // cyclic parameters.
  vkr::Variant text;
  HRESULT hr = VariantChangeType(&text, &key, 0, VT_BSTR);
  if (FAILED(hr)) return hr;
  if (text.vt != VT_BSTR) return E_FAIL;
  const std::u16string wanted = vkr::Bstr(text.bstrVal).Str();
  vkr::ComPtr<IUnknown> found;
  for (const Attached& a : m_userInterfaces)
    if (a.invokeId == wanted) found = a.userInterface;
  if (!found) return E_FAIL;
  vkr::ComPtr<IovFdtActiveXInfo> info;
  if (FAILED(found->QueryInterface(IovFdtActiveXInfo::iid, info.PutVoid())) || !info) return E_FAIL;
  return info->SetInfo(vkr::UI4(32), m_lastUpdateList.Put());
}

void FakeUiDtm::OnUpload() {
  const bool ok = m_state == dsONLINE;
  if (ok) {
    for (auto& [id, p] : m_parameters) {
      if (p.addressed != 1 || !(p.flags & kFlagReadable)) continue;
      p.value = p.deviceValue;
      p.flags &= ~static_cast<ULONG>(kFlagModified);
      PostParameter(kBroadcastValueChanged, id, p.value);
    }
  }
  Post(kBroadcastUploadDone, vkr::BoolVariant(ok));
}

void FakeUiDtm::OnDownload() {
  const bool ok = m_state == dsONLINE;
  if (ok) {
    for (auto& [id, p] : m_parameters) {
      if (p.addressed != 1 || !(p.flags & kFlagWritable)) continue;
      p.deviceValue = p.value;
      PostDeviceValue(id);
    }
  }
  Post(kBroadcastDownloadDone, vkr::BoolVariant(ok));
}

// ---- IovFdtActiveXContainer and IovFdtActiveXManagement ---------------------------------------------

HRESULT FakeUiDtm::StartOrFinishFunction(BSTR invokeId, IUnknown* userInterface) {
  return userInterface ? StartFunction(invokeId, userInterface, 0) : FunctionFinished(invokeId);
}

HRESULT FakeUiDtm::StartFunction(BSTR invokeId, IUnknown* userInterface, ULONG flags) {
  HRESULT hr = S_OK;
  if (Begin("StartFunction", flags, vkr::TextVariant(invokeId), &hr)) return hr;
  if (!userInterface) return End(E_INVALIDARG);
  Attach(userInterface, vkr::Bstr(invokeId).Str());
  return End(S_OK);
}

HRESULT FakeUiDtm::FunctionFinished(BSTR invokeId) {
  HRESULT hr = S_OK;
  if (Begin("FunctionFinished", 0, vkr::TextVariant(invokeId), &hr)) return hr;
  const std::u16string key = vkr::Bstr(invokeId).Str();
  const std::size_t before = m_userInterfaces.size();
  std::vector<Attached> gone;
  for (auto it = m_userInterfaces.begin(); it != m_userInterfaces.end();) {
    if (it->invokeId == key) {
      gone.push_back(std::move(*it));
      it = m_userInterfaces.erase(it);
    } else {
      ++it;
    }
  }
  return End(m_userInterfaces.size() == before ? E_FAIL : S_OK);
}

HRESULT FakeUiDtm::NotifyStateChanged(ULONG state) {
  HRESULT hr = S_OK;
  if (Begin("NotifyStateChanged", state, vkr::EmptyVariant(), &hr)) return hr;
  std::vector<vkr::ComPtr<IUnknown>> snapshot;
  for (const Attached& a : m_userInterfaces) snapshot.push_back(a.userInterface);
  HRESULT first = S_OK;
  for (const vkr::ComPtr<IUnknown>& unknown : snapshot) {
    vkr::ComPtr<IovFdtActiveX4> ui;
    if (FAILED(unknown->QueryInterface(IovFdtActiveX4::iid, ui.PutVoid())) || !ui) return End(E_UNEXPECTED);
    const HRESULT result = ui->OnDtmStateChanged(state);
    m_deliveryResults.push_back(result);
    if (FAILED(result) && SUCCEEDED(first)) first = result;
  }
  return End(first);
}

HRESULT FakeUiDtm::ReportErrorToActiveX(LPCWSTR text) {
  HRESULT hr = S_OK;
  vkr::Bstr copy(text);
  if (Begin("ReportErrorToActiveX", 0, vkr::TextVariant(copy.Get()), &hr)) return hr;
  std::vector<vkr::ComPtr<IUnknown>> snapshot;
  for (const Attached& a : m_userInterfaces) snapshot.push_back(a.userInterface);
  HRESULT first = S_OK;
  for (const vkr::ComPtr<IUnknown>& unknown : snapshot) {
    vkr::ComPtr<IovFdtActiveX4> ui;
    if (FAILED(unknown->QueryInterface(IovFdtActiveX4::iid, ui.PutVoid())) || !ui) return End(E_UNEXPECTED);
    const HRESULT result = ui->ReportErrorText(text);
    if (FAILED(result) && SUCCEEDED(first)) first = result;
  }
  return End(first);
}

HRESULT FakeUiDtm::BroadcastToActiveX(VARIANT id, VARIANT argument) {
  ULONG command = 0;
  HRESULT hr = IdOf(id, &command);
  if (FAILED(hr)) return hr;
  // The real container calls at once, on the caller's thread.
  const std::size_t before = m_deliveryResults.size();
  Walk(command, argument);
  FakeBroadcast b;
  b.command = command;
  VariantCopy(&b.argument, &argument);
  m_delivered.push_back(std::move(b));
  for (std::size_t i = before; i < m_deliveryResults.size(); ++i)
    if (FAILED(m_deliveryResults[i])) return m_deliveryResults[i];
  return S_OK;
}

HRESULT FakeUiDtm::ShowUserMessage(BSTR title, BSTR text, VARIANT flags, LONG* answer) {
  HRESULT hr = S_OK;
  (void)title;
  if (Begin("ShowUserMessage", 0, vkr::TextVariant(text), &hr)) return hr;
  (void)flags;
  if (!answer) return End(E_POINTER);
  *answer = m_messageAnswer;
  return End(S_OK);
}

// ---- IovFdtTranslation ------------------------------------------------------------------------------

HRESULT FakeUiDtm::GetTranslation(BSTR xpath, BSTR* text, VARIANT_BOOL* found) {
  HRESULT hr = S_OK;
  if (Begin("GetTranslation", 0, vkr::TextVariant(xpath), &hr)) return hr;
  if (!text || !found) return End(E_POINTER);
  *text = nullptr;
  *found = VARIANT_FALSE;
  auto it = m_translations.find(vkr::Bstr(xpath).Str());
  if (it == m_translations.end()) return End(S_OK);
  *text = SysAllocStringLen(it->second.data(), static_cast<UINT>(it->second.size()));
  *found = VARIANT_TRUE;
  return End(S_OK);
}

}  // namespace vkr::test::ui
