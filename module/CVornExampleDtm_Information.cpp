// The VKR DTM's information document: its own template with the DTM's version, date and device
// icon, and the languages of the translation file.
#include <string>

#include "module/CVornExampleDtm.h"
#include "xml/Conversions.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr char kSettingsKey[] = "SOFTWARE\\Vorntec\\VKR Series DTM";
constexpr OLECHAR kDtmVersion[] = u"2.1.1";
constexpr OLECHAR kDtmDate[] = u"2016-06-21";
constexpr OLECHAR kIconFile[] = u"VornExampleDtm.ico";
constexpr DWORD kIconPathBytes = 2000;

bool IsInformationState(EDtmState state) { return state >= dsENVIRONMENTSET && state <= dsONLINE; }

}  // namespace

HRESULT CVornExampleDtm::GetDeviceIconXml(BSTR* xml) {
  if (!xml) return E_POINTER;
  HKEY settings = nullptr, files = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &settings) != ERROR_SUCCESS) return E_FAIL;
  const LONG opened = RegOpenKeyExA(settings, "Files", 0, KEY_READ, &files);
  RegCloseKey(settings);
  if (opened != ERROR_SUCCESS) return E_FAIL;
  char buffer[kIconPathBytes + 1] = {};
  DWORD size = kIconPathBytes;
  DWORD type = 0;
  const LONG read = RegQueryValueExA(files, "IconPath", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(files);
  if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return S_OK;
  buffer[size < kIconPathBytes ? size : kIconPathBytes] = '\0';
  const std::u16string path = vkr::Utf8ToUtf16(buffer) + u"\\" + kIconFile;
  // The path goes into an attribute: "&", "<" or a quote in it must not break the document.
  vkr::Bstr escaped;
  HRESULT hr = XmlEscapeText(vkr::Bstr(path), escaped.Put());
  if (FAILED(hr)) return hr;
  BSTR fragment = nullptr;
  hr = BstrFormat(&fragment, u"<fdt:DeviceIcon path=\"%s\" /> ", escaped.Get());
  if (FAILED(hr)) return hr;
  SysFreeString(*xml);
  *xml = fragment;
  return S_OK;
}

HRESULT CVornExampleDtm::GetInformation(BSTR, BSTR* information) {
  LogEntry("GetInformation");
  if (!IsInformationState(m_eDtmState)) return S_FALSE;
  if (!information) return E_INVALIDARG;
  vkr::Bstr text;
  HRESULT hr = GetInformationTemplate(text.Put());
  if (FAILED(hr)) return hr;
  vkr::Bstr icon(u"");
  // Without an icon setting the document has no icon; a setting that no document can hold is an
  // error, not a document that quietly lacks it.
  hr = GetDeviceIconXml(icon.Put());
  if (hr == E_INVALIDARG) return hr;
  vkr::Bstr document;
  hr = BstrFormat(document.Put(), text, kDtmVersion, kDtmDate, icon.Get() ? icon.Get() : u"");
  if (FAILED(hr)) return hr;
  return VerifySupportedLanguages(document, information);
}
