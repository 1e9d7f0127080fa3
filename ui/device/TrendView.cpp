// The trend view control: its table, start and release, the samples of command 3 into the chart,
// the header and the layout.
#include "ui/device/TrendView.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/HartResponses.h"
#include "ui/device/ValuesPP.h"
#include "ui/device/kit/DeviceOutcome.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr ULONG kNoControl = 0x80000000;
constexpr ULONG kStateFlags = 113;
constexpr ULONG kFunctionTrend = 2;  // the DTM function greyed while the trend view is open
constexpr float kDefaultSensorMaximum = 18.5f;

// Only the status display takes the DTM's translation.
constexpr UINT kTranslatedDisplays[] = {kTrendStatusDisplay, 0};

SCompositeControlClass TrendClass() {
  SCompositeControlClass cls;
  cls.dialogId = kTrendDialogId;
  cls.controlNames = vkr::dui::kTrendViewControlNames;
  cls.hostedDisplayControls = kTranslatedDisplays;
  return cls;
}

template <class I>
vkr::ComPtr<I> Query(IUnknown* object) {
  vkr::ComPtr<I> found;
  if (object && FAILED(object->QueryInterface(I::iid, found.PutVoid()))) found = nullptr;
  return found;
}

std::string Ansi(BSTR text) {
  const int length = text ? static_cast<int>(SysStringLen(text)) : 0;
  if (length == 0) return {};
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

// A child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND parent, HWND child) {
  RECT r{};
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace

CTrendView::CTrendView() : CovFDT_IDtmActiveXImplEx(CLSID_TrendView, &CTrendView::GetParameterMap, TrendClass()) {}

CTrendView::~CTrendView() = default;

CActXParInfo* CTrendView::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo table[] = {
      CActXParInfo(kParDevice, "Device", kTrendHeaderDisplay, "%s", kStateFlags, FALSE, kNoControl),
      CActXParInfo(kParDeviceType, "DeviceType", kTrendHeaderDisplay, "", kStateFlags, FALSE, kNoControl),
      CActXParInfo(kParCommand3Complete, "Command 3 complete", 0, "", kStateFlags, FALSE, kNoControl),
      CActXParInfo(kParTagOnlyStatic, "Tag only static", kTrendTag, "%s", 0, FALSE, 1),
      CActXParInfo(kParTagOnly, "Tag only", 0, "", 0, FALSE, kNoControl),
      CActXParInfo(kParCommand14Complete, "Command 14 complete", 0, "", 0, FALSE, kNoControl),
      CActXParInfo(),
  };
  if (!copy) {
    if (count) *count = CountParameterEntries(table);
    return table;
  }
  return CopyParameterTable(table, count);
}

HRESULT CTrendView::FinalConstruct() {
  // Like the pages, the trend view works without the unit-text provider (the units stay empty).
  CoCreateInstance(CLSID_ParamGroupDisplay, nullptr, CLSCTX_ALL, IParamGroupDisplay::iid, m_spDisplay.PutVoid());
  return S_OK;
}

void CTrendView::FinalRelease() {
  m_spDisplay = nullptr;
  m_spChart = nullptr;
}

void* CTrendView::FindInterface(REFIID riid) {
  if (riid == ISomeInterface::iid) return static_cast<ISomeInterface*>(this);
  return CovFDT_IDtmActiveXImplEx::FindInterface(riid);
}

HRESULT CTrendView::GetTypeInfoCount(UINT* count) { return CovFDT_IDtmActiveXImplEx::GetTypeInfoCount(count); }
HRESULT CTrendView::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return CovFDT_IDtmActiveXImplEx::GetTypeInfo(index, lcid, info);
}
HRESULT CTrendView::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  return CovFDT_IDtmActiveXImplEx::GetIDsOfNames(riid, names, count, lcid, ids);
}
HRESULT CTrendView::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                           EXCEPINFO* exception, UINT* argumentError) {
  return CovFDT_IDtmActiveXImplEx::Invoke(id, riid, lcid, flags, params, result, exception, argumentError);
}

// ===== Start and release ============================================================================

