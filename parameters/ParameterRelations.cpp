// CovFDT_ParameterHandlerImpl: relation texts, the relation batch, the relation tables, the appliers
// of the fourteen relation kinds and their default hooks.
//
// A change of one parameter reaches the others through EvaluateRelationsFor, which hands the
// parameter's "relation(" text to ParseRelations. Outside a batch each pair is applied at once;
// inside one it is queued in the table of its kind and applied once, in the replay order, when the
// outermost batch closes. An applied relation can change values whose relations apply in turn;
// a depth limit ends a chain that does not settle.
#include <algorithm>
#include <new>
#include <string_view>

#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "parameters/EnumList.h"
#include "xml/Conversions.h"
#include "xml/Log.h"

namespace {

using vkr::UI4;

// Relations applied from inside relations deeper than this fail: a chain of relations that keeps
// changing values would otherwise recurse without end.
constexpr int kMaxRelationDepth = 16;
// The order in which a batch replays its tables: kind 14 before kind 13.
constexpr int kReplayOrder[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 13};
constexpr std::u16string_view kRelation = u"relation(";
// Relation texts shorter than this are refused.
constexpr size_t kMinRelationText = 8;


// The C library's text-to-integer rule: leading blanks, an optional sign, digits; anything else ends
// the number, and no digits give 0. Values beyond 32 bits saturate.
LONG ToInteger(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || (s[i] >= u'\t' && s[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  long long v = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) v = std::min(v * 10 + (s[i] - u'0'), 0x80000000LL);
  if (negative) return static_cast<LONG>(-v);
  return static_cast<LONG>(std::min(v, 0x7FFFFFFFLL));
}

bool HasRelationText(const VARIANT& v) {
  return v.vt == VT_BSTR && SysStringLen(v.bstrVal) > 0 &&
         vkr::View(v.bstrVal).find(kRelation) != std::u16string_view::npos;
}

}  // namespace

// ---- The batch -----------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::ApplyRelations(BOOL open) {
  if (m_bApplyingRelations) return S_OK;
  if (open) {
    m_bCollectingRelations = true;
    if (++m_nRelationBatches == 1) {
      for (auto& table : m_relationTables) table.clear();
      m_bRelationsRegistered = false;
    }
    return S_OK;
  }
  const bool outermost = m_bCollectingRelations && m_nRelationBatches == 1;
  const bool buildingEnded = m_nRelationBatches == 0 && m_bRelationsRegistered && !m_bRebuildingRelations;
  if (outermost || buildingEnded) ReplayRelations();
  if (m_nRelationBatches != 0) --m_nRelationBatches;
  return S_OK;
}

void CovFDT_ParameterHandlerImpl::ReplayRelations() {
  m_bCollectingRelations = false;
  m_bRelationsRegistered = false;
  m_bApplyingRelations = true;
  for (int kind : kReplayOrder) {
    // By index: a relation applied here may rebuild the tables.
    const std::vector<SRelationEntry>& table = m_relationTables[kind - 1];
    for (size_t i = 0; i < table.size(); ++i) {
      const SRelationEntry entry = table[i];
      vkr::Bstr text;
      if (FAILED(BstrFormat(text.Put(), u"relation(%d,%d)", kind, static_cast<LONG>(entry.target)))) continue;
      // A failing relation does not stop the others.
      ParseRelations(entry.source, text.Get(), FALSE, entry.flags);
    }
  }
  m_bApplyingRelations = false;
}

HRESULT CovFDT_ParameterHandlerImpl::SetParameterValue(VARIANT id, VARIANT value) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::SetParameterValue()");
  ULONG nId = 0;
  HRESULT hr = VariantToULong(&id, &nId);
  if (FAILED(hr)) return hr;
  ApplyRelations(TRUE);
  hr = ApplyParameterValue(nId, value, TRUE);
  // Closed also after a failure, so the relations queued before it are applied.
  ApplyRelations(FALSE);
  return hr;
}

HRESULT CovFDT_ParameterHandlerImpl::SetValueWithRelations(ULONG id, VARIANT value) {
  ApplyRelations(TRUE);
  HRESULT hr = ApplyParameterValue(id, value, FALSE);
  ApplyRelations(FALSE);
  return FAILED(hr) ? hr : S_OK;
}

