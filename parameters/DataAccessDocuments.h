// The texts of single device data access: the FDT data-type word an item is announced with, its
// item-kind elements, the time stamp of a value, the range elements of an item, and the pieces of
// the item documents (DTMItemListSchema) the DTM answers with.
//
// All functions are stateless; text results are new BSTRs owned by the caller.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

// The FDT data-type word of a VARTYPE, the one the value writer (WriteFdtVariantXml) uses:
// "int" (VT_I1, VT_I2, VT_I4, VT_BOOL), "float", "double", "byte", "unsigned" (VT_UI2, VT_UI4),
// "ascii" (VT_BSTR), "dateAndTime" (VT_DATE); E_FAIL for VT_EMPTY; "hexString" with S_FALSE for
// the rest; E_INVALIDARG for a null word.
HRESULT VarTypeToFdtDataType(VARTYPE type, BSTR* word);

// One line "<ItemKind itemKind=\"WORD\" />\n" for each set bit from 0 to 25, in bit order (alarm,
// analogInput, analogOutput, ..., tune); a word without any of those bits gives the single line
// with "others". E_INVALIDARG for a null text.
HRESULT ItemKindText(ULONG flags, BSTR* text);

// The current UTC time as "YYYY-MM-DDThh:mm:ss".
std::u16string GetXmlTimeStamp();

// A limit of an item as an empty FDT data element: a number (VT_I1, VT_I2, VT_I4, VT_UI1, VT_UI2,
// VT_UI4, VT_R4, VT_R8, VT_DECIMAL) as <fdt:NumberData number="..." /> in locale 1033, a date as
// <fdt:TimeData time="..." />, a text as <fdt:StringData string="..." /> (escaped) and bytes as the
// same element with their upper-case hex. S_FALSE and *xml untouched for any other type; a failing
// conversion's result; E_INVALIDARG for a null xml.
HRESULT RangeValueXml(const VARIANT& value, BSTR* xml);

// The item documents. The item-info list is head, one DtmItemInfo per item, tail; the item list
// head, one DtmItem per item (DtmItemText), tail.
inline constexpr char16_t kItemInfoListHead[] =
    u"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMItemListSchema.xml\" "
    u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n\t<DtmItemInfoList>\n";
inline constexpr char16_t kItemInfoListTail[] = u"\t</DtmItemInfoList>\n</FDT>\n";
inline constexpr char16_t kItemListHead[] =
    u"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMItemListSchema.xml\" "
    u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n\t<DtmItemList>\n";
inline constexpr char16_t kItemListTail[] = u"\t</DtmItemList>\n</FDT>";

// The payloads of an item that carries no value.
inline constexpr char16_t kItemErrorInvalidValue[] =
    u"\t<ItemError>\n\t\t<ItemErrorDescription itemErrorDescription=\"invalidValue\"/>\n\t</ItemError>\n";
inline constexpr char16_t kItemErrorNoLock[] =
    u"\t<ItemError>\n\t\t<ItemErrorDescription itemErrorDescription=\"noLock\"/>\n\t</ItemError>\n";
inline constexpr char16_t kItemErrorNoConnection[] =
    u"\t<ItemError>\n\t\t<fdt:CommunicationError communicationError=\"noConnection\" tag=\"0\"/>\n\t</ItemError>\n";

// One DtmItem of an item list. The id and the time stamp are texts a request may have carried:
// they are escaped here, so an answer is well-formed whatever the request held (a text no XML
// document can carry gives E_INVALIDARG). The payload is a written fdt:Variant or one of the item
// errors above, put in as it is. E_INVALIDARG also for a null out.
HRESULT AppendDtmItem(std::u16string* document, std::u16string_view id, std::u16string_view time, bool good,
                      std::u16string_view payload);
