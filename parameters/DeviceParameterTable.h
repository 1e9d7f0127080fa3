// The VKR device's parameter definitions as data, and the address and type texts built from them.
//
// Texts are 8-bit (UTF-8) literals, as the definition helpers take them.
//
// The rows are generated (parameters/DeviceParameterTable.inc, by scripts/gen_device_table.py) from
// the device's parameter table; InitDeviceParameterTable hands each row to the definition helper
// that suits it, in row order. The rows keep the table's own spelling, misspellings included
// ("Fail Opiton", "eCommand45ID,"): documents and user interfaces refer to parameters by these.
#pragma once

#include "platform/platform.h"

namespace vkr {

// One of the four values of a definition (minimum, maximum, default, value). A text cell has
// `text` set ("" for the empty text); a numeric cell has `text` null and its double in `number`.
struct DefinitionValue {
  const char* text;
  double number;
};

// A HART address: read with `readCommand` the response field at `readBitOffset`,
// `readBitLength` bits long; write with `writeCommand`, whose request is `writeCommandBitLength`
// bits long, the field at `writeBitOffset`, `writeBitLength` bits long.
struct HartAddress {
  ULONG readCommand;
  ULONG readBitOffset;
  ULONG readBitLength;
  ULONG writeCommand;
  ULONG writeCommandBitLength;
  ULONG writeBitOffset;
  ULONG writeBitLength;
};

enum class TypeInformationForm : BYTE {
  None,       // no TypeInformation text
  Empty,      // "<TypeInformation/>"
  BitString,  // the bit-string array template with a name and an element count
};

// The definition helper a row is given to.
enum class DefinitionHelper : BYTE {
  Numeric,
  AddressedNumeric,
  Array,
  AddressedArray,
  Enum,
};

struct DeviceParameterRow {
  ULONG position;  // 1-based place in the definition order
  ULONG id;
  const char* name;
  VARTYPE vt;
  DefinitionValue values[4];  // minimum, maximum, default, value
  ULONG persist;
  ULONG flags;  // as the table passes it; the helpers and the collection may add bits
  USHORT kind;
  bool addressed;
  HartAddress address;     // meaningful when `addressed`
  const char* stringId;    // null: the record takes its name
  TypeInformationForm typeInformationForm;
  const char* typeInformationName;  // BitString only
  ULONG typeInformationElementCount;   // BitString only
};

// The rows in definition order (139 of them; 138 distinct ids).
const DeviceParameterRow* GetDeviceParameterRows(std::size_t* count);

DefinitionHelper DefinitionHelperOf(const DeviceParameterRow& row);

// The AddressInformation text of a HART address under the FDT HART protocol id.
std::string MakeHartAddressInformation(const HartAddress& address);

// The TypeInformation text of a row: empty for TypeInformationForm::None (no text),
// "<TypeInformation/>", or the bit-string template with the row's name and element count.
std::string MakeTypeInformation(const DeviceParameterRow& row);

// The enumeration texts of the device's one enumerated parameter (991 "DeviceType"), ended by an
// empty text as the enumeration helper expects.
extern const char* const kDeviceTypeEnumTexts[];

// The range values (command 15's range unit, upper and lower range value, as the bytes of one
// parameter).
inline constexpr ULONG kRangeValuesId = 1023;

// Whether a value the device gave parameter `id` holds a float that is not a finite number (NaN or
// an infinity): the value itself (VT_R4, VT_R8), or one of the two floats of the range values'
// bytes. Such a value is no setting a data set could keep or a device could take back.
bool HoldsNonFiniteNumber(ULONG id, const VARIANT& value);

}  // namespace vkr

class CovFDT_ParameterHandlerImpl;
class CParamCollection;

// Defines the device's parameters into the collection, one helper call per row in row order (the
// DTM calls it at its final construction and again when it rebuilds the device-type parameter
// collection). Definition problems are the helpers' business and do not stop the table; a
// repeated id keeps its first definition, so the 139 rows give 138 records. When count is not
// null it receives the collection's record count. S_OK; E_POINTER for a null collection;
// E_OUTOFMEMORY (or the failing code) when a record cannot be made: the table stops there and the
// records made so far stay.
HRESULT InitDeviceParameterTable(CovFDT_ParameterHandlerImpl& handler, CParamCollection* collection, ULONG* count);