// ---- Relation texts and tables ---------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::ParseRelations(ULONG id, BSTR relation, BOOL registerOnly, ULONG argument) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::ParseRelations()");
  if (m_bRelationsOff) return S_OK;
  const std::u16string_view text = vkr::View(relation).substr(0, SysStringLen(relation));
  const size_t start = text.find(kRelation);
  if (start == std::u16string_view::npos || text.size() < kMinRelationText) return E_INVALIDARG;

  const bool delay = !m_bSaveDelayOff && m_pSite;
  if (delay) m_pSite->DelaySaveRequest(TRUE);
  // The pairs stand between "relation(" and the first ")"; what follows it is not read.
  std::u16string_view list = text.substr(start + kRelation.size());
  list = list.substr(0, list.find(u')'));
  const bool queueOnly = m_bCollectingRelations || m_bRebuildingRelations;
  const bool record = registerOnly || queueOnly;
  HRESULT result = S_OK;
  size_t pos = 0;
  for (;;) {
    const size_t comma = list.find(u',', pos);
    if (comma == std::u16string_view::npos) break;  // a kind without target ends the list
    const size_t next = list.find(u',', comma + 1);
    const LONG kind = ToInteger(list.substr(pos, comma - pos));
    const ULONG target = static_cast<ULONG>(
        ToInteger(list.substr(comma + 1, next == std::u16string_view::npos ? next : next - comma - 1)));
    if (kind >= 1 && kind <= kRelationKinds) {
      bool present = false;
      if (record) {
        std::vector<SRelationEntry>& table = m_relationTables[kind - 1];
        present = kind == 10 ? !table.empty()
                             : std::any_of(table.begin(), table.end(),
                                           [&](const SRelationEntry& e) { return e.target == target; });
        if (!present) {
          try {
            table.push_back({target, id, argument});
          } catch (const std::bad_alloc&) {
            result = E_OUTOFMEMORY;
          }
        }
      }
      if (!queueOnly && !present) {
        HRESULT hr = ApplyRelation(static_cast<int>(kind), id, target, argument);
        if (FAILED(hr)) result = hr;
      }
    }
    if (next == std::u16string_view::npos) break;
    pos = next + 1;
  }
  if (delay) m_pSite->DelaySaveRequest(FALSE);
  return result;
}

HRESULT CovFDT_ParameterHandlerImpl::BuildRelations(ULONG flags) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::BuildRelations()");
  for (auto& table : m_relationTables) table.clear();
  m_bRelationsRegistered = false;
  const ULONG count = m_collection.Count();
  for (ULONG i = 0; i < count; ++i) {
    ParInfo record;
    HRESULT hr = GetParInfoAt(static_cast<LONG>(i), &record);
    if (FAILED(hr)) return hr;
    // The record's own text: a reference record's, not that of the parameter it stands for.
    const ParInfo* stored = m_collection.FindById(record.m_nId);
    if (!stored || !HasRelationText(stored->m_vRelation)) continue;
    vkr::Bstr text(stored->m_vRelation.bstrVal);
    ParseRelations(record.m_nId, text.Get(), TRUE, flags);
  }
  if (m_bRebuildingRelations)
    m_bRelationsRegistered =
        std::any_of(std::begin(m_relationTables), std::end(m_relationTables), [](const auto& t) { return !t.empty(); });
  return S_OK;
}

// ---- Applying one relation --------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::ApplyRelation(int kind, ULONG source, ULONG target, ULONG flags) {
  if (m_nRelationDepth >= kMaxRelationDepth) {
    WriteLog(u"CovFDT_ParameterHandlerImpl::ParseRelations(): relations nest too deep, one is not applied");
    return E_FAIL;
  }
  ++m_nRelationDepth;
  const HRESULT hr = ApplyRelationKind(kind, source, target, flags);
  --m_nRelationDepth;
  return hr;
}

