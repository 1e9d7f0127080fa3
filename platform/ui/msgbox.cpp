// Scripted message boxes: nobody sits at a headless frame, so the frame, the host or a test says
// beforehand what the user answers, and every question is recorded.
#include <deque>
#include <mutex>

#include "platform/ui/dialogs.h"
#include "platform/ui/dialog_internal.h"
#include "platform/win/text.h"

namespace vkr::ui {
namespace {

struct Script {
  std::mutex mutex;
  std::deque<MessageBoxAnswer> answers;
  std::vector<MessageBoxQuestion> record;
  std::function<int(const MessageBoxQuestion&)> responder;
};

Script& TheScript() {
  static Script* s = new Script;  // never destroyed: a late message box during exit still works
  return *s;
}

int Ask(HWND owner, std::string text, std::string caption, UINT type) {
  MessageBoxQuestion question;
  question.owner = owner;
  question.text = std::move(text);
  question.caption = std::move(caption);
  question.type = type;
  MessageBoxAnswer answer;
  std::function<int(const MessageBoxQuestion&)> responder;
  bool scripted = false;
  {
    Script& s = TheScript();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.answers.empty()) {
      answer = std::move(s.answers.front());
      s.answers.pop_front();
      scripted = true;
    }
    responder = s.responder;
  }
  // The responder runs unlocked: it may print, or ask the frame.
  if (!scripted && responder) answer.button = responder(question);
  question.answer = answer.button ? answer.button : FirstMessageBoxButton(type);
  {
    Script& s = TheScript();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.record.push_back(question);
  }
  if (answer.action) {
    // While a real message box is open its owner takes no input.
    const HWND top = internal::TopLevelOf(owner);
    const bool disable = top && IsWindowEnabled(top);
    if (disable) EnableWindow(top, FALSE);
    answer.action(question);
    if (disable && IsWindow(top)) EnableWindow(top, TRUE);
  }
  return question.answer;
}

}  // namespace

int FirstMessageBoxButton(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return IDOK;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNOCANCEL:
    case MB_YESNO: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    case MB_CANCELTRYCONTINUE: return IDCANCEL;
    default: return IDOK;
  }
}

void SetMessageBoxResponder(std::function<int(const MessageBoxQuestion&)> responder) {
  Script& s = TheScript();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.responder = std::move(responder);
}

void SetMessageBoxScript(std::vector<MessageBoxAnswer> answers) {
  Script& s = TheScript();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.answers.assign(std::make_move_iterator(answers.begin()), std::make_move_iterator(answers.end()));
}

void AddMessageBoxAnswer(MessageBoxAnswer answer) {
  Script& s = TheScript();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.answers.push_back(std::move(answer));
}

std::vector<MessageBoxQuestion> MessageBoxRecord() {
  Script& s = TheScript();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.record;
}

void ClearMessageBoxRecord() {
  Script& s = TheScript();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.record.clear();
  s.answers.clear();
}

}  // namespace vkr::ui

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  // A null caption is "Error", as on Windows.
  return vkr::ui::Ask(owner, text ? text : "", caption ? caption : "Error", type);
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  return vkr::ui::Ask(owner, vkr::Utf16ToUtf8(vkr::View(text)),
                      caption ? vkr::Utf16ToUtf8(vkr::View(caption)) : std::string("Error"), type);
}
