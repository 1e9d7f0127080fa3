// The DTM's data set: creating, saving and loading it, its stream and property-bag forms, and the
// import and export of parameter values.
//
// The data set, in order (stream items as in parameters/VariantStream.h): the device-type string
// (a stored text), the version "2.1.1" and the format version string (stored VT_BSTR values), the
// parameter handler's section, the data-set state (stored VT_UI4), and the device class's own
// section. The stream form adds the 4-byte trailer 0x00000A00 of the (empty) property map; the
// property bag holds exactly the data set as the byte array "DTM_DATA".
//
// Loading reads everything into a LoadedDataSet first and takes it only when all of it read, so a
// data set that is refused (short, damaged, of a wrong format) leaves the DTM as it was. The COM
// persistence methods report every failure as S_FALSE.
//
// The data set is dirty (IsDirty S_OK, storage state transient) from InitNew or the first change
// of a persisted value until a load or a save that clears the dirt; a frame's lock that waits for
// the save is given back after that save.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "dtm/CovFDT_BaseDTMImpl.h"
#include "dtm/DataSetStreams.h"
#include "include/TranslationInterfaces.h"
#include "parameters/CFdtVariant.h"
#include "parameters/DeviceParameterTable.h"
#include "parameters/VariantStream.h"
#include "xml/Log.h"

namespace {

constexpr OLECHAR kDtmVersion[] = u"2.1.1";
constexpr OLECHAR kPropertyName[] = u"DTM_DATA";
constexpr OLECHAR kFormatVersionTemplate[] = u"{00000000-0000-0000-0000-000000000000}";
constexpr std::size_t kFormatVersionLength = 38;
// The property map's trailer after the data set in the stream form.
constexpr ULONG kPropertyMapTrailer = 0x0A00;
constexpr ULONG kLastDataSetState = DSS_ALL_DATA_LOADED;
constexpr ULONG kMinImportExportLevel = 2;
constexpr OLECHAR kExportDeclaration[] = u"<?xml version=\"1.0\"?> \r\n";
// The import's parameter-103 check.
constexpr ULONG kImportCheckParameter = 103;
constexpr ULONG kImportCheckField = 0x80;

void LoadMark(const char* mark) {
  if (IsLogEnabled()) WriteLogA((std::string("CovFDT_BaseDTMImpl::LoadDtm() -----(") + mark + ")").c_str());
}


int HexDigit(OLECHAR c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The bytes written so far from the start of a memory stream.
HRESULT CopyWhole(IStream* from, IStream* to) {
  vkr::Variant bytes;
  HRESULT hr = StreamToSafeArray(from, &bytes);
  if (FAILED(hr)) return hr;
  void* data = nullptr;
  hr = SafeArrayAccessData(bytes.parray, &data);
  if (FAILED(hr)) return hr;
  hr = vkr::WriteStreamBytes(to, data, bytes.parray->rgsabound[0].cElements);
  SafeArrayUnaccessData(bytes.parray);
  return hr;
}

}  // namespace

// ---- Byte arrays and streams -------------------------------------------------------------

HRESULT BytesToSafeArray(const BYTE* bytes, ULONG count, VARIANT* out) {
  if (count == 0) return E_NOTIMPL;
  if (!out) return E_INVALIDARG;
  if (!bytes) return E_POINTER;
  VariantClear(out);
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, count);
  if (!psa) return E_OUTOFMEMORY;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(psa, &data))) {
    SafeArrayDestroy(psa);
    return E_OUTOFMEMORY;
  }
  std::memcpy(data, bytes, count);
  SafeArrayUnaccessData(psa);
  out->vt = VT_ARRAY | VT_UI1;
  out->parray = psa;
  return S_OK;
}

HRESULT SafeArrayToStream(const VARIANT& in, IStream** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (in.vt != (VT_ARRAY | VT_UI1) || !in.parray || SafeArrayGetDim(in.parray) != 1) return E_FAIL;
  void* data = nullptr;
  HRESULT hr = SafeArrayAccessData(in.parray, &data);
  if (FAILED(hr)) return hr;
  hr = vkr::CreateMemoryStream(data, in.parray->rgsabound[0].cElements, out);
  SafeArrayUnaccessData(in.parray);
  return hr;
}

