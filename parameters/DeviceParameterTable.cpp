// The VKR device's parameter rows and the AddressInformation and TypeInformation texts.
#include "parameters/DeviceParameterTable.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "xml/Log.h"

namespace vkr {
namespace {

const DeviceParameterRow kRows[] = {
#include "parameters/DeviceParameterTable.inc"
};

// Attribute values are written between double quotes.
std::string EscapeAttribute(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    switch (*p) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += *p;
    }
  }
  return out;
}

}  // namespace

const char* const kDeviceTypeEnumTexts[] = {
    "0;Guided Radar continous level measurement with 4-20 mA and HART",
    "",
};

bool HoldsNonFiniteNumber(ULONG id, const VARIANT& value) {
  if (value.vt == VT_R4) return !std::isfinite(value.fltVal);
  if (value.vt == VT_R8) return !std::isfinite(value.dblVal);
  if (id != kRangeValuesId || value.vt != (VT_ARRAY | VT_UI1) || !value.parray) return false;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(value.parray, 1, &upper)))
    return false;
  std::vector<BYTE> bytes;
  for (LONG i = lower; i <= upper; ++i) {
    BYTE b = 0;
    LONG at = i;
    if (FAILED(SafeArrayGetElement(value.parray, &at, &b))) return false;
    bytes.push_back(b);
  }
  // The range unit, then the upper and the lower range value, most significant byte first.
  for (std::size_t at : {std::size_t{1}, std::size_t{5}}) {
    if (bytes.size() < at + 4) break;
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) bits = bits << 8 | bytes[at + i];
    if (!std::isfinite(std::bit_cast<float>(bits))) return true;
  }
  return false;
}

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

std::string MakeHartAddressInformation(const HartAddress& a) {
  return Format(
      "<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\">"
      "<HARTAddress service=\"read\" command=\"%lu\"><PduPosition bitOffset=\"%lu\" wBitLength=\"%lu\"/>"
      "</HARTAddress><HARTAddress service=\"write\" command=\"%lu\" commandBitLength=\"%lu\">"
      "<PduPosition bitOffset=\"%lu\" wBitLength=\"%lu\"/></HARTAddress></Protocol></AddressInformation>",
      a.readCommand, a.readBitOffset, a.readBitLength, a.writeCommand, a.writeCommandBitLength,
      a.writeBitOffset, a.writeBitLength);
}

std::string MakeTypeInformation(const DeviceParameterRow& row) {
  switch (row.typeInformationForm) {
    case TypeInformationForm::None: return {};
    case TypeInformationForm::Empty: return "<TypeInformation/>";
    case TypeInformationForm::BitString: break;
  }
  return "<TypeInformation><Array iecType=\"BITSTRING\" name=\"" + EscapeAttribute(row.typeInformationName) +
         "\" startIndex=\"0\" elementCount=\"" + Format("%lu", row.typeInformationElementCount) +
         "\" bitPosition=\"0\"><Simple type=\"VT_BOOL\" bitLength=\"1\" iecType=\"BOOL\"/></Array>"
         "</TypeInformation>";
}

}  // namespace vkr

