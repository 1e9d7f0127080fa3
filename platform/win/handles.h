// The process-wide handle table: every HANDLE the platform gives out is a 32-bit id in it.
//
// Handles travel through 32-bit fields (VT_UI4 VARIANTs, job arguments), and the system signals
// events that another thread may already have closed. So an id is never reused: a closed or
// unknown id finds nothing, and a call with it fails with ERROR_INVALID_HANDLE without touching
// any other object. The table holds one reference to each object; whoever works on an object
// takes its own reference, so CloseHandle never pulls an object from under a running wait or a
// read in progress.
//
// A kind of handle is a class derived from HandleObject. Internal header: the system's code sees
// only HANDLE and the Windows calls.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/win/types.h"

namespace vkr::platform {

enum class HandleKind {
  Event,
  Thread,
  File,
  Find,  // a FindFirstFile search: closed by FindClose, refused by CloseHandle
  Window,  // a window: ended by DestroyWindow, refused by CloseHandle
  Gdi,     // a GDI object: closed by DeleteObject, DeleteDC, ReleaseDC or DestroyIcon
};

struct HandleObject {
  virtual ~HandleObject() = default;
  virtual HandleKind Kind() const = 0;
};

// A new id for the object; null (ERROR_NO_SYSTEM_RESOURCES) when the ids are used up, null
// (ERROR_INVALID_PARAMETER) for a null object.
HANDLE InsertHandleObject(std::shared_ptr<HandleObject> object);
// The object, or null (ERROR_INVALID_HANDLE) for an unknown or closed id. The object stays alive
// while the caller holds it, even if another thread closes the handle meanwhile.
std::shared_ptr<HandleObject> LookupHandleObject(HANDLE handle);
// Takes the object out of the table when it is of the given kind; null (ERROR_INVALID_HANDLE)
// otherwise, touching nothing.
std::shared_ptr<HandleObject> RemoveHandleObject(HANDLE handle, HandleKind kind);

// The object when it is of the given kind, as its class; null (ERROR_INVALID_HANDLE) otherwise.
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle, HandleKind kind);

// The number of live handles, for leak checks in tests.
std::size_t LiveHandleCount();

}  // namespace vkr::platform

// Implementation of the template.
namespace vkr::platform {
namespace detail {
void SetInvalidHandleError();
}
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle, HandleKind kind) {
  auto object = LookupHandleObject(handle);
  if (!object) return nullptr;
  if (object->Kind() != kind) {
    detail::SetInvalidHandleError();
    return nullptr;
  }
  return std::static_pointer_cast<T>(std::move(object));
}
}  // namespace vkr::platform
