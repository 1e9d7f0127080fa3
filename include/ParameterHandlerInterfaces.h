// The interfaces of the parameter handler, which the DTM object hands out: IovFdtParameterHandler4,
// IovFdtParameterInfo, IovFdtParameterValidation, IovFdtParametersImportExport and
// IovFdtOnlineParameter. All are dual (IDispatch first), with their operations in slot order.
//
// Every operation answers an HRESULT unless it says otherwise. Parameter ids given as VARIANTs are
// converted to VT_UI4 first: a failed conversion is returned, another resulting type gives E_FAIL;
// 0xFFFFFFFF is never a parameter id. All of them run on the DTM's apartment thread.
//
// Some operations have a second name in parts of the system written from another description of
// the handler; it stands in the comment.
#pragma once

#include "platform/platform.h"

// The parameter record and the moments of its callbacks belong to the parameter model.
class ParInfo;
enum ParameterCallbackKind : ULONG;

struct IovFdtParameterHandler4 : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("D6718C08-B5CA-4E7B-B7B1-4208C776E79F");
  using Base = IDispatch;
  // 7: reads one parameter from the device (asynchronously, the value arrives in
  // HandleDevParResponse), with the callbacks of kinds 1 and 2 around it. Outside the online state
  // it does nothing and answers S_OK with *result false.
  virtual HRESULT ReadDeviceParameter(VARIANT id, VARIANT_BOOL* result) = 0;
  // 8: the user interfaces' write: online, a device parameter goes to the device; otherwise the
  // value is validated and stored in the data set.
  virtual HRESULT WriteDeviceParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) = 0;
  // 9: every given out pointer receives a copy of its field; status gets the flag word as VT_UI4.
  virtual HRESULT GetParameterInfo(VARIANT id, VARIANT* value, BSTR* name, VARTYPE* type, VARIANT* minimum,
                                   VARIANT* maximum, VARIANT* defaultValue, VARIANT* status) = 0;
  // 10: a device response: success stores data as the device value, failure reports the error.
  virtual HRESULT HandleDevParResponse(VARIANT_BOOL success, VARIANT id, VARIANT data, BSTR errorText) = 0;
  // 11: the address field (also: GetParameterAddressInformation).
  virtual HRESULT GetParameterAddress(VARIANT id, VARIANT* address) = 0;
  // 12: as SetValueAndStatusById, status given as a VARIANT holding the 32-bit word.
  virtual HRESULT SetParameterInfo(VARIANT id, VARIANT* value, VARIANT* status) = 0;
  // 13: a copy of the data-set value.
  virtual HRESULT GetParameterValue(VARIANT id, VARIANT* value) = 0;
  // 14: sets the data-set value as a user's change: converted, stored, announced, relations run.
  virtual HRESULT SetParameterValue(VARIANT id, VARIANT value) = 0;
  // 15: writes the address field.
  virtual HRESULT SetParameterAddress(VARIANT id, VARIANT address) = 0;
  // 16: the addressed word as VT_UI4 (also: IsDeviceParameter).
  virtual HRESULT GetAddressedWord(VARIANT id, VARIANT* kind) = 0;
  // 17: asked before a new data set is made; answers done true.
  virtual HRESULT InitNewParameterHandler(VARIANT_BOOL* done) = 0;
  // 18, 19: the parameter section of the data set.
  virtual HRESULT LoadParameterHandler(IStream* stream, VARIANT_BOOL* done) = 0;
  virtual HRESULT SaveParameterHandler(IStream* stream, VARIANT_BOOL* done) = 0;
  // 20, 21: the upload and download of the transfer lists without invoke id.
  virtual HRESULT UploadOnlineParameters(BSTR parameterList, VARIANT_BOOL* success) = 0;
  virtual HRESULT DownloadOnlineParameters(BSTR parameterList, VARIANT_BOOL* success) = 0;
  // 22: raises the transfer-cancel flag.
  virtual HRESULT CancelTransfer(VARIANT_BOOL* done) = 0;
  // 23, 24: blocking read and write through the communication client, with the callbacks of kinds
  // 1/2 and 3/4 around them; outside the online state they do nothing (S_OK, *result false).
  virtual HRESULT ReadDeviceParameterEx(VARIANT id, VARIANT_BOOL* result) = 0;
  virtual HRESULT WriteDeviceParameterEx(VARIANT id, VARIANT value, VARIANT_BOOL* result) = 0;
  // (25: a hook of the DTM class; the handler declares nothing there.)
  // 26: the fields of GetParameterInfo by a 32-bit id; status is the flag word.
  virtual HRESULT GetParameterInfoById(ULONG id, VARIANT* value, BSTR* name, VARTYPE* type, VARIANT* minimum,
                                       VARIANT* maximum, VARIANT* defaultValue, ULONG* status) = 0;
  // 27: value (converted to the parameter's type) and flag word, each when given; no notification.
  virtual HRESULT SetValueAndStatusById(ULONG id, VARIANT* value, ULONG* status) = 0;
  // 28, 29: the number of parameters and the id at a zero-based index (ascending id order).
  virtual HRESULT GetParameterCount(ULONG* count) = 0;
  virtual HRESULT GetParameterIdAt(LONG index, ULONG* id) = 0;
  // 30: the value as display text: an enumeration's label, a bit enumeration's labels joined by
  // " | ", else the plain text; XML-escaped.
  virtual HRESULT GetParameterDisplayText(VARIANT id, VARIANT value, BSTR* text) = 0;
  // 31: runs the "update(" (bit 0 of which) and "relation(" (bit 1) expressions of a parameter.
  virtual HRESULT EvaluateRelationsFor(ULONG id, ULONG which, ULONG argument) = 0;
  // 32: re-reads from the device every parameter an "update(a,b,...)" expression names.
  virtual HRESULT ApplyUpdateExpression(ULONG id, BSTR expression) = 0;
  // 33: writes the flag word and tells the user interfaces (broadcast 0x270A).
  virtual HRESULT SetParameterStatus(ULONG id, ULONG status) = 0;
  // 34, 35: hooks a DTM class may override: true when d is non-zero; 2 when d is non-zero, else 0.
  virtual BOOL ParameterHookBool(ULONG a, ULONG b, ULONG c, ULONG d) = 0;
  virtual ULONG ParameterHookMode(ULONG a, ULONG b, ULONG c, ULONG d) = 0;
  // 36: not implemented: E_INVALIDARG for a null out, else E_NOTIMPL.
  virtual HRESULT EvaluateEnumerationRelation(VARIANT argument, VARIANT* result) = 0;
  // 37 (and 38-40, 42-44, which repeat it): bit 0 of `what` fetches the data-set value, bit 1 the
  // device value; the last fetched one is the answer.
  virtual HRESULT GetParameterValues(ULONG id, VARIANT reserved, ULONG what, VARIANT* out) = 0;
  // 41: as GetParameterValues, for a text parameter only (E_FAIL for another type).
  virtual HRESULT GetParameterText(ULONG id, VARIANT reserved, ULONG what, BSTR* out) = 0;
  // 45: links two parameter ids both ways (also: LinkParameters).
  virtual HRESULT RegisterAlias(VARIANT alias, VARIANT id) = 0;
  // 46: removes the links of an id (also: RemoveParameterLink, UnregisterAlias).
  virtual HRESULT UnregisterAlias(VARIANT id) = 0;
  // 47: the id linked to an id; E_FAIL when none (also: GetLinkedParameter).
  virtual HRESULT GetAliasLink(VARIANT id, VARIANT* linked) = 0;
  // 48-60: record operations for the DTM's own code (C++ types, not for automation).
  // 48, 49: m_vValue as it is (no conversion, no notification); a reference reaches its target.
  virtual HRESULT SetValueById(ULONG id, VARIANT value) = 0;
  virtual HRESULT GetValueById(ULONG id, VARIANT* out) = 0;
  // 50, 51: the fields a ParInfoFieldMask selects.
  virtual HRESULT SetParInfoFields(ULONG id, ULONG mask, const ParInfo& record) = 0;
  virtual HRESULT GetParInfoFields(ULONG id, ULONG mask, ParInfo* out) = 0;
  // 52: adds a copy (an id already present keeps its record); no event, no relation.
  virtual HRESULT AddParInfo(const ParInfo& record) = 0;
  virtual HRESULT RemoveParameter(ULONG id) = 0;
  virtual HRESULT RemoveAllParameters() = 0;
  // 55: the number of records.
  virtual HRESULT GetCollectionCount(ULONG* count) = 0;
  // 56, 57: a full copy, references resolved; by id, or by zero-based index in id order.
  virtual HRESULT GetParInfoById(ULONG id, ParInfo* out) = 0;
  virtual HRESULT GetParInfoAt(LONG index, ParInfo* out) = 0;
  // 58: the record's callback for the kind with (context, id); S_FALSE when it has none.
  virtual HRESULT InvokeParameterCallback(ULONG id, ParameterCallbackKind kind, ULONG_PTR context) = 0;
  // 59, 60.
  virtual LONG IndexOfParameter(ULONG id) = 0;
  virtual bool HasParameter(ULONG id) = 0;
};

