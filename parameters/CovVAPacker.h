// Packed records: records that cross a thread or interface boundary as one VARIANT of type
// VT_ARRAY|VT_VARIANT, a one-dimensional array (lower bound 0) with one element per field.
//
// A record lists its fields once, in Serialize, as a sequence of exchanges; the same routine counts,
// writes and reads them, so writer and reader cannot disagree on the order. The element order and
// VARTYPEs of each record are the format between the code that packs it and the code that unpacks
// it:
//
//   exchange          field          element
//   ExchangeULong     ULONG          VT_UI4
//   ExchangeLong      LONG           VT_I4
//   ExchangeBool      bool           VT_BOOL (VARIANT_TRUE for true; read back true when not 0)
//   ExchangeBstr      vkr::Bstr      VT_BSTR holding a copy (a null text stays null)
//   ExchangeRecord    a record       VT_ARRAY|VT_VARIANT holding the nested record packed by itself
//   ExchangeByte      BYTE           VT_UI1
//   ExchangeVariant   vkr::Variant   a copy of the VARIANT as it is
//
// Unpacking takes every element's VARTYPE exactly as the exchange gives it (no conversion); the
// fields read before a failing one keep their new values.
#pragma once

#include <vector>

#include "platform/platform.h"

class CovVAPacker {
 public:
  virtual ~CovVAPacker() = default;

  // Counting pass, array of that size, filling pass; out is cleared and receives the array only
  // when both passes succeed, else it is untouched. False for a null out.
  bool Pack(VARIANT* out);
  // False unless packed is a one-dimensional VT_ARRAY|VT_VARIANT whose elements fit the fields.
  bool Unpack(const VARIANT& packed);

 protected:
  // The record's fields in order, each through its exchange; false at the first that fails.
  virtual bool Serialize() = 0;

  bool ExchangeULong(ULONG& field);
  bool ExchangeLong(LONG& field);
  bool ExchangeBool(bool& field);
  bool ExchangeBstr(vkr::Bstr& field);
  bool ExchangeRecord(CovVAPacker& record);
  bool ExchangeByte(BYTE& field);
  bool ExchangeVariant(vkr::Variant& field);

  enum Mode : LONG { kCount = 0, kPack = 1, kUnpack = 2 };
  LONG m_nMode = kCount;
  LONG m_nIndex = 0;
  SAFEARRAY* m_psa = nullptr;  // the array being written or read; not owned

 private:
  // Stores value as element m_nIndex and advances; in counting mode only advances.
  bool Put(VARIANT& value);
  // Fetches element m_nIndex when it has type vt (any type for VT_EMPTY == `anyType`).
  bool Get(VARTYPE vt, bool anyType, vkr::Variant* element);
};

// A user interface's cyclic update of one parameter: {parameter id VT_UI4, rate in ms VT_UI4}.
struct SParamUpdateInfo : CovVAPacker {
  SParamUpdateInfo() = default;
  SParamUpdateInfo(ULONG id, ULONG rate) : nParameterId(id), nUpdateRate(rate) {}
  SParamUpdateInfo(const SParamUpdateInfo& o)
      : CovVAPacker(), nParameterId(o.nParameterId), nUpdateRate(o.nUpdateRate) {}
  SParamUpdateInfo& operator=(const SParamUpdateInfo& o) {
    nParameterId = o.nParameterId;
    nUpdateRate = o.nUpdateRate;
    return *this;
  }
  ULONG nParameterId = 0;
  ULONG nUpdateRate = 0;

 protected:
  bool Serialize() override { return ExchangeULong(nParameterId) && ExchangeULong(nUpdateRate); }
};

// An upload or download request handed to the DTM thread: {invoke id, parameter selection (the
// path), flag (false when the DTM sends it)}.
struct SOnlineParamData : CovVAPacker {
  vkr::Bstr bstrInvokeId;
  vkr::Bstr bstrParameters;
  bool bFlag = false;

 protected:
  bool Serialize() override {
    return ExchangeBstr(bstrInvokeId) && ExchangeBstr(bstrParameters) && ExchangeBool(bFlag);
  }
};

// A single-device-data-access read or write request: {invoke id, item selection document}.
struct SovFDT_InstanceDataRequest : CovVAPacker {
  vkr::Bstr bstrInvokeId;
  vkr::Bstr bstrDocument;

 protected:
  bool Serialize() override { return ExchangeBstr(bstrInvokeId) && ExchangeBstr(bstrDocument); }
};

// A progress report: {text, percent VT_I4, flag}.
struct SProgressEvent : CovVAPacker {
  vkr::Bstr bstrText;
  LONG nPercent = 0;
  bool bFlag = false;

 protected:
  bool Serialize() override { return ExchangeBstr(bstrText) && ExchangeLong(nPercent) && ExchangeBool(bFlag); }
};

// A list of update records as a VT_ARRAY|VT_VARIANT whose element i is record i packed. out is
// cleared and receives the list. E_POINTER for a null out, E_OUTOFMEMORY, E_FAIL for a record that
// cannot be packed or stored.
HRESULT PackParamUpdateInfos(const std::vector<SParamUpdateInfo>& infos, VARIANT* out);
// Empties infos, then appends every record of the list in order. VT_EMPTY is the empty list;
// another type than VT_ARRAY|VT_VARIANT gives E_INVALIDARG; an element that is not a packed record
// gives E_FAIL (infos keeps the records read before it).
HRESULT UnpackParamUpdateInfos(std::vector<SParamUpdateInfo>& infos, const VARIANT& packed);
