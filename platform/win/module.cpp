// Modules through the dynamic loader: dladdr for addresses, dl_iterate_phdr for the list.
#include "platform/win/module.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"
#include "platform/win/debug.h"
#include "platform/win/native.h"
#include "platform/win/paths.h"
#include "platform/win/text.h"

namespace vkr::platform {

namespace {
thread_local std::string t_lastLoadProblem;
}  // namespace

std::string LastLoadProblem() { return t_lastLoadProblem; }
void SetLastLoadProblem(std::string reason) { t_lastLoadProblem = std::move(reason); }

namespace {

struct ModuleEntry {
  std::uintptr_t base = 0;
  std::string path;  // native absolute path
};

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<std::size_t>(n));
}

// The address a loaded object starts at: its lowest loadable segment, page aligned, which is
// what dladdr reports as the object's base.
std::uintptr_t BaseOf(const dl_phdr_info* info) {
  std::uintptr_t lowest = UINTPTR_MAX;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    if (info->dlpi_phdr[i].p_type == PT_LOAD)
      lowest = std::min<std::uintptr_t>(lowest, info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
  }
  if (lowest == UINTPTR_MAX) return 0;
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  return lowest & ~(page - 1);
}

bool IsMain(const dl_phdr_info* info) { return !info->dlpi_name || !info->dlpi_name[0]; }

std::string PathOf(const dl_phdr_info* info) {
  if (IsMain(info)) return ExecutablePath();
  char resolved[PATH_MAX];
  if (::realpath(info->dlpi_name, resolved)) return resolved;
  return info->dlpi_name;
}

// Calls match for each loaded object (the main program first) until it returns true, and gives
// that object.
template <class Match>
bool FindModule(Match match, ModuleEntry* out) {
  struct Context {
    Match* match;
    ModuleEntry* out;
    bool found;
  } context{&match, out, false};
  ::dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        auto* c = static_cast<Context*>(data);
        if (!(*c->match)(info)) return 0;
        c->out->base = BaseOf(info);
        c->out->path = PathOf(info);
        c->found = true;
        return 1;
      },
      &context);
  return context.found;
}

bool FindByHandle(HMODULE module, ModuleEntry* out) {
  const auto base = reinterpret_cast<std::uintptr_t>(module);
  return FindModule([&](const dl_phdr_info* info) { return module ? BaseOf(info) == base : IsMain(info); }, out);
}

bool FindByName(const std::string& name, ModuleEntry* out) {
  const bool full = name.find('/') != std::string::npos;
  std::string wanted = name;
  if (full) {
    char resolved[PATH_MAX];
    if (::realpath(name.c_str(), resolved)) wanted = resolved;
  }
  return FindModule(
      [&](const dl_phdr_info* info) {
        if (full) return PathOf(info) == wanted;
        // Compare the last part of the loader's name first: no system calls for the others.
        const std::string loaderName = IsMain(info) ? ExecutablePath() : info->dlpi_name;
        return NamePart(loaderName) == wanted;
      },
      out);
}

template <class Ch>
DWORD GiveFileName(const std::basic_string<Ch>& path, Ch* buffer, DWORD size) {
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() < size) {
    std::memcpy(buffer, path.data(), path.size() * sizeof(Ch));
    buffer[path.size()] = 0;
    return static_cast<DWORD>(path.size());
  }
  std::size_t cut = size - 1;
  // A UTF-8 text is cut before a character, never inside one.
  if constexpr (sizeof(Ch) == 1) {
    while (cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
  } else {
    if (cut > 0 && path[cut] >= 0xDC00 && path[cut] <= 0xDFFF) --cut;
  }
  std::memcpy(buffer, path.data(), cut * sizeof(Ch));
  buffer[cut] = 0;
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

HMODULE HandleOf(const ModuleEntry& e) { return reinterpret_cast<HMODULE>(e.base); }

HMODULE ModuleHandle(const char* name) {
  ModuleEntry e;
  if (!name ? FindByHandle(nullptr, &e) : FindByName(name, &e)) return HandleOf(e);
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

}  // namespace

HMODULE ModuleFromAddress(const void* address) {
  Dl_info info;
  if (!address || ::dladdr(address, &info) == 0 || !info.dli_fbase) return nullptr;
  return reinterpret_cast<HMODULE>(info.dli_fbase);
}

}  // namespace vkr::platform

