// The frame's storage of a DTM's data set in files: the stream form (IPersistStreamInit) as the
// bytes the DTM saved, and a property bag (IPersistPropertyBag) kept in a small text file. Paths
// are Windows paths, which the platform maps into the drive root.
#pragma once

#include <map>
#include <string>

#include "platform/platform.h"

namespace vkr::frame {

// Saves the DTM's data set (IPersistStreamInit::Save, clearing its dirty flag) into the file,
// replacing it. The DTM's refusal (S_FALSE) is E_FAIL here; file errors are
// HRESULT_FROM_WIN32. Nothing is written when the DTM refuses.
HRESULT SaveStreamFile(IPersistStreamInit* dtm, LPCSTR path);
// Loads the file's bytes into the DTM (IPersistStreamInit::Load); S_FALSE from the DTM is E_FAIL.
HRESULT LoadStreamFile(IPersistStreamInit* dtm, LPCSTR path);

// A property bag in memory that reads and writes a file: one property a line, "name<TAB>type<TAB>
// hex", where type is 8 (VT_BSTR, the UTF-8 bytes) or 8209 (VT_ARRAY|VT_UI1, the bytes). Other
// types are refused on Write with DISP_E_BADVARTYPE; Read of a missing name is E_INVALIDARG.
class FilePropertyBag : public vkr::Implements<IPropertyBag> {
 public:
  HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) override;
  HRESULT Write(LPCOLESTR name, VARIANT* value) override;

  // The whole bag to the file (replacing it), or the file's properties into the bag (replacing
  // what it held; a malformed file is E_FAIL and leaves the bag as it was).
  HRESULT SaveToFile(LPCSTR path) const;
  HRESULT LoadFromFile(LPCSTR path);

 private:
  struct Value {
    VARTYPE vt;
    std::string bytes;
  };
  std::map<std::u16string, Value> m_values;
};

}  // namespace vkr::frame
