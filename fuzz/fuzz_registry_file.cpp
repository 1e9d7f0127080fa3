// Fuzzes the registry file reader: any text either parses, or is refused with a line inside the
// text; what parses writes back to a text that parses to the same registry and writes the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/win/registry_store.h"

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
  return 0;
}
