// The frame's storage of a DTM's data set in files: the stream form (IPersistStreamInit) as the
// bytes the DTM saved, and a property bag (IPersistPropertyBag) kept in a small text file. Paths
// are Windows paths, which the platform maps into the drive root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace vkr::frame {

struct FilePlace;

// The CRC-32 (IEEE 802.3) of the bytes, as the frame's containers and records carry it.
std::uint32_t Crc32(const std::string& bytes);

// Replaces the file (a Windows path) with the bytes: they are written to a new file beside it,
// flushed, and renamed over it, so that the file holds its old or its new bytes whatever happens
// meanwhile. The folder must exist. File errors are HRESULT_FROM_WIN32. *replaced (when given)
// says whether the new bytes took the file's place, which they have also when the rename could not
// be written through to the disk afterwards (the error is returned all the same).
HRESULT ReplaceFile(LPCSTR path, const std::string& bytes, bool* replaced = nullptr);
// Whether ReplaceFile could write there: the folder takes a new file, the path is no folder, a
// file there may be written, and the disk has the room: a new file beside it takes `room` bytes
// down to the disk (written and flushed, then removed), so that a full disk is found before a
// command starts what it could not keep.
// With `held`, the new file stays (its room taken) until `held` goes: the room of several files
// checked one after another is then found at once, as the command that writes them all needs it.
class RoomHeld;
HRESULT CheckReplaceable(LPCSTR path, std::size_t room = 0, RoomHeld* held = nullptr);
class RoomHeld {
 public:
  RoomHeld() = default;
  RoomHeld(const RoomHeld&) = delete;
  RoomHeld& operator=(const RoomHeld&) = delete;
  ~RoomHeld();

 private:
  friend HRESULT CheckReplaceable(LPCSTR, std::size_t, RoomHeld*);
  std::vector<std::pair<HANDLE, std::string>> m_files;
};
// Removes the new files that replacements of `path` cut off (a killed command) left beside it;
// one that a running command still writes is left alone.
void RemoveLeftovers(const std::string& path);

// A file of a project as a command found it when it began, so that the command never replaces
// what another command saved meanwhile: two commands that loaded one file do not both save it, the
// second one is refused (kChangedMeanwhile) and nothing of the first is lost.
constexpr HRESULT kChangedMeanwhile = MAKE_HRESULT(1, FACILITY_ITF, 0x0245);
// A lock of a file this process holds already, through another of its names: taken again it would
// wait for itself, so it is refused at once.
constexpr HRESULT kHeldByThisCommand = MAKE_HRESULT(1, FACILITY_ITF, 0x0247);
class KnownFile {
 public:
  KnownFile() = default;
  explicit KnownFile(std::string path) : m_path(std::move(path)) {}

  // Reads what the file holds now (a file that is not there is no error: Present() is false)
  // after removing what cut-off replacements of it left (RemoveLeftovers). A folder in its place
  // is HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) with IsFolder(); other file errors as they come.
  HRESULT Read();
  // Replaces the file (ReplaceFile) only while it still holds what Read found or the last
  // Replace put there, or is still not there; otherwise kChangedMeanwhile and nothing is written.
  // Comparing and renaming are one step for every other KnownFile of any process: the replaced
  // file is locked meanwhile, and a file that was not there is only ever created, never replaced.
  // `first` (when given) runs in that step, once the file was found unchanged: a failure it
  // returns stops the replacement, so that what it checks holds when the new bytes take the place.
  HRESULT Replace(const std::string& bytes, bool* replaced = nullptr, const std::function<HRESULT()>& first = nullptr);
  // Runs `action` while the file still holds what Read found or the last Replace put there, with
  // no other KnownFile's Replace or WhileUnchanged of the file running meanwhile (a file that is
  // not there is only checked to be still absent); kChangedMeanwhile, without running it, when the
  // file changed. Else what `action` returns.
  HRESULT WhileUnchanged(const std::function<HRESULT()>& action);

  const std::string& Path() const { return m_path; }
  bool Present() const { return m_present; }
  bool IsFolder() const { return m_folder; }
  const std::string& Bytes() const { return m_bytes; }

 private:
  std::string m_path;
  bool m_present = false;
  bool m_folder = false;
  std::string m_bytes;

  // Locks the file as it is now (when it was there) and checks that it still holds what this
  // KnownFile knows of it; *held is the lock to give back (Release). A file this process holds
  // locked already, under any of its names, is kHeldByThisCommand at once.
  HRESULT Hold(HANDLE* held);
  void Release(HANDLE held);
  std::shared_ptr<FilePlace> m_place;  // where the held file is, while it is held
};
// Tests: the nth ReplaceFile from now fails between writing and renaming (leaving the old file).
// The environment variable VKR_FRAME_TEST_KILL_AT_SAVE=n ends the process there instead, as a
// kill would.
void FailReplaceForTesting(int nth);
// Tests: runs once in the next replacement, after its new file is written and just before the
// rename (where another command's save may come between).
void BeforeRenameForTesting(std::function<void()> action);

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