struct IovFdtParameterInfo : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("0CBFD2AD-C059-4C74-BA59-8D2B5C6FDC77");
  using Base = IDispatch;
  // 7, 8: the count as VT_UI4; the id at an index (converted to VT_UI4) as VT_UI4.
  virtual HRESULT GetParameterCount(VARIANT* count) = 0;
  virtual HRESULT GetParameterIdAt(VARIANT index, VARIANT* id) = 0;
  // 9: one field by a single-bit mask (VT_UI4, or VT_I4 read as its bits), as the record's header
  // lists its VARIANT type; mask 0x80000000 answers VT_BOOL whether the parameter exists. A VT_BSTR
  // field names a private property.
  virtual HRESULT GetParameterField(VARIANT id, VARIANT field, VARIANT* result) = 0;
  // 10: the mirror of 9; the value is converted to the field's type (also: SetParameterInfoField).
  virtual HRESULT SetParameterField(VARIANT id, VARIANT field, VARIANT value) = 0;
};

struct IovFdtParameterValidation : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("F1179411-F176-4409-B51E-F511563EA7DC");
  using Base = IDispatch;
  // 7: checks the value against type, limits and enumeration. The result word starts as the flag
  // word; bit 0x04 is set for a refused value, 0x02 when it differs from the stored one.
  virtual HRESULT ValidateParameter(VARIANT id, VARIANT value, ULONG* result) = 0;
  // 8: validates, updates the flag word and stores the value unless the parameter is disabled
  // (0x08) (also: SetValidatedParameterValue).
  virtual HRESULT ValidateAndSetParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) = 0;
};

struct IovFdtParametersImportExport : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("25879D10-B55D-4145-8017-1B1C1FCB7471");
  using Base = IDispatch;
  // 7, 8: the "<PARAMETERS>" text of all parameters, and the import of one.
  virtual HRESULT ExportParameters(BSTR* text) = 0;
  virtual HRESULT ImportParameters(BSTR text) = 0;
};

struct IovFdtOnlineParameter : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("C8DBD4E5-0045-4F13-9A11-C2D136C166CB");
  using Base = IDispatch;
  // 7, 8: upload of "UploadList" and download of "DownloadList" (the list text is not used).
  virtual HRESULT UploadParameterList(BSTR parameterList, BSTR invokeId, VARIANT_BOOL* success) = 0;
  virtual HRESULT DownloadParameterList(BSTR parameterList, BSTR invokeId, VARIANT_BOOL* success) = 0;
  // 9: cancels a running list transfer of the communication client and raises the cancel flag.
  virtual HRESULT CancelOnlineParameters(BSTR invokeId, VARIANT_BOOL* done) = 0;
};
