// The communication client's device verification: once online, the parameters of the DTM's
// verification list are read directly from the device and compared with their expected values;
// on any difference the user is asked whether to disconnect. See CovFDT_GenericCommClientImpl.h.
//
// The status dvsRUNNING together with the DTM core's manual-reset verification event keeps a
// second request from starting a parallel comparison before the first has finished or the wait
// time has passed; the event is signalled whenever a verification ends.
#include <string>
#include <string_view>

#include "communication/CovFDT_GenericCommClientImpl.h"
#include "include/DtmInterfaces.h"
#include "include/DtmMessages.h"
#include "include/IovFDTParamList.h"
#include "include/ParameterHandlerInterfaces.h"
#include "include/TranslationInterfaces.h"
#include "parameters/CFdtVariant.h"
#include "platform/platform.h"
#include "xml/WaitWithMessageLoop.h"

namespace vkr::commclient {
namespace {

constexpr OLECHAR kVerificationListPrefix[] = u"DeviceVerification\\";
constexpr OLECHAR kVerificationTitle[] = u"Device Verification";
constexpr ULONG kTextQuestion = 7002;
constexpr ULONG kTextReadFailed = 7003;
constexpr ULONG kTextQuestionTitle = 7004;
constexpr ULONG kStyleYesNoSecondDefault = 0x124;  // yes and no, question icon, "no" the default
constexpr LONG kAnswerYes = 6;
constexpr LONG kAnswerNo = 7;
// The fields asked of every listed parameter.
constexpr ULONG kFieldExists = 0x80000000;
constexpr ULONG kFieldName = 0x4;
constexpr ULONG kFieldDefault = 0x100;

// The line of a parameter whose device read failed: the (translatable) pattern with the name put
// in for its first "%s". Nothing else in the pattern is interpreted, so a translation cannot make
// the text read arguments that are not there.
std::u16string FillNamePattern(std::u16string_view pattern, std::u16string_view name) {
  std::u16string out;
  const std::size_t at = pattern.find(u"%s");
  if (at == std::u16string_view::npos) return std::u16string(pattern);
  out.append(pattern.substr(0, at));
  out.append(name);
  out.append(pattern.substr(at + 2));
  return out;
}

// A value as text (VT_BSTR), or false when it does not convert.
bool AsText(const VARIANT& value, vkr::Variant* text) {
  return SUCCEEDED(VariantChangeType(text->Put(), &value, 0, VT_BSTR)) && text->vt == VT_BSTR;
}

}  // namespace
}  // namespace vkr::commclient

