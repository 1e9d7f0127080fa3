// Owning holders for BSTR, VARIANT and SAFEARRAY, so that early returns free what they hold.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"

namespace vkr {

// Owns one BSTR (null is the empty text).
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const OLECHAR* text) : m_s(text ? SysAllocString(text) : nullptr) {}
  explicit Bstr(std::u16string_view text)
      : m_s(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr& o) : m_s(o.m_s ? SysAllocStringByteLen(reinterpret_cast<LPCSTR>(o.m_s), SysStringByteLen(o.m_s)) : nullptr) {}
  Bstr(Bstr&& o) noexcept : m_s(std::exchange(o.m_s, nullptr)) {}
  ~Bstr() { SysFreeString(m_s); }
  Bstr& operator=(Bstr o) noexcept {
    std::swap(m_s, o.m_s);
    return *this;
  }

  BSTR Get() const { return m_s; }
  operator BSTR() const { return m_s; }  // NOLINT: passes as an in-parameter like a BSTR
  // Frees the held text and gives the address to fill through an out-parameter.
  BSTR* Put() {
    Reset();
    return &m_s;
  }
  void Attach(BSTR s) {
    Reset();
    m_s = s;
  }
  BSTR Detach() { return std::exchange(m_s, nullptr); }
  void Reset() { SysFreeString(std::exchange(m_s, nullptr)); }
  // An allocated copy for an out-parameter; E_OUTOFMEMORY when the copy fails.
  HRESULT CopyTo(BSTR* out) const {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!m_s) return S_OK;
    *out = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(m_s), SysStringByteLen(m_s));
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  UINT Length() const { return SysStringLen(m_s); }
  bool Empty() const { return Length() == 0; }
  std::u16string_view View() const { return {m_s ? m_s : u"", Length()}; }
  std::u16string Str() const { return std::u16string(View()); }

 private:
  BSTR m_s = nullptr;
};

// Owns one VARIANT, cleared on destruction.
class Variant : public VARIANT {
 public:
  Variant() { VariantInit(this); }
  Variant(const Variant& o) : Variant() { VariantCopy(this, &o); }
  explicit Variant(const VARIANT& o) : Variant() { VariantCopy(this, &o); }
  Variant(Variant&& o) noexcept : Variant() { std::swap(static_cast<VARIANT&>(*this), static_cast<VARIANT&>(o)); }
  ~Variant() { VariantClear(this); }
  Variant& operator=(const Variant& o) {
    if (this != &o) VariantCopy(this, &o);
    return *this;
  }
  Variant& operator=(Variant&& o) noexcept {
    std::swap(static_cast<VARIANT&>(*this), static_cast<VARIANT&>(o));
    return *this;
  }

  VARIANT* Ptr() { return this; }
  const VARIANT* Ptr() const { return this; }
  // Clears and gives the address to fill through an out-parameter.
  VARIANT* Put() {
    VariantClear(this);
    return this;
  }
  void Clear() { VariantClear(this); }
  // Moves the value out into an out-parameter (which must be initialised or cleared).
  void Detach(VARIANT* out) {
    *out = *static_cast<VARIANT*>(this);
    VariantInit(this);
  }
};

// Plain VARIANT values for arguments and results; the caller owns nothing extra (no BSTR inside).
inline VARIANT EmptyVariant() {
  VARIANT v;
  VariantInit(&v);
  return v;
}
inline VARIANT UI4(ULONG n) {
  VARIANT v = EmptyVariant();
  v.vt = VT_UI4;
  v.ulVal = n;
  return v;
}
inline VARIANT I4(LONG n) {
  VARIANT v = EmptyVariant();
  v.vt = VT_I4;
  v.lVal = n;
  return v;
}
inline VARIANT BoolVariant(bool on) {
  VARIANT v = EmptyVariant();
  v.vt = VT_BOOL;
  v.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
// A borrowed text as a VARIANT (no copy: valid while the text lives; never cleared).
inline VARIANT TextVariant(BSTR text) {
  VARIANT v = EmptyVariant();
  v.vt = VT_BSTR;
  v.bstrVal = text;
  return v;
}

// Owns one SAFEARRAY, destroyed on destruction.
class SafeArrayHolder {
 public:
  SafeArrayHolder() = default;
  explicit SafeArrayHolder(SAFEARRAY* psa) : m_psa(psa) {}
  SafeArrayHolder(const SafeArrayHolder&) = delete;
  SafeArrayHolder& operator=(const SafeArrayHolder&) = delete;
  SafeArrayHolder(SafeArrayHolder&& o) noexcept : m_psa(std::exchange(o.m_psa, nullptr)) {}
  SafeArrayHolder& operator=(SafeArrayHolder&& o) noexcept {
    std::swap(m_psa, o.m_psa);
    return *this;
  }
  ~SafeArrayHolder() { Reset(); }

  SAFEARRAY* Get() const { return m_psa; }
  SAFEARRAY** Put() {
    Reset();
    return &m_psa;
  }
  SAFEARRAY* Detach() { return std::exchange(m_psa, nullptr); }
  void Reset() { SafeArrayDestroy(std::exchange(m_psa, nullptr)); }

 private:
  SAFEARRAY* m_psa = nullptr;
};

}  // namespace vkr
