// The outside-control stand-ins: recording COM objects registered with the frame host process.
#include "frame/controls/OutsideControls.h"

#include "frame/ActiveXHost.h"
#include "frame/controls/TestControl.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace vkr::frame {
namespace {

// The dispatch slots of the stand-ins' dual interfaces: nobody calls them by name.
#define VKR_NO_TYPE_INFO                                                                          \
  HRESULT GetTypeInfoCount(UINT* count) override {                                                \
    if (count) *count = 0;                                                                        \
    return S_OK;                                                                                  \
  }                                                                                               \
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {                                    \
    if (info) *info = nullptr;                                                                    \
    return E_NOTIMPL;                                                                             \
  }                                                                                               \
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }   \
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return E_NOTIMPL;                                                                             \
  }

std::string Line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Line(const char* fmt, ...) {
  char buffer[256];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return buffer;
}

// A VARIANT as recorded text: "I4 5", "BSTR Tank", "R4 1.500", "EMPTY", "VT 8209".
std::string VariantText(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
      return "EMPTY";
    case VT_I4:
      return Line("I4 %d", static_cast<int>(v.lVal));
    case VT_UI4:
      return Line("UI4 %u", static_cast<unsigned>(v.ulVal));
    case VT_UI1:
      return Line("UI1 %u", static_cast<unsigned>(v.bVal));
    case VT_R4:
      return Line("R4 %.3f", static_cast<double>(v.fltVal));
    case VT_R8:
      return Line("R8 %.3f", v.dblVal);
    case VT_BOOL:
      return v.boolVal ? "BOOL true" : "BOOL false";
    case VT_BSTR:
      return "BSTR " + Utf16ToUtf8(v.bstrVal ? std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal)) : u"");
    default:
      return Line("VT %u", static_cast<unsigned>(v.vt));
  }
}

// The call log of a stand-in (each class answers IRecorder::Calls with it).
class RecorderBase {
 protected:
  void Note(std::string line) { m_calls.push_back(std::move(line)); }
  std::vector<std::string> m_calls;
};

// ---- Parameter-group display control -------------------------------------------------------

class ParamGroupDisplay : public Implements<IParamGroupDisplay, IConnectionPointContainer, IRecorder>,
                          public RecorderBase {
 public:
  VKR_NO_TYPE_INFO
  const std::vector<std::string>& Calls() override { return m_calls; }

  HRESULT SetParameterState(LONG parameterId, LONG state) override {
    Note(Line("SetParameterState %d %d", static_cast<int>(parameterId), static_cast<int>(state)));
    return S_OK;
  }
  HRESULT GetUnitText(BYTE unitCode, BSTR* text) override {
    Note(Line("GetUnitText %u", static_cast<unsigned>(unitCode)));
    return Answer(HartUnitText(unitCode), text);
  }
  HRESULT GetTransferFunctionText(BYTE code, BSTR* text) override {
    Note(Line("GetTransferFunctionText %u", static_cast<unsigned>(code)));
    return Answer(TransferFunctionText(code), text);
  }
  HRESULT ReleaseBinding(LONG* bound) override {
    Note("ReleaseBinding");
    if (bound) *bound = 0;
    return S_OK;
  }

  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    return FindConnectionPointIn({&m_events}, riid, ppCP);
  }

  void Fire(LONG controlId, LONG kind, const VARIANT& data, const VARIANT& extra) {
    Note(Line("Fire %d %d %s", static_cast<int>(controlId), static_cast<int>(kind), VariantText(data).c_str()));
    m_events.Fire<IovFdtParamGroupDisplayEvent>([&](IovFdtParamGroupDisplayEvent* sink) {
      sink->OnParamGroupDisplayEvent(controlId, kind, data, extra);
    });
  }

 private:
  static HRESULT Answer(const std::u16string& found, BSTR* text) {
    if (!text) return E_POINTER;
    *text = nullptr;
    if (found.empty()) return S_FALSE;
    *text = SysAllocStringLen(found.data(), static_cast<UINT>(found.size()));
    return *text ? S_OK : E_OUTOFMEMORY;
  }
  ConnectionPoint m_events{this, IovFdtParamGroupDisplayEvent::iid};
};

// ---- Chart ---------------------------------------------------------------------------------

