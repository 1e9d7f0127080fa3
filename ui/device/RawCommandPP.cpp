// The Raw HART command page: its table, the strict reading of the typed command and request, and
// its send.
#include "ui/device/RawCommandPP.h"

#include <string>

#include "include/CommunicationInterfaces.h"
#include "include/ProgramIds.h"
#include "ui/device/ControlNameTables.h"
#include "ui/device/kit/Kit.h"

namespace vkr::dui {

namespace {

constexpr ULONG kNoControl = 0x80000000;
constexpr ULONG kHiddenState = 0x8;

SPropertyPageClass RawCommandClass() {
  SPropertyPageClass c;
  c.clsid = CLSID_RawCommandPP;
  c.parameterMap = &CRawCommandPP::GetParameterMap;
  c.dialogId = kRawDialogId;
  c.controlNames = vkr::dui::kRawCommandControlNames;
  c.titleId = kRawTitleId;
  c.helpFileId = kRawHelpFileId;
  c.docStringId = kRawDocStringId;
  return c;
}

VARIANT UI1(BYTE value) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_UI1;
  v.bVal = value;
  return v;
}

bool IsPressed(const VARIANT& value) { return value.vt == VT_UI1 && value.bVal != 0; }

template <class Interface>
vkr::ComPtr<Interface> Query(IUnknown* object) {
  vkr::ComPtr<Interface> result;
  if (object) object->QueryInterface(Interface::iid, result.PutVoid());
  return result;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::vector<BYTE>> RequestBytesOfText(std::string_view text) {
  std::vector<BYTE> bytes;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      // A blank may stand between bytes, never inside one.
      if (high >= 0) return std::nullopt;
      continue;
    }
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    if (high < 0) {
      high = digit;
      continue;
    }
    if (bytes.size() == kMaxRequestBytes) return std::nullopt;
    bytes.push_back(static_cast<BYTE>(high << 4 | digit));
    high = -1;
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

CRawCommandPP::CRawCommandPP() : CDevicePropertyPage(RawCommandClass()) { m_nDialogType = kDialogTypeOnlineReading; }

CRawCommandPP::~CRawCommandPP() = default;

CActXParInfo* CRawCommandPP::GetParameterMap(int* count, BOOL copy) {
  static CActXParInfo entries[9];
  static const bool filled = [] {
    int i = 0;
    auto add = [&](LONG id, const char* name, UINT control, const char* format, BOOL indicator, ULONG kind) {
      entries[i++] = CActXParInfo(id, name, control, format, 0, indicator, kind);
    };
    add(kParRawCommand, "AllParam_Command", kRawCommandEdit, "%u", TRUE, 0);
    add(kParRawRequestData, "AllParam_RequData", kRawRequestDataEdit, "%s", TRUE, 0);
    add(kParRawRequestCount, "AllParam_RequByteCount", kRawRequestCountEdit, "%u", FALSE, 0);
    add(kParRawResponseData, "AllParam_RespData", kRawResponseDataEdit, "%s", FALSE, 0);
    add(kParRawResponseCode, "AllParam_RespCode", kRawResponseCodeEdit, "%u", FALSE, 0);
    add(kParRawDeviceStatus, "AllParam_DevStatus", kRawDeviceStatusEdit, "%u", FALSE, 0);
    add(kParRawResponseCount, "AllParam_RespByteCount", kRawResponseCountEdit, "%u", FALSE, 0);
    add(kParButtonSend, "Button Send", 0, "", FALSE, kNoControl);
    // The DTM flags its byte-array parameters hidden; here they are the typed request and the
    // answer, shown as hex text, so their edits stay visible.
    entries[1].m_nStateMask = entries[3].m_nStateMask = ~kHiddenState;
    // entries[8]: the end entry (id -1, state 0x71, kind 0x80000000) as constructed.
    return true;
  }();
  (void)filled;
  if (!copy) {
    if (count) *count = 8;
    return entries;
  }
  return CopyParameterTable(entries, count);
}

HRESULT CRawCommandPP::GetTypeInfoCount(UINT* count) { return CDevicePropertyPage::GetTypeInfoCount(count); }
HRESULT CRawCommandPP::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) {
  return CDevicePropertyPage::GetTypeInfo(index, locale, info);
}
HRESULT CRawCommandPP::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  return CDevicePropertyPage::GetIDsOfNames(riid, names, count, locale, ids);
}
HRESULT CRawCommandPP::Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* exception, UINT* argError) {
  return CDevicePropertyPage::Invoke(id, riid, locale, flags, params, result, exception, argError);
}

