// The table of file handles (CreateFile) and search handles (FindFirstFile). Private to the
// platform.
//
// Handles are 32-bit non-zero ids that are never reused, as the process-wide handle table of
// events and threads gives them; this table is kept apart only so that it can be folded into
// that one: the file calls reach it through these three functions and nothing else. Until then
// its ids start at 0x40000000, away from the other table's.
#pragma once

#include <memory>

#include "platform/win/types.h"

namespace vkr::platform {

enum class HandleKind { File, Find };

struct HandleObject {
  virtual ~HandleObject() = default;
  virtual HandleKind Kind() const = 0;
};

// A new id for the object; NULL when the ids are used up.
HANDLE InsertHandleObject(std::shared_ptr<HandleObject> object);
// The object, or null for an unknown or closed id. The object stays alive while the caller holds
// it, even if another thread closes the handle meanwhile.
std::shared_ptr<HandleObject> LookupHandleObject(HANDLE handle);
// Takes the object out of the table when it is of the given kind; null otherwise.
std::shared_ptr<HandleObject> RemoveHandleObject(HANDLE handle, HandleKind kind);

// CloseHandle's step for file handles: true when `handle` was an open file handle, now closed.
// Fails (false) without touching anything for any other value.
bool CloseFileHandle(HANDLE handle);

}  // namespace vkr::platform
