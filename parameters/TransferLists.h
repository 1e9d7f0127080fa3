// The upload and download lists of the VKR device: which parameters an upload reads and a
// download writes, kept as the named lists "UploadList" and "DownloadList" of the DTM's
// parameter-list service. The upload and download machinery collects their members by name.
#pragma once

#include "include/IovFDTParamList.h"
#include "platform/platform.h"

// Defines both lists on the service, once per DTM object, after the device parameter table:
// "UploadList" with its 17 ids, then "DownloadList" with its 20 ids, one member call per id in
// list order. S_OK, or the first failure, which ends the definition at once (what was added so
// far stays). E_POINTER for a null service.
HRESULT InitTransferLists(IovFDTParamList* service);

// Creates a list (parent null or empty: a root list). S_OK when the service made it, E_FAIL when it
// did not (a list of that name exists), the service's failure otherwise.
HRESULT AddParameterList(IovFDTParamList* service, LPCOLESTR listName, LPCOLESTR parentListName);

// Appends one parameter id (as VT_UI4) to a list. S_OK when the service added it, E_FAIL when it did
// not (no such list), the service's failure otherwise.
HRESULT AddParameterListMember(IovFDTParamList* service, LPCOLESTR listName, ULONG id);

// out = a one-element VT_ARRAY|VT_VARIANT (lower bound 0) holding id as VT_UI4; out, which must be
// initialised, is cleared first. E_INVALIDARG for a null out; E_POINTER when the array cannot be
// made (out then stays cleared).
HRESULT MakeSingleIdArray(ULONG id, VARIANT* out);