HRESULT CovFDT_GenericCommClientCore::VerifyDevice(VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  const HRESULT hr = CallAndSignal();
  if (hr != S_OK) return hr;
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_GenericCommClientCore::GetDeviceVerificationStatus(VARIANT* status, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!status) return E_INVALIDARG;
  if (FAILED(VariantClear(status))) return E_FAIL;
  status->vt = VT_UI4;
  status->ulVal = m_eDeviceVerificationStatus;
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_GenericCommClientCore::SetDeviceVerificationStatus(VARIANT status, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (status.vt == VT_EMPTY) return E_INVALIDARG;
  vkr::Variant converted;
  if (FAILED(VariantChangeType(converted.Ptr(), &status, 0, VT_UI4)) || converted.vt != VT_UI4) return E_FAIL;
  m_eDeviceVerificationStatus = converted.ulVal;
  *done = VARIANT_TRUE;
  return S_OK;
}

void CovFDT_GenericCommClientCore::SetVerificationStatus(EDeviceVerificationStatus status) {
  VARIANT_BOOL done = VARIANT_FALSE;
  SetDeviceVerificationStatus(vkr::I4(static_cast<LONG>(status)), &done);
}

HRESULT CovFDT_GenericCommClientCore::CallAndSignal() {
  const HRESULT hr = RunDeviceVerification();
  SetEvent(OwnerVerificationEvent());
  return hr;
}

HRESULT CovFDT_GenericCommClientCore::RunDeviceVerification() {
  using namespace vkr::commclient;
  HANDLE event = OwnerVerificationEvent();
  // One started earlier has not finished: give it the wait time, then go on regardless.
  if (m_eDeviceVerificationStatus == dvsRUNNING) WaitWithMessageLoop(event, OwnerVerificationTimeout());
  if (m_eDeviceVerificationStatus == dvsVERIFIED) return S_OK;
  SetVerificationStatus(dvsRUNNING);
  ResetEvent(event);

  vkr::ComPtr<IovFDTParamList> lists = QueryOwner<IovFDTParamList>();
  if (!lists) {
    SetVerificationStatus(dvsVERIFIED);
    return E_NOINTERFACE;
  }
  vkr::ComPtr<IovFdtDirectParameterAccess> direct;
  vkr::Bstr protocolId;
  for (const ConnectionEntry& e : m_connections) {
    if (!e.online || !e.connection) continue;
    if (FAILED(e.connection->QueryInterface(IovFdtDirectParameterAccess::iid, direct.PutVoid())) || !direct) continue;
    CopyText(e.protocolId, &protocolId);
    break;
  }
  if (!direct) {
    SetVerificationStatus(dvsVERIFIED);
    return S_OK;
  }
  vkr::Variant listId;
  listId.vt = VT_BSTR;
  listId.bstrVal = SysAllocString(kVerificationListPrefix);
  if (!listId.bstrVal) {
    SetVerificationStatus(dvsNOTVERIFIED);
    return E_OUTOFMEMORY;
  }
  if (!protocolId.Empty()) {
    BSTR joined = nullptr;
    if (SUCCEEDED(VarBstrCat(listId.bstrVal, protocolId, &joined)) && joined) {
      SysFreeString(listId.bstrVal);
      listId.bstrVal = joined;
    }
  }
  VARIANT_BOOL exists = VARIANT_FALSE;
  VARIANT_BOOL answered = VARIANT_FALSE;
  if (FAILED(lists->ListExists(listId, &exists, &answered)) || !exists) {
    SetVerificationStatus(dvsVERIFIED);
    return S_OK;
  }
  vkr::Variant ids;
  VARIANT_BOOL found = VARIANT_FALSE;
  if (FAILED(lists->GetMembers(listId, ids.Ptr(), &found)) || !found) {
    SetVerificationStatus(dvsNOTVERIFIED);
    return E_FAIL;
  }
  // A list without members answers no array: there is nothing to compare.
  if (ids.vt == VT_EMPTY) {
    SetVerificationStatus(dvsVERIFIED);
    return S_OK;
  }
  const HRESULT hr = CompareVerificationValues(ids.Ptr(), direct.Get());
  // A comparison that could not start has no result; it must not stay "running".
  if (m_eDeviceVerificationStatus == dvsRUNNING) SetVerificationStatus(dvsNOTVERIFIED);
  return hr;
}

HRESULT CovFDT_GenericCommClientCore::Progress(USHORT percent, USHORT mode) {
  vkr::ComPtr<IovFdtBaseDTM> dtm = QueryOwner<IovFdtBaseDTM>();
  if (!dtm) return E_NOINTERFACE;
  vkr::Bstr title(vkr::commclient::kVerificationTitle);
  return dtm->SendProgress(title, percent, mode);
}

HRESULT CovFDT_GenericCommClientCore::CompareVerificationValues(VARIANT* ids,
                                                                IovFdtDirectParameterAccess* connection) {
  using namespace vkr::commclient;
  if (!ids || ids->vt != (VT_ARRAY | VT_VARIANT)) return E_UNEXPECTED;
  if (!ids->parray || !connection) return E_POINTER;
  VARTYPE elementType = VT_EMPTY;
  if (SafeArrayGetDim(ids->parray) != 1 || FAILED(SafeArrayGetVartype(ids->parray, &elementType)) ||
      elementType != VT_VARIANT)
    return E_UNEXPECTED;
  vkr::ComPtr<IovFdtParameterInfo> info = QueryOwner<IovFdtParameterInfo>();
  if (!info) {
    SetVerificationStatus(dvsNOTVERIFIED);
    return E_NOINTERFACE;
  }
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(ids->parray, 1, &lower);
  SafeArrayGetUBound(ids->parray, 1, &upper);
  const LONGLONG count = static_cast<LONGLONG>(upper) - lower + 1;
  if (count <= 0) {
    SetVerificationStatus(dvsVERIFIED);
    return S_OK;
  }
  const USHORT kAnyMode = 0xFFFF;  // -1: the report may be dropped while one is on its way
  Progress(0, kAnyMode);
  vkr::Bstr readFailed;
  GetVerificationText(kTextReadFailed, readFailed.Put());
  const std::u16string readFailedLine = readFailed.Str() + u"\n";

  std::u16string report;
  for (LONGLONG i = 0; i < count; ++i) {
    Progress(static_cast<USHORT>((i * 100) / count), kAnyMode);
    LONG index = static_cast<LONG>(lower + i);
    vkr::Variant id;
    if (FAILED(SafeArrayGetElement(ids->parray, &index, id.Ptr()))) continue;
    vkr::Variant exists;
    if (FAILED(info->GetParameterField(id, vkr::I4(static_cast<LONG>(kFieldExists)), exists.Ptr())) ||
        exists.vt != VT_BOOL || !exists.boolVal)
      continue;
    vkr::Variant name, nameText, expected, expectedText;
    if (FAILED(info->GetParameterField(id, vkr::I4(kFieldName), name.Ptr())) || !AsText(name, &nameText)) continue;
    if (FAILED(info->GetParameterField(id, vkr::I4(kFieldDefault), expected.Ptr())) ||
        !AsText(expected, &expectedText))
      continue;
    if (!IsDtmOnline()) {
      Progress(100, 0);
      SetVerificationStatus(dvsFAILED);
      return S_FALSE;
    }
    vkr::Variant read;
    if (FAILED(connection->ReadParameterDirect(id, read.Ptr()))) {
      report += FillNamePattern(readFailedLine, vkr::View(nameText.bstrVal));
      continue;
    }
    vkr::Variant readText;
    if (!AsText(read, &readText)) continue;
    if (!IsVariantEqual(expectedText, readText)) {
      report += std::u16string(vkr::View(nameText.bstrVal)) + u": \t'" + std::u16string(vkr::View(expectedText.bstrVal)) +
                u"' \t<>\t'" + std::u16string(vkr::View(readText.bstrVal)) + u"'\n";
    }
  }
  Progress(100, 0);
  if (report.empty()) {
    SetVerificationStatus(dvsVERIFIED);
    return S_OK;
  }

  vkr::Bstr head, title;
  GetVerificationText(kTextQuestion, head.Put());
  GetVerificationText(kTextQuestionTitle, title.Put());
  const vkr::Bstr question(head.Str() + u"\n\n" + report);
  if (!IsDtmOnline()) {
    SetVerificationStatus(dvsFAILED);
    return S_FALSE;
  }
  LONG answer = kAnswerNo;
  if (vkr::ComPtr<IovFdtActiveXContainer> container = QueryOwner<IovFdtActiveXContainer>())
    container->ShowUserMessage(title, question, vkr::UI4(kStyleYesNoSecondDefault), &answer);
  if (answer == kAnswerYes) {
    RunOwnerJob(kJobGoOffline, vkr::EmptyVariant());
    SetVerificationStatus(dvsFAILED);
    return S_FALSE;
  }
  SetVerificationStatus(dvsVERIFIED);
  return S_OK;
}

HRESULT CovFDT_GenericCommClientCore::GetVerificationText(ULONG id, BSTR* text) {
  using namespace vkr::commclient;
  if (!text) return E_INVALIDARG;
  if (vkr::ComPtr<IovFdtTranslation> translation = QueryOwner<IovFdtTranslation>()) {
    const vkr::Bstr path(u"localization/ToolkitMessages/Message[@id=\"" +
                         vkr::Utf8ToUtf16(std::to_string(id)) + u"\"]");
    vkr::Bstr translated;
    VARIANT_BOOL found = VARIANT_FALSE;
    if (SUCCEEDED(translation->GetTranslation(path, translated.Put(), &found)) && found) {
      *text = translated.Detach();
      return S_OK;
    }
  }
  // Without a translation (or without its entry) the English text: a question must never reach
  // the user empty.
  const OLECHAR* fallback = nullptr;
  switch (id) {
    case kTextQuestion:
      fallback =
          u"The device verification between DTM and connected device failed.\nFurther online use of this DTM might "
          u"lead to unexpected results!\n\nWould you like to disconnect?\n\nInformation: \texpected "
          u"\t<>\tread from device\n\n";
      break;
    case kTextReadFailed: fallback = u"%s: read failed\n"; break;
    case kTextQuestionTitle: fallback = u"Error: Online Device Verification"; break;
    default: break;
  }
  *text = fallback ? SysAllocString(fallback) : nullptr;
  return fallback && !*text ? E_OUTOFMEMORY : S_OK;
}
