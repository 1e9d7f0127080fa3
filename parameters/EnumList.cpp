// Enumeration lists: counting, parsing and searching their entries.
#include "parameters/EnumList.h"

#include <string_view>

namespace {

// The entries of a list, or an error; the data stays accessed while the view lives.
class EntryView {
 public:
  explicit EntryView(const VARIANT& list) {
    if (list.vt != (VT_ARRAY | VT_BSTR)) {
      m_hr = E_INVALIDARG;
      return;
    }
    if (!list.parray) {
      m_hr = E_UNEXPECTED;
      return;
    }
    if (SafeArrayGetDim(list.parray) != 1) {
      m_hr = E_INVALIDARG;
      return;
    }
    LONG lb = 0, ub = -1;
    m_hr = SafeArrayGetLBound(list.parray, 1, &lb);
    if (SUCCEEDED(m_hr)) m_hr = SafeArrayGetUBound(list.parray, 1, &ub);
    if (FAILED(m_hr)) return;
    m_count = static_cast<ULONG>(static_cast<LONGLONG>(ub) - lb + 1);
    if (m_count == 0) return;
    void* data = nullptr;
    m_hr = SafeArrayAccessData(list.parray, &data);
    if (FAILED(m_hr)) {
      m_count = 0;
      return;
    }
    m_psa = list.parray;
    m_data = static_cast<BSTR*>(data);
  }
  ~EntryView() {
    if (m_psa) SafeArrayUnaccessData(m_psa);
  }
  EntryView(const EntryView&) = delete;
  EntryView& operator=(const EntryView&) = delete;

  HRESULT Result() const { return m_hr; }
  ULONG Count() const { return m_count; }
  std::u16string_view Entry(ULONG i) const { return {m_data[i] ? m_data[i] : u"", SysStringLen(m_data[i])}; }

 private:
  HRESULT m_hr = S_OK;
  ULONG m_count = 0;
  SAFEARRAY* m_psa = nullptr;
  BSTR* m_data = nullptr;
};

int HexValue(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Splits "value;label" into its value and label.
void ParseEntry(std::u16string_view entry, LONG* value, std::u16string_view* label) {
  const size_t semicolon = entry.find(u';');
  const std::u16string_view valuePart = entry.substr(0, semicolon);
  *label = semicolon == std::u16string_view::npos ? std::u16string_view() : entry.substr(semicolon + 1);
  const size_t x = valuePart.find_first_of(u"xX");
  ULONG v = 0;
  if (x != std::u16string_view::npos) {
    for (size_t i = x + 1; i < valuePart.size() && HexValue(valuePart[i]) >= 0; ++i)
      v = v * 16 + static_cast<ULONG>(HexValue(valuePart[i]));
  } else if (semicolon != std::u16string_view::npos) {
    // The decimal digits of the value, wherever the sign stands.
    bool started = false;
    for (OLECHAR c : valuePart) {
      if (c >= u'0' && c <= u'9') {
        v = v * 10 + static_cast<ULONG>(c - u'0');
        started = true;
      } else if (started) {
        break;
      }
    }
  }
  if (valuePart.find(u'-') != std::u16string_view::npos) v = 0 - v;
  *value = static_cast<LONG>(v);
}

}  // namespace

HRESULT GetEnumListCount(const VARIANT& list, ULONG* count) {
  if (!count) return E_INVALIDARG;
  *count = 0;
  EntryView view(list);
  if (FAILED(view.Result())) return view.Result();
  *count = view.Count();
  return S_OK;
}

HRESULT GetEnumListEntry(const VARIANT& list, ULONG index, LONG* value, BSTR* label) {
  if (!value || !label) return E_INVALIDARG;
  EntryView view(list);
  if (FAILED(view.Result())) return view.Result();
  if (index >= view.Count()) return E_UNEXPECTED;
  std::u16string_view text;
  LONG v = 0;
  ParseEntry(view.Entry(index), &v, &text);
  BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!copy) return E_OUTOFMEMORY;
  *value = v;
  *label = copy;
  return S_OK;
}

bool FindEnumListEntryByValue(const VARIANT& list, LONG value, ULONG* index, BSTR* label) {
  EntryView view(list);
  if (FAILED(view.Result())) return false;
  for (ULONG i = 0; i < view.Count(); ++i) {
    LONG v = 0;
    std::u16string_view text;
    ParseEntry(view.Entry(i), &v, &text);
    if (v != value) continue;
    if (label) {
      *label = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!*label) return false;
    }
    if (index) *index = i;
    return true;
  }
  return false;
}

bool FindEnumListEntryByLabel(const VARIANT& list, BSTR label, ULONG* index, LONG* value) {
  EntryView view(list);
  if (FAILED(view.Result())) return false;
  for (ULONG i = 0; i < view.Count(); ++i) {
    LONG v = 0;
    std::u16string_view text;
    ParseEntry(view.Entry(i), &v, &text);
    vkr::Bstr entryLabel(text);
    if (VarBstrCmp(entryLabel.Get(), label, LOCALE_USER_DEFAULT, 0) != VARCMP_EQ) continue;
    if (index) *index = i;
    if (value) *value = v;
    return true;
  }
  return false;
}
