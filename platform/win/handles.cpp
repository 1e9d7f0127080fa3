// The process-wide handle table and CloseHandle.
#include "platform/win/handles.h"

#include <mutex>
#include <unordered_map>

#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/threads.h"

namespace vkr::platform {
namespace {

// Ids start well above zero so that a small number mistaken for a handle (a thread id, a count)
// is refused rather than matched.
constexpr std::uint32_t kFirstId = 0x100;
constexpr DWORD kErrorNoSystemResources = 1450;  // ERROR_NO_SYSTEM_RESOURCES

struct Table {
  std::mutex lock;
  std::uint32_t next = kFirstId;
  std::unordered_map<std::uint32_t, std::shared_ptr<KernelObject>> objects;
};

// Never destroyed: threads that end during process exit still close their handles.
Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

// The id a HANDLE carries, or 0 for values that cannot be one (null, pseudo-handles, pointers).
std::uint32_t IdOf(HANDLE h) {
  auto v = reinterpret_cast<std::uintptr_t>(h);
  if (v == 0 || v > 0xFFFFFFFFu) return 0;
  return static_cast<std::uint32_t>(v);
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> obj) {
  if (!obj) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Table& t = TheTable();
  std::lock_guard lk(t.lock);
  // The last id stays unused: it is the bit pattern of the invalid file handle in 32 bits.
  if (t.next == 0xFFFFFFFFu) {
    SetLastError(kErrorNoSystemResources);
    return nullptr;
  }
  std::uint32_t id = t.next++;
  t.objects.emplace(id, std::move(obj));
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(id));
}

std::shared_ptr<KernelObject> ReferenceHandle(HANDLE h) {
  std::uint32_t id = IdOf(h);
  Table& t = TheTable();
  {
    std::lock_guard lk(t.lock);
    auto it = t.objects.find(id);
    if (it != t.objects.end()) return it->second;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

std::shared_ptr<KernelObject> ReferenceHandle(HANDLE h, HandleKind kind) {
  auto obj = ReferenceHandle(h);
  if (obj && obj->Kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return obj;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE h) {
  std::uint32_t id = IdOf(h);
  Table& t = TheTable();
  std::shared_ptr<KernelObject> obj;
  {
    std::lock_guard lk(t.lock);
    auto it = t.objects.find(id);
    if (it != t.objects.end()) {
      obj = std::move(it->second);
      t.objects.erase(it);
    }
  }
  if (!obj) SetLastError(ERROR_INVALID_HANDLE);
  return obj;
}

std::size_t LiveHandleCount() {
  Table& t = TheTable();
  std::lock_guard lk(t.lock);
  return t.objects.size();
}

// Files still live in the file stand-in's own table until they move into this one; while both
// exist, a handle this table does not know is offered to it.
[[gnu::weak]] BOOL CloseFileHandle(HANDLE h);

}  // namespace vkr::platform

BOOL CloseHandle(HANDLE h) {
  // The object itself goes when its last user lets go: a thread keeps running, a wait in
  // progress keeps its event.
  if (vkr::platform::RemoveHandle(h)) return TRUE;
  if (&vkr::platform::CloseFileHandle != nullptr) return vkr::platform::CloseFileHandle(h);
  return FALSE;
}
