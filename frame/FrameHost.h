// The frame host's steps: registering a DTM module, listing the registered classes, and creating
// a DTM by its ProgID as a frame does (registry, module, class factory, interfaces).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::frame {

// Loads the module and runs its DllRegisterServer (or DllUnregisterServer). The module's result,
// or HRESULT_FROM_WIN32 of the load or of the missing entry point.
HRESULT RunModuleRegistration(const std::string& modulePath, bool registering);

struct RegisteredClass {
  std::string clsid;           // "{...}"
  std::string progId;          // empty for classes without one
  std::string description;
  std::string module;          // InprocServer32
  std::string threadingModel;
  std::vector<std::string> categories;  // implemented categories
};
// Every class under HKCR\CLSID with an in-process server, in name order.
std::vector<RegisteredClass> ListRegisteredClasses();

// What creating a DTM showed.
struct DtmCreation {
  std::string clsid;
  std::string module;
  LONG state = -1;
  LCID language = 0;
  HRESULT canUnloadWhileAlive = E_FAIL;  // DllCanUnloadNow while the DTM lives
  HRESULT canUnloadAfterRelease = E_FAIL;
};
// Finds the class of the ProgID, creates the DTM (CoCreateInstance), asks its state and language,
// releases it, and asks the module whether it can unload before and after. The calling thread
// must be in an apartment. The first failure is returned.
HRESULT CreateAndReleaseDtm(LPCOLESTR progId, DtmCreation* out);

// "dsCREATED" and the like.
const char* StateName(LONG state);
// "0x80004001" and the like, with the name of the well-known results.
std::string ResultText(HRESULT hr);

}  // namespace vkr::frame
