// Every text a window was given, in order: what the user saw, however briefly (a failure's word
// that the next answer replaces within one message of the frame's).
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace vkr::test {

class CTextLog {
 public:
  // `onText`, when given, runs as each new text lands: what else the user saw at that moment.
  static void Watch(HWND window, std::function<void(const std::string&)> onText = {}) {
    if (!window) return;
    if (onText) Hooks()[window] = std::move(onText);
    if (Procs().count(window)) return;
    Procs()[window] =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CTextLog::Proc)));
  }
  static std::vector<std::string> Of(HWND window) { return Texts()[window]; }
  static bool Saw(HWND window, const std::string& text) {
    const std::vector<std::string>& texts = Texts()[window];
    for (const std::string& t : texts)
      if (t == text) return true;
    return false;
  }
  static void Reset() { Texts().clear(); }
  // The window's `onText` runs no more (what it refers to is going).
  static void Unhook(HWND window) { Hooks().erase(window); }

 private:
  static LRESULT Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto found = Procs().find(window);
    if (found == Procs().end()) return DefWindowProcW(window, message, wParam, lParam);
    const WNDPROC previous = found->second;
    if (message == WM_NCDESTROY) {
      // The window goes: its own procedure back, and its handle free for another window.
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
      Procs().erase(found);
      Hooks().erase(window);
      return CallWindowProcW(previous, window, message, wParam, lParam);
    }
    const LRESULT result = CallWindowProcW(previous, window, message, wParam, lParam);
    if (message == WM_SETTEXT) {
      const std::string text = vkr::ui::WindowText(window);
      auto& texts = Texts()[window];
      if (!text.empty() && (texts.empty() || texts.back() != text)) {
        texts.push_back(text);
        if (const auto hook = Hooks().find(window); hook != Hooks().end()) hook->second(text);
      }
    }
    return result;
  }
  static std::map<HWND, WNDPROC>& Procs() {
    static std::map<HWND, WNDPROC> procs;
    return procs;
  }
  static std::map<HWND, std::function<void(const std::string&)>>& Hooks() {
    static std::map<HWND, std::function<void(const std::string&)>> hooks;
    return hooks;
  }
  static std::map<HWND, std::vector<std::string>>& Texts() {
    static std::map<HWND, std::vector<std::string>> texts;
    return texts;
  }
};

}  // namespace vkr::test
