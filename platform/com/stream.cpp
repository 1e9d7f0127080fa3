// The memory stream: a growable byte buffer with a seek position; clones share the buffer.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/com/memory.h"
#include "platform/com/object.h"

namespace {

// The bytes, shared by a stream and its clones. Growth goes through the platform's allocation
// front so that fault sweeps reach stream writes.
struct Buffer {
  std::mutex lock;
  char* data = nullptr;
  std::size_t size = 0;
  std::size_t capacity = 0;
  ~Buffer() { vkr::platform::Free(data); }

  bool Reserve(std::size_t need) {
    if (need <= capacity) return true;
    std::size_t cap = std::max<std::size_t>(need, capacity ? capacity * 2 : 256);
    void* p = vkr::platform::Reallocate(data, cap);
    if (!p) return false;
    data = static_cast<char*>(p);
    capacity = cap;
    return true;
  }
  bool Resize(std::size_t n) {
    if (!Reserve(n)) return false;
    if (n > size) std::memset(data + size, 0, n - size);
    size = n;
    return true;
  }
};

// Streams hold at most 4 GiB, as the 32-bit counts of Read and Write imply.
constexpr std::uint64_t kMaxSize = 0xFFFFFFFFull;

class MemoryStream : public vkr::Implements<IStream> {
 public:
  explicit MemoryStream(std::shared_ptr<Buffer> buffer, std::uint64_t pos = 0) : m_buf(std::move(buffer)), m_pos(pos) {}

  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    std::lock_guard<std::mutex> g(m_buf->lock);
    std::uint64_t avail = m_pos < m_buf->size ? m_buf->size - m_pos : 0;
    ULONG n = static_cast<ULONG>(std::min<std::uint64_t>(cb, avail));
    if (n) std::memcpy(pv, m_buf->data + m_pos, n);
    m_pos += n;
    if (pcbRead) *pcbRead = n;
    return S_OK;
  }

  HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pcbWritten) *pcbWritten = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    std::lock_guard<std::mutex> g(m_buf->lock);
    std::uint64_t end = m_pos + cb;
    if (end > kMaxSize) return STG_E_MEDIUMFULL;
    if (end > m_buf->size && !m_buf->Resize(static_cast<std::size_t>(end))) return STG_E_MEDIUMFULL;
    if (cb) std::memcpy(m_buf->data + m_pos, pv, cb);
    m_pos = end;
    if (pcbWritten) *pcbWritten = cb;
    return S_OK;
  }

  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override {
    std::lock_guard<std::mutex> g(m_buf->lock);
    long long base;
    switch (origin) {
      case STREAM_SEEK_SET:
        base = 0;
        break;
      case STREAM_SEEK_CUR:
        base = static_cast<long long>(m_pos);
        break;
      case STREAM_SEEK_END:
        base = static_cast<long long>(m_buf->size);
        break;
      default:
        return STG_E_INVALIDFUNCTION;
    }
    long long target = base + move.QuadPart;
    if (target < 0 || static_cast<std::uint64_t>(target) > kMaxSize) return STG_E_INVALIDFUNCTION;
    m_pos = static_cast<std::uint64_t>(target);
    if (newPos) newPos->QuadPart = m_pos;
    return S_OK;
  }

  HRESULT SetSize(ULARGE_INTEGER size) override {
    if (size.QuadPart > kMaxSize) return STG_E_MEDIUMFULL;
    std::lock_guard<std::mutex> g(m_buf->lock);
    return m_buf->Resize(static_cast<std::size_t>(size.QuadPart)) ? S_OK : STG_E_MEDIUMFULL;
  }

  HRESULT CopyTo(IStream* dst, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override {
    if (!dst) return STG_E_INVALIDPOINTER;
    std::uint64_t done = 0, written = 0;
    HRESULT hr = S_OK;
    char chunk[4096];
    while (done < cb.QuadPart) {
      ULONG want = static_cast<ULONG>(std::min<std::uint64_t>(sizeof chunk, cb.QuadPart - done));
      ULONG got = 0;
      Read(chunk, want, &got);
      if (got == 0) break;
      done += got;
      ULONG put = 0;
      hr = dst->Write(chunk, got, &put);
      written += put;
      if (FAILED(hr)) break;
    }
    if (pcbRead) pcbRead->QuadPart = done;
    if (pcbWritten) pcbWritten->QuadPart = written;
    return hr;
  }

  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return S_OK; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

  HRESULT Stat(STATSTG* st, DWORD) override {
    if (!st) return STG_E_INVALIDPOINTER;
    std::memset(st, 0, sizeof *st);
    st->type = STGTY_STREAM;
    std::lock_guard<std::mutex> g(m_buf->lock);
    st->cbSize.QuadPart = m_buf->size;
    return S_OK;
  }

  HRESULT Clone(IStream** out) override {
    if (!out) return STG_E_INVALIDPOINTER;
    return vkr::CreateObject<MemoryStream>(nullptr, IID_IStream, reinterpret_cast<void**>(out), m_buf, m_pos);
  }

 private:
  std::shared_ptr<Buffer> m_buf;
  std::uint64_t m_pos;
};

}  // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL, IStream** ppstm) {
  if (!ppstm) return E_INVALIDARG;
  *ppstm = nullptr;
  // Global memory handles do not exist here; the stream always owns its memory.
  if (hGlobal) return E_INVALIDARG;
  return vkr::CreateMemoryStream(nullptr, 0, ppstm);
}

namespace vkr {
HRESULT CreateMemoryStream(const void* data, std::size_t size, IStream** ppstm) {
  if (!ppstm) return E_POINTER;
  *ppstm = nullptr;
  if (size > kMaxSize || (size && !data)) return E_INVALIDARG;
  auto buffer = std::make_shared<Buffer>();
  if (size) {
    if (!buffer->Resize(size)) return E_OUTOFMEMORY;
    std::memcpy(buffer->data, data, size);
  }
  return CreateObject<MemoryStream>(nullptr, IID_IStream, reinterpret_cast<void**>(ppstm), std::move(buffer));
}
}  // namespace vkr
