// vkr-frame: the stand-in frame's command-line host.
//
//   vkr-frame register [module]     runs the module's registration into the registry
//   vkr-frame unregister [module]   removes it again
//   vkr-frame classes               lists the registered classes
//   vkr-frame create                creates the DTM by its ProgID, shows its state, releases it
//   vkr-frame lifecycle             takes the DTM through its states, gives it the frame's HART
//                                   channel (a simulated transmitter behind it) and releases it,
//                                   printing each step, state and notification of the frame
//   vkr-frame info                  prints the DTM information documents an FDT 1.2 and an FDT
//                                   1.2.1 frame get, each checked against the schema set
//
// The registry file and the drive root come from VKR_REGISTRY and VKR_DRIVE_ROOT. Exit status 0
// on success, 1 when a step failed, 2 for a wrong command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "frame/EngineeringHost.h"
#include "frame/FrameHost.h"
#include "frame/LifecycleHost.h"

namespace {

constexpr char16_t kDtmProgId[] = u"Vorn.ExampleDtm";

int Usage() {
  std::fprintf(stderr,
               "usage: vkr-frame register [module] | unregister [module] | classes | create | lifecycle | info\n"
               "  module: the DTM module to (un)register (default: %s)\n",
               VKR_DEFAULT_MODULE);
  return 2;
}

int Registration(bool registering, const std::string& module) {
  std::printf("%s %s\n", registering ? "Registering" : "Unregistering", module.c_str());
  const HRESULT hr = vkr::frame::RunModuleRegistration(module, registering);
  std::printf("  %s: %s\n", registering ? "DllRegisterServer" : "DllUnregisterServer",
              vkr::frame::ResultText(hr).c_str());
  return SUCCEEDED(hr) ? 0 : 1;
}

int Classes() {
  const auto classes = vkr::frame::ListRegisteredClasses();
  std::printf("%zu registered classes\n", classes.size());
  for (const auto& c : classes) {
    std::printf("  %s %-42s %s (%s)\n", c.clsid.c_str(), c.progId.empty() ? "-" : c.progId.c_str(),
                c.description.c_str(), c.threadingModel.c_str());
    for (const auto& category : c.categories) std::printf("      implements %s\n", category.c_str());
  }
  return 0;
}

int Create() {
  std::printf("Creating %s\n", vkr::Utf16ToUtf8(kDtmProgId).c_str());
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("  CoInitialize failed\n");
    return 1;
  }
  vkr::frame::DtmCreation created;
  const HRESULT hr = vkr::frame::CreateAndReleaseDtm(kDtmProgId, &created);
  if (!created.clsid.empty()) std::printf("  class %s in %s\n", created.clsid.c_str(), created.module.c_str());
  if (created.state >= 0) {
    std::printf("  state %ld (%s), language %lu\n", static_cast<long>(created.state),
                vkr::frame::StateName(created.state), static_cast<unsigned long>(created.language));
    std::printf("  DllCanUnloadNow while the DTM lives: %s\n", vkr::frame::ResultText(created.canUnloadWhileAlive).c_str());
    std::printf("  released; DllCanUnloadNow: %s\n", vkr::frame::ResultText(created.canUnloadAfterRelease).c_str());
  }
  std::printf("  %s\n", SUCCEEDED(hr) ? "done" : ("failed: " + vkr::frame::ResultText(hr)).c_str());
  CoFreeUnusedLibraries();
  CoUninitialize();
  return SUCCEEDED(hr) ? 0 : 1;
}

int Lifecycle() {
  std::printf("Taking %s through its life\n", vkr::Utf16ToUtf8(kDtmProgId).c_str());
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("  CoInitialize failed\n");
    return 1;
  }
  std::vector<std::string> lines;
  const HRESULT hr = vkr::frame::RunLifecycle(kDtmProgId, &lines);
  for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
  // A step the DTM refuses (S_FALSE) is part of what the run shows; only a failure of the frame or
  // the module fails the command.
  std::printf("  %s\n", hr == S_OK ? "done" : ("stopped early: " + vkr::frame::ResultText(hr)).c_str());
  CoFreeUnusedLibraries();
  CoUninitialize();
  return FAILED(hr) ? 1 : 0;
}

int Information() {
  std::printf("Asking %s who it is\n", vkr::Utf16ToUtf8(kDtmProgId).c_str());
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("  CoInitialize failed\n");
    return 1;
  }
  std::vector<std::string> lines;
  const HRESULT hr = vkr::frame::RunInformation(kDtmProgId, &lines);
  for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
  std::printf("  %s\n", hr == S_OK ? "done" : ("stopped: " + vkr::frame::ResultText(hr)).c_str());
  CoFreeUnusedLibraries();
  CoUninitialize();
  return hr == S_OK ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && vkr::frame::IsEngineeringCommand(argv[1]))
    return vkr::frame::RunEngineeringCommand(argv[1], std::vector<std::string>(argv + 2, argv + argc));
  if (argc < 2 || argc > 3) return Usage();
  const std::string command = argv[1];
  const std::string module = argc == 3 ? argv[2] : VKR_DEFAULT_MODULE;
  if (command == "register") return Registration(true, module);
  if (command == "unregister") return Registration(false, module);
  if (argc != 2) return Usage();
  if (command == "classes") return Classes();
  if (command == "create") return Create();
  if (command == "lifecycle") return Lifecycle();
  if (command == "info") return Information();
  return Usage();
}
