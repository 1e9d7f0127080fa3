// Tooltips (tooltips_class32), in their "A" messages: the tools and their texts, the maximum tip
// width, and a query for tests. Nothing pops up: no mouse hovers here.
#include <algorithm>
#include <vector>

#include "platform/ui/control_internal.h"
#include "platform/win/resources.h"

namespace vkr::ui::controls {
namespace {

struct Tool {
  UINT flags = 0;
  HWND hwnd = nullptr;
  UINT_PTR id = 0;
  RECT rect{};
  HINSTANCE hinst = nullptr;
  std::string text;
  bool callback = false;
  LPARAM lParam = 0;
};

// A text given as a string resource id is loaded when the tool gets it.
std::string TextOf(const TOOLINFOA& info, bool* callback) {
  *callback = false;
  if (!info.lpszText) return {};
  if (info.lpszText == LPSTR_TEXTCALLBACKA) {
    *callback = true;
    return {};
  }
  if (IS_INTRESOURCE(info.lpszText)) {
    char buffer[1024] = {};
    const int n = LoadStringA(info.hinst, static_cast<UINT>(reinterpret_cast<ULONG_PTR>(info.lpszText)), buffer,
                              static_cast<int>(sizeof buffer));
    return std::string(buffer, static_cast<std::size_t>(n > 0 ? n : 0));
  }
  return info.lpszText;
}

class ToolTip final : public Control {
 public:
  using Control::Control;

  LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
    const auto* info = reinterpret_cast<const TOOLINFOA*>(lParam);
    switch (message) {
      case TTM_ADDTOOLA: {
        if (!info) return FALSE;
        Tool tool;
        tool.flags = info->uFlags;
        tool.hwnd = info->hwnd;
        tool.id = info->uId;
        tool.rect = info->rect;
        tool.hinst = info->hinst;
        tool.text = TextOf(*info, &tool.callback);
        tool.lParam = info->lParam;
        auto it = FindTool(info->hwnd, info->uId);
        if (it != tools_.end()) *it = std::move(tool);
        else tools_.push_back(std::move(tool));
        return TRUE;
      }
      case TTM_DELTOOLA: {
        if (!info) return 0;
        auto it = FindTool(info->hwnd, info->uId);
        if (it != tools_.end()) tools_.erase(it);
        return 0;
      }
      case TTM_UPDATETIPTEXTA: {
        if (!info) return 0;
        auto it = FindTool(info->hwnd, info->uId);
        if (it != tools_.end()) {
          it->hinst = info->hinst;
          it->text = TextOf(*info, &it->callback);
        }
        return 0;
      }
      case TTM_NEWTOOLRECTA: {
        if (!info) return 0;
        auto it = FindTool(info->hwnd, info->uId);
        if (it != tools_.end()) it->rect = info->rect;
        return 0;
      }
      case TTM_GETTOOLINFOA:
      case TTM_GETTEXTA: {
        auto* out = reinterpret_cast<TOOLINFOA*>(lParam);
        if (!out) return FALSE;
        auto it = FindTool(out->hwnd, out->uId);
        if (it == tools_.end()) return FALSE;
        if (message == TTM_GETTOOLINFOA) {
          out->uFlags = it->flags;
          out->rect = it->rect;
          out->hinst = it->hinst;
          out->lParam = it->lParam;
        }
        if (out->lpszText && out->lpszText != LPSTR_TEXTCALLBACKA && !IS_INTRESOURCE(out->lpszText)) {
          // TTM_GETTEXTA's wParam is the buffer's size; TTM_GETTOOLINFOA trusts the buffer as
          // Windows does (80 characters).
          const std::size_t room = message == TTM_GETTEXTA && wParam ? wParam : 80;
          const std::size_t n = std::min(it->text.size(), room - 1);
          it->text.copy(out->lpszText, n);
          out->lpszText[n] = '\0';
        }
        return TRUE;
      }
      case TTM_GETTOOLCOUNT:
        return static_cast<LRESULT>(tools_.size());
      case TTM_SETMAXTIPWIDTH: {
        const int old = maxWidth_;
        maxWidth_ = static_cast<int>(static_cast<LONG>(lParam));
        return old;
      }
      case TTM_GETMAXTIPWIDTH:
        return maxWidth_;
      case TTM_ACTIVATE:
        active_ = wParam != 0;
        return 0;
      case TTM_SETDELAYTIME:
      case TTM_RELAYEVENT:
      case TTM_POP:
        return 0;
      default:
        return Default(message, wParam, lParam);
    }
  }

  std::string Text(HWND tool, UINT_PTR id) {
    auto it = FindTool(tool, id);
    return it == tools_.end() ? std::string() : it->text;
  }
  int MaxWidth() const { return maxWidth_; }

  std::string Describe() const override {
    std::string out = " tools=[";
    for (std::size_t i = 0; i < tools_.size(); ++i) out += (i ? "|" : "") + tools_[i].text;
    out += "]";
    if (!active_) out += " inactive";
    return out;
  }

 private:
  std::vector<Tool>::iterator FindTool(HWND hwnd, UINT_PTR id) {
    return std::find_if(tools_.begin(), tools_.end(), [&](const Tool& t) { return t.hwnd == hwnd && t.id == id; });
  }

  std::vector<Tool> tools_;
  int maxWidth_ = -1;
  bool active_ = true;
};

}  // namespace

void RegisterToolTip() {
  RegisterBuiltinClass({u"tooltips_class32", CS_DBLCLKS | CS_SAVEBITS | CS_GLOBALCLASS, &ControlProc<ToolTip>, 0,
                        nullptr, nullptr, false});
}

}  // namespace vkr::ui::controls

namespace vkr::ui {

std::string GetToolTipText(HWND tooltip, HWND toolWindow, UINT_PTR toolId) {
  auto t = controls::FindAs<controls::ToolTip>(tooltip);
  return t ? t->Text(toolWindow, toolId) : std::string();
}

int GetToolTipMaxWidth(HWND tooltip) {
  auto t = controls::FindAs<controls::ToolTip>(tooltip);
  return t ? t->MaxWidth() : -1;
}

}  // namespace vkr::ui
