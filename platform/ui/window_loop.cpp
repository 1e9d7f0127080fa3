// The host loop: its filter chain, the dialog manager's slot, and the pumps for tests.
#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/ui/window_internal.h"
#include "platform/win/threads.h"

namespace vkr::ui {
namespace {

struct Filter {
  UINT_PTR cookie;
  std::shared_ptr<MessageFilter> fn;
};

std::vector<Filter>& Filters() {
  thread_local std::vector<Filter> filters;
  return filters;
}

std::atomic<UINT_PTR> g_nextCookie{1};
std::atomic<BOOL (*)(MSG*)> g_dialogHook{nullptr};

}  // namespace

UINT_PTR AddMessageFilter(MessageFilter filter) {
  if (!filter) return 0;
  UINT_PTR cookie = g_nextCookie++;
  Filters().push_back({cookie, std::make_shared<MessageFilter>(std::move(filter))});
  return cookie;
}

void RemoveMessageFilter(UINT_PTR cookie) {
  std::erase_if(Filters(), [&](const Filter& f) { return f.cookie == cookie; });
}

void SetDialogMessageHook(BOOL (*isDialogMessage)(MSG* msg)) { g_dialogHook = isDialogMessage; }

void detail::InstallDialogHookIfCleared(BOOL (*hook)(MSG* msg)) {
  BOOL (*none)(MSG*) = nullptr;
  g_dialogHook.compare_exchange_strong(none, hook);
}

bool RunMessageFilters(MSG* msg) {
  if (!msg) return false;
  // Calls between apartments are the platform's own traffic, not input to filter.
  if (!msg->hwnd && msg->message == vkr::platform::kApartmentCallMessage) return false;
  // A filter may add or remove filters while it runs.
  std::vector<Filter> snapshot = Filters();
  for (auto& f : snapshot) {
    bool live = std::any_of(Filters().begin(), Filters().end(), [&](const Filter& g) { return g.cookie == f.cookie; });
    if (live && (*f.fn)(msg)) return true;
  }
  if (auto hook = g_dialogHook.load(); hook && msg->hwnd && hook(msg)) return true;
  return false;
}

void ProcessHostMessage(MSG* msg) {
  if (!msg || RunMessageFilters(msg)) return;
  TranslateMessage(msg);
  DispatchMessageW(msg);
}

int RunHostMessageLoop() {
  MSG msg;
  for (;;) {
    BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0) return static_cast<int>(msg.wParam);
    if (r == -1) return -1;
    ProcessHostMessage(&msg);
  }
}

bool PumpUntilIdle(std::size_t maxMessages) {
  MSG msg;
  for (std::size_t n = 0; n < maxMessages; ++n) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return true;
    if (msg.message == WM_QUIT) {
      // The quit belongs to the thread's own loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    ProcessHostMessage(&msg);
  }
  return !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (!PumpUntilIdle()) {
      if (done()) return true;
    }
    if (done()) return true;
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (timeoutMs != INFINITE && elapsed.count() >= static_cast<long long>(timeoutMs)) return false;
    DWORD wait = timeoutMs == INFINITE ? 10 : static_cast<DWORD>(std::min<long long>(10, timeoutMs - elapsed.count()));
    MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace vkr::ui
