// The frame's file storage of data sets.
#include "frame/FrameStorage.h"

#include <cstring>
#include <vector>

namespace vkr::frame {
namespace {

HRESULT LastError() {
  const DWORD error = GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT WriteWholeFile(LPCSTR path, const std::string& bytes) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  DWORD written = 0;
  const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const HRESULT hr = !ok ? LastError() : (bytes.empty() || written == bytes.size()) ? S_OK : E_FAIL;
  CloseHandle(file);
  return hr;
}

HRESULT ReadWholeFile(LPCSTR path, std::string* bytes) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  HRESULT hr = S_OK;
  char block[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, block, sizeof block, &got, nullptr)) {
      hr = LastError();
      break;
    }
    if (got == 0) break;
    bytes->append(block, got);
  }
  CloseHandle(file);
  return hr;
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

bool FromHex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

}  // namespace

HRESULT SaveStreamFile(IPersistStreamInit* dtm, LPCSTR path) {
  if (!dtm || !path) return E_POINTER;
  vkr::ComPtr<IStream> memory;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, memory.Put());
  if (FAILED(hr)) return hr;
  hr = dtm->Save(memory.Get(), TRUE);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  STATSTG st{};
  hr = memory->Stat(&st, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  std::string bytes(static_cast<std::size_t>(st.cbSize.QuadPart), '\0');
  LARGE_INTEGER start{};
  memory->Seek(start, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  if (!bytes.empty()) {
    hr = memory->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
    if (FAILED(hr)) return hr;
    if (got != bytes.size()) return E_FAIL;
  }
  return WriteWholeFile(path, bytes);
}

HRESULT LoadStreamFile(IPersistStreamInit* dtm, LPCSTR path) {
  if (!dtm || !path) return E_POINTER;
  std::string bytes;
  HRESULT hr = ReadWholeFile(path, &bytes);
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IStream> stream;
  hr = vkr::CreateMemoryStream(bytes.data(), bytes.size(), stream.Put());
  if (FAILED(hr)) return hr;
  hr = dtm->Load(stream.Get());
  return hr == S_OK ? S_OK : FAILED(hr) ? hr : E_FAIL;
}

HRESULT FilePropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog*) {
  if (!name || !value) return E_POINTER;
  auto it = m_values.find(name);
  if (it == m_values.end()) return E_INVALIDARG;
  VariantClear(value);
  if (it->second.vt == VT_BSTR) {
    const std::u16string text = vkr::Utf8ToUtf16(it->second.bytes);
    value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!value->bstrVal) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
  }
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(it->second.bytes.size()));
  if (!psa) return E_OUTOFMEMORY;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(psa, &data))) {
    SafeArrayDestroy(psa);
    return E_OUTOFMEMORY;
  }
  if (!it->second.bytes.empty()) std::memcpy(data, it->second.bytes.data(), it->second.bytes.size());
  SafeArrayUnaccessData(psa);
  value->vt = VT_ARRAY | VT_UI1;
  value->parray = psa;
  return S_OK;
}

HRESULT FilePropertyBag::Write(LPCOLESTR name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  if (!*name) return E_INVALIDARG;
  Value stored;
  if (value->vt == VT_BSTR) {
    stored.vt = VT_BSTR;
    stored.bytes = vkr::Utf16ToUtf8(vkr::View(value->bstrVal));
  } else if (value->vt == (VT_ARRAY | VT_UI1) && value->parray && SafeArrayGetDim(value->parray) == 1) {
    stored.vt = VT_ARRAY | VT_UI1;
    void* data = nullptr;
    HRESULT hr = SafeArrayAccessData(value->parray, &data);
    if (FAILED(hr)) return hr;
    stored.bytes.assign(static_cast<const char*>(data), value->parray->rgsabound[0].cElements);
    SafeArrayUnaccessData(value->parray);
  } else {
    return DISP_E_BADVARTYPE;
  }
  m_values[name] = std::move(stored);
  return S_OK;
}

HRESULT FilePropertyBag::SaveToFile(LPCSTR path) const {
  if (!path) return E_POINTER;
  std::string text;
  for (const auto& [name, value] : m_values)
    text += vkr::Utf16ToUtf8(name) + "\t" + std::to_string(value.vt) + "\t" + Hex(value.bytes) + "\n";
  return WriteWholeFile(path, text);
}

HRESULT FilePropertyBag::LoadFromFile(LPCSTR path) {
  if (!path) return E_POINTER;
  std::string text;
  HRESULT hr = ReadWholeFile(path, &text);
  if (FAILED(hr)) return hr;
  std::map<std::u16string, Value> values;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) return E_FAIL;
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos || tab1 == 0) return E_FAIL;
    const std::string type = line.substr(tab1 + 1, tab2 - tab1 - 1);
    Value value;
    if (type == "8")
      value.vt = VT_BSTR;
    else if (type == "8209")
      value.vt = VT_ARRAY | VT_UI1;
    else
      return E_FAIL;
    if (!FromHex(line.substr(tab2 + 1), &value.bytes)) return E_FAIL;
    values[vkr::Utf8ToUtf16(line.substr(0, tab1))] = std::move(value);
  }
  m_values = std::move(values);
  return S_OK;
}

}  // namespace vkr::frame
