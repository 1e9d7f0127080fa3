// The alternative parameter lists of a device type: copies of the parameter lists for the DTM's
// dialogs, keeping only the lists that suit the DTM's device type.
//
// The DTM object's InitAlternativeParamLists (an operation of IovFdtBaseDTM) runs this with its
// own parameter-list service and device-type text, and passes itself as `recurse`, so that the child
// lists are copied through its own (overridable) operation.
#pragma once

#include <functional>

#include "include/IovFDTParamList.h"
#include "platform/platform.h"

// How the copy of one child list is made: (source key, parent key, target key).
using AlternativeParamListRecursion = std::function<HRESULT(VARIANT source, VARIANT parent, VARIANT target)>;

// Copies the list `source` to the key source + "_COPY" under `parent` (its properties "name",
// "path" and "treegroup_id" and its members), then each child list through `recurse` with the child
// key, the copy's key and the child key + "_COPY". A list is copied only when its "devicetype"
// property equals the name of the DTM's device type ("fdt:DtmDeviceType/fdt:VersionInformation/
// @name" of deviceTypeText) or its "type" is "base", unless the target key contains "_DIALOG_COPY".
// Answers: E_POINTER without a list service; the failure of converting source or target to text;
// S_FALSE when the device-type text does not load; S_OK for a list passed over; else the failure of
// reading the child keys or converting one of them, or S_OK after the walk (what a recursive call
// answers does not stop it). When the copy cannot be created (it exists already), no members are
// added to it. An empty `recurse` recurses here directly.
HRESULT CopyAlternativeParamList(IovFDTParamList* lists, BSTR deviceTypeText, VARIANT source, VARIANT parent,
                                 VARIANT target, const AlternativeParamListRecursion& recurse);
