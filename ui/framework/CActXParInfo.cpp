// CActXParInfo: defaults, copies and the table helpers of the parameter maps.
#include "ui/framework/CActXParInfo.h"

CActXParInfo::CActXParInfo() { VariantInit(&m_vValue); }

CActXParInfo::CActXParInfo(LONG id, const char* name, UINT ctrlId, const char* format, ULONG state, BOOL indicator,
                           ULONG ctrlKind, UINT textCtrlId, UINT extraCtrlId)
    : m_nParamId(id),
      m_pszName(name),
      m_nCtrlId(ctrlId),
      m_pszFormat(format),
      m_nState(state),
      m_bIndicator(indicator),
      m_nCtrlKind(ctrlKind),
      m_nTextCtrlId(textCtrlId),
      m_nExtraCtrlId(extraCtrlId) {
  VariantInit(&m_vValue);
}

CActXParInfo::CActXParInfo(const CActXParInfo& other) {
  VariantInit(&m_vValue);
  CopyFrom(other);
}

CActXParInfo& CActXParInfo::operator=(const CActXParInfo& other) {
  if (this != &other) CopyFrom(other);
  return *this;
}

CActXParInfo::~CActXParInfo() { VariantClear(&m_vValue); }

void CActXParInfo::SetOwnedName(const char* name) {
  if (!name) {
    m_strOwnedName.clear();
    m_bOwnsName = FALSE;
    m_pszName = nullptr;
    return;
  }
  m_strOwnedName = name;
  m_bOwnsName = TRUE;
  m_pszName = m_strOwnedName.c_str();
}

void CActXParInfo::CopyFrom(const CActXParInfo& other) {
  m_nParamId = other.m_nParamId;
  if (other.m_bOwnsName) {
    SetOwnedName(other.m_pszName);
  } else {
    m_strOwnedName.clear();
    m_bOwnsName = FALSE;
    m_pszName = other.m_pszName;
  }
  m_nCtrlId = other.m_nCtrlId;
  m_pszFormat = other.m_pszFormat;
  m_nState = other.m_nState;
  m_bIndicator = other.m_bIndicator;
  m_hWndCtrl = other.m_hWndCtrl;
  m_hWndIndicator = other.m_hWndIndicator;
  m_nCtrlKind = other.m_nCtrlKind;
  m_wMode = other.m_wMode;
  // A value that cannot be copied leaves VT_ERROR with the code rather than raising.
  VariantClear(&m_vValue);
  HRESULT hr = VariantCopy(&m_vValue, &other.m_vValue);
  if (FAILED(hr)) {
    m_vValue.vt = VT_ERROR;
    m_vValue.scode = hr;
  }
  m_nGroupIndex = other.m_nGroupIndex;
  m_nUpdateRate = other.m_nUpdateRate;
  m_nTextCtrlId = other.m_nTextCtrlId;
  m_nExtraCtrlId = other.m_nExtraCtrlId;
  m_nStateMask = other.m_nStateMask;
  m_bNoDeviceRead = other.m_bNoDeviceRead;
}

int CountParameterEntries(const CActXParInfo* table) {
  int count = 0;
  if (table)
    while (!table[count].IsEnd()) ++count;
  return count;
}

CActXParInfo* CopyParameterTable(const CActXParInfo* table, int* count) {
  const int n = CountParameterEntries(table);
  if (count) *count = n;
  auto* copy = new CActXParInfo[static_cast<size_t>(n) + 1];
  for (int i = 0; i < n; ++i) copy[i] = table[i];
  return copy;
}
