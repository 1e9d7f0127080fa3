// The registrar: runs a module's registry scripts, which register and unregister its classes.
//
// A script is UTF-8 text, one statement a line; '#' starts a comment line, blank lines are
// ignored. A key is named by its whole path from a root (HKCR, HKLM or HKCU, or their long
// names); parents come before their children. Keys on the way that the script does not name are
// created when missing and never removed:
//
//   key NoRemove HKCR\CLSID
//   key ForceRemove HKCR\CLSID\{…} = 'My Class'
//   key HKCR\CLSID\{…}\InprocServer32 = '%MODULE%'
//   value HKCR\CLSID\{…}\InprocServer32 ThreadingModel = 'Apartment'
//   value HKCR\CLSID\{…} Flags = dword:0x10
//
// `key [ForceRemove|NoRemove] PATH [= VALUE]` names a key and optionally its default value;
// `value PATH NAME = VALUE` a named value of a key named before. A VALUE is a quoted text (REG_SZ)
// or dword:N (decimal or 0x hex). Words are separated by blanks; a word holding blanks or a quote
// is written in single quotes, a quote inside doubled (''). %NAME% in any word is replaced by the
// text given with AddReplacement (unknown names are an error); %% stands for one %.
//
// Registering creates the keys in script order and sets their values; a ForceRemove key is first
// deleted with everything below it, so it holds exactly what the script gives. Unregistering walks
// the keys in reverse order: a ForceRemove key goes with everything below it, a NoRemove key and
// its values stay, any other key loses the values the script names and is deleted when no subkey
// is left. Keys or values that are already gone are no error, so unregistering twice succeeds.
//
// Results: S_OK; HRESULT_FROM_WIN32 of the first registry error, which stops the run (the keys
// done so far stay); HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for a script that does not parse,
// before anything is changed (Problem() gives "line N: reason").
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/win/types.h"

namespace vkr {

class VKR_API Registrar {
 public:
  // Adds or replaces the text that %name% stands for (name without the percent signs).
  HRESULT AddReplacement(std::u16string_view name, std::u16string_view text);
  void ClearReplacements() { m_replacements.clear(); }

  HRESULT StringRegister(std::string_view script);
  HRESULT StringUnregister(std::string_view script);
  // The script is the resource `id` of `type` (e.g. "REGISTRY") of the module; a missing resource
  // gives HRESULT_FROM_WIN32 of FindResource's error.
  HRESULT ResourceRegister(HMODULE module, UINT id, LPCSTR type);
  HRESULT ResourceUnregister(HMODULE module, UINT id, LPCSTR type);

  // Why the last script did not parse, or why its last run failed ("" after success).
  const std::string& Problem() const { return m_problem; }

 private:
  HRESULT Run(std::string_view script, bool registering);
  HRESULT RunResource(HMODULE module, UINT id, LPCSTR type, bool registering);

  std::map<std::u16string, std::u16string> m_replacements;
  std::string m_problem;
};

}  // namespace vkr
