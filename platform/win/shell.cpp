// ShellExecuteA over fork and exec.
#include "platform/win/shell.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/com/hresult.h"
#include "platform/win/native.h"
#include "platform/win/paths.h"

namespace vkr::platform {
namespace {

struct Shell {
  std::mutex mutex;
  ShellRunner runner;
};

Shell& TheShell() {
  static Shell* s = new Shell;
  return *s;
}

// "scheme:..." with a scheme of two or more letters; one letter is a drive.
bool IsUrl(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z') ||
                          (i > 0 && ((s[i] >= '0' && s[i] <= '9') || s[i] == '+' || s[i] == '-' || s[i] == '.'))))
    ++i;
  return i >= 2 && i < s.size() && s[i] == ':';
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path) return std::string();
  std::string_view rest(path);
  while (true) {
    const std::size_t colon = rest.find(':');
    std::string_view dir = rest.substr(0, colon);
    if (dir.empty()) dir = ".";
    // Built by appending: assigning or concatenating literals here trips a false -Wrestrict of
    // GCC 12 at -O3.
    std::string candidate;
    candidate.reserve(dir.size() + 1 + name.size());
    candidate.append(dir).append(1, '/').append(name);
    if (IsExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) return std::string();
    rest.remove_prefix(colon + 1);
  }
}

// What the started process reports back through the pipe when it could not start.
struct StartFailure {
  int stage;  // 1: chdir, 2: exec, 3: fork
  int error;
};

// Starts program detached (a grandchild, so nothing is left to reap) and waits until it has
// replaced itself or failed.
INT_PTR Spawn(const std::string& program, const std::vector<std::string>& args, const std::string& directory) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipeFd[2];
  if (::pipe2(pipeFd, O_CLOEXEC) != 0) return 0;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeFd[0]);
    ::close(pipeFd[1]);
    return 0;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    ::close(pipeFd[0]);
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        StartFailure f{3, errno};
        (void)!::write(pipeFd[1], &f, sizeof f);
      }
      ::_exit(0);
    }
    if (!directory.empty() && ::chdir(directory.c_str()) != 0) {
      StartFailure f{1, errno};
      (void)!::write(pipeFd[1], &f, sizeof f);
      ::_exit(127);
    }
    ::execv(program.c_str(), argv.data());
    StartFailure f{2, errno};
    (void)!::write(pipeFd[1], &f, sizeof f);
    ::_exit(127);
  }
  ::close(pipeFd[1]);
  int status;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  StartFailure f{0, 0};
  ssize_t n;
  while ((n = ::read(pipeFd[0], &f, sizeof f)) < 0 && errno == EINTR) {
  }
  ::close(pipeFd[0]);
  if (n != static_cast<ssize_t>(sizeof f)) return 42;  // the program runs
  ErrorFromErrno(f.error);
  if (f.stage == 1) return SE_ERR_PNF;
  if (f.stage == 3) return 0;
  switch (f.error) {
    case ENOENT:
    case ENOTDIR: return SE_ERR_FNF;
    case EACCES:
    case EPERM: return SE_ERR_ACCESSDENIED;
    case ENOMEM:
    case E2BIG: return SE_ERR_OOM;
    default: return ERROR_BAD_FORMAT;
  }
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  std::string current;
  bool inArg = false, quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\') {
      std::size_t n = 0;
      while (i < line.size() && line[i] == '\\') ++n, ++i;
      if (i < line.size() && line[i] == '"') {
        current.append(n / 2, '\\');
        if (n % 2) {
          current += '"';
        } else {
          quoted = !quoted;
        }
      } else {
        current.append(n, '\\');
        --i;
      }
      inArg = true;
    } else if (c == '"') {
      quoted = !quoted;
      inArg = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inArg) args.push_back(std::move(current));
      current.clear();
      inArg = false;
    } else {
      current += c;
      inArg = true;
    }
  }
  if (inArg) args.push_back(std::move(current));
  return args;
}

INT_PTR RunShellRequest(const ShellRequest& r) {
  if (!r.operation.empty() && strcasecmp(r.operation.c_str(), "open") != 0) return SE_ERR_NOASSOC;
  std::string program;
  if (!IsUrl(r.file)) {
    const bool relative = r.target.empty() || r.target.front() != '/';
    const std::string where = relative && !r.directory.empty() ? r.directory + "/" + r.target : r.target;
    struct stat st;
    if (::stat(where.c_str(), &st) == 0) {
      if (IsExecutableFile(where)) program = where;
    } else if (r.target.find('/') == std::string::npos) {
      program = FindOnPath(r.target);
      if (program.empty()) return SE_ERR_FNF;
    } else {
      return ::stat(DirectoryPart(where).c_str(), &st) == 0 ? SE_ERR_FNF : SE_ERR_PNF;
    }
    if (!program.empty()) {
      std::vector<std::string> args = SplitCommandLine(r.parameters);
      args.insert(args.begin(), program);
      return Spawn(program, args, r.directory);
    }
  }
  const std::string opener = FindOnPath("xdg-open");
  if (opener.empty()) return SE_ERR_NOASSOC;
  return Spawn(opener, {opener, r.target}, r.directory);
}

ShellRunner SetShellRunner(ShellRunner runner) {
  Shell& s = TheShell();
  std::lock_guard lock(s.mutex);
  ShellRunner previous = std::move(s.runner);
  s.runner = std::move(runner);
  return previous;
}

}  // namespace vkr::platform

HINSTANCE ShellExecuteA(HWND, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT showCmd) {
  using namespace vkr::platform;
  auto result = [](INT_PTR v) { return reinterpret_cast<HINSTANCE>(v); };
  if (!file || !*file) return result(SE_ERR_FNF);
  ShellRequest request;
  request.operation = operation ? operation : "";
  request.file = file;
  request.parameters = parameters ? parameters : "";
  request.show = showCmd;
  if (IsUrl(request.file)) {
    request.target = request.file;
  } else if (MapPath(request.file, &request.target) != ERROR_SUCCESS) {
    return result(SE_ERR_PNF);
  }
  if (directory && *directory && MapPath(directory, &request.directory) != ERROR_SUCCESS) return result(SE_ERR_PNF);
  ShellRunner runner;
  {
    Shell& s = TheShell();
    std::lock_guard lock(s.mutex);
    runner = s.runner;
  }
  return result(runner ? runner(request) : RunShellRequest(request));
}
