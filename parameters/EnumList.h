// Enumeration lists: a parameter's entries as a VARIANT of VT_ARRAY|VT_BSTR with one dimension,
// each entry a text "value;label".
//
// The value is decimal, or hexadecimal when an 'x' or 'X' stands before the ';' (the digits follow
// the x: "0x1F;Level" and "x1F;Level" are 31); a '-' anywhere in the value negates it; the label
// is everything after the first ';'. An entry with neither ';' nor 'x' has the value 0 and an empty
// label. Values are 32-bit patterns: "0xFFFFFFFF;All" is -1.
#pragma once

#include "platform/platform.h"

// *count = 0 first; E_INVALIDARG for a null count or a VARIANT that is not a one-dimensional
// VT_ARRAY|VT_BSTR, E_UNEXPECTED for a null array.
HRESULT GetEnumListCount(const VARIANT& list, ULONG* count);
// Entry `index`, counted from 0 in the array's data. E_INVALIDARG for null outputs or a wrong list,
// E_UNEXPECTED for a null array or an index at or beyond the count; E_OUTOFMEMORY.
HRESULT GetEnumListEntry(const VARIANT& list, ULONG index, LONG* value, BSTR* label);
// The first entry whose value equals; false when there is none or the list is not a list. index
// and label may be null.
bool FindEnumListEntryByValue(const VARIANT& list, LONG value, ULONG* index, BSTR* label);
// The first entry whose whole label equals the text (case-sensitive); false when there is none.
bool FindEnumListEntryByLabel(const VARIANT& list, BSTR label, ULONG* index, LONG* value);
