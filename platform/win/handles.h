// The process-wide handle table: every HANDLE the platform gives out is a 32-bit id in it.
//
// Handles travel through 32-bit fields (VT_UI4 VARIANTs, job arguments), and the system signals
// events that another thread may already have closed. So an id is never reused: a closed or
// unknown id finds nothing, and a call with it fails with ERROR_INVALID_HANDLE without touching
// any other object. The table holds one reference to each object; whoever works on an object
// takes its own reference, so CloseHandle never pulls an object from under a running wait.
//
// A kind of handle (event, thread, file...) is a class derived from KernelObject. Internal
// header: the system's code sees only HANDLE and the Windows calls.
#pragma once

#include <memory>

#include "platform/win/types.h"

namespace vkr::platform {

enum class HandleKind {
  Event,
  Thread,
  File,
};

class KernelObject {
 public:
  explicit KernelObject(HandleKind kind) : m_kind(kind) {}
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  virtual ~KernelObject() = default;

  HandleKind Kind() const { return m_kind; }

 private:
  HandleKind m_kind;
};

// Enters obj under a new id. Null (ERROR_NO_SYSTEM_RESOURCES) when the 32-bit ids are used up,
// or for a null object (ERROR_INVALID_PARAMETER).
HANDLE InsertHandle(std::shared_ptr<KernelObject> obj);

// The object of a live handle, or null with ERROR_INVALID_HANDLE set for an unknown or closed
// id and for a handle of another kind.
std::shared_ptr<KernelObject> ReferenceHandle(HANDLE h);
std::shared_ptr<KernelObject> ReferenceHandle(HANDLE h, HandleKind kind);

template <class T>
std::shared_ptr<T> ReferenceHandleAs(HANDLE h, HandleKind kind) {
  return std::static_pointer_cast<T>(ReferenceHandle(h, kind));
}

// Takes the id out of the table and hands back its object (null with ERROR_INVALID_HANDLE when
// the id is not live). CloseHandle is this plus whatever the kind does on close.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE h);

// The number of live handles, for leak checks in tests.
std::size_t LiveHandleCount();

}  // namespace vkr::platform
