// Text and data conversions used throughout the system: byte strings as hex text, printf-style
// formatting into BSTRs, GUID text, VARTYPE names and the paths of files beside the module.
//
// All functions are stateless. Text results are new BSTRs owned by the caller (free them with
// SysFreeString); out-parameters are overwritten without freeing what they held unless said.
#pragma once

#include "platform/platform.h"

// ---- Hex text: "0123456789ABCDEF", two digits per byte, high nibble first, no separators. ----
// Reading accepts either case.

// A one-dimensional VT_ARRAY|VT_UI1 as hex text (its lower bound is not used). E_POINTER for null
// pointers; another type gives E_INVALIDARG, or with acceptOtherTypes an empty text and S_OK;
// more than one dimension E_INVALIDARG; a null array E_UNEXPECTED; E_OUTOFMEMORY.
HRESULT ByteArrayToHexString(const VARIANT* bytes, BSTR* hex, BOOL acceptOtherTypes);
// count bytes as hex text. E_POINTER for null pointers, E_INVALIDARG for a count of 0.
HRESULT BytesToHexString(const BYTE* data, ULONG count, BSTR* hex);
// Hex text into a new VT_ARRAY|VT_UI1 (lower bound 0). An empty text clears *out to VT_EMPTY, or
// with emptyGivesArray gives an array of 0 bytes. An odd length or a character that is not a hex
// digit gives E_INVALIDARG and leaves *out as it was. E_POINTER for a null out; E_FAIL when the
// array cannot be made.
HRESULT HexStringToByteArray(VARIANT* out, BSTR hex, BOOL emptyGivesArray);
// Hex text into buffer: the number of bytes written, 0 for an empty text, -1 (nothing written)
// for a null buffer, an odd length, more bytes than capacity or a character that is no hex digit.
LONG HexStringToBytes(BSTR hex, BYTE* buffer, ULONG capacity);

// ---- Formatting and text. ----

// Wide printf formatting with the Windows C runtime's rules (%s wide, %S 8-bit, a null string
// prints as nothing) into a new BSTR in *out; the old content of *out is not freed. E_POINTER for
// a null out, E_INVALIDARG for a null format, E_FAIL for output of 524,288 characters or more or
// a format the runtime refuses (%n), E_OUTOFMEMORY.
HRESULT BstrFormat(BSTR* out, LPCWSTR format, ...);
HRESULT BstrFormatV(BSTR* out, LPCWSTR format, va_list args);
// A copy of a VT_BSTR value (null stays null), or the value converted to text with
// VariantChangeType (its failure returned). E_POINTER for null pointers.
HRESULT VariantToBstr(const VARIANT* value, BSTR* text);
// Drops from *text every character that occurs in set, replacing the BSTR. A null set or an empty
// text leave it unchanged. E_POINTER for a null text pointer; E_OUTOFMEMORY.
HRESULT RemoveCharacters(BSTR* text, LPCWSTR set);
// Lower-cases the ASCII letters of *text in place (replacing the BSTR); other characters stay.
HRESULT ToLowerText(BSTR* text);
// A VT_ARRAY|VT_BSTR (lower bound 0) of copies of the strings of list, which ends at its first
// null or empty string; VT_EMPTY for a null or empty list or when storing fails. The caller
// clears the result.
VARIANT MakeStringArrayVariant(const LPCWSTR* list);

// The RT_HTML resource `id` of module as text (8-bit in the ANSI code page, up to its size or an
// earlier zero byte); null when it is missing or cannot be loaded.
BSTR LoadHtmlResourceText(WORD id, HMODULE module);

// ---- GUIDs. ----

// The 36-character registry form without braces, upper case. E_POINTER, E_OUTOFMEMORY.
HRESULT GuidToString(const GUID* guid, BSTR* text);
// A new GUID as text. E_INVALIDARG for a null pointer, E_FAIL when no GUID can be made.
HRESULT CreateGuidString(BSTR* text);

// ---- VARTYPE names: "VT_EMPTY" ... "VT_CLSID", flags " | VT_VECTOR", " | VT_ARRAY",
// " | VT_RESERVED". ----

// The name of vt's base type ("Unknown (N)" when it has none) and its flag names; *name is
// overwritten without freeing. A null name pointer does nothing.
void VarTypeToString(VARTYPE vt, BSTR* name);
// The base type named in the text (a name that is part of a longer name found in the text yields
// to it, so every name written by VarTypeToString reads back) plus the flags named; VT_EMPTY when
// no name is found. A null vt pointer does nothing.
void VarTypeFromString(BSTR name, VARTYPE* vt);

// ---- Paths (Windows paths; '\' and '/' both separate). The module is the library (or program)
// these functions are linked into. ----

// The module's file name in its long form; null when it cannot be found.
BSTR GetModulePath();

// The path up to and including its last separator; an empty text when it has none.
BSTR DirectoryOfPath(LPCWSTR path);
// What follows the last separator (the whole path without one); null when that is empty.
BSTR FileNameOfPath(LPCWSTR path);
// FALSE for URLs ("http://", "ftp://", "file://", any case), paths with a drive (":\" or ":/")
// and rooted paths (a leading '\' or '/', which includes UNC paths); TRUE otherwise.
BOOL IsRelativePath(LPCWSTR path);
// A relative path appended to the module's directory; any other path copied.
BSTR MakeAbsolutePath(LPCWSTR path);
// MakeAbsolutePath; with fallbackToModuleDirectory, when nothing exists there, the module's
// directory followed by the path's file name (whether that exists is not tested).
BSTR ResolveFilePath(LPCWSTR path, bool fallbackToModuleDirectory);