HRESULT CovFDT_ParameterHandlerImpl::ApplyRelationKind(int kind, ULONG source, ULONG target, ULONG flags) {
  const VARIANT t = UI4(target);
  // The broadcasts by the relation's flags, with the target's value.
  auto notify = [&](ULONG which) -> HRESULT {
    vkr::Variant value;
    HRESULT hr = GetValueById(target, &value);
    if (FAILED(hr)) return hr;
    return NotifyRelationTarget(t, value, which);
  };
  auto revalidateAndNotify = [&]() -> HRESULT {
    HRESULT hr = RevalidateParameter(t, PFL_INVALID);
    if (FAILED(hr)) return hr;
    return notify(flags);
  };
  switch (kind) {
    case 1:
      if (m_pSite && m_pSite->GetDtmState() == dsONLINE && !m_bDeviceReadsOff) {
        VARIANT_BOOL read = VARIANT_FALSE;
        return ReadDeviceParameter(t, &read);
      }
      return S_OK;
    case 10: return NotifyActiveXContainer(UI4(RE_KIND_10), t);
    case 11: return NotifyActiveXContainer(UI4(RE_KIND_11), t);
    case 9: {
      ParInfo record;
      HRESULT hr = GetParInfoFields(target, PIF_FURTHER, &record);
      if (FAILED(hr)) return hr;
      if (record.m_vFurther.vt != VT_BSTR) {
        hr = RevalidateParameter(t, PFL_INVALID);
        if (FAILED(hr)) return hr;
        return notify(0x1);
      }
      break;
    }
    default: break;
  }

  vkr::ComPtr<IovFdtParameterHandler4> service;
  if (FAILED(Self()->QueryInterface(IovFdtParameterHandler4::iid, service.PutVoid())) || !service)
    return kind == 9 ? E_NOINTERFACE : E_POINTER;

  if (kind == 2 || kind == 3) {
    BOOL decision = FALSE;
    HRESULT hr = kind == 2 ? EvaluateEnableRelation(service.Get(), source, target, flags, &decision)
                           : EvaluateStateRelation(service.Get(), source, target, flags, &decision);
    if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
    ParInfo record;
    hr = GetParInfoFields(target, PIF_FLAGS, &record);
    if (FAILED(hr)) return hr;
    ULONG word = record.m_dwFlags;
    if (kind == 2)
      word = decision ? (word & ~static_cast<ULONG>(PFL_DISABLED)) : (word | PFL_DISABLED);
    else
      word = (decision & 0x2) ? (word | PFL_SETTABLE) : (word & ~static_cast<ULONG>(PFL_SETTABLE));
    return SetParameterStatus(target, word);
  }

  vkr::Variant value;
  HRESULT hr = E_UNEXPECTED;
  switch (kind) {
    case 4: hr = EvaluateEnumerationRelation(service.Get(), source, target, flags, &value); break;
    case 5: hr = EvaluateValueRelation(service.Get(), source, target, flags, &value); break;
    case 6: hr = EvaluateDefaultRelation(service.Get(), source, target, flags, &value); break;
    case 7: hr = EvaluateMaximumRelation(service.Get(), source, target, flags, &value); break;
    case 8: hr = EvaluateMinimumRelation(service.Get(), source, target, flags, &value); break;
    case 9: hr = EvaluateAuxiliaryRelation(service.Get(), source, target, flags, &value); break;
    case 12: hr = EvaluateUnitScalingRelation(service.Get(), source, target, flags, &value); break;
    case 13: hr = EvaluateMultiplierRelation(service.Get(), source, target, flags, &value); break;
    case 14: hr = EvaluateOffsetRelation(service.Get(), source, target, flags, &value); break;
    default: return E_UNEXPECTED;
  }
  if (hr != S_OK) return FAILED(hr) ? hr : S_OK;

  switch (kind) {
    case 4:
      if (value.vt == VT_EMPTY) return S_OK;
      hr = SetRecordField(target, PIF_ENUM_LIST, value);
      if (FAILED(hr)) return hr;
      // Texts without a translation stay as the hook gave them.
      TranslateEnumerationTexts(target);
      hr = RevalidateParameter(t, PFL_INVALID);
      if (FAILED(hr)) return hr;
      return NotifyActiveXContainer(UI4(RE_ENUMERATION_CHANGED), t);
    case 5: return revalidateAndNotify();
    case 6:
    case 7:
    case 8:
    case 9:
      hr = SetRecordField(target, kind == 6 ? PIF_DEFAULT : kind == 7 ? PIF_MAX : kind == 8 ? PIF_MIN : PIF_FURTHER, value);
      if (FAILED(hr)) return hr;
      return revalidateAndNotify();
    default: {
      const char16_t* name = kind == 12 ? u"UnitScaling" : kind == 13 ? u"Multiplier" : u"Offset";
      vkr::Bstr property(name);
      if (!property.Get()) return E_OUTOFMEMORY;
      hr = WritePrivateProperty(t, property.Get(), value);
      if (FAILED(hr)) return hr;
      return revalidateAndNotify();
    }
  }
}