HRESULT CTrendView::Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  const HRESULT started = CovFDT_IDtmActiveXImplEx::Init(instanceId, functionCall, dtm, result);
  // A control that did not start is let go without PrepareToRelease: it holds nothing yet.
  if (started != S_OK || !*result) return started;
  if (SUCCEEDED(CallActiveXContainer(kFunctionTrend, 0))) m_bFunctionDisabled = true;

  m_headerFont.Create("Ms Sans Serif", 12, 600);
  m_headerFont.SetOn(m_hWndDialog, {kTrendNameLabel, kTrendName, kTrendDescriptionLabel, kTrendDescription,
                                    kTrendTagLabel, kTrendTag});
  SetItemText(kTrendNameLabel, "Device Name :");
  SetItemText(kTrendName, "Brevant Guided Radar (VKR)");
  SetItemText(kTrendDescriptionLabel, "Device Description :");
  SetItemText(kTrendDescription, "Guided Radar Continous level measurement with 4-20 mA and HART");
  struct Place {
    UINT id;
    int x, y, width;
  };
  for (const Place& p : {Place{kTrendNameLabel, 90, 20, 100}, Place{kTrendDescriptionLabel, 90, 40, 160},
                         Place{kTrendTagLabel, 90, 60, 100}, Place{kTrendName, 210, 20, 300},
                         Place{kTrendDescription, 210, 40, 400}, Place{kTrendTag, 210, 60, 300}}) {
    if (HWND item = ::GetDlgItem(m_hWndDialog, static_cast<int>(p.id))) {
      ::ShowWindow(item, SW_SHOW);
      ::MoveWindow(item, p.x, p.y, p.width, 15, TRUE);
    }
  }
  // The header labels now hold their built-in English: the translation file's texts go over them
  // again (the start's translation ran before).
  if (TranslationPart()) TranslationPart()->OnTranslate(static_cast<ULONG>(m_nLanguage));

  m_spChart = nullptr;
  GetHostedControl(kTrendChart, IChartControl::iid, m_spChart.PutVoid());

  for (std::size_t i = 0; i < kTrendPenCount; ++i)
    ::CheckDlgButton(m_hWndDialog, static_cast<int>(kTrendPenChecks[i]), i == 0 ? BST_CHECKED : BST_UNCHECKED);
  m_nPenMask = 1;
  ClearPenFields();
  Layout();

  m_nSamplingRate = ProcessValueUpdatePeriod(kTrendDefaultRate);
  // The rates and the pen ranges are there before the device is asked anything: a read that fails
  // leaves a control that still samples, on sensible ranges, and a sensor limit that arrives
  // later is never overwritten by the defaults.
  m_afPenMinimum = kTrendPenMinimum;
  m_afPenMaximum = kTrendPenMaximum;
  FillRateCombo();

  const ULONG state = CurrentDtmState();
  m_nLastState = state;
  ShowTagPlaceholder(state);
  // Without the tag and the limit the trend keeps the registry's rate and stays uncounted; it
  // still works.
  if (state == kDtmStateOnline && m_spDtm && !ReadHeader()) return started;
  // Asks the DTM to go online when it is not, and counts this user interface in.
  m_usage.CountIn(*this, state);
  m_nSamplingRate = kTrendStartRate;
  FillRateCombo();
  return started;
}

bool CTrendView::ReadHeader() {
  for (const LONG id : {static_cast<LONG>(kParTagOnly), static_cast<LONG>(kParCommand14Complete)}) {
    const unsigned long long mark = DeviceFailureMark();
    VARIANT_BOOL done = VARIANT_FALSE;
    const HRESULT hr = m_spDtm->ReadDeviceParameter(vkr::UI4(static_cast<ULONG>(id)), &done);
    if (SUCCEEDED(hr) && hr != S_FALSE) continue;
    // The read never went out: no answer and no failure will come for it.
    TellHeaderNotRead(id, OutcomeAfter(hr, false, mark, id));
    return false;
  }
  return true;
}

void CTrendView::ShowTagPlaceholder(ULONG state) {
  if (state == kDtmStateOnline) return;
  m_bTagRead = false;
  SetItemText(kTrendTag, state == kDtmStateGoingOnline ? kLoadingText : kNotConnectedText);
}

void CTrendView::TellHeaderNotRead(LONG id, const SDeviceOutcome& outcome) {
  if (id == kParTagOnly) SetItemText(kTrendTag, kTrendTagNotRead);
  // Both reads of the header may fail (a lost link fails the second too): the line names every
  // value that could not be read, not only the last.
  std::vector<LONG> failed;
  for (const LONG told : m_toldFailures)
    if (told != id) failed.push_back(told);
  failed.push_back(id);
  std::vector<std::u16string> names;
  for (const LONG told : failed) names.push_back(told == kParTagOnly ? u"Device Tag" : u"The sensor limit");
  SetMessage(NotReadText(names, outcome, id == kParTagOnly ? 13 : 14));
  m_toldFailures = std::move(failed);
}

