// SAFEARRAY: one block per descriptor (the element type before it), one block for the data.
#include "platform/com/safearray.h"

#include <cstring>
#include <limits>

#include "platform/com/bstr.h"
#include "platform/com/memory.h"

namespace {
// The descriptor block starts with a prefix holding the element type; the SAFEARRAY follows it.
constexpr std::size_t kPrefix = 16;
static_assert(alignof(SAFEARRAY) <= kPrefix);

VARTYPE& StoredType(SAFEARRAY* psa) { return *reinterpret_cast<VARTYPE*>(reinterpret_cast<char*>(psa) - kPrefix); }

// Element size of a supported element type, 0 for any other.
ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
      return sizeof(BSTR);
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(IUnknown*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

USHORT FeaturesOf(VARTYPE vt) {
  USHORT f = FADF_HAVEVARTYPE;
  if (vt == VT_BSTR) f |= FADF_BSTR;
  if (vt == VT_UNKNOWN) f |= FADF_UNKNOWN;
  if (vt == VT_DISPATCH) f |= FADF_DISPATCH;
  if (vt == VT_VARIANT) f |= FADF_VARIANT;
  return f;
}

// Number of elements, or false when the product overflows what one block may hold.
bool ElementCount(const SAFEARRAY* psa, std::size_t* count) {
  std::size_t n = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    std::size_t c = psa->rgsabound[i].cElements;
    if (c != 0 && n > std::numeric_limits<std::uint32_t>::max() / c) return false;
    n *= c;
  }
  if (psa->cbElements && n > std::numeric_limits<std::uint32_t>::max() / psa->cbElements) return false;
  *count = n;
  return true;
}

std::size_t CountOf(const SAFEARRAY* psa) {
  std::size_t n = 0;
  ElementCount(psa, &n);
  return n;
}

// Frees what the elements own and zeroes them.
void ReleaseElements(SAFEARRAY* psa, std::size_t from, std::size_t to) {
  if (!psa->pvData) return;
  char* base = static_cast<char*>(psa->pvData);
  for (std::size_t i = from; i < to; ++i) {
    void* e = base + i * psa->cbElements;
    if (psa->fFeatures & FADF_BSTR) {
      SysFreeString(*static_cast<BSTR*>(e));
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      if (auto* unk = *static_cast<IUnknown**>(e)) unk->Release();
    } else if (psa->fFeatures & FADF_VARIANT) {
      VariantClear(static_cast<VARIANT*>(e));
    }
  }
  std::memset(base + from * psa->cbElements, 0, (to - from) * psa->cbElements);
}

// Offset of the element named by indexes given left-most dimension first; false when outside.
bool ElementOffset(SAFEARRAY* psa, const LONG* idx, std::size_t* offset) {
  std::size_t off = 0, stride = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    // Dimension d in creation order is stored at the other end of rgsabound.
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - d];
    long long rel = static_cast<long long>(idx[d]) - b.lLbound;
    if (rel < 0 || rel >= static_cast<long long>(b.cElements)) return false;
    off += static_cast<std::size_t>(rel) * stride;
    stride *= b.cElements;
  }
  *offset = off * psa->cbElements;
  return true;
}

// Copies one element of the array's type into uninitialised storage at dst.
HRESULT CopyElement(const SAFEARRAY* psa, const void* src, void* dst) {
  if (psa->fFeatures & FADF_BSTR) {
    BSTR s = *static_cast<const BSTR*>(src);
    BSTR c = nullptr;
    if (s) {
      c = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s));
      if (!c) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(dst) = c;
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* unk = *static_cast<IUnknown* const*>(src);
    if (unk) unk->AddRef();
    *static_cast<IUnknown**>(dst) = unk;
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* v = static_cast<VARIANT*>(dst);
    VariantInit(v);
    return VariantCopy(v, static_cast<const VARIANT*>(src));
  } else {
    std::memcpy(dst, src, psa->cbElements);
  }
  return S_OK;
}