// A windowed control (made in place by its host) that records what it is told and plots the
// samples of its visible pens on their ranges, the latest on the right.
class Chart : public vkr::atl::CompositeControl<Chart, IChartControl, IRecorder>, public RecorderBase {
 public:
  static constexpr UINT IDD = 1;
  VKR_NO_TYPE_INFO
  const std::vector<std::string>& Calls() override { return m_calls; }
  ChartState state;

  const char* TemplateText() const override {
    return "1 DIALOGEX 0, 0, 200, 100\n"
           "STYLE DS_CONTROL | WS_CHILD\n"
           "FONT 8, \"MS Sans Serif\"\n"
           "BEGIN\n"
           "END\n";
  }
  CLSID ObjectClsid() const override { return CLSID_ChartControl; }
  // Paints itself; the window's other messages go to the default.
  BOOL ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override {
    if (mapId != 0 || message != WM_PAINT) return FALSE;
    BOOL handled = TRUE;
    result = OnPaint(message, wParam, lParam, handled);
    return handled;
  }

  HRESULT SetSamplingInterval(LONG milliseconds) override {
    Note(Line("SetSamplingInterval %d", static_cast<int>(milliseconds)));
    if (milliseconds <= 0) return E_INVALIDARG;
    state.interval = milliseconds;
    return S_OK;
  }
  HRESULT ShowPen(LONG pen, VARIANT_BOOL show) override {
    Note(Line("ShowPen %d %d", static_cast<int>(pen), show ? 1 : 0));
    if (!ValidPen(pen)) return E_INVALIDARG;
    state.visible[pen - 1] = show != VARIANT_FALSE;
    return S_OK;
  }
  HRESULT Reset() override {
    Note("Reset");
    for (auto& s : state.samples) s.clear();
    state.running = false;
    Redraw();
    return S_OK;
  }
  HRESULT Start() override {
    Note("Start");
    state.running = true;
    return S_OK;
  }
  HRESULT AddSample(LONG pen, double value) override {
    Note(Line("AddSample %d %.3f", static_cast<int>(pen), value));
    if (!ValidPen(pen)) return E_INVALIDARG;
    state.samples[pen - 1].push_back(value);
    return S_OK;
  }
  HRESULT SetPenRange(LONG pen, double minimum, double maximum) override {
    Note(Line("SetPenRange %d %.3f %.3f", static_cast<int>(pen), minimum, maximum));
    if (!ValidPen(pen)) return E_INVALIDARG;
    state.minimum[pen - 1] = minimum;
    state.maximum[pen - 1] = maximum;
    return S_OK;
  }
  HRESULT Refresh() override {
    Note("Refresh");
    ++state.refreshes;
    Redraw();
    return S_OK;
  }

  // The persisted properties of its dialog item are kept as they came.
  HRESULT OnLoad(IStream* stream) override {
    if (!stream) return E_POINTER;
    BYTE buffer[4096];
    ULONG got = 0;
    HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
    if (FAILED(hr)) return hr;
    m_persisted.assign(buffer, buffer + got);
    Note(Line("Load %u", static_cast<unsigned>(got)));
    return S_OK;
  }
  HRESULT OnInitNew() override {
    Note("InitNew");
    return S_OK;
  }

  LRESULT OnPaint(UINT, WPARAM, LPARAM, BOOL&) {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    if (dc) Plot(dc);
    ::EndPaint(m_hWnd, &paint);
    return 0;
  }