void CTrendView::ClearFailureOf(LONG id) {
  // A read again that worked: the failure said before is over.
  const auto at = std::find(m_toldFailures.begin(), m_toldFailures.end(), id);
  if (at == m_toldFailures.end()) return;
  m_toldFailures.erase(at);
  if (m_toldFailures.empty()) SetItemText(kTrendMessage, "");
}

void CTrendView::SetMessage(const std::u16string& text) {
  m_toldFailures.clear();
  SetItemText(kTrendMessage, vkr::Utf16ToUtf8(text).c_str());
}

std::vector<std::u16string> CTrendView::SampledNames() const {
  // The pens' own labels ("Pen1: Primary Variable"), translated as the user reads them.
  std::vector<std::u16string> names;
  for (std::size_t i = 0; i < kTrendPenCount; ++i) {
    if (!(m_nPenMask & (1u << i))) continue;
    std::string label = DialogItemText(m_hWndDialog, kTrendPenChecks[i]);
    if (const std::size_t colon = label.find(": "); colon != std::string::npos) label.erase(0, colon + 2);
    names.push_back(vkr::Utf8ToUtf16(label));
  }
  if (names.empty()) names.push_back(u"The device values");
  return names;
}

void CTrendView::ShowPensNotRead() {
  // The value beside a pen is the device's word now: after a failed sample it is none.
  for (std::size_t i = 0; i < kTrendPenCount; ++i)
    if (m_nPenMask & (1u << i)) SetItemText(kTrendPenValues[i], kNotReadText);
}

HRESULT CTrendView::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  // The device is not read on for a trend nobody sees any more.
  if (m_bRunning) Stop();
  const ULONG state = CurrentDtmState();
  // Only what this control counted in is counted out; only then may it take the DTM offline.
  m_usage.CountOut(*this, state);
  if (m_bFunctionDisabled && state >= kDtmStateCommunicationSet) {
    CallActiveXContainer(kFunctionTrend, 1);
    m_bFunctionDisabled = false;
  }
  return CovFDT_IDtmActiveXImplEx::PrepareToRelease(result);
}

ULONG CTrendView::CurrentDtmState() const {
  IUnknown* dtm = m_spDtmUnknown ? m_spDtmUnknown.Get() : m_spDtmObject.Get();
  if (vkr::ComPtr<IovFdtBaseDTM> base = Query<IovFdtBaseDTM>(dtm)) {
    EDtmState state = dsUNDEFINED;
    if (SUCCEEDED(base->GetDTMState(&state))) return static_cast<ULONG>(state);
  }
  return m_nDtmState;
}

// ===== Rate, pens, Start and Stop ===================================================================

void CTrendView::FillRateCombo() {
  HWND combo = ::GetDlgItem(m_hWndDialog, kTrendRateCombo);
  if (!combo) return;
  ::SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  LRESULT selected = CB_ERR;
  for (std::size_t i = 0; i < kTrendRateCount; ++i) {
    const LRESULT at = ::SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kTrendRateTexts[i]));
    if (kTrendRates[i] == m_nSamplingRate) selected = at;
  }
  // A registry rate that is none of the items shows no item: the combo never names a rate the
  // trend does not use.
  ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

HRESULT CTrendView::SelectRate() {
  char text[257] = {};
  ::GetDlgItemTextA(m_hWndDialog, kTrendRateCombo, text, 256);
  const LRESULT found = ::SendDlgItemMessageA(m_hWndDialog, kTrendRateCombo, CB_FINDSTRINGEXACT,
                                              static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text));
  if (found == CB_ERR || found < 0 || static_cast<std::size_t>(found) >= kTrendRateCount) return E_FAIL;
  m_nSamplingRate = kTrendRates[found];
  return S_OK;
}

void CTrendView::ReadPenMask() {
  BYTE mask = 0;
  for (std::size_t i = 0; i < kTrendPenCount; ++i)
    if (::IsDlgButtonChecked(m_hWndDialog, static_cast<int>(kTrendPenChecks[i])) == BST_CHECKED)
      mask = static_cast<BYTE>(mask | (1u << i));
  m_nPenMask = mask;
}

void CTrendView::EnableSelection(BOOL enable) {
  for (UINT id : kTrendPenChecks)
    if (HWND item = ::GetDlgItem(m_hWndDialog, static_cast<int>(id))) ::EnableWindow(item, enable);
  for (UINT id : {kTrendRateCombo, kTrendRateLabel})
    if (HWND item = ::GetDlgItem(m_hWndDialog, static_cast<int>(id))) ::EnableWindow(item, enable);
}

