// SAFEARRAY functions: creation, bounds, element access with deep copies, locking, resizing.
//
// Elements of type BSTR, VARIANT and interface pointers are owned by the array: PutElement stores
// a copy (or an AddRef), GetElement hands out a copy the caller frees, Destroy frees them all.
// Indexes passed to Get/PutElement are given left-most dimension first, as SafeArrayCreate takes
// its bounds; memory is laid out with the left-most index varying fastest.
#pragma once

#include "platform/com/variant.h"

// NULL for an unsupported element type or out of memory.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// Array descriptor and data for arrays of records or interfaces with an id are not supported.
HRESULT SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** out);
HRESULT SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** out);
HRESULT SafeArrayAllocData(SAFEARRAY* psa);
HRESULT SafeArrayDestroyDescriptor(SAFEARRAY* psa);
HRESULT SafeArrayDestroyData(SAFEARRAY* psa);
// DISP_E_ARRAYISLOCKED while locked; a null array is accepted.
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
// nDim counts from 1, left-most first; DISP_E_BADINDEX outside 1..cDims.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
// pv points to storage of the element type (BSTR, VARIANT, IUnknown*, ...). DISP_E_BADINDEX for
// an index outside the bounds.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// The address of an element in the locked data.
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData);
// Changes the bound of the dimension Windows documents as the least significant one; elements
// dropped are freed, new ones are zero. DISP_E_ARRAYISLOCKED while locked.
HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew);
// A deep copy; *ppsaOut is NULL on failure.
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
HRESULT SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget);