SAFEARRAY* NewDescriptor(UINT cDims) {
  if (cDims == 0 || cDims > 0xFFFF) return nullptr;
  std::size_t size = kPrefix + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<char*>(vkr::platform::Allocate(size));
  if (!block) return nullptr;
  std::memset(block, 0, size);
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kPrefix);
  psa->cDims = static_cast<USHORT>(cDims);
  return psa;
}
}  // namespace

HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (cDims == 0 || cDims > 0xFFFF) return E_INVALIDARG;
  *out = NewDescriptor(cDims);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ULONG size = ElementSize(vt);
  if (!size) return DISP_E_BADVARTYPE;
  HRESULT hr = SafeArrayAllocDescriptor(cDims, out);
  if (FAILED(hr)) return hr;
  (*out)->cbElements = size;
  (*out)->fFeatures = FeaturesOf(vt);
  StoredType(*out) = vt;
  return S_OK;
}

HRESULT SafeArrayAllocData(SAFEARRAY* psa) {
  if (!psa || psa->pvData || !psa->cbElements) return E_INVALIDARG;
  std::size_t count;
  if (!ElementCount(psa, &count)) return E_OUTOFMEMORY;
  std::size_t bytes = count * psa->cbElements;
  void* data = vkr::platform::Allocate(bytes);
  if (!data) return E_OUTOFMEMORY;
  std::memset(data, 0, bytes);
  psa->pvData = data;
  return S_OK;
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
  ReleaseElements(psa, 0, CountOf(psa));
  if (!(psa->fFeatures & (FADF_STATIC | FADF_AUTO | FADF_EMBEDDED))) {
    vkr::platform::Free(psa->pvData);
    psa->pvData = nullptr;
  }
  return S_OK;
}

HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
  vkr::platform::Free(reinterpret_cast<char*>(psa) - kPrefix);
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
  SafeArrayDestroyData(psa);
  return SafeArrayDestroyDescriptor(psa);
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (!rgsabound || cDims == 0) return nullptr;
  SAFEARRAY* psa = nullptr;
  if (FAILED(SafeArrayAllocDescriptorEx(vt, cDims, &psa))) return nullptr;
  // Stored right-most first.
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  if (FAILED(SafeArrayAllocData(psa))) {
    SafeArrayDestroyDescriptor(psa);
    return nullptr;
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND b{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &b);
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }
UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  if (nDim < 1 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(static_cast<long long>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    *pvt = StoredType(psa);
  } else if (psa->fFeatures & FADF_BSTR) {
    *pvt = VT_BSTR;
  } else if (psa->fFeatures & FADF_UNKNOWN) {
    *pvt = VT_UNKNOWN;
  } else if (psa->fFeatures & FADF_DISPATCH) {
    *pvt = VT_DISPATCH;
  } else if (psa->fFeatures & FADF_VARIANT) {
    *pvt = VT_VARIANT;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks >= 0xFFFF) return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (!psa || !ppvData) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) {
    *ppvData = nullptr;
    return hr;
  }
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
  if (!psa || !rgIndices || !ppvData) return E_INVALIDARG;
  std::size_t off;
  if (!ElementOffset(psa, rgIndices, &off)) return DISP_E_BADINDEX;
  *ppvData = static_cast<char*>(psa->pvData) + off;
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  std::size_t off;
  if (!ElementOffset(psa, rgIndices, &off)) return DISP_E_BADINDEX;
  if (!psa->pvData) return E_UNEXPECTED;
  SafeArrayLock(psa);
  HRESULT hr = CopyElement(psa, static_cast<char*>(psa->pvData) + off, pv);
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices) return E_INVALIDARG;
  std::size_t off;
  if (!ElementOffset(psa, rgIndices, &off)) return DISP_E_BADINDEX;
  if (!psa->pvData) return E_UNEXPECTED;
  void* slot = static_cast<char*>(psa->pvData) + off;
  // Strings and interfaces are passed as themselves, everything else by address.
  if (psa->fFeatures & FADF_BSTR) {
    BSTR s = static_cast<BSTR>(pv);
    BSTR copy = nullptr;
    if (s) {
      copy = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(s), SysStringByteLen(s));
      if (!copy) return E_OUTOFMEMORY;
    }
    SysFreeString(*static_cast<BSTR*>(slot));
    *static_cast<BSTR*>(slot) = copy;
    return S_OK;
  }
  if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* unk = static_cast<IUnknown*>(pv);
    if (unk) unk->AddRef();
    if (auto* old = *static_cast<IUnknown**>(slot)) old->Release();
    *static_cast<IUnknown**>(slot) = unk;
    return S_OK;
  }
  if (!pv) return E_INVALIDARG;
  if (psa->fFeatures & FADF_VARIANT) return VariantCopy(static_cast<VARIANT*>(slot), static_cast<VARIANT*>(pv));
  std::memcpy(slot, pv, psa->cbElements);
  return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
  if (!psa || !psaboundNew) return E_INVALIDARG;
  if (psa->cLocks) return DISP_E_ARRAYISLOCKED;
  if (psa->fFeatures & FADF_FIXEDSIZE) return E_INVALIDARG;
  // The slowest-varying dimension (stored first) changes, so the data only grows or shrinks at its end.
  std::size_t oldCount = CountOf(psa);
  SAFEARRAYBOUND old = psa->rgsabound[0];
  psa->rgsabound[0] = *psaboundNew;
  std::size_t newCount;
  if (!ElementCount(psa, &newCount)) {
    psa->rgsabound[0] = old;
    return E_OUTOFMEMORY;
  }
  if (newCount < oldCount) {
    ReleaseElements(psa, newCount, oldCount);
  }
  void* data = vkr::platform::Reallocate(psa->pvData, newCount * psa->cbElements);
  if (!data) {
    // Shrinking already freed the dropped elements; keeping the old block is safe either way.
    if (newCount < oldCount) return S_OK;
    psa->rgsabound[0] = old;
    return E_OUTOFMEMORY;
  }
  psa->pvData = data;
  if (newCount > oldCount)
    std::memset(static_cast<char*>(data) + oldCount * psa->cbElements, 0, (newCount - oldCount) * psa->cbElements);
  return S_OK;
}

