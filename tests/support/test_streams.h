// Streams for persistence tests: the bytes of a memory stream, a stream made of given bytes, and a
// stream that refuses writes or reads after a number of bytes.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace vkr::test {

// A memory stream holding the bytes, positioned at the start.
inline vkr::ComPtr<IStream> StreamOf(const std::vector<BYTE>& bytes) {
  vkr::ComPtr<IStream> s;
  vkr::CreateMemoryStream(bytes.data(), bytes.size(), s.Put());
  return s;
}

inline vkr::ComPtr<IStream> EmptyStream() {
  vkr::ComPtr<IStream> s;
  CreateStreamOnHGlobal(nullptr, TRUE, s.Put());
  return s;
}

// Every byte of the stream; the position is left at the end.
inline std::vector<BYTE> BytesOf(IStream* stream) {
  STATSTG st{};
  stream->Stat(&st, STATFLAG_NONAME);
  std::vector<BYTE> bytes(static_cast<std::size_t>(st.cbSize.QuadPart));
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  if (!bytes.empty()) stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
  return bytes;
}

// The current position.
inline ULONGLONG PositionOf(IStream* stream) {
  LARGE_INTEGER zero{};
  ULARGE_INTEGER at{};
  stream->Seek(zero, STREAM_SEEK_CUR, &at);
  return at.QuadPart;
}

// A memory stream that accepts only `limit` bytes of writing (then writes part and answers
// STG_E_MEDIUMFULL or, with shortWrite, S_OK with fewer bytes written).
class LimitedStream : public vkr::Implements<IStream> {
 public:
  ULONG limit = 0;
  bool shortWrite = false;
  vkr::ComPtr<IStream> inner = EmptyStream();

  HRESULT Read(void* pv, ULONG cb, ULONG* got) override { return inner->Read(pv, cb, got); }
  HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
    ULONG take = cb <= limit ? cb : limit;
    ULONG done = 0;
    inner->Write(pv, take, &done);
    limit -= done;
    if (written) *written = done;
    if (done == cb) return S_OK;
    return shortWrite ? S_OK : STG_E_MEDIUMFULL;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override { return inner->Seek(move, origin, at); }
  HRESULT SetSize(ULARGE_INTEGER size) override { return inner->SetSize(size); }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG* st, DWORD flags) override { return inner->Stat(st, flags); }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }
};

// Little builders for hand-made data sets.
struct ByteWriter {
  std::vector<BYTE> bytes;
  ByteWriter& U16(unsigned v) {
    bytes.push_back(static_cast<BYTE>(v));
    bytes.push_back(static_cast<BYTE>(v >> 8));
    return *this;
  }
  ByteWriter& U32(unsigned long v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
    return *this;
  }
  ByteWriter& Raw(std::initializer_list<BYTE> b) {
    bytes.insert(bytes.end(), b);
    return *this;
  }
  ByteWriter& Raw(const std::vector<BYTE>& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  // A stored text: byte count with terminator, UTF-16LE, terminator.
  ByteWriter& Text(const char16_t* s) {
    std::u16string t(s);
    U32((t.size() + 1) * 2);
    for (char16_t c : t) U16(c);
    return U16(0);
  }
  ByteWriter& I4(long v) { return U16(VT_I4).U32(static_cast<unsigned long>(v)); }
  ByteWriter& UI4(unsigned long v) { return U16(VT_UI4).U32(v); }
  ByteWriter& Bstr(const char16_t* s) { return U16(VT_BSTR).Text(s); }
};

}  // namespace vkr::test