void* CRawCommandPP::FindInterface(REFIID riid) {
  if (riid == IRawCommandPP::iid) return static_cast<IRawCommandPP*>(this);
  return CDevicePropertyPage::FindInterface(riid);
}

// ---- Values ------------------------------------------------------------------------------------

HRESULT CRawCommandPP::SetControlValueById(LONG id, VARIANT value) {
  // The values the DTM reports are no user input.
  const BOOL wasBusy = m_bBusy;
  m_bBusy = TRUE;
  struct Restore {
    BOOL& flag;
    BOOL previous;
    ~Restore() { flag = previous; }
  } restore{m_bBusy, wasBusy};
  if (id == kParButtonSend) {
    // (The trigger's stored value that reading all entries shows is no click.)
    if (IsPressed(value) && m_bShown && !wasBusy) OnSend();
    return S_OK;
  }
  return CDevicePropertyPage::SetControlValueById(id, value);
}

HRESULT CRawCommandPP::GetControlValueById(LONG id, VARIANT* value) {
  if (!value) return E_POINTER;
  if (id == kParRawCommand) {
    const std::optional<ULONG> number = ParseUnsigned(DialogItemText(m_hWndDialog, kRawCommandEdit), kMaxCommandNumber);
    if (!number) return DISP_E_OVERFLOW;
    VariantClear(value);
    *value = UI1(static_cast<BYTE>(*number));
    return S_OK;
  }
  if (id == kParRawRequestData) {
    const std::optional<std::vector<BYTE>> bytes = RequestBytesOfText(DialogItemText(m_hWndDialog, kRawRequestDataEdit));
    if (!bytes) return E_INVALIDARG;
    return MakeByteArray(*bytes, value);
  }
  return CDevicePropertyPage::GetControlValueById(id, value);
}

HRESULT CRawCommandPP::GetParameterText(LONG id, VARIANT_BOOL* valid) {
  if (!valid) return E_POINTER;
  *valid = VARIANT_FALSE;
  const HRESULT hr = CDevicePropertyPage::GetParameterText(id, valid);
  if (id != kParRawRequestData) return hr;
  vkr::Variant request;
  ULONG count = 0;
  if (SUCCEEDED(GetControlValueById(kParRawRequestData, &request)) && request.vt == (VT_ARRAY | VT_UI1) &&
      request.parray)
    count = request.parray->rgsabound[0].cElements;
  CUpdatingControls updating(*this);
  ::SetDlgItemTextA(m_hWndDialog, kRawRequestCountEdit, std::to_string(count).c_str());
  return S_OK;
}

// ---- Window messages ---------------------------------------------------------------------------

BOOL CRawCommandPP::ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                         DWORD mapId) {
  if (mapId != 0) return FALSE;
  BOOL handled = TRUE;
  switch (message) {
    case WM_SHOWWINDOW:
      OnShowWindow(message, wParam, lParam, &handled);
      result = 0;
      return TRUE;
    case WM_CTLCOLOREDIT: {
      const LRESULT brush = OnCtlColorEdit(message, wParam, lParam, &handled);
      if (handled && brush) {
        result = brush;
        return TRUE;
      }
      break;
    }
    case WM_COMMAND: {
      const UINT code = HIWORD(wParam);
      const UINT control = LOWORD(wParam);
      if (code == EN_CHANGE) {
        OnControlChange(code, control, reinterpret_cast<HWND>(lParam));
        result = 0;
        return TRUE;
      }
      if (code == EN_KILLFOCUS) {
        OnControlKillFocus(code, wParam, lParam, &handled);
        result = 0;
        return TRUE;
      }
      if (control == kFrameSendButton && code == BN_CLICKED) {
        OnSend();
        result = 0;
        return TRUE;
      }
      break;
    }
    default:
      break;
  }
  return CDevicePropertyPage::ProcessWindowMessage(window, message, wParam, lParam, result, mapId);
}

