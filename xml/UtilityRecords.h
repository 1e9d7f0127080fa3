// Small records shared by the DTM, the communication client and the protocol code: an owning
// byte buffer, the connection records, and the helpers that dispose of owned objects.
#pragma once

#include <utility>
#include <vector>

#include "platform/platform.h"

// An owned heap block of n bytes (none for n = 0), freed with the buffer. Not copyable: the block
// has one owner.
class CByteBuffer {
 public:
  explicit CByteBuffer(std::size_t size) : m_pData(size ? new BYTE[size]() : nullptr) {}
  CByteBuffer(const CByteBuffer&) = delete;
  CByteBuffer& operator=(const CByteBuffer&) = delete;
  ~CByteBuffer() { delete[] m_pData; }

  BYTE* Get() const { return m_pData; }

 private:
  BYTE* m_pData;
};

// What the DTM keeps for one connection object: the object, its protocol id and its connection id.
struct ConnectionRecord {
  IUnknown* m_pConnection = nullptr;  // counted
  BSTR m_bsProtocolId = nullptr;      // owned
  BSTR m_bsConnectionId = nullptr;    // owned

  ConnectionRecord() = default;
  ConnectionRecord(const ConnectionRecord&) = delete;
  ConnectionRecord& operator=(const ConnectionRecord&) = delete;
  ~ConnectionRecord() {
    SysFreeString(m_bsConnectionId);
    SysFreeString(m_bsProtocolId);
    if (m_pConnection) m_pConnection->Release();
  }

  // A byte-exact copy of the connection id (null stays null). E_FAIL for a null out-pointer.
  HRESULT GetRecordText(BSTR* text) const {
    if (!text) return E_FAIL;
    *text = nullptr;
    if (!m_bsConnectionId) return S_OK;
    *text = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(m_bsConnectionId), SysStringByteLen(m_bsConnectionId));
    return *text ? S_OK : E_OUTOFMEMORY;
  }
};

// How the communication client registers one connection it created.
struct ConnectionEntry {
  IUnknown* m_pConnection = nullptr;  // counted
  BSTR m_bsProtocolId = nullptr;      // owned
  BSTR m_bsConnectionId = nullptr;    // owned, handed out by the connection when initialised
  bool m_bOnline = false;

  ConnectionEntry() = default;
  ConnectionEntry(const ConnectionEntry&) = delete;
  ConnectionEntry& operator=(const ConnectionEntry&) = delete;
  ConnectionEntry(ConnectionEntry&& o) noexcept
      : m_pConnection(std::exchange(o.m_pConnection, nullptr)),
        m_bsProtocolId(std::exchange(o.m_bsProtocolId, nullptr)),
        m_bsConnectionId(std::exchange(o.m_bsConnectionId, nullptr)),
        m_bOnline(o.m_bOnline) {}
  ~ConnectionEntry() {
    if (m_pConnection) m_pConnection->Release();
    SysFreeString(m_bsConnectionId);
    SysFreeString(m_bsProtocolId);
  }

  // Makes this entry a copy of o: one more reference to the connection, both texts duplicated.
  // E_OUTOFMEMORY leaves this entry unchanged.
  HRESULT CopyFrom(const ConnectionEntry& o) {
    if (this == &o) return S_OK;
    BSTR protocol = nullptr, connection = nullptr;
    if (o.m_bsProtocolId && !(protocol = SysAllocStringLen(o.m_bsProtocolId, SysStringLen(o.m_bsProtocolId))))
      return E_OUTOFMEMORY;
    if (o.m_bsConnectionId &&
        !(connection = SysAllocStringLen(o.m_bsConnectionId, SysStringLen(o.m_bsConnectionId)))) {
      SysFreeString(protocol);
      return E_OUTOFMEMORY;
    }
    if (o.m_pConnection) o.m_pConnection->AddRef();
    if (m_pConnection) m_pConnection->Release();
    SysFreeString(m_bsConnectionId);
    SysFreeString(m_bsProtocolId);
    m_pConnection = o.m_pConnection;
    m_bsProtocolId = protocol;
    m_bsConnectionId = connection;
    m_bOnline = o.m_bOnline;
    return S_OK;
  }
};

// Deletes the objects front to back (each through its virtual destructor), erasing each from the
// vector as it goes, then gives back the vector's storage.
template <class T>
void DeleteOwnedObjects(std::vector<T*>& objects) {
  while (!objects.empty()) {
    T* first = objects.front();
    objects.erase(objects.begin());
    delete first;
  }
  std::vector<T*>().swap(objects);
}

// The trace hook of the user-interface code: takes a text (and, from some callers, the format's
// arguments, header file and line) and does nothing.
template <class... Args>
int TraceNothing(Args&&...) {
  return 0;
}
