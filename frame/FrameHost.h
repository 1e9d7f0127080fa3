// The frame host's steps: registering a DTM module, listing the registered classes, and creating
// a DTM by its ProgID as a frame does (registry, module, class factory, interfaces).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::frame {

// Loads the module and runs its DllRegisterServer (or DllUnregisterServer). The module's result,
// or HRESULT_FROM_WIN32 of the load or of the missing entry point; *problem (when given) then says
// why in words: the loader's own reason, or the entry point the module lacks.
HRESULT RunModuleRegistration(const std::string& modulePath, bool registering, std::string* problem = nullptr);

struct RegisteredClass {
  std::string clsid;           // "{...}"
  std::string progId;          // empty for classes without one
  std::string description;
  std::string module;          // InprocServer32
  std::string threadingModel;
  std::vector<std::string> categories;  // implemented categories
};
// Every class under HKCR\CLSID with an in-process server, in name order. S_OK also when there is
// none; a registry that cannot be read gives HRESULT_FROM_WIN32 of its error (*classes empty).
HRESULT ListRegisteredClasses(std::vector<RegisteredClass>* classes);

// What creating a DTM showed.
struct DtmCreation {
  std::string clsid;
  std::string module;
  LONG state = -1;  // as the frame knows it: created, once the creation succeeded
  HRESULT canUnloadWhileAlive = E_FAIL;  // DllCanUnloadNow while the DTM lives
  HRESULT canUnloadAfterRelease = E_FAIL;
};
// Finds the class of the ProgID, creates the DTM (CoCreateInstance), checks that it is a DTM
// (IDtm), releases it, and asks the module whether it can unload before and after. The calling
// thread must be in an apartment. The first failure is returned.
HRESULT CreateAndReleaseDtm(LPCOLESTR progId, DtmCreation* out);

// The DTM's states as a frame follows them: from the answers to its own calls, and for the online
// states from what the DTM reports. Numbered as FDT numbers them.
namespace dtm_state {
inline constexpr LONG kCreated = 1, kPreparedToDelete = 2, kPreparedToRelease = 3, kInitNewPersist = 4, kLoaded = 5,
                      kEnvironmentSet = 6, kInitialized = 7, kConfigured = 8, kCommunicationSet = 9,
                      kGoingOnline = 10, kGoingOffline = 11, kOnline = 12;
}
// "dsCREATED" and the like.
const char* StateName(LONG state);
// The state a state document or an online-state change names ("communicationSet", "goingOnline",
// "goingOffline", "online"); -1 for any other text.
LONG StateOfReport(const std::string& name);
// "0x00000000 (S_OK)", "0x80004001 (E_NOTIMPL): not implemented" and the like.
std::string ResultText(HRESULT hr);
// A failure for a person: ResultText, and what the platform knows about it: the loader's reason
// for a module that did not load, and the registry file's problem when it has one.
std::string FailureText(HRESULT hr);

}  // namespace vkr::frame