HRESULT CRawCommandPP::OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) {
  const HRESULT hr = CDevicePropertyPage::OnShowWindow(message, wParam, lParam, handled);
  m_bShown = wParam == 1 ? 1 : 0;
  return hr;
}

// ---- Send --------------------------------------------------------------------------------------

HRESULT CRawCommandPP::OnSend() {
  if (!m_spDtm || m_bSending) return S_OK;
  auto connections = Query<IovFdtConnectionManagement>(m_spDtmObject.Get());
  auto base = Query<IovFdtBaseDTM>(m_spDtmObject.Get());
  if (!connections || !base) return S_OK;
  m_bSending = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{m_bSending};

  // A command number the transaction cannot carry or a request that is no whole hex bytes is
  // marked; the first gets the focus and nothing is sent.
  vkr::Variant command, request;
  if (FAILED(GetControlValueById(kParRawCommand, &command))) MarkEntryInvalid(kParRawCommand);
  if (FAILED(GetControlValueById(kParRawRequestData, &request))) MarkEntryInvalid(kParRawRequestData);
  if (StopsAtInvalidEntries()) return S_OK;
  if (command.vt != VT_UI1 || request.vt != (VT_ARRAY | VT_UI1)) return S_OK;

  HRESULT hr = CheckParameterInput(kParRawRequestCount);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = m_spDtm->SetParameterValue(vkr::UI4(kParRawCommand), command))) return hr;
  if (FAILED(hr = m_spDtm->SetParameterValue(vkr::UI4(kParRawRequestData), request))) return hr;

  {
    CUpdatingControls updating(*this);
    for (UINT id : {kRawResponseDataEdit, kRawResponseCodeEdit, kRawDeviceStatusEdit, kRawResponseCountEdit})
      ::SetDlgItemTextA(m_hWndDialog, static_cast<int>(id), "");
  }

  EDtmState state = dsUNDEFINED;
  base->GetDTMState(&state);
  if (state == dsONLINE) {
    vkr::ComPtr<IUnknown> connection;
    if (FAILED(connections->GetConnection(0, connection.Put())) || !connection) return S_OK;
    auto hart = Query<IovFdtHartServiceInterface>(connection.Get());
    if (!hart) return S_OK;
    std::vector<BYTE> requestBytes;
    ResponseBytes(request, &requestBytes);
    vkr::Bstr requestHex, responseHex, error;
    if (FAILED(HexOfBytes(requestBytes, requestHex.Put()))) return S_OK;
    BYTE deviceStatus = 0, responseCode = 0;
    hart->Transaction(command.bVal, requestHex.Get(), &deviceStatus, &responseCode, responseHex.Put(), error.Put());
    if (error.Length() == 0) {
      std::vector<BYTE> responseBytes;
      // Response data that is no hex text shows as none: no byte is made up.
      if (FAILED(BytesOfHex(responseHex.Get(), &responseBytes))) responseBytes.clear();
      if (!responseBytes.empty()) {
        vkr::Variant data;
        if (SUCCEEDED(MakeByteArray(responseBytes, &data))) SetDtmParameterValue(kParRawResponseData, data);
      }
      SetDtmParameterValue(kParRawResponseCode, UI1(responseCode));
      SetDtmParameterValue(kParRawDeviceStatus, UI1(deviceStatus));
      SetDtmParameterValue(kParRawResponseCount, vkr::UI4(static_cast<ULONG>(responseBytes.size())));
    } else {
      // No answer: the response fields stay empty and the user hears why.
      std::u16string caption, text;
      LoadPageString(kRawTitleId, &caption);
      LoadPageString(kRawNoAnswerId, &text);
      text += u"\n";
      text.append(error.Get(), error.Length());
      ShowDeviceMessage(m_spDtmObject.Get(), caption, text, kMessageError);
    }
  }
  SetDirty(FALSE);
  return S_OK;
}

}  // namespace vkr::dui
