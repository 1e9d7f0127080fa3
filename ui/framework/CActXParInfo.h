// CActXParInfo: one entry of a user interface's parameter table, binding a DTM parameter id to a
// dialog control, with its display format and the run-time state of that binding.
//
// A table is an array that ends with an entry whose name is null (id -1, state 0x71, kind
// 0x80000000); walkers stop there. Each class builds its table once in a function-local static
// array (names are literals there) and hands out copies; the user-interface base works on a copy.
//
// Names: a static entry points at a literal; a record may instead own its name (SetOwnedName),
// kept in a std::string member so that copies never share or double-free it.
#pragma once

#include <string>

#include "platform/platform.h"

class CActXParInfo {
 public:
  CActXParInfo();
  // A static table's entry: id, name (a literal), control, format and the commonly set fields.
  CActXParInfo(LONG id, const char* name, UINT ctrlId, const char* format = "", ULONG state = 0x71,
               BOOL indicator = FALSE, ULONG ctrlKind = 0x80000000, UINT textCtrlId = 0, UINT extraCtrlId = 0);
  CActXParInfo(const CActXParInfo& other);
  CActXParInfo& operator=(const CActXParInfo& other);
  virtual ~CActXParInfo();

  // Makes the record own a copy of name (null: no name).
  void SetOwnedName(const char* name);
  // The end entry of a table.
  bool IsEnd() const { return m_pszName == nullptr; }

  LONG m_nParamId = -1;
  const char* m_pszName = nullptr;  // points at a literal, or into m_strOwnedName when owned
  BOOL m_bOwnsName = FALSE;
  UINT m_nCtrlId = 0;               // value control; 0 none
  const char* m_pszFormat = nullptr;  // display format of a number ("%.1f"); empty or null: none
  ULONG m_nState = 0x71;
  BOOL m_bIndicator = FALSE;        // wants a status-indicator window beside its control
  HWND m_hWndCtrl = nullptr;
  HWND m_hWndIndicator = nullptr;
  // Kind and options: 0 value control, 4 combo box or list, 0x80000000 button or command entry;
  // 0x10 radio look, 0x20 check-box look, 0x100 and 0x200 online-refresh and apply options.
  ULONG m_nCtrlKind = 0x80000000;
  WORD m_wMode = 0;                 // choice mode: 1 single choice, 2 bit set; others plain
  VARIANT m_vValue;                 // the choices (VT_ARRAY|VT_BSTR) or other parameter information
  LONG m_nGroupIndex = -1;          // parameter-group display index; -1 unset
  ULONG m_nUpdateRate = 0;          // cyclic update in milliseconds; 0 none
  UINT m_nTextCtrlId = 0;           // control showing the parameter's display text (unit); 0 none
  UINT m_nExtraCtrlId = 0;          // control shown and hidden with the value control (label); 0 none
  ULONG m_nStateMask = 0xFFFFFFFF;  // state bits SetControlState may change
  ULONG m_bNoDeviceRead = 0;        // non-zero: ReadParameter does not read the device

 private:
  void CopyFrom(const CActXParInfo& other);
  std::string m_strOwnedName;
};

// The parameter map of a user-interface class: with copy FALSE the class's static table, else a
// new[] array of count + 1 records (copies, then a default end entry) that the caller deletes with
// delete[]. *count (when given) is the number of entries without the end entry.
using ParameterMapFunction = CActXParInfo* (*)(int* count, BOOL copy);

// The count of a table up to its end entry.
int CountParameterEntries(const CActXParInfo* table);
// A new[] copy of table as a parameter map hands it out; *count as above.
CActXParInfo* CopyParameterTable(const CActXParInfo* table, int* count);