void CTrendView::ClearPenFields() {
  for (std::size_t i = 0; i < kTrendPenCount; ++i) {
    SetItemText(kTrendPenValues[i], "");
    SetItemText(kTrendPenUnits[i], "");
  }
}

void CTrendView::OnStartStop() {
  if (m_bRunning) {
    Stop();
    return;
  }
  if (CurrentDtmState() != kDtmStateOnline) {
    // Nothing would come: the trend does not pretend to run.
    SetMessage(u"The trend did not start: no device is connected.");
    return;
  }
  if (m_bLinkGone) {
    SetMessage(u"The trend did not start: the connection to the device is lost.");
    return;
  }
  if (m_spChart) {
    m_spChart->SetSamplingInterval(static_cast<LONG>(m_nSamplingRate));
    for (LONG pen = 1; pen <= static_cast<LONG>(kTrendPenCount); ++pen) m_spChart->ShowPen(pen, VARIANT_FALSE);
    for (LONG pen = 1; pen <= static_cast<LONG>(kTrendPenCount); ++pen)
      if (m_nPenMask & (1u << (pen - 1))) m_spChart->ShowPen(pen, VARIANT_TRUE);
    m_spChart->Reset();
    m_spChart->Start();
  }
  SetItemText(kTrendStartStop, "Stop");
  EnableSelection(FALSE);
  SetItemText(kTrendMessage, "");
  // Running before the first read goes out: its answer, or its failure, may come at once.
  m_bRunning = true;
  m_nLastActivity = ::GetTickCount();
  ::SetTimer(m_hWndDialog, kTrendWatchdogTimer, kTrendWatchdogTick, nullptr);
  if (FAILED(ChangeUpdateRate(kParCommand3Complete, m_nSamplingRate))) {
    // The DTM did not take the cyclic reading: no trend runs, the user may try again.
    m_bRunning = false;
    ChangeUpdateRate(kParCommand3Complete, 0);
    SetItemText(kTrendStartStop, "Start");
    EnableSelection(TRUE);
    SetItemText(kTrendMessage, "The trend did not start: the device values cannot be read cyclically.");
    return;
  }
}

void CTrendView::Stop() {
  ::KillTimer(m_hWndDialog, kTrendWatchdogTimer);
  ChangeUpdateRate(kParCommand3Complete, 0);
  m_bRunning = false;
  SetItemText(kTrendStartStop, "Start");
  ClearPenFields();
  EnableSelection(TRUE);
}

ULONG CTrendView::WatchdogLimit() const { return std::max<ULONG>(kTrendWatchdogMinimum, 3 * m_nSamplingRate); }

void CTrendView::OnWatchdog() {
  if (!m_bRunning) {
    ::KillTimer(m_hWndDialog, kTrendWatchdogTimer);
    return;
  }
  const ULONG limit = WatchdogLimit();
  if (::GetTickCount() - m_nLastActivity < limit) return;
  // Neither values nor a failure came (the connection gone without a word): the trend would run
  // empty.
  Stop();
  char text[128] = {};
  std::snprintf(text, sizeof text, "The device gave no values for %lu s: the trend stopped.",
                static_cast<unsigned long>(limit / 1000));
  SetItemText(kTrendMessage, text);
}

void CTrendView::StopBecause(const std::u16string& why) {
  if (!m_bRunning) return;
  Stop();
  SetMessage(u"The trend stopped: " + why + (why.ends_with(u'.') ? u"" : u"."));
}

// ===== Values from the DTM ==========================================================================

