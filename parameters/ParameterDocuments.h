// Helpers of the parameter documents: the splitting of dotted or slashed names, the FDT variant
// element (an `fdt:Variant` holding one typed value) and its reader, the FDT data-type words, and
// the texts of the storage and data-set states.
//
// The "<PARAMETERS>" text itself is the parameter handler's (ExportParametersXml); the DTMParameterSchema
// document is the DTM's (GetParameters, SetParameters). All functions are stateless; text results
// are new BSTRs owned by the caller.
#pragma once

#include "platform/platform.h"

// The separators an export group path is split at: blank, full stop, comma, colon, semicolon and
// solidus.
inline constexpr const char16_t* kNameSeparators = u" .,:;/";

// Splits *text at its first character that is in separators: the characters before it become
// *head (the old *head is freed), the separator is dropped, and *text becomes what follows (the
// old *text is freed). *noSeparator is TRUE when no separator was found or nothing follows it
// (then *text becomes the empty text). With no separators, or a null or empty *text, nothing
// changes and *noSeparator is TRUE. E_POINTER for a null text, head or noSeparator pointer;
// E_OUTOFMEMORY (nothing changed). Called repeatedly, it walks a path component by component.
HRESULT SplitNameAtSeparator(BSTR* text, LPCWSTR separators, BSTR* head, BOOL* noSeparator);

// The FDT data-type word's VARTYPE: "byte" VT_UI1, "float" VT_R4, "double" VT_R8, "int" VT_I4,
// "unsigned" VT_UI4, "ascii" VT_BSTR, "hexString" VT_ARRAY|VT_UI1, "dateAndTime" VT_DATE,
// compared exactly (case included). False for any other text or a null vt.
bool DataTypeToVarType(BSTR text, VARTYPE* vt);

// The value as one element
//   <fdt:Variant xmlns:fdt="x-schema:FDTDataTypesSchema.xml" dataType="WORD"> <fdt:XData a="V" /></fdt:Variant>
// with, by the value's type:
//   VT_I1, VT_I2, VT_I4, VT_BOOL  int       NumberData number  (a boolean as -1 or 0)
//   VT_R4 / VT_R8                 float / double NumberData number, always with a decimal point
//   VT_UI1                        byte      NumberData number
//   VT_UI2, VT_UI4                unsigned  NumberData number
//   VT_DATE                       dateAndTime TimeData time    (the user locale's date text)
//   VT_BSTR                       ascii     StringData string  (escaped)
//   VT_ARRAY|VT_UI1               hexString StringData string  (upper-case hex)
// S_FALSE and *xml untouched for any other type; a failing conversion's result; E_POINTER for
// null pointers.
HRESULT WriteFdtVariantXml(const VARIANT* value, BSTR* xml);
// Reads an `fdt:Variant` element written as above into *value (cleared first on success): the
// dataType word gives the type, the child element's attribute the value (numbers with '.' or ','
// as decimal separator). E_INVALIDARG for a null node or value; E_FAIL without dataType or without
// the child the word needs; S_FALSE, value untouched, for an unknown word; a conversion's failure
// (a hex text of odd length or with a non-hex character is E_INVALIDARG).
HRESULT ReadFdtVariantXml(IXMLDOMNode* variant, VARIANT* value);

// "persistent" (0) or "transient" (1); null for any other state.
const char16_t* StorageStateText(ULONG state);
// "default" (0), "validModified" (1), "invalidModified" (2), "allDataLoaded" (3); null otherwise.
const char16_t* DataSetStateText(ULONG state);
