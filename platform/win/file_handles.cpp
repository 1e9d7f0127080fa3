// The file and search handle table.
#include "platform/win/file_handles.h"

#include <mutex>
#include <unordered_map>

namespace vkr::platform {

namespace {
struct Table {
  std::mutex mutex;
  std::uint32_t next = 0x40000000;
  std::unordered_map<std::uint32_t, std::shared_ptr<HandleObject>> objects;
};

Table& TheTable() {
  static Table* table = new Table;  // never destroyed: handles may be closed during exit
  return *table;
}

bool IdOf(HANDLE h, std::uint32_t* id) {
  const auto v = reinterpret_cast<std::uintptr_t>(h);
  if (v == 0 || v > 0xFFFFFFFEu) return false;
  *id = static_cast<std::uint32_t>(v);
  return true;
}
}  // namespace

HANDLE InsertHandleObject(std::shared_ptr<HandleObject> object) {
  Table& t = TheTable();
  std::lock_guard lock(t.mutex);
  if (t.next == 0xFFFFFFFEu) return nullptr;
  const std::uint32_t id = t.next++;
  t.objects.emplace(id, std::move(object));
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(id));
}

std::shared_ptr<HandleObject> LookupHandleObject(HANDLE handle) {
  std::uint32_t id;
  if (!IdOf(handle, &id)) return nullptr;
  Table& t = TheTable();
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(id);
  return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<HandleObject> RemoveHandleObject(HANDLE handle, HandleKind kind) {
  std::uint32_t id;
  if (!IdOf(handle, &id)) return nullptr;
  Table& t = TheTable();
  std::shared_ptr<HandleObject> object;
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(id);
  if (it == t.objects.end() || it->second->Kind() != kind) return nullptr;
  object = std::move(it->second);
  t.objects.erase(it);
  return object;
}

}  // namespace vkr::platform