HRESULT CTrendView::SetControlValueById(LONG id, VARIANT value) {
  if (id != kParCommand3Complete && id != kParCommand14Complete && id != kParTagOnly && id != kParTagOnlyStatic)
    return CovFDT_IDtmActiveXImplEx::SetControlValueById(id, value);
  // The base's busy flag while the values go into the controls, restored on every way out.
  struct BusyGuard {
    BOOL& flag;
    BOOL previous;
    explicit BusyGuard(BOOL& f) : flag(f), previous(f) { flag = TRUE; }
    ~BusyGuard() { flag = previous; }
  } busy(m_bBusy);

  if (id == kParTagOnlyStatic) {
    // Only a tag the device gave in this connection: the data set's may be another device's.
    if (value.vt == VT_BSTR && m_bTagRead) SetItemText(kTrendTag, Ansi(value.bstrVal).c_str());
    return S_OK;
  }
  std::vector<BYTE> bytes;
  const HRESULT hr = ResponseBytes(value, &bytes);
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
  switch (id) {
    case kParCommand3Complete:
      // Samples come only while the trend runs; an answer after Stop is no sample.
      if (m_bRunning) {
        m_bLinkGone = false;  // the device gives values again
        m_nLastActivity = ::GetTickCount();
        ShowSample(bytes);
      }
      return S_OK;
    case kParCommand14Complete: {
      const CByteReader answer(bytes);
      if (!answer.Has(0, 12)) return S_OK;
      m_bLimitRead = true;
      ClearFailureOf(kParCommand14Complete);
      float maximum = *answer.Float(8);
      if (maximum == 0.0f) maximum = kDefaultSensorMaximum;
      m_afPenMaximum[0] = maximum;
      m_afPenMaximum[1] = maximum;
      return S_OK;
    }
    default: {  // kParTagOnly
      const std::optional<std::string> tag = CByteReader(bytes).PackedAscii(0, 6);
      if (!tag || !m_spDtm) return S_OK;
      m_bTagRead = true;
      ClearFailureOf(kParTagOnly);
      const vkr::Bstr text(vkr::Utf8ToUtf16(*tag));
      return m_spDtm->SetParameterValue(vkr::UI4(static_cast<ULONG>(kParTagOnlyStatic)), vkr::TextVariant(text.Get()));
    }
  }
}

void CTrendView::ShowSample(const std::vector<BYTE>& bytes) {
  const SCommand3Response answer = DecodeCommand3(bytes);
  bool any = false;
  for (std::size_t i = 0; i < kTrendPenCount; ++i) {
    if (!(m_nPenMask & (1u << i))) continue;
    const LONG pen = static_cast<LONG>(i + 1);
    std::optional<float> sample;
    if (i == kTrendPenCount - 1) {
      SetItemText(kTrendPenUnits[i], "mA");
      sample = answer.loopCurrent;
    } else {
      if (const std::optional<BYTE> unit = answer.variables[i].unit) {
        std::string text;
        vkr::Bstr unitText;
        if (m_spDisplay && m_spDisplay->GetUnitText(*unit, unitText.Put()) == S_OK) text = Ansi(unitText.Get());
        SetItemText(kTrendPenUnits[i], text.c_str());
      }
      sample = answer.variables[i].value;
    }
    if (!sample) continue;
    any = true;
    char text[64] = {};
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(*sample));
    SetItemText(kTrendPenValues[i], text);
    if (m_spChart) {
      m_spChart->AddSample(pen, static_cast<double>(*sample));
      m_spChart->SetPenRange(pen, static_cast<double>(m_afPenMinimum[i]), static_cast<double>(m_afPenMaximum[i]));
      m_spChart->Refresh();
    }
  }
  // Values come again: a failure said before is over.
  if (any) SetItemText(kTrendMessage, "");
}

HRESULT CTrendView::ExecuteCommand(VARIANT command, VARIANT argument) {
  LONG id = -1;
  SDeviceOutcome outcome;
  if (DecodeDeviceFailure(command, argument, &id, &outcome)) {
    // The DTM may stay online over a lost link: no read of this control can work any more.
    if (outcome.kind == EDeviceOutcome::LinkGone &&
        (id == kParCommand3Complete || id == kParTagOnly || id == kParCommand14Complete))
      m_bLinkGone = true;
    if (id == kParCommand3Complete && m_bRunning) {
      m_nLastActivity = ::GetTickCount();
      // A lost link brings no more values: the trend stops rather than run empty. Another failed
      // read is said until values come again.
      if (outcome.kind == EDeviceOutcome::LinkGone) {
        const std::vector<std::u16string> names = SampledNames();
        StopBecause(NotReadText(names, outcome, 3));
        ShowPensNotRead();
      } else {
        ShowPensNotRead();
        SetMessage(NotReadText(SampledNames(), outcome, 3));
      }
    } else if (id == kParCommand3Complete) {
      // The read of the values when the control opened: said too, until a running trend's values
      // come.
      SetMessage(NotReadText({u"The device values"}, outcome, 3));
    } else if ((id == kParTagOnly && !m_bTagRead) || (id == kParCommand14Complete && !m_bLimitRead)) {
      TellHeaderNotRead(id, outcome);
    }
  }
  return CovFDT_IDtmActiveXImplEx::ExecuteCommand(command, argument);
}

