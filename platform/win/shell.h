// ShellExecuteA: opening a document or URL, or starting a program with parameters.
//
// The default runner starts an executable file (a path, or a bare name found on PATH) directly,
// its parameters split as a Windows command line is split, in `directory` when one is given.
// Anything else (a document, a directory, a URL) is handed to xdg-open when it is installed;
// without it the call fails with SE_ERR_NOASSOC, as Windows does for a file type with no
// application. Programs run detached: the call returns once the program has started. Tests
// install a runner that records the request instead.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/types.h"

// The show commands (the window calls take them too).
constexpr INT SW_HIDE = 0;
constexpr INT SW_SHOWNORMAL = 1;
constexpr INT SW_NORMAL = 1;
constexpr INT SW_SHOWMINIMIZED = 2;
constexpr INT SW_SHOWMAXIMIZED = 3;
constexpr INT SW_MAXIMIZE = 3;
constexpr INT SW_SHOWNOACTIVATE = 4;
constexpr INT SW_SHOW = 5;
constexpr INT SW_MINIMIZE = 6;
constexpr INT SW_SHOWMINNOACTIVE = 7;
constexpr INT SW_SHOWNA = 8;
constexpr INT SW_RESTORE = 9;
constexpr INT SW_SHOWDEFAULT = 10;

// ShellExecute's failure values; success is any value above 32.
constexpr INT_PTR SE_ERR_FNF = 2;
constexpr INT_PTR SE_ERR_PNF = 3;
constexpr INT_PTR SE_ERR_ACCESSDENIED = 5;
constexpr INT_PTR SE_ERR_OOM = 8;
constexpr INT_PTR SE_ERR_SHARE = 26;
constexpr INT_PTR SE_ERR_ASSOCINCOMPLETE = 27;
constexpr INT_PTR SE_ERR_DDETIMEOUT = 28;
constexpr INT_PTR SE_ERR_DDEFAIL = 29;
constexpr INT_PTR SE_ERR_DDEBUSY = 30;
constexpr INT_PTR SE_ERR_NOASSOC = 31;
constexpr INT_PTR SE_ERR_DLLNOTFOUND = 32;

// operation NULL or "open" opens; other verbs fail with SE_ERR_NOASSOC. file and directory are
// Windows paths (mapped as paths.h says) or, for file, a URL. The window and the show command
// have no effect here. Returns a value above 32 on success, else the failure value.
VKR_API HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                INT showCmd);

namespace vkr::platform {

struct ShellRequest {
  std::string operation;   // as given ("" for NULL)
  std::string file;        // as given
  std::string target;      // the native path of file, or the URL unchanged
  std::string parameters;  // as given
  std::string directory;   // native path, "" when none was given
  INT show = 0;
};

// Runs a request and answers ShellExecute's value (above 32 for success).
using ShellRunner = std::function<INT_PTR(const ShellRequest&)>;
// Installs a runner (an empty one restores the default) and returns the previous one.
VKR_API ShellRunner SetShellRunner(ShellRunner runner);
// The default runner, for tests that wrap it.
VKR_API INT_PTR RunShellRequest(const ShellRequest& request);

// The arguments of a Windows command line (the rules of CommandLineToArgvW for the arguments after
// the program: blanks separate, double quotes group, 2n backslashes before a quote are n
// backslashes and the quote groups, 2n+1 are n backslashes and a literal quote).
VKR_API std::vector<std::string> SplitCommandLine(std::string_view line);

}  // namespace vkr::platform