namespace {

// The words every row of the table passes alike.
constexpr ULONG kFlagWord1 = 2;

void DefineRow(CovFDT_ParameterHandlerImpl& handler, CParamCollection* collection, const vkr::DeviceParameterRow& r) {
  using vkr::DefinitionHelper;
  const std::string typeText = vkr::MakeTypeInformation(r);
  const LPCSTR typeInformation = typeText.empty() ? nullptr : typeText.c_str();
  const std::string address = r.addressed ? vkr::MakeHartAddressInformation(r.address) : std::string();
  double n[4];
  LPCSTR texts[4];
  for (int i = 0; i < 4; ++i) {
    n[i] = r.values[i].number;
    texts[i] = r.values[i].text;
  }
  switch (vkr::DefinitionHelperOf(r)) {
    case DefinitionHelper::Numeric:
      handler.AddNumericParameter(collection, 0, r.id, -1, r.name, 0, r.vt, n[0], n[1], n[2], n[3], r.persist,
                                  r.flags, kFlagWord1, 0, nullptr, 0, nullptr, r.kind, nullptr, 0, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, r.stringId, 0, typeInformation,
                                  nullptr);
      break;
    case DefinitionHelper::AddressedNumeric:
      handler.AddAddressedNumericParameter(collection, 1, r.id, address.c_str(), r.name, 0, r.vt, n[0], n[1], n[2],
                                           n[3], r.persist, r.flags, kFlagWord1, 0, nullptr, 0, nullptr, r.kind,
                                           nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           r.stringId, 0, typeInformation, nullptr);
      break;
    case DefinitionHelper::Array:
      handler.AddArrayParameter(collection, 0, r.id, -1, r.name, 0, r.vt, texts[0], texts[1], texts[2], texts[3],
                                r.persist, r.flags, kFlagWord1, 0, nullptr, 0, nullptr, r.kind, nullptr, 0, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, r.stringId, 0, typeInformation,
                                nullptr);
      break;
    case DefinitionHelper::AddressedArray:
      handler.AddAddressedArrayParameter(collection, 1, r.id, address.c_str(), r.name, 0, r.vt, texts[0], texts[1],
                                         texts[2], texts[3], r.persist, r.flags, kFlagWord1, 0, nullptr, 0, nullptr,
                                         r.kind, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, r.stringId, 0, typeInformation, nullptr);
      break;
    case DefinitionHelper::Enum:
      handler.AddEnumParameter(collection, 0, r.id, -1, r.name, 0, r.vt, r.kind, vkr::kDeviceTypeEnumTexts,
                               static_cast<ULONG>(n[2]), static_cast<ULONG>(n[3]), r.persist, r.flags, kFlagWord1, 0,
                               nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               r.stringId, 0, typeInformation, nullptr);
      break;
  }
}

}  // namespace

namespace {

// The rows as defined into an empty collection, shared by the handlers that keep them: every DTM
// of the device defines the same rows, so once one has, the others copy its records instead of
// converting, checking and formatting every row again.
std::mutex g_definedRowsLock;
std::weak_ptr<const CParamCollection> g_definedRows;

std::shared_ptr<const CParamCollection> SharedDefinedRows() {
  std::lock_guard<std::mutex> hold(g_definedRowsLock);
  return g_definedRows.lock();
}

// Whether a fresh definition may stand for every later one: no alias was registered with the
// handler on the way, and every addressed row kept its address (a conversion that failed was
// reported to the site, which a copy would not repeat).
bool DefinitionMayBeShared(const CParamCollection& collection) {
  std::size_t rows = 0;
  const vkr::DeviceParameterRow* table = vkr::GetDeviceParameterRows(&rows);
  for (std::size_t i = 0; i < rows; ++i) {
    const ParInfo* record = collection.FindById(table[i].id);
    if (!record || record->IsReference()) return false;
    if (table[i].addressed && record->m_vAddress.vt != VT_BSTR) return false;
  }
  return true;
}

// Sharing is an aid only: without the memory for it, nothing is shared.
void ShareDefinedRows(CovFDT_ParameterHandlerImpl& handler, const CParamCollection& collection) noexcept {
  try {
    auto rows = std::make_shared<CParamCollection>();
    if (FAILED(rows->CopyFrom(collection))) return;
    std::lock_guard<std::mutex> hold(g_definedRowsLock);
    // Another handler may have shared its definition meanwhile: the same records.
    std::shared_ptr<const CParamCollection> kept = g_definedRows.lock();
    if (!kept) {
      kept = std::move(rows);
      g_definedRows = kept;
    }
    handler.m_pDefinedRows = std::move(kept);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

HRESULT InitDeviceParameterTable(CovFDT_ParameterHandlerImpl& handler, CParamCollection* collection, ULONG* count) {
  if (!collection) return E_POINTER;
  // A trace that is switched on shows every definition: then every row is defined.
  const bool fresh = collection->Count() == 0 && !IsLogEnabled();
  if (fresh) {
    if (std::shared_ptr<const CParamCollection> rows = SharedDefinedRows()) {
      const HRESULT hr = collection->CopyFrom(*rows);
      if (SUCCEEDED(hr)) handler.m_pDefinedRows = std::move(rows);
      if (count) *count = collection->Count();
      return hr;
    }
  }
  HRESULT hr = S_OK;
  try {
    std::size_t rows = 0;
    const vkr::DeviceParameterRow* table = vkr::GetDeviceParameterRows(&rows);
    for (std::size_t i = 0; i < rows; ++i) DefineRow(handler, collection, table[i]);
    if (fresh && DefinitionMayBeShared(*collection)) ShareDefinedRows(handler, *collection);
  } catch (const vkr::HResultError& e) {
    hr = e.Result();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  if (count) *count = collection->Count();
  return hr;
}
