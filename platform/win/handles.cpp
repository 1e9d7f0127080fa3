// The process-wide handle table and CloseHandle.
#include "platform/win/handles.h"

#include <mutex>
#include <unordered_map>

#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/threads.h"

namespace vkr::platform {
namespace {

// Ids start well above zero so that a small number mistaken for a handle (a count, an index)
// is refused rather than matched.
constexpr std::uint32_t kFirstId = 0x100;
// The last id is never given: in 32 bits it is the invalid handle value.
constexpr std::uint32_t kLastId = 0xFFFFFFFE;
constexpr DWORD kErrorNoSystemResources = 1450;  // ERROR_NO_SYSTEM_RESOURCES

struct Table {
  std::mutex lock;
  std::uint32_t next = kFirstId;
  std::unordered_map<std::uint32_t, std::shared_ptr<HandleObject>> objects;
};

// Never destroyed: threads that end during process exit still close their handles.
Table& TheTable() {
  static Table* table = new Table;
  return *table;
}

// The id a HANDLE carries, or 0 for values that cannot be one (null, the invalid handle value,
// pointers beyond 32 bits).
std::uint32_t IdOf(HANDLE h) {
  auto v = reinterpret_cast<std::uintptr_t>(h);
  if (v == 0 || v > kLastId) return 0;
  return static_cast<std::uint32_t>(v);
}

}  // namespace

namespace detail {
void SetInvalidHandleError() { SetLastError(ERROR_INVALID_HANDLE); }
}  // namespace detail

HANDLE InsertHandleObject(std::shared_ptr<HandleObject> object) {
  if (!object) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Table& t = TheTable();
  std::lock_guard lk(t.lock);
  if (t.next > kLastId) {
    SetLastError(kErrorNoSystemResources);
    return nullptr;
  }
  std::uint32_t id = t.next++;
  t.objects.emplace(id, std::move(object));
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(id));
}

std::shared_ptr<HandleObject> LookupHandleObject(HANDLE handle) {
  std::uint32_t id = IdOf(handle);
  Table& t = TheTable();
  {
    std::lock_guard lk(t.lock);
    auto it = t.objects.find(id);
    if (it != t.objects.end()) return it->second;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

std::shared_ptr<HandleObject> RemoveHandleObject(HANDLE handle, HandleKind kind) {
  std::uint32_t id = IdOf(handle);
  Table& t = TheTable();
  std::shared_ptr<HandleObject> object;
  {
    std::lock_guard lk(t.lock);
    auto it = t.objects.find(id);
    if (it != t.objects.end() && it->second->Kind() == kind) {
      object = std::move(it->second);
      t.objects.erase(it);
    }
  }
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

std::size_t LiveHandleCount() {
  Table& t = TheTable();
  std::lock_guard lk(t.lock);
  return t.objects.size();
}

}  // namespace vkr::platform

BOOL CloseHandle(HANDLE h) {
  using namespace vkr::platform;
  auto object = LookupHandleObject(h);
  // A search, a window and a GDI object have their own closing calls.
  if (!object || object->Kind() == HandleKind::Find || object->Kind() == HandleKind::Window ||
      object->Kind() == HandleKind::Gdi) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // The object itself goes when its last user lets go: a thread keeps running, a wait in
  // progress keeps its event.
  return RemoveHandleObject(h, object->Kind()) ? TRUE : FALSE;
}
