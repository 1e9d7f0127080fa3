// The frame's file storage of data sets.
#include "frame/FrameStorage.h"

#include "frame/FileRoles.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

namespace vkr::frame {
namespace {

// The frame's container around a data set stream: the mark, the stream's length and CRC-32 (both
// little-endian 32 bits), then the stream as the DTM wrote it.
constexpr char kMark[8] = {'V', 'K', 'R', '-', 'P', 'R', 'J', '\x1A'};
constexpr std::size_t kHeader = sizeof kMark + 8;

void PutU32(std::string* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint32_t GetU32(const std::string& in, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
  return v;
}

// The replacement that fails (or ends the process, as a kill would) between writing the new file
// and putting it in place; 0: none.
int g_faultCountdown = 0;
bool g_faultKills = false;
std::function<void()> g_beforeRename;

bool FaultFires() {
  if (const char* kill = std::getenv("VKR_FRAME_TEST_KILL_AT_SAVE"); kill && *kill && g_faultCountdown == 0 &&
                                                                     !g_faultKills) {
    g_faultCountdown = std::atoi(kill);
    g_faultKills = g_faultCountdown > 0;
  }
  if (g_faultCountdown <= 0) return false;
  return --g_faultCountdown == 0;
}

HRESULT LastError() {
  const DWORD error = GetLastError();
  return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The folder part of a Windows path, with its separator ("C:\\VKR\\" of "C:\\VKR\\a.vkr").
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The whole of a file, for the locks.
constexpr DWORD kWhole = MAXDWORD;

bool LockWhole(HANDLE file, DWORD flags) {
  OVERLAPPED start{};
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, kWhole, kWhole, &start) != FALSE;
}

// The files this process holds locked while it compares and replaces them, by where they are: a
// command that came to lock one of them again, through another name, would wait for itself.
std::mutex g_heldMutex;
std::vector<FilePlace> g_held;

// Takes the place of the file for this process's lock; false when the process holds it already.
bool TakePlace(const FilePlace& place) {
  std::lock_guard<std::mutex> lock(g_heldMutex);
  for (const FilePlace& held : g_held)
    if (SamePlace(held, place)) return false;
  g_held.push_back(place);
  return true;
}

void LeavePlace(const FilePlace& place) {
  std::lock_guard<std::mutex> lock(g_heldMutex);
  for (auto it = g_held.begin(); it != g_held.end(); ++it)
    if (it->key == place.key) {
      g_held.erase(it);
      return;
    }
}

HANDLE OpenToLock(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A new file beside `path` to write into before it replaces it, locked while it is written so that
// no other command takes it for a leftover.
HANDLE CreateBeside(const std::string& path, std::string* temp) {
  GUID guid{};
  UuidCreate(&guid);
  OLECHAR text[64] = {};
  StringFromGUID2(guid, text, 64);
  *temp = path + ".new." + vkr::Utf16ToUtf8(text);
  HANDLE file = CreateFileA(temp->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) LockWhole(file, LOCKFILE_FAIL_IMMEDIATELY);
  return file;
}

HRESULT ReadWholeFile(LPCSTR path, std::string* bytes) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  HRESULT hr = S_OK;
  char block[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, block, sizeof block, &got, nullptr)) {
      hr = LastError();
      break;
    }
    if (got == 0) break;
    bytes->append(block, got);
  }
  CloseHandle(file);
  return hr;
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

bool FromHex(const std::string& hex, std::string* bytes) {
  if (hex.size() % 2) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

// The DTM's stream of its data set in memory.
HRESULT SaveStreamBytes(IPersistStreamInit* dtm, BOOL clearDirty, std::string* bytes) {
  vkr::ComPtr<IStream> memory;
  HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, memory.Put());
  if (FAILED(hr)) return hr;
  hr = dtm->Save(memory.Get(), clearDirty);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  STATSTG st{};
  hr = memory->Stat(&st, STATFLAG_NONAME);
  if (FAILED(hr)) return hr;
  bytes->assign(static_cast<std::size_t>(st.cbSize.QuadPart), '\0');
  LARGE_INTEGER start{};
  memory->Seek(start, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  if (!bytes->empty()) {
    hr = memory->Read(bytes->data(), static_cast<ULONG>(bytes->size()), &got);
    if (FAILED(hr)) return hr;
    if (got != bytes->size()) return E_FAIL;
  }
  return S_OK;
}

// Writes the bytes beside the file and renames them over it (or, without `replaceExisting`, to a
// name that must still be free).
HRESULT PutInPlace(const std::string& path, const std::string& bytes, bool replaceExisting, bool* replaced) {
  if (replaced) *replaced = false;
  RemoveLeftovers(path);
  std::string temp;
  HANDLE file = CreateBeside(path, &temp);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  HRESULT hr = !ok ? LastError() : (bytes.empty() || written == bytes.size()) ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  if (SUCCEEDED(hr) && !FlushFileBuffers(file)) hr = LastError();
  if (SUCCEEDED(hr) && FaultFires()) {
    if (g_faultKills) std::_Exit(9);
    hr = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  }
  if (SUCCEEDED(hr) && g_beforeRename) std::exchange(g_beforeRename, nullptr)();
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
  if (SUCCEEDED(hr) && !MoveFileExA(temp.c_str(), path.c_str(), flags)) {
    hr = LastError();
    // Gone from beside the file, the new bytes are in its place; only the write-through failed.
    if (replaced) *replaced = GetFileAttributesA(temp.c_str()) == INVALID_FILE_ATTRIBUTES;
  } else if (SUCCEEDED(hr) && replaced) {
    *replaced = true;
  }
  if (FAILED(hr) && !(replaced && *replaced)) DeleteFileA(temp.c_str());
  CloseHandle(file);
  return hr;
}

}  // namespace

std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void RemoveLeftovers(const std::string& path) {
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((path + ".new.{*}").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string leftover = FolderOf(path) + found.cFileName;
    HANDLE file = OpenToLock(leftover);
    if (file == INVALID_HANDLE_VALUE) continue;
    // A new file that a running command holds is not left over.
    if (LockWhole(file, LOCKFILE_FAIL_IMMEDIATELY)) DeleteFileA(leftover.c_str());
    CloseHandle(file);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

HRESULT ReplaceFile(LPCSTR path, const std::string& bytes, bool* replaced) {
  if (!path) return E_POINTER;
  return PutInPlace(path, bytes, true, replaced);
}

HRESULT KnownFile::Read() {
  m_present = m_folder = false;
  m_bytes.clear();
  RemoveLeftovers(m_path);
  const DWORD attributes = GetFileAttributesA(m_path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    m_folder = true;
    return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  }
  const HRESULT hr = ReadWholeFile(m_path.c_str(), &m_bytes);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
    m_bytes.clear();
    return S_OK;
  }
  m_present = SUCCEEDED(hr);
  return hr;
}

HRESULT KnownFile::Hold(HANDLE* held) {
  *held = INVALID_HANDLE_VALUE;
  // The file as it is now stays locked until the work is done: another command's replacement
  // waits, then finds a file it did not load.
  if (m_present) {
    m_place = std::make_shared<FilePlace>(PlaceOf(m_path));
    if (!TakePlace(*m_place)) {
      m_place.reset();
      return kHeldByThisCommand;
    }
    *held = OpenToLock(m_path);
    if (*held == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND ? kChangedMeanwhile : HRESULT_FROM_WIN32(error);
    }
    if (!LockWhole(*held, 0)) {
      const HRESULT hr = LastError();
      CloseHandle(*held);
      *held = INVALID_HANDLE_VALUE;
      return hr;
    }
  }
  std::string now;
  const HRESULT hr = ReadWholeFile(m_path.c_str(), &now);
  const bool there = SUCCEEDED(hr);
  // Cannot tell what is there (a folder came in its place, say): not unchanged.
  if (!there && hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) && hr != HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
    return hr;
  return there != m_present || now != m_bytes ? kChangedMeanwhile : S_OK;
}

HRESULT KnownFile::Replace(const std::string& bytes, bool* replaced, const std::function<HRESULT()>& first) {
  if (replaced) *replaced = false;
  HANDLE held = INVALID_HANDLE_VALUE;
  HRESULT hr = Hold(&held);
  if (SUCCEEDED(hr) && first) hr = first();
  if (SUCCEEDED(hr)) {
    bool put = false;
    hr = PutInPlace(m_path, bytes, m_present, &put);
    // A file that came where there was none is another command's.
    if (hr == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) && !m_present) hr = kChangedMeanwhile;
    if (put) {
      m_present = true;
      m_bytes = bytes;
    }
    if (replaced) *replaced = put;
  }
  Release(held);
  return hr;
}

HRESULT KnownFile::WhileUnchanged(const std::function<HRESULT()>& action) {
  HANDLE held = INVALID_HANDLE_VALUE;
  HRESULT hr = Hold(&held);
  if (SUCCEEDED(hr)) hr = action();
  Release(held);
  return hr;
}

void KnownFile::Release(HANDLE held) {
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  if (m_place) LeavePlace(*m_place);
  m_place.reset();
}

HRESULT CheckReplaceable(LPCSTR path, std::size_t room, RoomHeld* held) {
  if (!path) return E_POINTER;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  // The replacement locks a file that is there, which takes the right to write it.
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    HANDLE there = OpenToLock(path);
    if (there == INVALID_HANDLE_VALUE) return LastError();
    CloseHandle(there);
  }
  std::string temp;
  HANDLE file = CreateBeside(path, &temp);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  HRESULT hr = S_OK;
  const std::string block(std::min<std::size_t>(room, 64 * 1024), '\0');
  for (std::size_t left = room; left > 0 && SUCCEEDED(hr);) {
    const DWORD part = static_cast<DWORD>(std::min(left, block.size()));
    DWORD written = 0;
    if (!WriteFile(file, block.data(), part, &written, nullptr)) hr = LastError();
    else if (written != part) hr = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    left -= written;
  }
  if (SUCCEEDED(hr) && room > 0 && !FlushFileBuffers(file)) hr = LastError();
  if (SUCCEEDED(hr) && held) {
    held->m_files.emplace_back(file, temp);
    return hr;
  }
  DeleteFileA(temp.c_str());
  CloseHandle(file);
  return hr;
}

RoomHeld::~RoomHeld() {
  for (const auto& [file, path] : m_files) {
    DeleteFileA(path.c_str());
    CloseHandle(file);
  }
}

void FailReplaceForTesting(int nth) {
  g_faultCountdown = nth;
  g_faultKills = false;
}

void BeforeRenameForTesting(std::function<void()> action) { g_beforeRename = std::move(action); }

std::string WrapDataSet(const std::string& stream) {
  std::string file(kMark, sizeof kMark);
  PutU32(&file, static_cast<std::uint32_t>(stream.size()));
  PutU32(&file, Crc32(stream));
  return file + stream;
}

HRESULT UnwrapDataSet(const std::string& file, std::string* stream) {
  if (file.empty()) return kDamagedDataSet;
  // A file whose start is the mark, or close to it, is the frame's; anything else is a stream as
  // older frames saved it, for the DTM to judge.
  std::size_t same = 0;
  for (std::size_t i = 0; i < sizeof kMark && i < file.size(); ++i) same += file[i] == kMark[i];
  const bool ours = file.size() < sizeof kMark ? same == file.size() : same + 2 >= sizeof kMark;
  if (!ours) {
    *stream = file;
    return S_FALSE;
  }
  if (file.size() < kHeader || same != sizeof kMark) return kDamagedDataSet;
  const std::uint32_t length = GetU32(file, sizeof kMark), crc = GetU32(file, sizeof kMark + 4);
  if (file.size() - kHeader != length) return kDamagedDataSet;
  std::string inner = file.substr(kHeader);
  if (Crc32(inner) != crc) return kDamagedDataSet;
  *stream = std::move(inner);
  return S_OK;
}

HRESULT SaveStreamFile(IPersistStreamInit* dtm, LPCSTR path) {
  if (!dtm || !path) return E_POINTER;
  std::string bytes;
  const HRESULT hr = SaveStreamBytes(dtm, TRUE, &bytes);
  if (FAILED(hr)) return hr;
  return ReplaceFile(path, WrapDataSet(bytes));
}

HRESULT LoadStreamFile(IPersistStreamInit* dtm, LPCSTR path) {
  if (!dtm || !path) return E_POINTER;
  std::string file, bytes;
  HRESULT hr = ReadWholeFile(path, &file);
  if (FAILED(hr)) return hr;
  hr = UnwrapDataSet(file, &bytes);
  if (FAILED(hr)) return hr;
  return LoadStreamBytes(dtm, bytes);
}

HRESULT LoadStreamBytes(IPersistStreamInit* dtm, const std::string& bytes) {
  if (!dtm) return E_POINTER;
  vkr::ComPtr<IStream> stream;
  HRESULT hr = vkr::CreateMemoryStream(bytes.data(), bytes.size(), stream.Put());
  if (FAILED(hr)) return hr;
  hr = dtm->Load(stream.Get());
  return hr == S_OK ? S_OK : FAILED(hr) ? hr : E_FAIL;
}

HRESULT StreamBytes(IPersistStreamInit* dtm, std::string* bytes) {
  if (!dtm || !bytes) return E_POINTER;
  return SaveStreamBytes(dtm, FALSE, bytes);
}

HRESULT FilePropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog*) {
  if (!name || !value) return E_POINTER;
  auto it = m_values.find(name);
  if (it == m_values.end()) return E_INVALIDARG;
  VariantClear(value);
  if (it->second.vt == VT_BSTR) {
    const std::u16string text = vkr::Utf8ToUtf16(it->second.bytes);
    value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!value->bstrVal) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    return S_OK;
  }
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(it->second.bytes.size()));
  if (!psa) return E_OUTOFMEMORY;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(psa, &data))) {
    SafeArrayDestroy(psa);
    return E_OUTOFMEMORY;
  }
  if (!it->second.bytes.empty()) std::memcpy(data, it->second.bytes.data(), it->second.bytes.size());
  SafeArrayUnaccessData(psa);
  value->vt = VT_ARRAY | VT_UI1;
  value->parray = psa;
  return S_OK;
}