 private:
  static bool ValidPen(LONG pen) { return pen >= 1 && pen <= 5; }
  void Redraw() {
    if (m_hWnd && ::IsWindow(m_hWnd)) ::InvalidateRect(m_hWnd, nullptr, TRUE);
  }
  // White paper with a grid; each visible pen's samples as a line scaled to its range, at most
  // the last 30, the newest on the right edge.
  void Plot(HDC dc) {
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    HBRUSH paper = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
    FillRect(dc, &client, paper);
    DeleteObject(paper);
    const int left = client.left + 6, top = client.top + 6;
    const int width = client.right - client.left - 12, height = client.bottom - client.top - 12;
    if (width <= 0 || height <= 0) return;
    HPEN grid = CreatePen(PS_SOLID, 1, RGB(0xD8, 0xD8, 0xD8));
    HGDIOBJ old = SelectObject(dc, grid);
    for (int i = 0; i <= 4; ++i) {
      const int y = top + height * i / 4;
      MoveToEx(dc, left, y, nullptr);
      LineTo(dc, left + width, y);
    }
    for (int i = 0; i <= 10; ++i) {
      const int x = left + width * i / 10;
      MoveToEx(dc, x, top, nullptr);
      LineTo(dc, x, top + height);
    }
    static const COLORREF kColours[5] = {RGB(0xC0, 0x00, 0x00), RGB(0x00, 0x80, 0x00), RGB(0x00, 0x00, 0xC0),
                                         RGB(0xA0, 0x00, 0xA0), RGB(0x00, 0x80, 0x80)};
    constexpr std::size_t kShown = 30;
    for (std::size_t pen = 0; pen < 5; ++pen) {
      const std::vector<double>& samples = state.samples[pen];
      const double low = state.minimum[pen], high = state.maximum[pen];
      if (!state.visible[pen] || samples.empty() || !(high > low)) continue;
      HPEN line = CreatePen(PS_SOLID, 2, kColours[pen]);
      SelectObject(dc, line);
      const std::size_t first = samples.size() > kShown ? samples.size() - kShown : 0;
      for (std::size_t i = first; i < samples.size(); ++i) {
        const double share = std::clamp((samples[i] - low) / (high - low), 0.0, 1.0);
        const int x = left + width - static_cast<int>((samples.size() - 1 - i) * static_cast<std::size_t>(width) / (kShown - 1));
        const int y = top + height - static_cast<int>(share * height);
        if (i == first) {
          MoveToEx(dc, x, y, nullptr);
          // A lone sample shows as a short stroke.
          if (first + 1 == samples.size()) LineTo(dc, x - 6, y);
        } else {
          LineTo(dc, x, y);
        }
      }
      SelectObject(dc, grid);
      DeleteObject(line);
    }
    SelectObject(dc, old);
    DeleteObject(grid);
  }

  std::vector<BYTE> m_persisted;
};

// ---- Header display (item 217) -------------------------------------------------------------

class HeaderDisplay : public Implements<IHostedValueControl, IHostedControlSetup, IRecorder>, public RecorderBase {
 public:
  VKR_NO_TYPE_INFO
  const std::vector<std::string>& Calls() override { return m_calls; }

  HRESULT SetValue(LONG parameterId, VARIANT value) override {
    Note(Line("SetValue %d ", static_cast<int>(parameterId)) + VariantText(value));
    for (auto& entry : m_values) {
      if (entry.first == parameterId) return VariantCopy(&entry.second, &value);
    }
    m_values.emplace_back(parameterId, Variant(value));
    return S_OK;
  }
  HRESULT GetValue(LONG parameterId, VARIANT* value) override {
    Note(Line("GetValue %d", static_cast<int>(parameterId)));
    if (!value) return E_POINTER;
    VariantInit(value);
    for (auto& entry : m_values) {
      if (entry.first == parameterId) return VariantCopy(value, &entry.second);
    }
    return S_FALSE;
  }
  HRESULT SelectValue(LONG mode, VARIANT parameterId, SHORT* result) override {
    Note(Line("SelectValue %d ", static_cast<int>(mode)) + VariantText(parameterId));
    if (result) *result = 0;
    return S_OK;
  }
  HRESULT SetLanguage(LONG languageId) override {
    Note(Line("SetLanguage %d", static_cast<int>(languageId)));
    return S_OK;
  }

 private:
  std::vector<std::pair<LONG, Variant>> m_values;
};

// ---- Status display (item 218) -------------------------------------------------------------

class StatusDisplay : public Implements<IHostedControlNotify, IPersistStreamInit, IRecorder>, public RecorderBase {
 public:
  VKR_NO_TYPE_INFO
  const std::vector<std::string>& Calls() override { return m_calls; }

