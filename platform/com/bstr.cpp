// BSTR allocation: a 32-bit byte length, the characters, and a terminating zero character.
#include "platform/com/bstr.h"

#include <cstring>

#include "platform/com/memory.h"

namespace {
// Texts longer than this are refused, so the byte count and the padding never overflow 32 bits.
constexpr std::size_t kMaxBytes = 0x7FFFFFF0u;

// The block starts 4 bytes before the BSTR; 2 zero bytes follow the text, 3 when the byte length
// is odd so that the last character is whole.
BSTR AllocBytes(std::size_t bytes) {
  if (bytes > kMaxBytes) return nullptr;
  auto* block = static_cast<unsigned char*>(vkr::platform::Allocate(sizeof(std::uint32_t) + bytes + 3));
  if (!block) return nullptr;
  const auto len = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &len, sizeof len);
  std::memset(block + sizeof len + bytes, 0, 3);
  return reinterpret_cast<BSTR>(block + sizeof len);
}

unsigned char* BlockOf(BSTR s) { return reinterpret_cast<unsigned char*>(s) - sizeof(std::uint32_t); }

std::size_t TextLength(const OLECHAR* s) {
  std::size_t n = 0;
  while (s[n]) ++n;
  return n;
}
}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(TextLength(text)));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT len) {
  BSTR s = AllocBytes(static_cast<std::size_t>(len) * sizeof(OLECHAR));
  if (!s) return nullptr;
  if (text)
    std::memcpy(s, text, static_cast<std::size_t>(len) * sizeof(OLECHAR));
  else
    std::memset(s, 0, static_cast<std::size_t>(len) * sizeof(OLECHAR));
  return s;
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT len) {
  BSTR s = AllocBytes(len);
  if (!s) return nullptr;
  if (bytes)
    std::memcpy(s, bytes, len);
  else
    std::memset(s, 0, len);
  return s;
}

INT SysReAllocString(BSTR* bstr, const OLECHAR* text) {
  if (!bstr) return FALSE;
  return SysReAllocStringLen(bstr, text, text ? static_cast<UINT>(TextLength(text)) : 0);
}

INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT len) {
  if (!bstr) return FALSE;
  // Allocate first: the source may be the old text itself.
  BSTR s = SysAllocStringLen(text, len);
  if (!s) return FALSE;
  SysFreeString(*bstr);
  *bstr = s;
  return TRUE;
}

void SysFreeString(BSTR bstr) {
  if (bstr) vkr::platform::Free(BlockOf(bstr));
}

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  std::uint32_t len;
  std::memcpy(&len, BlockOf(bstr), sizeof len);
  return len;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }
