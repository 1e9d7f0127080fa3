// The Reg* calls over one registry file, shared safely by threads and processes.
//
// Reads work on the tree loaded from the file, reloaded when the file was replaced since. Every
// change takes the process's store mutex and the file lock, reads the file afresh, applies the
// change to that tree and writes it out, so what another process wrote in between is kept.
#include "platform/win/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_map>

#include "platform/win/native.h"
#include "platform/win/registry_store.h"
#include "platform/win/text.h"

namespace vkr::platform {
namespace {

struct FileIdentity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};

  static FileIdentity Of(const struct stat& st) {
    FileIdentity id;
    id.exists = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtime = st.st_mtim;
    id.ctime = st.st_ctim;
    return id;
  }
  bool operator==(const FileIdentity& o) const {
    if (exists != o.exists) return false;
    if (!exists) return true;
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

std::string DefaultRegistryFile() {
  if (const char* env = std::getenv("VKR_REGISTRY"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return std::string(xdg) + "/vkr/registry.reg";
  std::string home;
  if (const char* h = std::getenv("HOME"); h && *h) {
    home = h;
  } else {
    struct passwd pw;
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir) home = found->pw_dir;
  }
  return home.empty() ? std::string() : home + "/.config/vkr/registry.reg";
}

// Registry write failures in Win32 terms: permissions look like a locked-down HKLM.
LONG WriteError(int error) {
  const DWORD e = ErrorFromErrno(error);
  if (e == ERROR_ACCESS_DENIED || e == ERROR_WRITE_PROTECT) return ERROR_ACCESS_DENIED;
  if (e == ERROR_DISK_FULL) return ERROR_DISK_FULL;
  return ERROR_REGISTRY_IO_FAILED;
}

LONG ReadError(int error) {
  return ErrorFromErrno(error) == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED : ERROR_CANTREAD;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

class Store {
 public:
  using ReadFn = std::function<LONG(const RegTree&)>;
  // Applies a change; sets *changed when the tree must be written. Must leave the tree
  // untouched when it fails.
  using ChangeFn = std::function<LONG(RegTree&, bool* changed)>;

  LONG Read(const ReadFn& fn) {
    std::lock_guard lock(mutex_);
    if (batchDepth_) return fn(batchTree_);
    if (LONG r = RefreshLocked()) return r;
    return fn(tree_);
  }

  LONG Change(const ChangeFn& fn) {
    std::lock_guard lock(mutex_);
    if (batchDepth_) {
      bool changed = false;
      const LONG result = fn(batchTree_, &changed);
      batchChanged_ = batchChanged_ || changed;
      return result;
    }
    const std::string path = PathLocked();
    int lockFd = -1;
    if (LONG r = LockFileLocked(path, &lockFd)) return r;
    LONG result = ChangeLocked(path, fn);
    ::close(lockFd);  // releases the lock
    return result;
  }

  // A batch: the file lock is held and the file read once; every change until the outermost
  // commit goes to that tree, and the commit writes it once.
  LONG BeginBatch() {
    std::lock_guard lock(mutex_);
    if (batchDepth_) {
      ++batchDepth_;
      return ERROR_SUCCESS;
    }
    const std::string path = PathLocked();
    int lockFd = -1;
    if (LONG r = LockFileLocked(path, &lockFd)) return r;
    RegTree fresh;
    FileIdentity id;
    if (LONG r = LoadLocked(path, &fresh, &id)) {
      ::close(lockFd);
      return r;
    }
    batchTree_ = std::move(fresh);
    batchIdentity_ = id;
    batchPath_ = path;
    batchLockFd_ = lockFd;
    batchChanged_ = false;
    batchDepth_ = 1;
    return ERROR_SUCCESS;
  }

  LONG CommitBatch() {
    std::lock_guard lock(mutex_);
    if (!batchDepth_) return ERROR_INVALID_FUNCTION;
    if (--batchDepth_) return ERROR_SUCCESS;
    LONG result = ERROR_SUCCESS;
    if (batchChanged_) {
      result = StoreLocked(batchPath_, std::move(batchTree_));
    } else {
      tree_ = std::move(batchTree_);
      identity_ = batchIdentity_;
      loaded_ = true;
    }
    batchTree_ = RegTree();
    ::close(batchLockFd_);
    batchLockFd_ = -1;
    return result;
  }

  unsigned long Writes() {
    std::lock_guard lock(mutex_);
    return writes_;
  }

  void UseFile(std::string path) {
    std::lock_guard lock(mutex_);
    override_ = std::move(path);
    PathLocked();
  }

  std::string File() {
    std::lock_guard lock(mutex_);
    return PathLocked();
  }

  std::string Problem() {
    std::lock_guard lock(mutex_);
    if (!batchDepth_) RefreshLocked();
    return problem_.empty() ? ioProblem_ : problem_;
  }

  void SetWriteFault(unsigned countdown, int error, bool sticky) {
    std::lock_guard lock(mutex_);
    faultCountdown_ = countdown;
    faultError_ = error;
    faultSticky_ = sticky;
  }

  void SetCrashBeforeRename(int exitCode) {
    std::lock_guard lock(mutex_);
    crashExitCode_ = exitCode;
  }

 private:
  // Records why the file could not be used (what was done, on which file, the system's reason)
  // and gives the registry's error for it.
  LONG IoFailed(const std::string& file, const char* action, int error, bool writing) {
    ioProblem_ = file + ": " + action + ": " + std::strerror(error);
    return writing ? WriteError(error) : ReadError(error);
  }

  // Takes the exclusive lock of the file (its "<file>.lock"), creating the directory when needed.
  LONG LockFileLocked(const std::string& path, int* lockFd) {
    *lockFd = -1;
    if (path.empty()) {
      ioProblem_ = "no registry file: set VKR_REGISTRY or HOME";
      return ERROR_CANTOPEN;
    }
    const std::string dir = DirectoryPart(path);
    if (int e = MakeDirectories(dir)) return IoFailed(dir, "cannot create the directory", e, true);
    const std::string lockFile = path + ".lock";
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return IoFailed(lockFile, "cannot open the lock file", errno, true);
    while (::flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        const int e = errno;
        ::close(fd);
        return IoFailed(lockFile, "cannot lock", e, true);
      }
    }
    *lockFd = fd;
    return ERROR_SUCCESS;
  }

  // Writes the tree and makes it the cache.
  LONG StoreLocked(const std::string& path, RegTree tree) {
    if (LONG r = WriteLocked(path, WriteRegistryText(tree))) {
      loaded_ = false;  // the cache may be older than the file: read it again next time
      return r;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
      identity_ = FileIdentity::Of(st);
      tree_ = std::move(tree);
      loaded_ = true;
    } else {
      loaded_ = false;
    }
    return ERROR_SUCCESS;
  }

  // The file to use now; a different file than the cache was loaded from drops the cache.
  std::string PathLocked() {
    std::string path = override_.empty() ? DefaultRegistryFile() : override_;
    if (path != path_) {
      path_ = path;
      loaded_ = false;
      problem_.clear();
      tree_ = RegTree();
    }
    return path_;
  }

  LONG RefreshLocked() {
    const std::string path = PathLocked();
    if (path.empty()) {
      ioProblem_ = "no registry file: set VKR_REGISTRY or HOME";
      return ERROR_CANTOPEN;
    }
    FileIdentity now;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
      now = FileIdentity::Of(st);
    } else if (errno != ENOENT) {
      return IoFailed(path, "cannot look at the file", errno, false);
    }
    if (loaded_ && now == identity_) return ERROR_SUCCESS;
    if (!loaded_ && !problem_.empty() && now == identity_) return ERROR_BADDB;
    RegTree fresh;
    FileIdentity id;
    if (LONG r = LoadLocked(path, &fresh, &id)) return r;
    tree_ = std::move(fresh);
    identity_ = id;
    loaded_ = true;
    return ERROR_SUCCESS;
  }

  // Reads and parses the file. A file that does not parse is reported once and gives ERROR_BADDB.
  LONG LoadLocked(const std::string& path, RegTree* tree, FileIdentity* id) {
    *id = FileIdentity();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (errno != ENOENT) return IoFailed(path, "cannot open", errno, false);
      *tree = RegTree();
      problem_.clear();
      ioProblem_.clear();
      return ERROR_SUCCESS;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      const int e = errno;
      ::close(fd);
      return IoFailed(path, "cannot look at the file", e, false);
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      ioProblem_ = path + (S_ISDIR(st.st_mode) ? ": is a directory, not a registry file" : ": is not a regular file");
      return ERROR_CANTREAD;
    }
    *id = FileIdentity::Of(st);
    std::string text;
    RegistryParseError error;
    bool tooLarge = false;
    char buf[65536];
    while (true) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int e = errno;
        ::close(fd);
        return IoFailed(path, "cannot read", e, false);
      }
      if (n == 0) break;
      text.append(buf, static_cast<std::size_t>(n));
      if (text.size() > kMaxRegistryFileSize) {
        tooLarge = true;
        break;
      }
    }
    ::close(fd);
    if (tooLarge) {
      error.reason = "the file is larger than 64 MiB";
    } else if (ParseRegistryText(text, tree, &error)) {
      problem_.clear();
      ioProblem_.clear();
      return ERROR_SUCCESS;
    }
    ReportLocked(path, error, *id);
    return ERROR_BADDB;
  }

  void ReportLocked(const std::string& path, const RegistryParseError& error, const FileIdentity& id) {
    std::string text = path;
    if (error.line) text += ":" + std::to_string(error.line);
    text += ": " + error.reason;
    const bool again = !problem_.empty() && problem_ == text && id == identity_;
    problem_ = text;
    loaded_ = false;
    identity_ = id;
    tree_ = RegTree();
    if (!again)
      std::fprintf(stderr, "vkr: registry file %s (the registry is unusable until the file is fixed; it is left unchanged)\n",
                   text.c_str());
  }

  LONG ChangeLocked(const std::string& path, const ChangeFn& fn) {
    RegTree fresh;
    FileIdentity id;
    if (LONG r = LoadLocked(path, &fresh, &id)) return r;
    bool changed = false;
    const LONG result = fn(fresh, &changed);
    if (result != ERROR_SUCCESS || !changed) {
      tree_ = std::move(fresh);
      identity_ = id;
      loaded_ = true;
      return result;
    }
    return StoreLocked(path, std::move(fresh));
  }

  // A writer that died between writing and renaming left its temporary file; under the lock no
  // other writer is active, so every one of them is stale.
  static void RemoveLeftovers(const std::string& dir, const std::string& prefix) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
      if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
  }

  bool FaultFires() {
    if (faultCountdown_ == 0) return false;
    if (--faultCountdown_ > 0) return false;
    if (faultSticky_) faultCountdown_ = 1;
    return true;
  }

  LONG WriteLocked(const std::string& path, const std::string& text) {
    const std::string dir = DirectoryPart(path);
    const std::string prefix = NamePart(path) + ".tmp.";
    RemoveLeftovers(dir, prefix);
    if (FaultFires()) return IoFailed(path, "cannot write", faultError_, true);
    std::string temp = dir + "/" + prefix + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return IoFailed(temp, "cannot create the new file", errno, true);
    int error = 0;
    if (!WriteAll(fd, text) || ::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && !error) error = errno;
    if (!error && crashExitCode_ >= 0) ::_exit(crashExitCode_);
    const char* action = "cannot write the new file";
    std::string failed = temp;
    if (!error && ::rename(temp.c_str(), path.c_str()) != 0) {
      error = errno;
      action = "cannot replace the file";
      failed = path;
    }
    if (error) {
      ::unlink(temp.c_str());
      return IoFailed(failed, action, error, true);
    }
    ++writes_;
    ioProblem_.clear();
    // Make the rename itself durable; a folder that cannot be written through is told (the new
    // file is in place all the same).
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return IoFailed(dir, "cannot open the folder to write it through to the disk", errno, true);
    const int synced = ::fsync(dirFd) == 0 ? 0 : errno;
    ::close(dirFd);
    if (synced) return IoFailed(dir, "cannot write the folder through to the disk", synced, true);
    return ERROR_SUCCESS;
  }

  std::mutex mutex_;
  std::string override_;
  std::string path_;
  bool loaded_ = false;
  FileIdentity identity_;
  RegTree tree_;
  std::string problem_;    // why the file does not parse
  std::string ioProblem_;  // why the file could not be read or written the last time
  unsigned long writes_ = 0;
  // The open batch: its depth, the file lock it holds, and the tree its changes go to.
  int batchDepth_ = 0;
  int batchLockFd_ = -1;
  std::string batchPath_;
  RegTree batchTree_;
  FileIdentity batchIdentity_;
  bool batchChanged_ = false;
  unsigned faultCountdown_ = 0;
  int faultError_ = 0;
  bool faultSticky_ = false;
  int crashExitCode_ = -1;
};