  HRESULT Reserved7() override { return E_NOTIMPL; }
  HRESULT Reserved8() override { return E_NOTIMPL; }
  HRESULT NotifyStatus(ULONG kind, ULONG value) override {
    Note(Line("NotifyStatus %u %u", static_cast<unsigned>(kind), static_cast<unsigned>(value)));
    return S_OK;
  }
  HRESULT Reserved10() override { return E_NOTIMPL; }
  HRESULT Reserved11() override { return E_NOTIMPL; }
  HRESULT Reserved12() override { return E_NOTIMPL; }
  HRESULT Reserved13() override { return E_NOTIMPL; }
  HRESULT Reserved14() override { return E_NOTIMPL; }
  HRESULT SetOption1(ULONG bits) override { return Option(1, bits); }
  HRESULT Reserved16() override { return E_NOTIMPL; }
  HRESULT SetOption2(ULONG bits) override { return Option(2, bits); }
  HRESULT Reserved18() override { return E_NOTIMPL; }
  HRESULT SetOption3(ULONG bits) override { return Option(3, bits); }
  HRESULT SetTranslation(IUnknown* translation, VARIANT_BOOL* done) override {
    Note(translation ? "SetTranslation" : "SetTranslation null");
    m_translation = translation;
    if (done) *done = VARIANT_TRUE;
    return S_OK;
  }

  // The dialog item's persisted extent: 16 bytes (two 32-bit HIMETRIC sizes and two reserved
  // words); other lengths are refused.
  HRESULT GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_StatusDisplay;
    return S_OK;
  }
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(IStream* stream) override {
    if (!stream) return E_POINTER;
    BYTE bytes[16];
    ULONG got = 0;
    HRESULT hr = stream->Read(bytes, sizeof bytes, &got);
    if (FAILED(hr)) return hr;
    if (got != sizeof bytes) {
      Note(Line("Load refused %u", static_cast<unsigned>(got)));
      return E_FAIL;
    }
    auto word = [&](int at) {
      return static_cast<LONG>(bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
                               (static_cast<DWORD>(bytes[at + 3]) << 24));
    };
    m_extent = {word(0), word(4)};
    Note(Line("Load %d %d", static_cast<int>(m_extent.cx), static_cast<int>(m_extent.cy)));
    return S_OK;
  }
  HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
  HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT InitNew() override {
    Note("InitNew");
    return S_OK;
  }

 private:
  HRESULT Option(int which, ULONG bits) {
    Note(Line("SetOption%d 0x%X", which, static_cast<unsigned>(bits)));
    return S_OK;
  }
  ComPtr<IUnknown> m_translation;
  SIZEL m_extent{};
};

// ---- Message mediator ----------------------------------------------------------------------

class MessageMediator;
// The mediators started on this thread, in start order.
thread_local std::vector<MessageMediator*> t_started;

class MessageMediator : public Implements<IMessageMediator, IConnectionPointContainer, IRecorder>,
                        public RecorderBase {
 public:
  VKR_NO_TYPE_INFO
  const std::vector<std::string>& Calls() override { return m_calls; }

  void FinalRelease() { Unlist(); }

  HRESULT Start(HWND window) override {
    Note(Line("Start %u", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window))));
    if (!window) return E_INVALIDARG;
    InstallHostLoopFilter();
    m_window = window;
    if (std::find(t_started.begin(), t_started.end(), this) == t_started.end()) t_started.push_back(this);
    return S_OK;
  }
  HRESULT Stop() override {
    Note("Stop");
    Unlist();
    m_window = nullptr;
    return S_OK;
  }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    return FindConnectionPointIn({&m_events}, riid, ppCP);
  }

  // True when a sink consumed the message.
  bool Offer(MSG* msg) {
    const bool key = msg->message >= 0x100 && msg->message <= 0x109;
    if (!key && msg->message != WM_TIMER) return false;
    if (!m_window || !msg->hwnd || (msg->hwnd != m_window && !IsChild(m_window, msg->hwnd))) return false;
    bool consumed = false;
    m_events.Fire<_IMessageMediatorEvents>([&](_IMessageMediatorEvents* sink) {
      if (!consumed && sink->OnMessageMediatorEvent(msg) == S_OK) consumed = true;
    });
    return consumed;
  }

 private:
  void Unlist() {
    auto it = std::find(t_started.begin(), t_started.end(), this);
    if (it != t_started.end()) t_started.erase(it);
  }
  HWND m_window = nullptr;
  ConnectionPoint m_events{this, _IMessageMediatorEvents::iid};
};

template <class T>
T* StandIn(IUnknown* control) {
  if (!control) return nullptr;
  ComPtr<IRecorder> recorder;
  if (FAILED(control->QueryInterface(IRecorder::iid, recorder.PutVoid())) || !recorder) return nullptr;
  return dynamic_cast<T*>(recorder.Get());
}

}  // namespace

