// The frame's storage of a DTM's data set in files: the stream form (IPersistStreamInit) as the
// bytes the DTM saved, and a property bag (IPersistPropertyBag) kept in a small text file. Paths
// are Windows paths, which the platform maps into the drive root.
#pragma once

#include <map>
#include <string>

#include "platform/platform.h"

namespace vkr::frame {

// Replaces the file (a Windows path) with the bytes: they are written to a new file beside it,
// flushed, and renamed over it, so that the file holds its old or its new bytes whatever happens
// meanwhile. The folder must exist. File errors are HRESULT_FROM_WIN32.
HRESULT ReplaceFile(LPCSTR path, const std::string& bytes);
// Whether ReplaceFile could write there: the folder takes a new file and the path is no folder.
HRESULT CheckReplaceable(LPCSTR path);
// Tests: the nth ReplaceFile from now fails between writing and renaming (leaving the old file).
// The environment variable VKR_FRAME_TEST_KILL_AT_SAVE=n ends the process there instead, as a
// kill would.
void FailReplaceForTesting(int nth);

// A project file is the frame's container around the DTM's stream: a mark, the stream's length
// and CRC-32, then the stream's bytes as the DTM wrote them. A file without the mark is a stream
// saved before the frame had its container, and loads as it did.
std::string WrapDataSet(const std::string& stream);
// The stream in the file: S_OK from a container, S_FALSE for an older file (the whole file is the
// stream), kDamagedDataSet for a container cut, extended or changed since it was written.
HRESULT UnwrapDataSet(const std::string& file, std::string* stream);
constexpr HRESULT kDamagedDataSet = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// Saves the DTM's data set (IPersistStreamInit::Save, clearing its dirty flag) into the project
// file, replacing it (ReplaceFile). The DTM's refusal (S_FALSE) is E_FAIL here; file errors are
// HRESULT_FROM_WIN32. Nothing is written when the DTM refuses.
HRESULT SaveStreamFile(IPersistStreamInit* dtm, LPCSTR path);
// Loads the project file's data set into the DTM (IPersistStreamInit::Load); kDamagedDataSet
// when the container is damaged (the DTM is not asked), S_FALSE from the DTM is E_FAIL.
HRESULT LoadStreamFile(IPersistStreamInit* dtm, LPCSTR path);
// The same with the stream in memory.
HRESULT LoadStreamBytes(IPersistStreamInit* dtm, const std::string& bytes);
// The DTM's stream of its data set, its dirty flag left as it is.
HRESULT StreamBytes(IPersistStreamInit* dtm, std::string* bytes);

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