// Never destroyed: handles may be closed by other objects' static destructors.
Store& TheStore() {
  static Store* store = new Store;
  return *store;
}

// What a handle stands for: a key by its path.
struct KeyRef {
  Hive hive = Hive::Machine;
  std::vector<std::u16string> names;
  REGSAM access = 0;
  // A predefined key, or a handle opened on one with no subkey: it always exists (HKCR reads as
  // empty until SOFTWARE\Classes is created) and cannot be deleted.
  bool predefined = false;
};

class HandleTable {
 public:
  LONG Add(KeyRef ref, HKEY* out) {
    std::lock_guard lock(mutex_);
    if (next_ >= 0x7FFFFFF0u) return ERROR_OUTOFMEMORY;  // ids are never reused
    const std::uintptr_t id = next_;
    next_ += 4;
    handles_.emplace(id, std::move(ref));
    *out = reinterpret_cast<HKEY>(id);
    return ERROR_SUCCESS;
  }
  bool Find(HKEY h, KeyRef* out) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == handles_.end()) return false;
    *out = it->second;
    return true;
  }
  bool Remove(HKEY h) {
    std::lock_guard lock(mutex_);
    return handles_.erase(reinterpret_cast<std::uintptr_t>(h)) == 1;
  }

 private:
  std::mutex mutex_;
  std::uintptr_t next_ = 0x100;
  std::unordered_map<std::uintptr_t, KeyRef> handles_;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

