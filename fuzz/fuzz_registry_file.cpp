// Fuzzes the registry file reader: any text either parses, or is refused with a line inside the
// text; what parses writes back to a text that parses to the same registry and writes the same.
// A file that parses is then used as the registry and walked through the registry API as a program
// walks it: every key opened, every value enumerated and read again by its name (A and W), one
// value written and its key deleted, after which the file still parses.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/win/registry_store.h"
#include "tests/support/fuzz_input.h"

namespace {

using vkr::fuzz::Check;

constexpr int kMaxDepth = 32;
constexpr DWORD kMaxKeys = 256;

// Reads every value of key as enumerated, then by its name, and walks its subkeys.
void Walk(HKEY key, int depth, DWORD* keys) {
  if (depth > kMaxDepth || ++*keys > kMaxKeys) return;
  for (DWORD i = 0;; ++i) {
    std::vector<WCHAR> name(16384);
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD type = 0, size = 0;
    const LSTATUS got = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, nullptr, &size);
    if (got == ERROR_NO_MORE_ITEMS) break;
    Check(got == ERROR_SUCCESS);
    std::vector<BYTE> data(size + 2);
    DWORD again = static_cast<DWORD>(data.size()), typeAgain = 0;
    Check(RegQueryValueExW(key, name.data(), nullptr, &typeAgain, data.data(), &again) == ERROR_SUCCESS);
    Check(typeAgain == type && again == size);
    DWORD narrow = 0;
    const std::string utf8 = vkr::Utf16ToUtf8(std::u16string_view(name.data(), nameLength));
    const LSTATUS a = RegQueryValueExA(key, utf8.c_str(), nullptr, nullptr, nullptr, &narrow);
    Check(a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND);  // a name with U+FFFD may not come back
  }
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD nameLength = 256;
    const LSTATUS got = RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (got == ERROR_NO_MORE_ITEMS) break;
    Check(got == ERROR_SUCCESS || got == ERROR_MORE_DATA);
    if (got != ERROR_SUCCESS) continue;
    HKEY sub = nullptr;
    Check(RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS);
    Walk(sub, depth + 1, keys);
    RegCloseKey(sub);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  vkr::platform::RegTree tree;
  vkr::platform::RegistryParseError error;
  if (!vkr::platform::ParseRegistryText(text, &tree, &error)) {
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n';
    if (error.line == 0 || error.line > lines || error.reason.empty()) std::abort();
    return 0;
  }
  const std::string written = vkr::platform::WriteRegistryText(tree);
  vkr::platform::RegTree again;
  if (!vkr::platform::ParseRegistryText(written, &again, &error)) std::abort();
  if (vkr::platform::WriteRegistryText(again) != written) std::abort();

  // The file as the process's registry.
  const std::filesystem::path file = vkr::fuzz::Scratch::Directory() / "fuzzed.reg";
  vkr::fuzz::WriteFile(file, text);
  vkr::platform::UseRegistryFile(file.string());
  DWORD keys = 0;
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT}) Walk(root, 0, &keys);
  HKEY made = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\FuzzWalk", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made,
                      nullptr) == ERROR_SUCCESS) {
    const DWORD value = 7;
    Check(RegSetValueExW(made, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
          ERROR_SUCCESS);
    RegCloseKey(made);
    Check(RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\FuzzWalk") == ERROR_SUCCESS);
  }
  const std::string stored = vkr::fuzz::ReadFile(file);
  vkr::platform::RegTree after;
  Check(vkr::platform::ParseRegistryText(stored, &after, &error));
  vkr::platform::UseRegistryFile((vkr::fuzz::Scratch::Directory() / "registry.reg").string());
  return 0;
}
