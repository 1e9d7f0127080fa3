// vkr-frame: the stand-in frame's command-line host.
//
//   vkr-frame register [module]     runs the module's registration into the registry
//   vkr-frame unregister [module]   removes it again
//   vkr-frame classes               lists the registered classes
//   vkr-frame create                creates the DTM by its ProgID, shows its state, releases it
//   vkr-frame lifecycle             takes the DTM through its states, gives it the frame's HART
//                                   channel (a simulated transmitter behind it), reads the device
//                                   with an upload and releases it, printing each step, state and
//                                   notification of the frame
//   vkr-frame info                  prints the DTM information documents an FDT 1.2 and an FDT
//                                   1.2.1 frame get, each checked against the schema set
//   vkr-frame items [--project FILE]
//                                   lists the items the DTM offers for single device data access
//                                   on the project's data set (frame/ItemsHost.h)
//   vkr-frame ui FUNCTION [--png FILE] | ui --list | ui --test-control [--png FILE] | ui --class CLASS
//                                   opens a user interface of the DTM through the frame's ActiveX
//                                   host and renders it to a PNG (frame/UiHost.h)
//   vkr-frame upload | download | show | set | compare | status
//                                   the engineer's commands on a project (frame/EngineeringHost.h)
//   vkr-frame help | --help | -h    the usage; vkr-frame COMMAND --help: the command's options
//                                   (frame/HostUsage.h)
//
// The registry file and the drive root come from VKR_REGISTRY and VKR_DRIVE_ROOT. What a command
// does goes to standard output; when it fails, the last line, on standard error, says why
// ("vkr-frame: ..."). Exit status 0 on success, 1 when the command failed (a step the DTM refused
// included), 2 for a wrong command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "frame/EngineeringHost.h"
#include "frame/FrameHost.h"
#include "frame/HostPaths.h"
#include "frame/ItemsHost.h"
#include "frame/UiHost.h"
#include "frame/LifecycleHost.h"
#include "frame/HostUsage.h"
#include "frame/HostUtilities.h"

namespace {

constexpr char16_t kDtmProgId[] = u"Vorn.ExampleDtm";

int Failed(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "vkr-frame: %s\n", what.c_str());
  return 1;
}

int Registration(bool registering, const std::string& module) {
  std::printf("%s %s\n", registering ? "Registering" : "Unregistering", module.c_str());
  std::string problem;
  const HRESULT hr = vkr::frame::RunModuleRegistration(module, registering, &problem);
  const char* entry = registering ? "DllRegisterServer" : "DllUnregisterServer";
  std::printf("  %s: %s\n", entry, vkr::frame::ResultText(hr).c_str());
  if (SUCCEEDED(hr)) return 0;
  // The loader's reason or the missing entry point when the module itself is at fault.
  const std::string why = problem.empty() ? vkr::frame::FailureText(hr) : vkr::frame::ResultText(hr) + " (" + problem + ")";
  return Failed(std::string(registering ? "registering " : "unregistering ") + module + " failed: " + why);
}

int Classes() {
  std::vector<vkr::frame::RegisteredClass> classes;
  const HRESULT hr = vkr::frame::ListRegisteredClasses(&classes);
  if (FAILED(hr)) return Failed("the registered classes cannot be listed: " + vkr::frame::FailureText(hr));
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
  vkr::frame::Apartment apartment;
  if (FAILED(apartment.Result())) return Failed("CoInitialize failed: " + vkr::frame::FailureText(apartment.Result()));
  vkr::frame::DtmCreation created;
  const HRESULT hr = vkr::frame::CreateAndReleaseDtm(kDtmProgId, &created);
  if (!created.clsid.empty()) std::printf("  class %s in %s\n", created.clsid.c_str(), created.module.c_str());
  if (created.state >= 0) {
    std::printf("  state %ld (%s)\n", static_cast<long>(created.state), vkr::frame::StateName(created.state));
    std::printf("  DllCanUnloadNow while the DTM lives: %s\n", vkr::frame::ResultText(created.canUnloadWhileAlive).c_str());
    std::printf("  released; DllCanUnloadNow: %s\n", vkr::frame::ResultText(created.canUnloadAfterRelease).c_str());
  }
  if (FAILED(hr)) return Failed("creating the DTM failed: " + vkr::frame::CreationFailure(hr));
  std::printf("  done\n");
  return 0;
}