REGSAM NormalizeAccess(REGSAM desired) {
  REGSAM a = desired & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
  if (a & (GENERIC_ALL | MAXIMUM_ALLOWED)) a |= KEY_ALL_ACCESS;
  if (a & GENERIC_READ) a |= KEY_READ;
  if (a & GENERIC_WRITE) a |= KEY_WRITE;
  if (a & GENERIC_EXECUTE) a |= KEY_EXECUTE;
  return a;
}

LONG Resolve(HKEY h, KeyRef* ref) {
  *ref = KeyRef();
  if (h == HKEY_LOCAL_MACHINE || h == HKEY_CURRENT_USER || h == HKEY_CLASSES_ROOT) {
    ref->hive = h == HKEY_CURRENT_USER ? Hive::User : Hive::Machine;
    if (h == HKEY_CLASSES_ROOT) ref->names = {u"SOFTWARE", u"Classes"};
    ref->access = KEY_ALL_ACCESS;
    ref->predefined = true;
    return ERROR_SUCCESS;
  }
  return Handles().Find(h, ref) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Splits a subkey text. Structural faults are ERROR_BAD_PATHNAME; names that cannot exist are
// ERROR_FILE_NOT_FOUND when opening and ERROR_INVALID_PARAMETER when creating.
LONG SplitSubKey(std::u16string_view sub, bool creating, const KeyRef& base, std::vector<std::u16string>* names) {
  names->clear();
  if (!sub.empty() && sub.front() == u'\\') return ERROR_BAD_PATHNAME;
  if (sub.find(u"\\\\") != std::u16string_view::npos) return ERROR_BAD_PATHNAME;
  if (!SplitKeyPath(sub, names)) return creating ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
  if (base.names.size() + names->size() > kMaxKeyDepth) return creating ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
  return ERROR_SUCCESS;
}

const RegKey& EmptyKey() {
  static const RegKey* empty = new RegKey;
  return *empty;
}

RegKey* Walk(RegKey* key, const std::vector<std::u16string>& names, std::size_t count) {
  for (std::size_t i = 0; key && i < count; ++i) key = key->FindSubkey(names[i]);
  return key;
}

// The key a handle stands for: a predefined key whose path is missing (HKCR without
// SOFTWARE\Classes) reads as empty; an opened key that is gone was deleted.
LONG FindKey(RegTree& tree, const KeyRef& ref, RegKey** key) {
  *key = Walk(&tree.Root(ref.hive), ref.names, ref.names.size());
  if (*key) return ERROR_SUCCESS;
  return ref.predefined ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
}

LONG FindKeyForRead(const RegTree& tree, const KeyRef& ref, const RegKey** key) {
  RegKey* k = nullptr;
  LONG r = FindKey(const_cast<RegTree&>(tree), ref, &k);
  if (r == ERROR_FILE_NOT_FOUND) {
    *key = &EmptyKey();
    return ERROR_SUCCESS;
  }
  *key = k;
  return r;
}

// The key for a change; a predefined key's missing path is created.
RegKey* KeyForChange(RegTree& tree, const KeyRef& ref, bool* created) {
  RegKey* key = &tree.Root(ref.hive);
  *created = false;
  for (const std::u16string& n : ref.names) {
    RegKey* next = key->FindSubkey(n);
    if (!next) {
      if (!ref.predefined) return nullptr;
      next = key->AddSubkey(n);
      *created = true;
    }
    key = next;
  }
  return key;
}

std::vector<BYTE> Bytes(const BYTE* data, DWORD size) {
  return data ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>();
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// String data between the stored UTF-16 and the UTF-8 of the "A" calls.
std::vector<BYTE> ToAnsiData(const RegValue& v) {
  if (!IsStringType(v.type)) return v.data;
  std::u16string units(v.data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(v.data[2 * i] | (v.data[2 * i + 1] << 8));
  const std::string utf8 = vkr::Utf16ToUtf8(units);
  return std::vector<BYTE>(utf8.begin(), utf8.end());
}

std::vector<BYTE> FromAnsiData(DWORD type, const BYTE* data, DWORD size) {
  if (!IsStringType(type) || !data) return Bytes(data, size);
  const std::u16string units = vkr::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<BYTE> out;
  out.reserve(units.size() * 2);
  for (char16_t c : units) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  return out;
}

// Copies data under the buffer rules of RegQueryValueEx and RegEnumValue.
LONG GiveData(const std::vector<BYTE>& bytes, DWORD type, LPDWORD typeOut, LPBYTE data, LPDWORD cbData) {
  if (typeOut) *typeOut = type;
  if (!cbData) return ERROR_SUCCESS;
  const DWORD size = static_cast<DWORD>(bytes.size());
  if (data) {
    if (*cbData < size) {
      *cbData = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, bytes.data(), size);
  }
  *cbData = size;
  return ERROR_SUCCESS;
}

// Copies a name under the RegEnum rules: *cch holds the buffer size including the zero.
template <class Ch>
LONG GiveName(const std::basic_string<Ch>& name, Ch* buffer, LPDWORD cch) {
  if (!buffer || !cch) return ERROR_INVALID_PARAMETER;
  if (name.size() + 1 > *cch) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.data(), name.size() * sizeof(Ch));
  buffer[name.size()] = 0;
  *cch = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

std::u16string Wide(LPCSTR s) { return s ? vkr::Utf8ToUtf16(s) : std::u16string(); }

// ----- The operations, on UTF-16 names.

LONG OpenKey(HKEY h, std::u16string_view sub, REGSAM desired, PHKEY out) {
  if (!out) return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  KeyRef ref;
  if (LONG r = Resolve(h, &ref)) return r;
  std::vector<std::u16string> names;
  if (LONG r = SplitSubKey(sub, false, ref, &names)) return r;
  LONG r = TheStore().Read([&](const RegTree& tree) {
    const RegKey* base;
    if (LONG e = FindKeyForRead(tree, ref, &base)) return e;
    const RegKey* key = Walk(const_cast<RegKey*>(base), names, names.size());
    return key ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
  if (r) return r;
  KeyRef opened{ref.hive, ref.names, NormalizeAccess(desired), ref.predefined && names.empty()};
  opened.names.insert(opened.names.end(), names.begin(), names.end());
  return Handles().Add(std::move(opened), out);
}

LONG CreateKey(HKEY h, std::u16string_view sub, DWORD options, REGSAM desired, PHKEY out, LPDWORD disposition) {
  if (!out) return ERROR_INVALID_PARAMETER;
  *out = nullptr;
  if (options & REG_OPTION_VOLATILE) return ERROR_CALL_NOT_IMPLEMENTED;
  KeyRef ref;
  if (LONG r = Resolve(h, &ref)) return r;
  std::vector<std::u16string> names;
  if (LONG r = SplitSubKey(sub, true, ref, &names)) return r;
  // Most calls find the key already there: answer those without taking the file lock.
  bool exists = false;
  LONG r = TheStore().Read([&](const RegTree& tree) {
    RegKey* base = Walk(const_cast<RegKey*>(&tree.Root(ref.hive)), ref.names, ref.names.size());
    exists = base && Walk(base, names, names.size());
    return ERROR_SUCCESS;
  });
  if (r) return r;
  bool createdAny = false;
  if (!exists) {
    r = TheStore().Change([&](RegTree& tree, bool* changed) {
      bool createdBase = false;
      RegKey* key = KeyForChange(tree, ref, &createdBase);
      if (!key) return ERROR_KEY_DELETED;
      std::size_t have = 0;
      for (RegKey* k = key; have < names.size() && (k = k->FindSubkey(names[have])) != nullptr; ++have) {
      }
      if ((have < names.size() || createdBase) && !(ref.access & KEY_CREATE_SUB_KEY))
        return ERROR_ACCESS_DENIED;
      for (const std::u16string& n : names) {
        bool created = false;
        key = key->AddSubkey(n, &created);
        createdAny = createdAny || created;
      }
      *changed = createdAny || createdBase;
      return ERROR_SUCCESS;
    });
    if (r) return r;
  }
  KeyRef opened{ref.hive, ref.names, NormalizeAccess(desired), ref.predefined && names.empty()};
  opened.names.insert(opened.names.end(), names.begin(), names.end());
  if (LONG e = Handles().Add(std::move(opened), out)) return e;
  if (disposition) *disposition = createdAny ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

// Reads a value; `convert` turns the stored data into what the caller gets.
template <class Convert>
LONG QueryValue(HKEY h, std::u16string_view name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData,
                Convert convert) {
  if (reserved || (data && !cbData)) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG r = Resolve(h, &ref)) return r;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  return TheStore().Read([&](const RegTree& tree) {
    const RegKey* key;
    if (LONG e = FindKeyForRead(tree, ref, &key)) return e;
    const RegValue* v = const_cast<RegKey*>(key)->FindValue(name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    return GiveData(convert(*v), v->type, type, data, cbData);
  });
}

LONG SetValue(HKEY h, std::u16string_view name, DWORD type, std::vector<BYTE> bytes, bool dataMissing) {
  if (dataMissing) return ERROR_INVALID_PARAMETER;
  if (!IsValidValueName(name)) return ERROR_INVALID_PARAMETER;
  if (bytes.size() > kMaxValueDataSize) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG r = Resolve(h, &ref)) return r;
  if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return TheStore().Change([&](RegTree& tree, bool* changed) {
    bool created = false;
    RegKey* key = KeyForChange(tree, ref, &created);
    if (!key) return ERROR_KEY_DELETED;
    RegValue* v = key->FindValue(name);
    if (v) {
      *changed = created || v->type != type || v->data != bytes;
      v->type = type;
      v->data = std::move(bytes);
    } else {
      key->values.push_back(RegValue{std::u16string(name), type, std::move(bytes)});
      *changed = true;
    }
    return ERROR_SUCCESS;
  });
}

LONG DeleteValue(HKEY h, std::u16string_view name) {
  KeyRef ref;
  if (LONG r = Resolve(h, &ref)) return r;
  if (!(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return TheStore().Change([&](RegTree& tree, bool* changed) {
    RegKey* key;
    if (LONG e = FindKey(tree, ref, &key)) return e;
    for (auto it = key->values.begin(); it != key->values.end(); ++it) {
      if (EqualNoCase(it->name, name)) {
        key->values.erase(it);
        *changed = true;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

// Deletes the key `sub` below h's key (h's own key when sub is empty); with `tree` set also
// everything below it, otherwise only a key without subkeys.
LONG DeleteKey(HKEY h, std::u16string_view sub, bool wholeTree) {
  KeyRef ref;
  if (LONG r = Resolve(h, &ref)) return r;
  std::vector<std::u16string> names;
  if (LONG r = SplitSubKey(sub, false, ref, &names)) return r;
  std::vector<std::u16string> path = ref.names;
  path.insert(path.end(), names.begin(), names.end());
  if (path.empty() || (ref.predefined && names.empty())) return ERROR_ACCESS_DENIED;
  return TheStore().Change([&](RegTree& tree, bool* changed) {
    RegKey* base;
    if (LONG e = FindKey(tree, ref, &base)) return e;
    RegKey* parent = Walk(&tree.Root(ref.hive), path, path.size() - 1);
    RegKey* target = parent ? parent->FindSubkey(path.back()) : nullptr;
    if (!target) return names.empty() ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    if (!wholeTree && !target->subkeys.empty()) return ERROR_ACCESS_DENIED;
    parent->subkeys.erase(parent->subkeys.find(path.back()));
    *changed = true;
    return ERROR_SUCCESS;
  });
}

LONG EmptyKeyOf(HKEY h) {
  KeyRef ref;
  if (LONG r = Resolve(h, &ref)) return r;
  if (ref.predefined || !(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return TheStore().Change([&](RegTree& tree, bool* changed) {
    RegKey* key;
    if (LONG e = FindKey(tree, ref, &key)) return e;
    *changed = !key->values.empty() || !key->subkeys.empty();
    key->values.clear();
    key->subkeys.clear();
    return ERROR_SUCCESS;
  });
}

template <class Ch, class Convert>
LONG EnumKey(HKEY h, DWORD index, Ch* name, LPDWORD cchName, LPDWORD reserved, Ch* keyClass, LPDWORD cchClass,
             FILETIME* lastWrite, Convert convert) {
  if (reserved || !name || !cchName) return ERROR_INVALID_PARAMETER;
  if (keyClass && !cchClass) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG r = Resolve(h, &ref)) return r;
  if (!(ref.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  return TheStore().Read([&](const RegTree& tree) {
    const RegKey* key;
    if (LONG e = FindKeyForRead(tree, ref, &key)) return e;
    if (index >= key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = key->subkeys.begin();
    std::advance(it, index);
    if (LONG e = GiveName(convert(it->first), name, cchName)) return e;
    if (keyClass) {
      if (*cchClass < 1) return ERROR_MORE_DATA;
      keyClass[0] = 0;
      *cchClass = 0;
    }
    if (lastWrite) *lastWrite = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

template <class Ch, class ConvertName, class ConvertData>
LONG EnumValue(HKEY h, DWORD index, Ch* name, LPDWORD cchName, LPDWORD reserved, LPDWORD type, LPBYTE data,
               LPDWORD cbData, ConvertName convertName, ConvertData convertData) {
  if (reserved || !name || !cchName || (data && !cbData)) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  if (LONG r = Resolve(h, &ref)) return r;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  return TheStore().Read([&](const RegTree& tree) {
    const RegKey* key;
    if (LONG e = FindKeyForRead(tree, ref, &key)) return e;
    if (index >= key->values.size()) return ERROR_NO_MORE_ITEMS;
    const RegValue& v = key->values[index];
    if (LONG e = GiveName(convertName(v.name), name, cchName)) return e;
    return GiveData(convertData(v), v.type, type, data, cbData);
  });
}

const auto kSameName = [](const std::u16string& s) -> const std::u16string& { return s; };
const auto kAnsiName = [](const std::u16string& s) { return vkr::Utf16ToUtf8(s); };
const auto kSameData = [](const RegValue& v) -> const std::vector<BYTE>& { return v.data; };

}  // namespace

void UseRegistryFile(std::string path) { TheStore().UseFile(std::move(path)); }
std::string RegistryFile() { return TheStore().File(); }
std::string RegistryProblem() { return TheStore().Problem(); }
void SetRegistryWriteFault(unsigned countdown, int error, bool sticky) {
  TheStore().SetWriteFault(countdown, error, sticky);
}
void SetRegistryCrashBeforeRename(int exitCode) { TheStore().SetCrashBeforeRename(exitCode); }
LONG BeginRegistryBatch() { return TheStore().BeginBatch(); }
LONG CommitRegistryBatch() { return TheStore().CommitBatch(); }
unsigned long RegistryWriteCount() { return TheStore().Writes(); }

}  // namespace vkr::platform

using namespace vkr::platform;

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR subKey, DWORD, REGSAM desired, PHKEY phkResult) {
  return OpenKey(hKey, Wide(subKey), desired, phkResult);
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR subKey, DWORD, REGSAM desired, PHKEY phkResult) {
  return OpenKey(hKey, vkr::View(subKey), desired, phkResult);
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM desired,
                        const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD disposition) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return CreateKey(hKey, Wide(subKey), options, desired, phkResult, disposition);
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR subKey, DWORD, LPWSTR, DWORD options, REGSAM desired,
                        const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD disposition) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return CreateKey(hKey, subKey, options, desired, phkResult, disposition);
}

LSTATUS RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER || hKey == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
  return Handles().Remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData) {
  return QueryValue(hKey, Wide(valueName), reserved, type, data, cbData, ToAnsiData);
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData) {
  return QueryValue(hKey, vkr::View(valueName), reserved, type, data, cbData, kSameData);
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
  return SetValue(hKey, Wide(valueName), type, FromAnsiData(type, data, cbData), !data && cbData);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
  return SetValue(hKey, vkr::View(valueName), type, Bytes(data, cbData), !data && cbData);
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR valueName) { return DeleteValue(hKey, Wide(valueName)); }
LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR valueName) { return DeleteValue(hKey, vkr::View(valueName)); }

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return DeleteKey(hKey, Wide(subKey), false);
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return DeleteKey(hKey, subKey, false);
}

LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR subKey) {
  if (!subKey || !*subKey) return EmptyKeyOf(hKey);
  return DeleteKey(hKey, Wide(subKey), true);
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR subKey) {
  if (!subKey || !*subKey) return EmptyKeyOf(hKey);
  return DeleteKey(hKey, subKey, true);
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD index, LPSTR name, LPDWORD cchName, LPDWORD reserved, LPSTR keyClass,
                      LPDWORD cchClass, FILETIME* lastWriteTime) {
  return EnumKey(hKey, index, name, cchName, reserved, keyClass, cchClass, lastWriteTime, kAnsiName);
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD cchName, LPDWORD reserved, LPWSTR keyClass,
                      LPDWORD cchClass, FILETIME* lastWriteTime) {
  return EnumKey(hKey, index, name, cchName, reserved, keyClass, cchClass, lastWriteTime, kSameName);
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD index, LPSTR valueName, LPDWORD cchValueName, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD cbData) {
  return EnumValue(hKey, index, valueName, cchValueName, reserved, type, data, cbData, kAnsiName, ToAnsiData);
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD index, LPWSTR valueName, LPDWORD cchValueName, LPDWORD reserved, LPDWORD type,
                      LPBYTE data, LPDWORD cbData) {
  return EnumValue(hKey, index, valueName, cchValueName, reserved, type, data, cbData, kSameName, kSameData);
}
