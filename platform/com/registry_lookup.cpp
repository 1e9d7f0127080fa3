// The registry step of class and ProgID look-ups. Until the registry is in place nothing is found
// there, and only classes registered in process can be created.
#include "platform/com/classes.h"

namespace vkr::platform {
bool FindInprocServer(REFCLSID, std::u16string*) { return false; }
bool FindProgIdClass(std::u16string_view, CLSID*) { return false; }
bool FindClassProgId(REFCLSID, std::u16string*) { return false; }
}  // namespace vkr::platform