int Lifecycle() {
  std::printf("Taking %s through its life\n", vkr::Utf16ToUtf8(kDtmProgId).c_str());
  vkr::frame::Apartment apartment;
  if (FAILED(apartment.Result())) return Failed("CoInitialize failed: " + vkr::frame::FailureText(apartment.Result()));
  std::vector<std::string> lines;
  std::string step;
  const HRESULT hr = vkr::frame::RunLifecycle(kDtmProgId, &lines, &step);
  for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
  if (hr == S_OK) {
    std::printf("  done\n");
    return 0;
  }
  // A step the DTM refused (S_FALSE, or a FALSE result) ends the run as a failure too: the DTM did
  // not get where a frame needs it. The frame's notifications above say what the DTM reported.
  std::string why = step.empty() ? std::string() : step + ": ";
  why += hr == S_FALSE ? std::string("the DTM refused the step") : vkr::frame::CreationFailure(hr);
  return Failed("the lifecycle stopped early at " + why);
}

int Information() {
  std::printf("Asking %s who it is\n", vkr::Utf16ToUtf8(kDtmProgId).c_str());
  vkr::frame::Apartment apartment;
  if (FAILED(apartment.Result())) return Failed("CoInitialize failed: " + vkr::frame::FailureText(apartment.Result()));
  std::vector<std::string> lines;
  const HRESULT hr = vkr::frame::RunInformation(kDtmProgId, &lines);
  for (const std::string& line : lines) std::printf("  %s\n", line.c_str());
  if (hr == S_OK) {
    std::printf("  done\n");
    return 0;
  }
  return Failed("the information documents did not come or are not valid: " +
                (hr == S_FALSE ? std::string("see above") : vkr::frame::CreationFailure(hr)));
}

int Run(int argc, char** argv) {
  if (argc < 2) return vkr::frame::UsageError("no command given");
  const std::string command = argv[1];
  const std::vector<std::string> arguments(argv + 2, argv + argc);
  if (command == "help" || command == "--help" || command == "-h") {
    if (arguments.size() == 1 && vkr::frame::PrintCommandHelp(arguments[0])) return 0;
    if (!arguments.empty()) return vkr::frame::UsageError("help takes a command, not " + arguments[0]);
    vkr::frame::PrintUsage(stdout);
    return 0;
  }
  if (vkr::frame::AsksForHelp(arguments) && vkr::frame::PrintCommandHelp(command)) return 0;
  if (vkr::frame::IsEngineeringCommand(command)) return vkr::frame::RunEngineeringCommand(command, arguments);
  if (command == "items") return vkr::frame::RunItemsCommand(arguments);
  if (command == "ui") return vkr::frame::RunUiCommand(arguments);
  const bool registration = command == "register" || command == "unregister";
  if (!registration && command != "classes" && command != "create" && command != "lifecycle" && command != "info")
    return vkr::frame::UsageError("unknown command " + command);
  for (const std::string& a : arguments)
    if (a.rfind("--", 0) == 0) return vkr::frame::UsageError(command + ": unknown option " + a);
  if (arguments.size() > (registration ? 1u : 0u))
    return vkr::frame::UsageError(command + " takes " + (registration ? "one module at most" : "no argument") +
                                  ", not " + arguments.back());
  std::string module = arguments.empty() ? VKR_DEFAULT_MODULE : arguments[0];
  if (registration && module.empty()) return vkr::frame::UsageError(command + ": an empty module path names no module");
  // A module named with a drive, or starting with a backslash (a network path such as \\server\share
  // among them), is a Windows path, found as every file of a command line is; a native path
  // ("/opt/x.so", "build/x.so") names the machine's file.
  if (const std::size_t colon = module.find(':');
      registration && ((colon != std::string::npos && module.find_first_of("\\/") > colon) || module[0] == '\\')) {
    if (const std::string why = vkr::frame::FullWindowsPath(module, &module); !why.empty())
      return vkr::frame::UsageError(command + ": " + vkr::frame::PathOptionRefused("the module", module, why));
    if (const std::string outside = vkr::frame::LinkOutOfDriveRoot({module}); !outside.empty()) return Failed(outside);
  }
  if (command == "register") return Registration(true, module);
  if (command == "unregister") return Registration(false, module);
  if (command == "classes") return Classes();
  if (command == "create") return Create();
  if (command == "lifecycle") return Lifecycle();
  return Information();
}

}  // namespace

int main(int argc, char** argv) {
  const int code = Run(argc, argv);
  // The DTM's workers may still be finishing what they reported done: the process ends after them,
  // as a frame's does, not in the middle of their last steps.
  vkr::platform::WaitForThreadsToEnd(5000);
  return code;
}