std::vector<std::string> RecordedCalls(IUnknown* control) {
  ComPtr<IRecorder> recorder;
  if (!control || FAILED(control->QueryInterface(IRecorder::iid, recorder.PutVoid())) || !recorder) return {};
  return recorder->Calls();
}

std::u16string HartUnitText(BYTE code) {
  static const struct {
    BYTE code;
    const char16_t* text;
  } kUnits[] = {
      {1, u"Inches of water at 68 °F (inH2O)"}, {2, u"Inches of mercury at 0 °C (inHg)"},
      {3, u"Feet of water at 68 °F (ftH2O)"}, {4, u"Millimetres of water at 68 °F (mmH2O)"},
      {5, u"Millimetres of mercury at 0 °C (mmHg)"}, {6, u"Pounds per square inch (psi)"},
      {7, u"Bar (bar)"}, {8, u"Millibar (mbar)"}, {9, u"Grams per square centimetre (g/cm2)"},
      {10, u"Kilograms per square centimetre (kg/cm2)"}, {11, u"Pascals (Pa)"}, {12, u"Kilopascals (kPa)"},
      {13, u"Torr (torr)"}, {14, u"Atmospheres (atm)"}, {15, u"Cubic feet per minute (ft3/min)"},
      {16, u"Gallons per minute (gal/min)"}, {17, u"Litres per minute (l/min)"},
      {19, u"Cubic metres per hour (m3/h)"}, {20, u"Feet per second (ft/s)"}, {21, u"Metres per second (m/s)"},
      {24, u"Litres per second (l/s)"}, {28, u"Cubic metres per second (m3/s)"},
      {32, u"Degrees Celsius (°C)"}, {33, u"Degrees Fahrenheit (°F)"}, {34, u"Degrees Rankine (°R)"},
      {35, u"Kelvin (K)"}, {36, u"Millivolts (mV)"}, {37, u"Ohms (Ohm)"}, {38, u"Hertz (Hz)"},
      {39, u"Milliamperes (mA)"}, {40, u"Gallons (gal)"}, {41, u"Litres (l)"}, {42, u"Imperial gallons (ImpGal)"},
      {43, u"Cubic metres (m3)"}, {44, u"Feet (ft)"}, {45, u"Metres (m)"}, {46, u"Barrels (bbl)"},
      {47, u"Inches (in)"}, {48, u"Centimetres (cm)"}, {49, u"Millimetres (mm)"}, {50, u"Minutes (min)"},
      {51, u"Seconds (s)"}, {52, u"Hours (h)"}, {53, u"Days (d)"}, {57, u"Percent (%)"}, {58, u"Volts (V)"},
  };
  for (const auto& unit : kUnits) {
    if (unit.code == code) return unit.text;
  }
  return {};
}

std::u16string TransferFunctionText(BYTE code) {
  switch (code) {
    case 0: return u"Linear";
    case 1: return u"Square root";
    case 2: return u"Square root third power";
    case 3: return u"Square root fifth power";
    case 4: return u"Special curve";
    case 5: return u"Square";
    case 6: return u"Square root with cut-off";
    case 250: return u"Not used";
    case 251: return u"None";
    case 252: return u"Unknown";
    case 253: return u"Special";
    default: return {};
  }
}

HRESULT FireParamGroupDisplayEvent(IUnknown* control, LONG controlId, LONG kind, const VARIANT& data,
                                   const VARIANT& extra) {
  ParamGroupDisplay* display = StandIn<ParamGroupDisplay>(control);
  if (!display) return E_NOINTERFACE;
  ComPtr<IUnknown> keep(control);
  display->Fire(controlId, kind, data, extra);
  return S_OK;
}

bool GetChartState(IUnknown* control, ChartState* state) {
  Chart* chart = StandIn<Chart>(control);
  if (!chart || !state) return false;
  *state = chart->state;
  return true;
}

HRESULT GetHeaderDisplayValue(IUnknown* control, LONG parameterId, VARIANT* value) {
  ComPtr<IHostedValueControl> values;
  if (!StandIn<HeaderDisplay>(control) || FAILED(control->QueryInterface(IHostedValueControl::iid, values.PutVoid())))
    return E_NOINTERFACE;
  return values->GetValue(parameterId, value);
}