HRESULT SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget) {
  if (!psaSource || !psaTarget) return E_INVALIDARG;
  if (psaSource->cDims != psaTarget->cDims || psaSource->cbElements != psaTarget->cbElements ||
      (psaSource->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT)) !=
          (psaTarget->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT)))
    return E_INVALIDARG;
  for (USHORT i = 0; i < psaSource->cDims; ++i)
    if (psaSource->rgsabound[i].cElements != psaTarget->rgsabound[i].cElements) return E_INVALIDARG;
  std::size_t count = CountOf(psaSource);
  ReleaseElements(psaTarget, 0, count);
  for (std::size_t i = 0; i < count; ++i) {
    HRESULT hr = CopyElement(psaSource, static_cast<char*>(psaSource->pvData) + i * psaSource->cbElements,
                             static_cast<char*>(psaTarget->pvData) + i * psaTarget->cbElements);
    if (FAILED(hr)) {
      ReleaseElements(psaTarget, 0, i);
      return hr;
    }
  }
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (!ppsaOut) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (!psa) return S_OK;
  SAFEARRAY* copy = NewDescriptor(psa->cDims);
  if (!copy) return E_OUTOFMEMORY;
  copy->cbElements = psa->cbElements;
  copy->fFeatures = static_cast<USHORT>(psa->fFeatures & ~(FADF_STATIC | FADF_AUTO | FADF_EMBEDDED));
  StoredType(copy) = StoredType(psa);
  for (USHORT i = 0; i < psa->cDims; ++i) copy->rgsabound[i] = psa->rgsabound[i];
  HRESULT hr = SafeArrayAllocData(copy);
  if (SUCCEEDED(hr) && psa->pvData) hr = SafeArrayCopyData(psa, copy);
  if (FAILED(hr)) {
    SafeArrayDestroy(copy);
    return hr;
  }
  *ppsaOut = copy;
  return S_OK;
}
