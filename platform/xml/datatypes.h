// The XDR data types: their names, the check of a text against a type, and the typed values.
//
// Typed values (nodeTypedValue):
//   string, number, uuid, uri, id, idref(s), nmtoken(s), entity, entities, notation,
//   enumeration                                  -> VT_BSTR
//   boolean -> VT_BOOL; int, i4 -> VT_I4; i1 -> VT_I1; i2 -> VT_I2; i8 -> VT_I8; ui1 -> VT_UI1;
//   ui2 -> VT_UI2; ui4 -> VT_UI4; ui8 -> VT_UI8; r4 -> VT_R4; r8, float -> VT_R8;
//   fixed.14.4 -> VT_CY; char -> VT_UI2; date, dateTime(.tz), time(.tz) -> VT_DATE (time zone
//   offsets are dropped: the value is the written wall-clock time); bin.hex, bin.base64 ->
//   VT_ARRAY | VT_UI1.
// Texts are read without regard to the locale: '.' is the decimal point.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/dom_tree.h"

namespace vkr::xml {

// DataType::None for a name that is not an XDR type.
DataType DataTypeFromName(std::u16string_view name);
std::u16string_view DataTypeName(DataType type);

// Whether text is a valid value of type; for enumeration, one of values. Surrounding white
// space is allowed for every type but the text types.
bool CheckValue(DataType type, std::u16string_view text, const std::vector<std::u16string>* values);

// The typed value of text; XML_E_BAD_VALUE when the text is not of the type. None and the text
// types give VT_BSTR.
HRESULT TypedValue(DataType type, std::u16string_view text, VARIANT* out);

// The text that stands for a VARIANT in a node of the given type: numbers with '.', booleans of
// type boolean as "1"/"0" (else "True"/"False"), dates as ISO 8601, byte arrays as hex or base64.
// DISP_E_TYPEMISMATCH for a VARIANT that cannot stand there, XML_E_BAD_VALUE for one out of
// the type's range.
HRESULT TextFromVariant(DataType type, const VARIANT& value, std::u16string* out);

}  // namespace vkr::xml
