// The parameter section of the data set: the values and status words of the persisted parameters.
//
// Layout: the record count as a stored VT_I4, then per record the id (VT_UI4), the value in the
// parameter's own VARTYPE, [load option 1: minimum, maximum, default], the status word (VT_UI4),
// [load option 2: one more value]. Everything else about a parameter comes from the device
// parameter table, so a load only updates records the table already holds.
#include <new>
#include <string>
#include <vector>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "parameters/VariantStream.h"
#include "xml/Log.h"

namespace {

void LogStep(const char* mark) {
  WriteLogA((std::string("CovFDT_ParameterHandlerImpl::LoadParameterHandler()") + mark).c_str());
}

void LogNumber(const char* label, ULONG n) { WriteLogA((std::string(label) + std::to_string(n)).c_str()); }

// A structural item (the count, an id, a status word), converted to the type it stands for: a
// data set whose writer stored it as another number, or as digits, still loads; one that does not
// convert (no number, a negative id or status, out of range) fails the load with the
// conversion's error.
HRESULT ReadTyped(IStream* stream, VARTYPE vt, VARIANT* out) {
  HRESULT hr = vkr::ReadStoredVariant(stream, out);
  if (FAILED(hr)) return hr;
  if (out->vt == vt) return S_OK;
  hr = VariantChangeType(out, out, 0, vt);
  if (SUCCEEDED(hr) && out->vt != vt) hr = DISP_E_TYPEMISMATCH;
  if (FAILED(hr)) VariantClear(out);
  return hr;
}

// The stream behind the handed object, or E_INVALIDARG.
HRESULT StreamOf(IStream* object, vkr::ComPtr<IStream>* out) {
  if (!object) return E_INVALIDARG;
  if (FAILED(object->QueryInterface(IID_IStream, out->PutVoid())) || !*out) return E_INVALIDARG;
  return S_OK;
}

}  // namespace

