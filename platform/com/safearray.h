// SAFEARRAY functions: creation, bounds, element access with deep copies, locking, resizing.
//
// Elements of type BSTR, VARIANT and interface pointers are owned by the array: PutElement stores
// a copy (or an AddRef), GetElement hands out a copy the caller frees, Destroy frees them all.
// Indexes passed to Get/PutElement are given left-most dimension first, as SafeArrayCreate takes
// its bounds; memory is laid out with the left-most index varying fastest.
#pragma once

#include "platform/com/variant.h"

// NULL for an unsupported element type or out of memory.
VKR_API SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
VKR_API SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// Array descriptor and data for arrays of records or interfaces with an id are not supported.
VKR_API HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** out);
VKR_API HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** out);
VKR_API HRESULT SafeArrayAllocData(SAFEARRAY* psa);
VKR_API HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa);
VKR_API HRESULT SafeArrayDestroyData(SAFEARRAY* psa);
// DISP_E_ARRAYISLOCKED while locked; a null array is accepted.
VKR_API HRESULT SafeArrayDestroy(SAFEARRAY* psa);
VKR_API UINT SafeArrayGetDim(SAFEARRAY* psa);
VKR_API UINT SafeArrayGetElemsize(SAFEARRAY* psa);
// nDim counts from 1, left-most first; DISP_E_BADINDEX outside 1..cDims.
VKR_API HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
VKR_API HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
VKR_API HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
VKR_API HRESULT SafeArrayLock(SAFEARRAY* psa);
VKR_API HRESULT SafeArrayUnlock(SAFEARRAY* psa);
VKR_API HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
VKR_API HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// pv points to storage of the element type (BSTR, VARIANT, IUnknown*, ...). DISP_E_BADINDEX for
// an index outside the bounds.
VKR_API HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
VKR_API HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// The address of an element in the locked data.
VKR_API HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData);
// Changes the bound of the dimension Windows documents as the least significant one; elements
// dropped are freed, new ones are zero. DISP_E_ARRAYISLOCKED while locked.
VKR_API HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew);
// A deep copy; *ppsaOut is NULL on failure.
VKR_API HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
VKR_API HRESULT SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget);
