// The standard COM interfaces the system implements or calls: IDispatch, streams, persistence,
// property bags and the error log.
#pragma once

#include "platform/com/variant.h"

struct ITypeInfo;
struct ITypeLib;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;

struct IDispatch : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("00020400-0000-0000-C000-000000000046");
  using Base = IUnknown;
  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                         VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};
inline constexpr IID IID_IDispatch = IDispatch::iid;

// Streams.
struct STATSTG {
  LPOLESTR pwcsName;
  DWORD type;
  ULARGE_INTEGER cbSize;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD grfMode;
  DWORD grfLocksSupported;
  CLSID clsid;
  DWORD grfStateBits;
  DWORD reserved;
};
constexpr DWORD STGTY_STORAGE = 1;
constexpr DWORD STGTY_STREAM = 2;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STGC_DEFAULT = 0;

struct ISequentialStream : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("0C733A30-2A1C-11CE-ADE5-00AA0044773D");
  using Base = IUnknown;
  // Reading past the end is no error: *pcbRead tells how many bytes came.
  virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
  virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};
inline constexpr IID IID_ISequentialStream = ISequentialStream::iid;

struct IStream : ISequentialStream {
  static constexpr IID iid = vkr::MakeGuid("0000000C-0000-0000-C000-000000000046");
  using Base = ISequentialStream;
  virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
  virtual HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) = 0;
  virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
  virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
  virtual HRESULT Clone(IStream** ppstm) = 0;
};
using LPSTREAM = IStream*;
inline constexpr IID IID_IStream = IStream::iid;

// A growable memory stream (the counterpart of a stream on global memory). hGlobal must be null:
// the stream owns its memory. fDeleteOnRelease is accepted for the Windows signature.
VKR_API HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, IStream** ppstm);
namespace vkr {
// A memory stream holding a copy of the given bytes, positioned at the start.
VKR_API HRESULT CreateMemoryStream(const void* data, std::size_t size, IStream** ppstm);
}  // namespace vkr

// Persistence.
struct IPersist : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("0000010C-0000-0000-C000-000000000046");
  using Base = IUnknown;
  virtual HRESULT GetClassID(CLSID* pClassID) = 0;
};
inline constexpr IID IID_IPersist = IPersist::iid;

struct IPersistStream : IPersist {
  static constexpr IID iid = vkr::MakeGuid("00000109-0000-0000-C000-000000000046");
  using Base = IPersist;
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(IStream* pStm) = 0;
  virtual HRESULT Save(IStream* pStm, BOOL fClearDirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* pcbSize) = 0;
};
inline constexpr IID IID_IPersistStream = IPersistStream::iid;

// Not derived from IPersistStream on Windows: it repeats the methods and adds InitNew.
struct IPersistStreamInit : IPersist {
  static constexpr IID iid = vkr::MakeGuid("7FD52380-4E07-101B-AE2D-08002B2EC713");
  using Base = IPersist;
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(IStream* pStm) = 0;
  virtual HRESULT Save(IStream* pStm, BOOL fClearDirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* pcbSize) = 0;
  virtual HRESULT InitNew() = 0;
};
inline constexpr IID IID_IPersistStreamInit = IPersistStreamInit::iid;

// A class id in a stream: 16 bytes, Data1, Data2 and Data3 little-endian, then Data4 as it stands.
// Write: E_INVALIDARG for a null stream; the stream's failure as it is; STG_E_MEDIUMFULL when it
// took fewer bytes. Read: E_INVALIDARG for null arguments; the stream's failure as it is;
// STG_E_READFAULT when the stream ends first (*pclsid is set only on S_OK).
VKR_API HRESULT WriteClassStm(IStream* pStm, REFCLSID rclsid);
VKR_API HRESULT ReadClassStm(IStream* pStm, CLSID* pclsid);

// An object in a stream: its class id (WriteClassStm), then what its IPersistStream::Save writes.
// Save asks the object for its class id (a failure is returned with nothing written), writes it,
// then calls Save with fClearDirty TRUE and returns its result: a Save that fails leaves the class
// id and whatever it wrote behind. A null object writes CLSID_NULL and answers OLE_E_BLANK.
// E_INVALIDARG for a null stream.
VKR_API HRESULT OleSaveToStream(IPersistStream* pPStm, IStream* pStm);
// Reads the class id (ReadClassStm's failures as they are), creates the class (CoCreateInstance,
// in process, its failure as it is), asks the object for IPersistStream, else IPersistStreamInit
// (neither: E_NOINTERFACE), lets it Load from the stream (its failure returned) and hands out
// iidInterface (E_NOINTERFACE when it has none). CLSID_NULL names no class: REGDB_E_CLASSNOTREG,
// nothing created. *ppvObj is null unless S_OK; E_POINTER for a null ppvObj, E_INVALIDARG for a
// null stream. The stream names the class that is created: give it only streams the caller trusts
// to name one.
VKR_API HRESULT OleLoadFromStream(IStream* pStm, REFIID iidInterface, LPVOID* ppvObj);

struct IErrorLog : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("3127CA40-446E-11CE-8135-00AA004BB851");
  using Base = IUnknown;
  virtual HRESULT AddError(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) = 0;
};
inline constexpr IID IID_IErrorLog = IErrorLog::iid;

struct IPropertyBag : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("55272A00-42CB-11CE-8135-00AA004BB851");
  using Base = IUnknown;
  // pVar->vt on entry is the type wanted (VT_EMPTY: as stored).
  virtual HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) = 0;
  virtual HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) = 0;
};
inline constexpr IID IID_IPropertyBag = IPropertyBag::iid;

struct IPersistPropertyBag : IPersist {
  static constexpr IID iid = vkr::MakeGuid("37D84F60-42CB-11CE-8135-00AA004BB851");
  using Base = IPersist;
  virtual HRESULT InitNew() = 0;
  virtual HRESULT Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) = 0;
  virtual HRESULT Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) = 0;
};
inline constexpr IID IID_IPersistPropertyBag = IPersistPropertyBag::iid;