HRESULT CovFDT_ParameterHandlerImpl::SaveParameterHandler(IStream* object, VARIANT_BOOL* done) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::SaveParameterHandler()");
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IStream> stream;
  HRESULT hr = StreamOf(object, &stream);
  if (FAILED(hr)) return hr;

  ULONG count = 0;
  hr = GetCollectionCount(&count);
  if (FAILED(hr)) return hr;
  LogNumber("::SaveParameterHandler() lCount:", count);
  // The records to write, fetched and converted before anything is written, so a record that
  // cannot be written leaves the stream untouched.
  std::vector<std::pair<ULONG, CFdtVariant>> values;
  std::vector<ULONG> statuses;
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    hr = GetParInfoAt(static_cast<LONG>(i), &record);
    if (FAILED(hr)) return hr;
    if (!record.m_bPersist) continue;
    CFdtVariant value;
    // The value goes in its parameter's type; one that does not convert would not load again.
    hr = ChangeVariantType(&value, &record.m_vValue, record.m_vt);
    if (FAILED(hr)) return hr;
    if (!vkr::IsStorableVarType(value.vt)) return DISP_E_BADVARTYPE;
    try {
      values.emplace_back(record.m_nId, value);
      statuses.push_back(record.m_dwFlags);
    } catch (const vkr::HResultError& e) {
      return e.Result();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  // The section is made in memory and written in one piece: an object value that cannot be saved
  // leaves the stream as it was.
  vkr::ComPtr<IStream> memory;
  hr = CreateStreamOnHGlobal(nullptr, TRUE, memory.Put());
  if (FAILED(hr)) return hr;
  VARIANT item;
  VariantInit(&item);
  item.vt = VT_I4;
  item.lVal = static_cast<LONG>(values.size());
  hr = vkr::WriteStoredVariant(memory.Get(), item);
  if (FAILED(hr)) return hr;
  for (std::size_t i = 0; i < values.size(); ++i) {
    item.vt = VT_UI4;
    item.ulVal = values[i].first;
    hr = vkr::WriteStoredVariant(memory.Get(), item);
    if (SUCCEEDED(hr)) hr = vkr::WriteStoredVariant(memory.Get(), values[i].second);
    item.vt = VT_UI4;
    item.ulVal = statuses[i];
    if (SUCCEEDED(hr)) hr = vkr::WriteStoredVariant(memory.Get(), item);
    if (FAILED(hr)) return hr;
  }
  hr = vkr::CopyStreamBytes(memory.Get(), stream.Get());
  if (FAILED(hr)) return hr;
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::LoadParameterHandler(IStream* object, VARIANT_BOOL* done) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::LoadParameterHandler()");
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IStream> stream;
  HRESULT hr = StreamOf(object, &stream);
  if (FAILED(hr)) return hr;
  CParamCollection loaded;
  hr = ReadParameterSection(stream.Get(), &loaded);
  if (FAILED(hr)) return hr;
  hr = CommitParameterSection(loaded);
  if (FAILED(hr)) return hr;
  WriteLog(u"CovFDT_ParameterHandlerImpl::LoadParameterHandler()- return S_OK;");
  *done = VARIANT_TRUE;
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::ReadParameterSection(IStream* stream, CParamCollection* loaded,
                                                          const CParamCollection* table) {
  if (!stream || !loaded) return E_INVALIDARG;
  // The records the values belong to: the given table's, or the live ones.
  auto known = [&](ULONG id) { return table ? table->FindById(id) != nullptr : HasParameter(id); };
  auto fetch = [&](ULONG id, ParInfo* record) -> HRESULT {
    if (!table) return GetParInfoById(id, record);
    const ParInfo* stored = table->FindById(id);
    return stored ? table->CopyParInfo(*stored, record) : E_INVALIDARG;
  };
  vkr::Variant length;
  HRESULT hr = ReadTyped(stream, VT_I4, &length);
  if (FAILED(hr)) return hr;
  if (length.lVal < 0) return E_FAIL;
  LogNumber("vLength.lVal:", static_cast<ULONG>(length.lVal));
  // No allocation follows the count: a count larger than the stream ends in a short read.
  for (LONG i = 0; i < length.lVal; ++i) {
    vkr::Variant id, value, status, discarded;
    hr = ReadTyped(stream, VT_UI4, &id);
    if (FAILED(hr)) return hr;
    LogStep("----(5)");
    // A stored object names the class that loading it creates, and only loading it finds where
    // the record goes on. So an object is read only in the record of a parameter the table types
    // as an object; anywhere else (another parameter, an id the table does not hold) it refuses
    // the data set before anything is created.
    ParInfo record;
    const bool ours = known(id.ulVal);
    if (ours) {
      hr = fetch(id.ulVal, &record);
      if (FAILED(hr)) return hr;
    }
    const vkr::StoredObjects objects =
        ours && vkr::IsObjectVarType(record.m_vt) ? vkr::StoredObjects::kLoaded : vkr::StoredObjects::kRefused;
    hr = vkr::ReadStoredVariant(stream, &value, objects);
    if (FAILED(hr)) return hr;
    LogStep("----(6a)");
    if (m_bLoadOption1) {
      LogStep("----(7a)");
      for (int extra = 0; extra < 3; ++extra) {
        hr = vkr::ReadStoredVariant(stream, &discarded, objects);
        if (FAILED(hr)) return hr;
      }
      LogStep("----(9)");
    }
    LogStep("----(10)");
    hr = ReadTyped(stream, VT_UI4, &status);
    if (FAILED(hr)) return hr;
    LogStep("----(11)");
    if (m_bLoadOption2) {
      LogStep("----(11aaaa)");
      hr = vkr::ReadStoredVariant(stream, &discarded, objects);
      if (FAILED(hr)) return hr;
    }
    // A record the table does not hold is consumed above and otherwise passed over.
    if (!ours) continue;
    // The value must be of the parameter's type or convert to it.
    hr = ChangeVariantType(&record.m_vValue, &value, record.m_vt);
    if (FAILED(hr)) return hr;
    record.m_dwFlags = status.ulVal;
    LogStep("----(12aaaa)");
    hr = loaded->Add(record);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT CovFDT_ParameterHandlerImpl::CommitParameterSection(CParamCollection& loaded) {
  constexpr ULONG kLoadedFields = PIF_VALUE | PIF_FLAGS;
  // The live records are updated in place (a record is never removed and re-added, so none can
  // get lost); the old fields are kept until every record took its new ones.
  std::vector<ParInfo> previous;
  HRESULT hr = S_OK;
  for (LONG i = 0; i < static_cast<LONG>(loaded.Count()); ++i) {
    ParInfo record, old;
    hr = loaded.GetAt(i, &record);
    if (SUCCEEDED(hr)) hr = GetParInfoFields(record.m_nId, kLoadedFields, &old);
    if (FAILED(hr)) break;
    old.m_nId = record.m_nId;
    try {
      previous.push_back(std::move(old));
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
      break;
    }
    // A failed update may have taken some fields already: it is rolled back with the others.
    hr = SetParInfoFields(record.m_nId, kLoadedFields, record);
    if (FAILED(hr)) break;
  }
  if (SUCCEEDED(hr)) return S_OK;
  for (auto it = previous.rbegin(); it != previous.rend(); ++it) SetParInfoFields(it->m_nId, kLoadedFields, *it);
  return hr;
}