HRESULT CTrendView::OnDtmStateChanged(ULONG state) {
  const HRESULT hr = CovFDT_IDtmActiveXImplEx::OnDtmStateChanged(state);
  const ULONG previous = m_nLastState;
  m_nLastState = state;
  if (state == previous) return hr;
  // Online again after leaving it: a new connection.
  if (state == kDtmStateOnline && previous != 0 && previous != kDtmStateOnline) m_bLinkGone = false;
  if (state != kDtmStateOnline) {
    StopBecause(u"the device is not connected");
    ShowTagPlaceholder(state);
  } else if (m_spDtm && (!m_bTagRead || !m_bLimitRead)) {
    ReadHeader();
  }
  return hr;
}

void CTrendView::SetItemText(UINT id, const char* text) {
  if (HWND item = ::GetDlgItem(m_hWndDialog, static_cast<int>(id))) ::SetWindowTextA(item, text);
}

// ===== Window =======================================================================================

void CTrendView::Layout() {
  HWND dialog = m_hWndDialog;
  if (!dialog) return;
  RECT window{};
  ::GetWindowRect(dialog, &window);
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;

  auto item = [&](UINT id) { return ::GetDlgItem(dialog, static_cast<int>(id)); };
  if (HWND left = item(kTrendLeftLogo)) {
    ::ShowWindow(left, SW_SHOW);
    ::MoveWindow(left, 0, 0, 54, 86, TRUE);
  }
  if (HWND right = item(kTrendRightLogo)) {
    ::ShowWindow(right, SW_SHOW);
    ::MoveWindow(right, width - 120, 0, 86, 86, TRUE);
  }
  for (UINT id : {kTrendLeftLogo, kTrendRightLogo, kTrendNameLabel, kTrendDescriptionLabel, kTrendTagLabel, kTrendName,
                  kTrendDescription, kTrendTag})
    if (HWND w = item(id)) ::RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE);

  int statusHeight = 0;
  if (HWND status = item(kTrendStatusDisplay)) {
    const RECT r = ChildRect(dialog, status);
    statusHeight = r.bottom - r.top;
    ::MoveWindow(status, 2, height - statusHeight, std::max(0, width - 4), statusHeight, TRUE);
  }
  if (HWND chart = item(kTrendChart)) {
    const RECT r = ChildRect(dialog, chart);
    ::MoveWindow(chart, r.left, r.top, std::max(0, width - 8 - static_cast<int>(r.left)),
                 std::max(0, height - static_cast<int>(r.top) - statusHeight - 16), TRUE);
  }
  if (HWND header = item(kTrendHeaderDisplay)) {
    const RECT r = ChildRect(dialog, header);
    ::MoveWindow(header, 0, 0, width, r.bottom - r.top, TRUE);
  }
}

BOOL CTrendView::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_INITDIALOG) {
    if (result) *result = TRUE;
    return TRUE;
  }
  if (message == WM_TIMER && wParam == kTrendWatchdogTimer) {
    OnWatchdog();
    if (result) *result = 0;
    return TRUE;
  }
  if (message == WM_SIZE) {
    Layout();
  } else if (message == WM_COMMAND) {
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    if (code == BN_CLICKED &&
        std::find(std::begin(kTrendPenChecks), std::end(kTrendPenChecks), id) != std::end(kTrendPenChecks)) {
      ReadPenMask();
      if (result) *result = 0;
      return TRUE;
    }
    if (code == BN_CLICKED && id == kTrendStartStop) {
      OnStartStop();
      if (result) *result = 0;
      return TRUE;
    }
    // Item 406 is no item of the dialog; its notification is taken and nothing done.
    if (code == 1 && id == 406) {
      if (result) *result = 0;
      return TRUE;
    }
  }
  // The base's map takes every combo's selection change as a change of its own (it never leaves
  // one unhandled), so the rate is taken first; the base then sees the change as it sees others.
  if (message == WM_COMMAND && LOWORD(wParam) == kTrendRateCombo && HIWORD(wParam) == CBN_SELCHANGE) {
    SelectRate();
    CovFDT_IDtmActiveXImplEx::ProcessWindowMessage(window, message, wParam, lParam, result);
    if (result) *result = 0;
    return TRUE;
  }
  return CovFDT_IDtmActiveXImplEx::ProcessWindowMessage(window, message, wParam, lParam, result);
}

}  // namespace vkr::dui