HRESULT StreamToSafeArray(IStream* stream, VARIANT* out) {
  if (!stream || !out) return E_POINTER;
  STATSTG st{};
  HRESULT hr = stream->Stat(&st, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  if (st.cbSize.QuadPart > 0x7FFFFFFFull) return E_OUTOFMEMORY;
  const ULONG size = static_cast<ULONG>(st.cbSize.QuadPart);
  if (size == 0) return E_NOTIMPL;
  std::vector<BYTE> bytes;
  try {
    bytes.resize(size);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  LARGE_INTEGER start{};
  hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
  if (SUCCEEDED(hr)) hr = vkr::ReadStreamBytes(stream, bytes.data(), size);
  if (FAILED(hr)) return hr;
  return BytesToSafeArray(bytes.data(), size, out);
}

// ---- Format version ----------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::GetDtmFormatInfo(DWORD* info) { return info ? S_OK : E_POINTER; }
HRESULT CovFDT_BaseDTMCore::AnalyzeDtmFormatInfo(DWORD) { return S_OK; }

HRESULT CovFDT_BaseDTMCore::GetFormatVersionString(BSTR* out) {
  LogEntry("GetFormatVersionString");
  if (!out) return E_POINTER;
  *out = nullptr;
  DWORD info = 0;
  const HRESULT hr = GetDtmFormatInfo(&info);
  if (FAILED(hr)) return hr;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::u16string text(kFormatVersionTemplate);
  // Characters 10 to 13 and 15 to 18 take the eight digits of "%08X".
  const int positions[8] = {10, 11, 12, 13, 15, 16, 17, 18};
  for (int i = 0; i < 8; ++i) text[positions[i]] = static_cast<char16_t>(kHex[(info >> (28 - 4 * i)) & 0xF]);
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CovFDT_BaseDTMCore::AnalyzeFormatVersionString(BSTR text) {
  LogEntry("AnalyzeFormatVersionString");
  if (!text || SysStringLen(text) != kFormatVersionLength) return E_INVALIDARG;
  for (int i = 0; i < 9; ++i) {
    const OLECHAR c = text[i];
    if (i == 0 ? c != u'{' : c != u'0') return E_INVALIDARG;
  }
  // The digits must be hexadecimal: a damaged text is refused, not read as some number.
  DWORD info = 0;
  for (int i : {10, 11, 12, 13, 15, 16, 17, 18}) {
    const int d = HexDigit(text[i]);
    if (d < 0) return E_INVALIDARG;
    info = (info << 4) | static_cast<DWORD>(d);
  }
  return AnalyzeDtmFormatInfo(info);
}

// ---- Creating, saving and loading --------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::OnInitNewDtm(VARIANT_BOOL* done) {
  if (!done) return E_POINTER;
  *done = VARIANT_TRUE;
  return S_OK;
}
HRESULT CovFDT_BaseDTMCore::OnLoadDtm(IStream*, VARIANT_BOOL* done) { return OnInitNewDtm(done); }
HRESULT CovFDT_BaseDTMCore::OnSaveDtm(IStream*, VARIANT_BOOL* done) { return OnInitNewDtm(done); }

HRESULT CovFDT_BaseDTMCore::InitNewDtm(VARIANT_BOOL* done) {
  LogEntry("InitNewDtm");
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  m_bstrDeviceType.Reset();
  VARIANT_BOOL step = VARIANT_FALSE;
  HRESULT hr = InitNewParameterHandler(&step);
  if (FAILED(hr)) return hr;
  if (step != VARIANT_TRUE) return S_FALSE;
  step = VARIANT_FALSE;
  hr = OnInitNewDtm(&step);
  if (FAILED(hr)) return hr;
  if (step != VARIANT_TRUE) return S_FALSE;
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SaveDtm(IStream* stream, VARIANT_BOOL* done) {
  LogEntry("SaveDtm");
  if (!done || !stream) return E_POINTER;
  *done = VARIANT_FALSE;
  HRESULT hr = vkr::WriteStoredText(stream, m_bstrDeviceType.Get());
  if (FAILED(hr)) return hr;
  vkr::Variant item;
  item.vt = VT_BSTR;
  item.bstrVal = SysAllocString(kDtmVersion);
  if (!item.bstrVal) return E_OUTOFMEMORY;
  hr = vkr::WriteStoredVariant(stream, item);
  if (FAILED(hr)) return hr;
  item.Clear();
  hr = GetFormatVersionString(&item.bstrVal);
  if (FAILED(hr)) return hr;
  item.vt = VT_BSTR;
  hr = vkr::WriteStoredVariant(stream, item);
  if (FAILED(hr)) return hr;
  VARIANT_BOOL step = VARIANT_FALSE;
  hr = SaveParameterHandler(stream, &step);
  if (FAILED(hr)) return hr;
  if (step != VARIANT_TRUE) return S_FALSE;
  hr = vkr::WriteStoredVariant(stream, vkr::UI4(GetDataSetState()));
  if (FAILED(hr)) return hr;
  step = VARIANT_FALSE;
  hr = OnSaveDtm(stream, &step);
  if (FAILED(hr)) return hr;
  if (step != VARIANT_TRUE) return S_FALSE;
  *done = VARIANT_TRUE;
  if (IsLogEnabled()) WriteLogA("CovFDT_BaseDTMImpl::SaveDtm() - before return S_OK;");
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::ReadDtm(IStream* stream, LoadedDataSet* loaded) {
  LoadMark("1");
  HRESULT hr = vkr::ReadStoredText(stream, loaded->deviceType.Put());
  if (FAILED(hr)) return hr;
  LoadMark("2");
  vkr::Variant version;
  hr = vkr::ReadStoredVariant(stream, &version);
  if (FAILED(hr)) return hr;
  LoadMark("4");
  // The version text itself is not compared: other versions of this DTM wrote it too. A version
  // that is no text (an older layout) is not ours to read.
  if (version.vt != VT_BSTR) return E_FAIL;
  vkr::Variant format;
  hr = vkr::ReadStoredVariant(stream, &format);
  if (FAILED(hr)) return hr;
  LoadMark("7");
  if (format.vt != VT_BSTR) return E_FAIL;
  hr = AnalyzeFormatVersionString(format.bstrVal);
  if (FAILED(hr)) return hr;
  LoadMark("9");
  // The first group of the format version is zero, so neither optional field of the parameter
  // records is present.
  m_bLoadOption1 = false;
  m_bLoadOption2 = false;
  {
    // The decoded device type is taken with the data set; decoding it here keeps nothing.
    vkr::Bstr kept(m_bstrDecodedDeviceType.Get());
    loaded->decodedDeviceType.Attach(DecodeDeviceTypeString(loaded->deviceType));
    m_bstrDecodedDeviceType = std::move(kept);
  }
  const CParamCollection* table = nullptr;
  if (loaded->decodedDeviceType.Get()) {
    // A data set that names a device type brings that type's parameters, and its values belong
    // to them: they are read against that table, which replaces the live parameters only when the
    // data set is taken.
    LoadMark("10a");
    hr = InitDeviceParameterTable(*this, &loaded->table, nullptr);
    if (FAILED(hr)) return hr;
    if (loaded->table.Count() > 0) table = &loaded->table;
    LoadMark("10");
  }
  LoadMark("11a");
  hr = ReadParameterSection(stream, &loaded->parameters, table);
  if (FAILED(hr)) return hr;
  LoadMark("12");
  vkr::Variant state;
  hr = vkr::ReadStoredVariant(stream, &state);
  if (FAILED(hr)) return hr;
  LoadMark("15");
  if (state.vt != VT_UI4 || state.ulVal > kLastDataSetState) return E_FAIL;
  loaded->dataSetState = state.ulVal;
  LoadMark("16");
  VARIANT_BOOL step = VARIANT_FALSE;
  hr = OnLoadDtm(stream, &step);
  if (FAILED(hr)) return hr;
  LoadMark("17");
  return step == VARIANT_TRUE ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseDTMCore::CommitDtm(LoadedDataSet* loaded) {
  const bool dirty = m_bDirty;
  const BYTE storage = m_nStorageState;
  // A device type rebuilds the live parameters; the old ones are kept aside until the values are
  // in, so that a rebuild or a commit that fails puts them back.
  CParamCollection previous;
  bool kept = false;
  HRESULT hr = S_OK;
  if (loaded->decodedDeviceType.Get()) {
    hr = previous.CopyFrom(Collection());
    kept = SUCCEEDED(hr);
    if (kept) hr = ReInitDevTypeParamCollection(loaded->decodedDeviceType);
  }
  if (SUCCEEDED(hr)) hr = CommitParameterSection(loaded->parameters);
  if (FAILED(hr)) {
    if (kept) Collection().Swap(previous);
    m_bDirty = dirty;
    m_nStorageState = storage;
    return hr;
  }
  m_bstrDeviceType = std::move(loaded->deviceType);
  m_bstrDecodedDeviceType = std::move(loaded->decodedDeviceType);
  m_bDataSetLoaded = true;
  LoadMark("18");
  // Taken last: the state's broadcast tells the user interfaces about a data set now complete.
  SetDataSetState(loaded->dataSetState);
  // What was loaded is what the frame holds.
  MarkDataSetSaved();
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::LoadDtm(IStream* stream, VARIANT_BOOL* done) {
  LogEntry("LoadDtm");
  if (!done || !stream) return E_POINTER;
  *done = VARIANT_FALSE;
  LoadedDataSet loaded;
  HRESULT hr = ReadDtm(stream, &loaded);
  if (hr != S_OK) return hr;
  hr = CommitDtm(&loaded);
  if (FAILED(hr)) return hr;
  *done = VARIANT_TRUE;
  if (IsLogEnabled()) WriteLogA("CovFDT_BaseDTMImpl::LoadDtm()- return S_OK;");
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SaveDtmToMemory(bool trailer, vkr::ComPtr<IStream>* out) {
  HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, out->Put());
  if (FAILED(hr)) return hr;
  VARIANT_BOOL done = VARIANT_FALSE;
  hr = SaveDtm(out->Get(), &done);
  if (FAILED(hr)) return hr;
  if (done != VARIANT_TRUE) return E_FAIL;
  if (trailer) {
    const BYTE bytes[4] = {kPropertyMapTrailer & 0xFF, kPropertyMapTrailer >> 8, 0, 0};
    hr = vkr::WriteStreamBytes(out->Get(), bytes, sizeof bytes);
  }
  return hr;
}

// ---- IovFdtStorageState --------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::SetDataSetStateFromFrame(ULONG state) { return SetDataSetModified(state ? TRUE : FALSE); }

HRESULT CovFDT_BaseDTMCore::GetStorageStateValue(ULONG* state) {
  if (!state) return E_INVALIDARG;
  *state = m_nStorageState ? 1 : 0;
  return S_OK;
}

void CovFDT_BaseDTMCore::FinishSave(BOOL clearDirty) {
  // The mark belongs to the parameter model; the data set is saved whatever it answers.
  SetDataSetModified(FALSE);
  if (clearDirty) MarkDataSetSaved();
  // A frame's lock waiting for this save is given back now, once the data set is clean (nothing
  // to do without a frame).
  if (m_pContainer) UnlockDatasetWhenSaved();
}

HRESULT CovFDT_BaseDTMCore::LoadFromStream(IStream* stream) {
  VARIANT_BOOL done = VARIANT_FALSE;
  const HRESULT hr = LoadDtm(stream, &done);
  if (FAILED(hr)) return hr;
  if (done != VARIANT_TRUE) return E_FAIL;
  // The mark belongs to the parameter model; the data set is loaded whatever it answers.
  SetDataSetModified(FALSE);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SaveToStream(IStream* stream, BOOL clearDirty) {
  if (!stream) return E_POINTER;
  // Built in memory first, so a data set that cannot be made leaves the frame's stream untouched.
  vkr::ComPtr<IStream> memory;
  HRESULT hr = SaveDtmToMemory(false, &memory);
  if (SUCCEEDED(hr)) hr = CopyWhole(memory.Get(), stream);
  if (FAILED(hr)) return hr;
  FinishSave(clearDirty);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::SaveToPropertyBag(IPropertyBag* bag, BOOL clearDirty, BOOL) {
  if (!bag) return E_INVALIDARG;
  vkr::ComPtr<IStream> memory;
  HRESULT hr = SaveDtmToMemory(false, &memory);
  if (FAILED(hr)) return hr;
  vkr::Variant bytes;
  hr = StreamToSafeArray(memory.Get(), &bytes);
  if (FAILED(hr)) return hr;
  hr = bag->Write(kPropertyName, &bytes);
  if (FAILED(hr)) return hr;
  FinishSave(clearDirty);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::LoadFromPropertyBag(IPropertyBag* bag, IErrorLog* log) {
  if (!bag) return E_INVALIDARG;
  vkr::Variant bytes;
  HRESULT hr = bag->Read(kPropertyName, &bytes, log);
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IStream> stream;
  hr = SafeArrayToStream(bytes, stream.Put());
  if (FAILED(hr)) return hr;
  LoadedDataSet loaded;
  hr = ReadDtm(stream.Get(), &loaded);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return E_FAIL;
  // The property holds exactly the data set: bytes after it mean it is not ours.
  BYTE extra = 0;
  ULONG got = 0;
  if (SUCCEEDED(stream->Read(&extra, 1, &got)) && got != 0) return E_FAIL;
  hr = CommitDtm(&loaded);
  if (FAILED(hr)) return hr;
  SetDataSetModified(FALSE);
  return S_OK;
}

// ---- IPersistStreamInit, IPersistPropertyBag ---------------------------------------------

bool CovFDT_BaseDTMCore::CanLoadInState() const {
  return m_eDtmState == dsCREATED || m_eDtmState == dsPREPAREDTORELEASE;
}
bool CovFDT_BaseDTMCore::CanSaveInState() const { return m_eDtmState >= dsCONFIGURED && m_eDtmState <= dsONLINE; }

HRESULT CovFDT_BaseDTMCore::IsDirty() { return m_bDirty ? S_OK : S_FALSE; }

HRESULT CovFDT_BaseDTMCore::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = 0;
  // The real size of the data set with its trailer: a frame may size its storage from it.
  vkr::ComPtr<IStream> memory;
  if (FAILED(SaveDtmToMemory(true, &memory))) return S_FALSE;
  STATSTG st{};
  if (FAILED(memory->Stat(&st, STATFLAG_NONAME))) return S_FALSE;
  size->QuadPart = st.cbSize.QuadPart;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::InitNew() {
  LogEntry("InitNew");
  if (!CanLoadInState()) return S_FALSE;
  VARIANT_BOOL done = VARIANT_FALSE;
  if (InitNewDtm(&done) != S_OK || done != VARIANT_TRUE) return S_FALSE;
  // A new data set is not in the frame's storage yet.
  MarkDataSetChanged();
  // A data set that an earlier, refused load began does not count as loaded.
  m_bDataSetLoaded = false;
  if (FAILED(SetDTMState(dsINITNEWPERSIST))) return S_FALSE;
  m_bstrDeviceType.Reset();
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::Load(IStream* stream) {
  LogEntry("Load");
  if (!CanLoadInState() || !stream) return S_FALSE;
  LoadedDataSet loaded;
  if (ReadDtm(stream, &loaded) != S_OK) return S_FALSE;
  // The property map's trailer is part of the stream form: a data set without it is not taken.
  BYTE trailer[4];
  if (FAILED(vkr::ReadStreamBytes(stream, trailer, sizeof trailer))) return S_FALSE;
  const ULONG value = trailer[0] | (trailer[1] << 8) | (trailer[2] << 16) | (static_cast<ULONG>(trailer[3]) << 24);
  if (value > kPropertyMapTrailer) return S_FALSE;
  if (FAILED(CommitDtm(&loaded))) return S_FALSE;
  SetDataSetModified(FALSE);
  return SUCCEEDED(SetDTMState(dsLOADED)) ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseDTMCore::Save(IStream* stream, BOOL clearDirty) {
  LogEntry("Save");
  if (!CanSaveInState() || !stream) return S_FALSE;
  vkr::ComPtr<IStream> memory;
  if (FAILED(SaveDtmToMemory(true, &memory))) return S_FALSE;
  if (FAILED(CopyWhole(memory.Get(), stream))) return S_FALSE;
  FinishSave(clearDirty);
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::Load(IPropertyBag* bag, IErrorLog* log) {
  LogEntry("Load");
  if (!CanLoadInState()) return S_FALSE;
  if (LoadFromPropertyBag(bag, log) != S_OK) return S_FALSE;
  return SUCCEEDED(SetDTMState(dsLOADED)) ? S_OK : S_FALSE;
}

HRESULT CovFDT_BaseDTMCore::Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) {
  LogEntry("Save");
  if (!CanSaveInState()) return S_FALSE;
  return SaveToPropertyBag(bag, clearDirty, saveAll) == S_OK ? S_OK : S_FALSE;
}

// ---- Device type -------------------------------------------------------------------------

BSTR CovFDT_BaseDTMCore::DecodeDeviceTypeString(BSTR) {
  LogEntry("DecodeDeviceTypeString");
  m_bstrDecodedDeviceType = vkr::Bstr(u"not set");
  return nullptr;
}

BSTR CovFDT_BaseDTMCore::EncodeDeviceTypeString() {
  LogEntry("EncodeDeviceTypeString");
  return m_bstrDeviceType.Get() ? SysAllocStringLen(m_bstrDeviceType.Get(), m_bstrDeviceType.Length()) : nullptr;
}

HRESULT CovFDT_BaseDTMCore::AddMissingParameters(CParamCollection* source) {
  if (!source) return E_INVALIDARG;
  for (LONG i = 0; i < static_cast<LONG>(source->Count()); ++i) {
    ParInfo record;
    HRESULT hr = source->GetAt(i, &record);
    if (FAILED(hr)) return hr;
    if (IndexOfParameter(record.m_nId) != -1) continue;
    hr = AddParInfo(record);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::ReInitDevTypeParamCollection(BSTR deviceType) {
  LogEntry("ReInitDevTypeParamCollection");
  if (!deviceType || SysStringLen(deviceType) == 0) return E_UNEXPECTED;
  CParamCollection table;
  HRESULT hr = InitDeviceParameterTable(*this, &table, nullptr);
  if (FAILED(hr)) return hr;
  if (table.Count() < 1) return S_OK;
  ULONG count = 0;
  hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  if (count > 0) RemoveAllParameters();
  hr = AddMissingParameters(&table);
  if (FAILED(hr)) return hr;
  hr = RebuildAllRelations();
  if (FAILED(hr)) return hr;
  hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    ParInfo record;
    hr = GetParInfoAt(i, &record);
    if (FAILED(hr)) return hr;
    ULONG answer = 0;
    hr = ValidateParameter(vkr::UI4(record.m_nId), record.m_vValue, &answer);
    if (FAILED(hr)) return hr;
    const ULONG status = (record.m_dwFlags & ~PFL_INVALID) | (answer & PFL_INVALID) | 0x100;
    if (status != record.m_dwFlags) SetParameterStatus(record.m_nId, status);
  }
  if (vkr::ComPtr<IovFdtTranslationEvent> translation = QueryDtm<IovFdtTranslationEvent>()) {
    LCID language = 0;
    GetCurLanguageId(&language);
    return translation->OnTranslate(language);
  }
  return hr;
}

// ---- Import and export -------------------------------------------------------------------

HRESULT CovFDT_BaseDTMCore::BuildExportDocument(BSTR* text) {
  vkr::Bstr purpose(u"Export");
  if (!purpose.Get()) return E_OUTOFMEMORY;
  return ExportParametersXml(purpose.Get(), TRUE, FALSE, text);
}
HRESULT CovFDT_BaseDTMCore::BuildParameterChangedText(BSTR* text) { return ExportParametersXml(nullptr, TRUE, TRUE, text); }
HRESULT CovFDT_BaseDTMCore::ImportParameterText(BSTR text) { return ImportParameters(text); }

HRESULT CovFDT_BaseDTMCore::Export(IStream* stream, VARIANT_BOOL* done) {
  LogEntry("Export");
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  if (!stream || m_eDtmState != dsCONFIGURED || m_nUserLevel < kMinImportExportLevel) return S_FALSE;
  vkr::Bstr parameters;
  if (FAILED(BuildExportDocument(parameters.Put()))) return S_FALSE;
  std::u16string text(kExportDeclaration);
  text += parameters.View();
  if (FAILED(vkr::WriteStoredText(stream, text.data(), text.size()))) return S_FALSE;
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_BaseDTMCore::Import(IStream* stream, VARIANT_BOOL* done) {
  LogEntry("Import");
  if (!done) return E_POINTER;
  *done = VARIANT_FALSE;
  if (!stream || m_eDtmState != dsCONFIGURED || m_nUserLevel < kMinImportExportLevel) return S_FALSE;
  vkr::Bstr text;
  if (FAILED(vkr::ReadStoredText(stream, text.Put()))) return S_FALSE;
  if (FAILED(ImportParameterText(text))) return S_FALSE;
  if (HasParameter(kImportCheckParameter)) {
    ParInfo record;
    if (FAILED(GetParInfoFields(kImportCheckParameter, kImportCheckField, &record))) return S_FALSE;
    // The value is only checked for being text: nothing in this DTM takes it further.
    if (record.m_vValue.vt != VT_BSTR) return E_INVALIDARG;
  }
  *done = VARIANT_TRUE;
  return S_OK;
}