using namespace vkr::platform;

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  ModuleEntry e;
  if (!FindByHandle(module, &e) || e.path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return GiveFileName(e.path, fileName, size);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  ModuleEntry e;
  if (!FindByHandle(module, &e) || e.path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return GiveFileName(vkr::Utf8ToUtf16(e.path), fileName, size);
}

HMODULE GetModuleHandleA(LPCSTR moduleName) { return ModuleHandle(moduleName); }

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  if (!moduleName) return ModuleHandle(nullptr);
  return ModuleHandle(vkr::Utf16ToUtf8(moduleName).c_str());
}

namespace {
template <class Name>
BOOL HandleEx(DWORD flags, Name moduleName, HMODULE* module, HMODULE (*byName)(Name)) {
  if (!module || (flags & ~(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS))) {
    if (module) *module = nullptr;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) ? ModuleFromAddress(moduleName) : byName(moduleName);
  if (*module) return TRUE;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return FALSE;
}
}  // namespace

BOOL GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module) {
  return HandleEx(flags, moduleName, module, GetModuleHandleA);
}

BOOL GetModuleHandleExW(DWORD flags, LPCWSTR moduleName, HMODULE* module) {
  return HandleEx(flags, moduleName, module, GetModuleHandleW);
}

namespace {

// The libraries LoadLibrary loaded, by handle: the loader's handle and how often it was loaded.
struct LoadedLibrary {
  void* loader;
  unsigned count;
};
std::mutex g_libraryLock;
std::map<HMODULE, LoadedLibrary>& Libraries() {
  static auto* libraries = new std::map<HMODULE, LoadedLibrary>;  // lives until exit
  return *libraries;
}

HMODULE LoadLibraryNative(const std::string& path) {
  void* loader = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!loader) {
    const char* why = ::dlerror();
    const std::string reason = why ? why : path + ": cannot be loaded";
    OutputDebugStringA(("LoadLibrary: " + reason + "\n").c_str());
    vkr::platform::SetLastLoadProblem(reason);
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // The handle is the library's address, which any of its symbols leads to.
  HMODULE module = nullptr;
  vkr::platform::ModuleEntry entry;
  if (vkr::platform::FindByName(path, &entry)) module = vkr::platform::HandleOf(entry);
  if (!module) {
    ::dlclose(loader);
    vkr::platform::SetLastLoadProblem(path + ": loaded, but not found among the process's modules");
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  vkr::platform::SetLastLoadProblem({});
  std::lock_guard<std::mutex> g(g_libraryLock);
  auto [it, inserted] = Libraries().emplace(module, LoadedLibrary{loader, 0});
  if (!inserted) ::dlclose(loader);  // the loader counts once per entry here
  ++it->second.count;
  return module;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string native;
  if (const DWORD e = MapPath(std::string_view(fileName), &native); e != ERROR_SUCCESS) {
    vkr::platform::SetLastLoadProblem(std::string(fileName) + ": not a path a module can be loaded from");
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return LoadLibraryNative(native);
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadLibraryA(vkr::Utf16ToUtf8(fileName).c_str());
}

BOOL FreeLibrary(HMODULE module) {
  void* unload = nullptr;
  {
    std::lock_guard<std::mutex> g(g_libraryLock);
    auto it = Libraries().find(module);
    if (it == Libraries().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (--it->second.count == 0) {
      unload = it->second.loader;
      Libraries().erase(it);
    }
  }
  // Outside the lock: unloading runs the library's static destructors, which may call back.
  if (unload) ::dlclose(unload);
  return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  void* loader = nullptr;
  {
    std::lock_guard<std::mutex> g(g_libraryLock);
    auto it = Libraries().find(module);
    if (it == Libraries().end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    loader = it->second.loader;
  }
  if (!procName || (reinterpret_cast<ULONG_PTR>(procName) >> 16) == 0) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = ::dlsym(loader, procName);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL DisableThreadLibraryCalls(HMODULE module) {
  vkr::platform::ModuleEntry entry;
  if (!module || !vkr::platform::FindByHandle(module, &entry)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
