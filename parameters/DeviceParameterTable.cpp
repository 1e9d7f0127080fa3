// The VKR device's parameter rows and the AddressInformation and TypeInformation texts.
#include "parameters/DeviceParameterTable.h"

namespace vkr {
namespace {

const DeviceParameterRow kRows[] = {
#include "parameters/DeviceParameterTable.inc"
};

// Attribute values are written between double quotes. The table is ASCII (its generator refuses
// anything else), so each byte is one character.
std::u16string EscapeAttribute(const char* text) {
  std::u16string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    switch (*p) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += u"&quot;"; break;
      default: out += static_cast<char16_t>(static_cast<unsigned char>(*p));
    }
  }
  return out;
}

}  // namespace

const char* const kDeviceTypeEnumTexts[] = {
    "0;Guided Radar continous level measurement with 4-20 mA and HART",
    "",
};

const DeviceParameterRow* GetDeviceParameterRows(std::size_t* count) {
  if (count) *count = sizeof(kRows) / sizeof(kRows[0]);
  return kRows;
}

DefinitionHelper DefinitionHelperOf(const DeviceParameterRow& row) {
  if (row.kind == 1) return DefinitionHelper::Enum;
  const bool text = row.vt == VT_BSTR || row.vt == (VT_ARRAY | VT_UI1);
  if (text) return row.addressed ? DefinitionHelper::AddressedArray : DefinitionHelper::Array;
  return row.addressed ? DefinitionHelper::AddressedNumeric : DefinitionHelper::Numeric;
}

std::u16string MakeHartAddressInformation(const HartAddress& a) {
  return Format(
      u"<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\">"
      u"<HARTAddress service=\"read\" command=\"%lu\"><PduPosition bitOffset=\"%lu\" wBitLength=\"%lu\"/>"
      u"</HARTAddress><HARTAddress service=\"write\" command=\"%lu\" commandBitLength=\"%lu\">"
      u"<PduPosition bitOffset=\"%lu\" wBitLength=\"%lu\"/></HARTAddress></Protocol></AddressInformation>",
      a.readCommand, a.readBitOffset, a.readBitLength, a.writeCommand, a.writeCommandBitLength,
      a.writeBitOffset, a.writeBitLength);
}

std::u16string MakeTypeInformation(const DeviceParameterRow& row) {
  switch (row.typeInformationForm) {
    case TypeInformationForm::None: return {};
    case TypeInformationForm::Empty: return u"<TypeInformation/>";
    case TypeInformationForm::BitString: break;
  }
  return u"<TypeInformation><Array iecType=\"BITSTRING\" name=\"" +
         EscapeAttribute(row.typeInformationName) + u"\" startIndex=\"0\" elementCount=\"" +
         Format(u"%lu", row.typeInformationElementCount) +
         u"\" bitPosition=\"0\"><Simple type=\"VT_BOOL\" bitLength=\"1\" iecType=\"BOOL\"/></Array>"
         u"</TypeInformation>";
}

}  // namespace vkr