HRESULT CovFDT_ParameterHandlerImpl::SetRecordField(ULONG id, ULONG mask, const VARIANT& value) {
  ParInfo scratch;
  vkr::Variant* field = nullptr;
  switch (mask) {
    case PIF_ENUM_LIST: field = &scratch.m_vEnumList; break;
    case PIF_DEFAULT: field = &scratch.m_vDefault; break;
    case PIF_MAX: field = &scratch.m_vMax; break;
    case PIF_MIN: field = &scratch.m_vMin; break;
    case PIF_FURTHER: field = &scratch.m_vFurther; break;
    default: return E_INVALIDARG;
  }
  HRESULT hr = VariantCopy(field, &value);
  if (FAILED(hr)) return hr;
  return SetParInfoFields(id, mask, scratch);
}

HRESULT CovFDT_ParameterHandlerImpl::RevalidateParameter(VARIANT id, ULONG bit) {
  ULONG nId = 0;
  HRESULT hr = VariantToULong(&id, &nId);
  if (FAILED(hr)) return hr;
  ParInfo record;
  hr = GetParInfoFields(nId, PIF_FLAGS | PIF_VALUE, &record);
  if (FAILED(hr)) return hr;
  ULONG word = 0;
  hr = ValidateParameter(UI4(nId), record.m_vValue, &word);
  if (FAILED(hr)) return hr;
  record.m_dwFlags = (word & bit) ? (record.m_dwFlags | bit) : (record.m_dwFlags & ~bit);
  return SetParInfoFields(nId, PIF_FLAGS, record);
}

HRESULT CovFDT_ParameterHandlerImpl::NotifyRelationTarget(VARIANT id, VARIANT argument, ULONG flags) {
  HRESULT hr = S_OK;
  if (flags & 0x1) hr = NotifyActiveXContainerEx(UI4(PB_VALUE_CHANGED), id, argument);
  if (flags & 0x2) hr = NotifyActiveXContainerEx(UI4(PB_DEVICE_VALUE), id, argument);
  return hr;
}

HRESULT CovFDT_ParameterHandlerImpl::TranslateEnumerationTexts(ULONG id) {
  WriteLog(u"CovFDT_ParameterHandlerImpl::TranslateEnumerationTexts()");
  ParInfo record;
  HRESULT hr = GetParInfoFields(id, PIF_ENUM_LIST, &record);
  if (FAILED(hr)) return hr;
  ULONG count = 0;
  hr = GetEnumListCount(record.m_vEnumList, &count);
  if (FAILED(hr)) return hr;
  vkr::SafeArrayHolder texts(SafeArrayCreateVector(VT_BSTR, 0, count));
  if (!texts.Get()) return E_OUTOFMEMORY;
  bool translated = false;
  HRESULT lookup = S_OK;
  for (ULONG i = 0; i < count; ++i) {
    LONG value = 0;
    vkr::Bstr label, text, entry;
    hr = GetEnumListEntry(record.m_vEnumList, i, &value, label.Put());
    if (FAILED(hr)) return hr;
    lookup = TranslateEnumerationEntry(id, value, text.Put());
    if (SUCCEEDED(lookup) && text.Get())
      translated = true;
    else
      text = label;
    hr = BstrFormat(entry.Put(), u"%ld;%s", value, text.Get());
    if (FAILED(hr)) return hr;
    LONG index = static_cast<LONG>(i);
    hr = SafeArrayPutElement(texts.Get(), &index, entry.Get());
    if (FAILED(hr)) return hr;
  }
  if (!translated) return FAILED(lookup) ? lookup : S_FALSE;
  vkr::Variant list;
  list.vt = VT_ARRAY | VT_BSTR;
  list.parray = texts.Detach();
  return SetRecordField(id, PIF_ENUM_LIST, list);
}

// ---- Default hooks --------------------------------------------------------------------------------

HRESULT CovFDT_ParameterHandlerImpl::EvaluateEnableRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG, BOOL*) {
  return S_FALSE;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateStateRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG, BOOL*) {
  return S_FALSE;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateEnumerationRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG,
                                                                 VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateValueRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG, VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateDefaultRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG, VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateMaximumRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG, VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateMinimumRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG, VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateAuxiliaryRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG,
                                                               VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateUnitScalingRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG,
                                                                 VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateOffsetRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG, VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::EvaluateMultiplierRelation(IovFdtParameterHandler4*, ULONG, ULONG, ULONG,
                                                                VARIANT*) {
  return E_NOTIMPL;
}

HRESULT CovFDT_ParameterHandlerImpl::TranslateEnumerationEntry(ULONG, LONG, BSTR* text) {
  if (text) *text = nullptr;
  return E_NOTIMPL;
}