bool RunMessageMediators(MSG* msg) {
  if (!msg) return false;
  const std::vector<MessageMediator*> started = t_started;  // a sink may stop a mediator
  for (MessageMediator* mediator : started) {
    if (std::find(t_started.begin(), t_started.end(), mediator) == t_started.end()) continue;
    ComPtr<IMessageMediator> keep(mediator);
    if (mediator->Offer(msg)) return true;
  }
  return false;
}

// ---- Registration --------------------------------------------------------------------------

namespace {

template <class T>
class StandInFactory : public Implements<IClassFactory> {
 public:
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    return CreateObject<T>(outer, riid, ppv);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};

template <class T>
HRESULT MakeFactory(IUnknown** out) {
  return CreateObject<StandInFactory<T>>(nullptr, IID_IUnknown, reinterpret_cast<void**>(out));
}

std::mutex g_registrationLock;
int g_registrations = 0;
std::vector<DWORD> g_cookies;

HRESULT WriteKey(const std::u16string& path, const std::u16string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, reinterpret_cast<LPCWSTR>(path.c_str()), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return REGDB_E_WRITEREGDB;
  const LSTATUS status =
      RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? S_OK : REGDB_E_WRITEREGDB;
}

}  // namespace

HRESULT RegisterOutsideControls() {
  std::lock_guard<std::mutex> lock(g_registrationLock);
  if (g_registrations++ > 0) return S_OK;
  struct Entry {
    const CLSID* clsid;
    const char16_t* progId;
    const char16_t* userType;
    HRESULT (*factory)(IUnknown**);
  };
  const Entry entries[] = {
      {&CLSID_MessageMediator, kProgIdMessageMediator, u"MessageMediator Class", &MakeFactory<MessageMediator>},
      {&CLSID_ParamGroupDisplay, kProgIdParamGroupDisplay, u"ParamGroupDisplay Control",
       &MakeFactory<ParamGroupDisplay>},
      {&CLSID_ChartControl, kProgIdChartControl, u"Chart Control", &MakeFactory<Chart>},
      {&CLSID_HeaderDisplay, kProgIdHeaderDisplay, u"HeaderDisplay Control", &MakeFactory<HeaderDisplay>},
      {&CLSID_StatusDisplay, kProgIdStatusDisplay, u"StatusDisplay Control", &MakeFactory<StatusDisplay>},
      {&CLSID_FrameTestControl, kProgIdFrameTestControl, u"FrameTestControl Class", &MakeFactory<FrameTestControl>},
  };
  HRESULT result = S_OK;
  // One batch: the registry file is written once for all the controls' keys, not once per key.
  const LSTATUS began = vkr::platform::BeginRegistryBatch();
  for (const Entry& e : entries) {
    ComPtr<IUnknown> factory;
    HRESULT hr = e.factory(factory.Put());
    DWORD cookie = 0;
    if (SUCCEEDED(hr))
      hr = CoRegisterClassObject(*e.clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(hr)) g_cookies.push_back(cookie);
    OLECHAR braced[40] = {};
    StringFromGUID2(*e.clsid, braced, 40);
    if (SUCCEEDED(hr)) hr = WriteKey(u"CLSID\\" + std::u16string(braced), e.userType);
    if (SUCCEEDED(hr)) hr = WriteKey(u"CLSID\\" + std::u16string(braced) + u"\\ProgID", e.progId);
    if (SUCCEEDED(hr)) hr = WriteKey(std::u16string(e.progId) + u"\\CLSID", braced);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  if (began == ERROR_SUCCESS) {
    if (const LSTATUS written = vkr::platform::CommitRegistryBatch(); written != ERROR_SUCCESS && SUCCEEDED(result))
      result = HRESULT_FROM_WIN32(static_cast<DWORD>(written));
  } else if (SUCCEEDED(result)) {
    result = HRESULT_FROM_WIN32(static_cast<DWORD>(began));
  }
  return result;
}

void RevokeOutsideControls() {
  std::lock_guard<std::mutex> lock(g_registrationLock);
  if (g_registrations == 0 || --g_registrations > 0) return;
  for (DWORD cookie : g_cookies) CoRevokeClassObject(cookie);
  g_cookies.clear();
}

}  // namespace vkr::frame