HRESULT FilePropertyBag::Write(LPCOLESTR name, VARIANT* value) {
  if (!name || !value) return E_POINTER;
  if (!*name) return E_INVALIDARG;
  Value stored;
  if (value->vt == VT_BSTR) {
    stored.vt = VT_BSTR;
    stored.bytes = vkr::Utf16ToUtf8(vkr::View(value->bstrVal));
  } else if (value->vt == (VT_ARRAY | VT_UI1) && value->parray && SafeArrayGetDim(value->parray) == 1) {
    stored.vt = VT_ARRAY | VT_UI1;
    void* data = nullptr;
    HRESULT hr = SafeArrayAccessData(value->parray, &data);
    if (FAILED(hr)) return hr;
    stored.bytes.assign(static_cast<const char*>(data), value->parray->rgsabound[0].cElements);
    SafeArrayUnaccessData(value->parray);
  } else {
    return DISP_E_BADVARTYPE;
  }
  m_values[name] = std::move(stored);
  return S_OK;
}

HRESULT FilePropertyBag::SaveToFile(LPCSTR path) const {
  if (!path) return E_POINTER;
  std::string text;
  for (const auto& [name, value] : m_values)
    text += vkr::Utf16ToUtf8(name) + "\t" + std::to_string(value.vt) + "\t" + Hex(value.bytes) + "\n";
  return ReplaceFile(path, text);
}

HRESULT FilePropertyBag::LoadFromFile(LPCSTR path) {
  if (!path) return E_POINTER;
  std::string text;
  HRESULT hr = ReadWholeFile(path, &text);
  if (FAILED(hr)) return hr;
  std::map<std::u16string, Value> values;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) return E_FAIL;
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab2 == std::string::npos || tab1 == 0) return E_FAIL;
    const std::string type = line.substr(tab1 + 1, tab2 - tab1 - 1);
    Value value;
    if (type == "8")
      value.vt = VT_BSTR;
    else if (type == "8209")
      value.vt = VT_ARRAY | VT_UI1;
    else
      return E_FAIL;
    if (!FromHex(line.substr(tab2 + 1), &value.bytes)) return E_FAIL;
    values[vkr::Utf8ToUtf16(line.substr(0, tab1))] = std::move(value);
  }
  m_values = std::move(values);
  return S_OK;
}

}  // namespace vkr::frame
