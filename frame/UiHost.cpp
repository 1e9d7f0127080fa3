// The frame host's `ui` command.
#include "frame/UiHost.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "frame/ActiveXHost.h"
#include "frame/FrameDocuments.h"
#include "frame/FrameHost.h"
#include "frame/HostPaths.h"
#include "frame/HostUsage.h"
#include "frame/HostUtilities.h"
#include "frame/PageHost.h"
#include "frame/ProjectFiles.h"
#include "frame/Quiet.h"
#include "frame/TransferSession.h"
#include "frame/controls/OutsideControls.h"
#include "frame/controls/TestControl.h"

namespace vkr::frame {
namespace {

constexpr char16_t kDtmProgId[] = u"Vorn.ExampleDtm";
constexpr char kDefaultProject[] = "C:\\VKR\\project.vkr";

int Fail(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "vkr-frame: %s\n", what.c_str());
  return 1;
}

int Usage(const std::string& what) { return UsageError("ui: " + what); }

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The highest id of an item (a dialog's control ids are 16-bit) and of a function (a LONG).
constexpr unsigned long kHighestItemId = 65535;
constexpr unsigned long kHighestFunctionId = 2147483647;

// Whether the text is a number from `low` to `high`, read whole: a number beyond the range is no
// id at all, never one that wraps into it.
bool IsNumberIn(const std::string& text, unsigned long low, unsigned long high) {
  if (!IsNumber(text)) return false;
  const std::size_t first = std::min(text.find_first_not_of('0'), text.size() - 1);
  if (text.size() - first > 10) return false;
  const unsigned long long value = std::strtoull(text.c_str() + first, nullptr, 10);
  return value >= low && value <= high;
}

struct Function {
  LONG id = 0;
  std::string name;
  bool hidden = false;  // not offered to the user: the DTM's own user interfaces open it
};

// The quoted value of the attribute `name` (with or without a prefix) in an element's tag; empty
// when it has none.
std::string AttributeValue(const std::string& tag, const std::string& name) {
  for (std::size_t at = tag.find(name); at != std::string::npos; at = tag.find(name, at + 1)) {
    const char before = at > 0 ? tag[at - 1] : ' ';
    if (before != ' ' && before != ':' && before != '\t' && before != '\n') continue;
    std::size_t i = at + name.size();
    while (i < tag.size() && tag[i] == ' ') ++i;
    if (i >= tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && tag[i] == ' ') ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    const std::size_t end = tag.find(tag[i], i + 1);
    if (end == std::string::npos) return std::string();
    return tag.substr(i + 1, end - i - 1);
  }
  return std::string();
}

// The functions of the DTM's function list (their ids and names), in the list's order.
std::vector<Function> Functions(IUnknown* dtm) {
  std::vector<Function> functions;
  ComPtr<IDtm> idtm;
  if (FAILED(dtm->QueryInterface(IDtm::iid, idtm.PutVoid())) || !idtm) return functions;
  Bstr list;
  if (idtm->GetFunctions(Bstr(u"<FDT xmlns=\"x-schema:FDTOperationPhaseSchema.xml\" operationPhase=\"engineering\"/>"),
                         list.Put()) != S_OK)
    return functions;
  const std::string text = Utf16ToUtf8(list.View());
  // Each element with a function id, and its name attribute.
  for (std::size_t open = text.find('<'); open != std::string::npos; open = text.find('<', open + 1)) {
    const std::size_t close = text.find('>', open);
    if (close == std::string::npos) break;
    const std::string tag = text.substr(open, close - open);
    // A function's status element follows its function element.
    if (tag.rfind("<Status", 0) == 0 || tag.find(":Status") == 1) {
      if (!functions.empty()) functions.back().hidden = AttributeValue(tag, "hidden") == "1";
      continue;
    }
    std::string id = AttributeValue(tag, "functionId");
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) continue;
    Function f;
    f.id = std::stol(id);
    f.name = AttributeValue(tag, "name");
    functions.push_back(f);
  }
  return functions;
}

// Why the host stopped waiting for the DTM; empty while it never had to.
std::string g_waitedInVain;

// Waits until the DTM has done what the last step set going (the device's answers in, nothing
// queued), as a person waits for a page to fill. False when two minutes passed first; the
// run then says what it waited for.
bool Settle() {
  if (!g_waitedInVain.empty()) return false;
  std::string busy;
  if (WaitUntilQuiet(kQuietLimitMs, &busy)) return true;
  g_waitedInVain = "the user interface did not settle within two minutes: it was still waiting for " + busy;
  return false;
}

// Lets `ms` of the user interface's time pass on the fake clock, with its timers served: the clock
// moves from one due timer to the next, and what each set going settles before the next, so the
// same timers fire the same number of times, on any machine. False when the DTM did not settle.
bool LetTimePass(DWORD ms) {
  DWORD left = ms;
  for (;;) {
    if (!Settle()) return false;
    DWORD next = 0;
    if (!vkr::platform::TicksUntilNextTimer(&next) || next > left) {
      vkr::platform::AdvanceTickCount(left);
      return Settle();
    }
    vkr::platform::AdvanceTickCount(next);
    left -= next;
  }
}

// --no-picture: the run goes as with a picture, but none is drawn (drawing is a fifth of a run's
// time, and a caller that reads only the dump and the transmitter waits for it in vain).
bool g_noPicture = false;

// Renders the frame window once what the opening or the last step set going has settled.
bool Render(HWND window, const std::string& png) {
  Settle();
  return g_noPicture || vkr::ui::RenderWindowToPng(window, png.c_str());
}

// What a run tells of its picture: where it went, or that none was asked for.
std::string PictureWords(const std::string& png) { return g_noPicture ? "no picture (--no-picture)" : "rendered to " + png; }

// The page tree of a page frame: the first "SysTreeView32" window below `window`.
HWND FindPageTree(HWND window) {
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (vkr::ui::ClassName(child) == "SysTreeView32") return child;
    if (HWND found = FindPageTree(child)) return found;
  }
  return nullptr;
}

// The tree's items in the order a person reads them (each item, then the items below it).
void CollectItems(HWND tree, HTREEITEM first, std::vector<HTREEITEM>* items) {
  for (HTREEITEM item = first; item;
       item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
    items->push_back(item);
    CollectItems(tree,
                 reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))),
                 items);
  }
}

std::string ItemText(HWND tree, HTREEITEM item) {
  char text[256] = {};
  TVITEMA data{};
  data.mask = TVIF_TEXT | TVIF_HANDLE;
  data.hItem = item;
  data.pszText = text;
  data.cchTextMax = sizeof text;
  SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
  return text;
}

// "frame.png" with page 3 is "frame-3.png".
std::string PagePicture(const std::string& png, std::size_t index) {
  const std::size_t dot = png.rfind('.');
  const std::size_t slash = png.find_last_of("/\\");
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = hasExtension ? png.substr(0, dot) : png;
  return stem + "-" + std::to_string(index) + (hasExtension ? png.substr(dot) : std::string());
}

// The items of the frame's page tree, as the tree reads; *tree the tree (none: no items).
std::vector<HTREEITEM> PageItems(HWND window, HWND* tree) {
  *tree = FindPageTree(window);
  std::vector<HTREEITEM> items;
  if (*tree)
    CollectItems(*tree, reinterpret_cast<HTREEITEM>(SendMessageA(*tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), &items);
  return items;
}

// Selects the page of the command line's number, as a person clicks it in the tree, before the
// user's work starts: an entry typed first is then typed into that page.
void SelectPage(HWND window, const std::string& page) {
  if (page.empty() || page == "all") return;
  HWND tree = nullptr;
  const std::vector<HTREEITEM> items = PageItems(window, &tree);
  const std::size_t index = std::strtoul(page.c_str(), nullptr, 10);
  if (index < items.size()) SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(items[index]));
  vkr::ui::PumpUntilIdle();
}

// Shows page `index` of the tree as the user's click on it does, between steps of the work: the
// page left keeps what was typed into it. Returns the page's name; empty when the tree has no
// such page (the run then says how many it has).
std::string ShowPage(HWND window, std::size_t index) {
  HWND tree = nullptr;
  const std::vector<HTREEITEM> items = PageItems(window, &tree);
  if (index >= items.size()) {
    std::printf("  the user interface has %d page%s in its tree\n", static_cast<int>(items.size()),
                items.size() == 1 ? "" : "s");
    return std::string();
  }
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(items[index]));
  vkr::ui::PumpUntilIdle();
  const std::string name = ItemText(tree, items[index]);
  return name.empty() ? "(unnamed)" : name;
}

// Selects the tree items the command line asks for (a page as a person clicks it) and renders the
// frame with each; without --page the frame as it opened. False when a picture failed; *badPage
// when the frame has no such page.
bool RenderPages(HWND window, const std::string& png, const std::string& page, bool* badPage,
                 const std::function<void()>& afterEachPage = {}) {
  *badPage = false;
  if (page.empty()) return Render(window, png);
  HWND tree = nullptr;
  const std::vector<HTREEITEM> items = PageItems(window, &tree);
  std::vector<std::size_t> chosen;
  if (page == "all") {
    for (std::size_t i = 0; i < items.size(); ++i) chosen.push_back(i);
  } else {
    const std::size_t index = std::strtoul(page.c_str(), nullptr, 10);
    if (index < items.size()) chosen.push_back(index);
  }
  if (chosen.empty()) {
    std::printf("  the user interface has %d page%s in its tree\n", static_cast<int>(items.size()),
                items.size() == 1 ? "" : "s");
    *badPage = true;
    return true;
  }
  for (std::size_t index : chosen) {
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(items[index]));
    const std::string file = page == "all" ? PagePicture(png, index) : png;
    if (!Render(window, file)) return false;
    std::printf("  page %d \"%s\" %s\n", static_cast<int>(index), ItemText(tree, items[index]).c_str(),
                PictureWords(file).c_str());
    if (afterEachPage) afterEachPage();
  }
  return true;
}

// One step of the user's work in an open control, in command-line order.
struct Action {
  enum class Kind { Type, Click, Wait, Page } kind = Kind::Click;
  int id = 0;  // Wait: the milliseconds; Page: the tree item
  std::string text;
  bool now = false;  // taken at once, not after the DTM settled: while its requests are on the channel
};

// The item below `root` with that control id, the nearest first: a dialog's own items come before
// the inner windows of its controls (a combo box's list may carry id 1, as OK does). With
// `visibleOnly`, only an item the user sees.
HWND FindItemBelow(HWND root, int id, bool visibleOnly) {
  std::vector<HWND> level{root};
  while (!level.empty()) {
    std::vector<HWND> next;
    for (HWND parent : level)
      for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == id && (!visibleOnly || IsWindowVisible(child))) return child;
        next.push_back(child);
      }
    level = std::move(next);
  }
  return nullptr;
}

// An item the user's work reaches, and the open control that holds it.
struct Item {
  HWND window = nullptr;
  std::string invokeId;
};

// The item the user means: a visible one, in the control opened last first (a control a page
// opened stands over the page); only when none is visible a hidden one, so the user hears why it
// takes nothing. Pages share ids (the Process page's unit combo and the Command page's hidden
// one), so the visible item is the one of the page shown. The items are looked for below each
// control's host window, not among its frame window's own.
Item FindItem(const ActiveXHost& activeX, int id) {
  const std::vector<ActiveXHost::OpenControl>& open = activeX.OpenControls();
  for (bool visibleOnly : {true, false})
    for (auto it = open.rbegin(); it != open.rend(); ++it)
      if (HWND found = FindItemBelow(it->host ? it->host : it->window, id, visibleOnly)) return {found, it->invokeId};
  return {};
}

bool IsReadOnly(HWND item) {
  return vkr::ui::ClassName(item) == "Edit" && (GetWindowLongA(item, GWL_STYLE) & ES_READONLY) != 0;
}

bool IsList(HWND item) {
  const std::string name = vkr::ui::ClassName(item);
  return name == "ComboBox" || name == "ListBox";
}

// The entries of a list or combo box, for the user who named one it does not have.
std::string Entries(HWND item) {
  const bool combo = vkr::ui::ClassName(item) == "ComboBox";
  const LRESULT count = SendMessageA(item, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
  std::string entries;
  for (LRESULT i = 0; i < count; ++i) {
    char text[256] = {};
    if (SendMessageA(item, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) >= LRESULT{sizeof text})
      continue;
    SendMessageA(item, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    entries += (i ? ", \"" : "\"") + std::string(text) + "\"";
  }
  return entries.empty() ? "no entries" : "the entries " + entries;
}

// Types into an item as a person does: an edit is clicked, its text selected and replaced; a combo
// or list box gets the entry of that text chosen (any case), as a click chooses it. False when
// there is no item or it takes no input.
bool TypeInto(HWND item, const std::string& text) {
  if (!item) return false;
  if (IsList(item)) return vkr::ui::SelectItem(item, text);
  // A read-only edit takes no keystroke: nothing would be typed.
  if (IsReadOnly(item)) return false;
  if (!vkr::ui::Click(item)) return false;
  vkr::ui::PumpUntilIdle();
  SendMessageA(item, EM_SETSEL, 0, -1);
  // Nothing typed over the selection empties the edit, as a person does with the backspace key.
  if (!vkr::ui::TypeText(item, text.empty() ? std::string("\b") : text)) return false;
  vkr::ui::PumpUntilIdle();
  return true;
}

// The button word of an --answer ("no", "No" or "buttonNo" is "buttonNo"); empty when it names no
// button.
std::string AnswerButton(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text.rfind("button", 0) == 0) text.erase(0, 6);
  for (const char* button : {"Ok", "Cancel", "Yes", "No", "Abort", "Retry", "Ignore"}) {
    std::string lower(button);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (text == lower) return std::string("button") + button;
  }
  return std::string();
}

// "ID=TEXT" of --type; false when it is not one.
bool ParseTyping(const std::string& argument, Action* action) {
  const std::size_t equals = argument.find('=');
  if (equals == std::string::npos || !IsNumberIn(argument.substr(0, equals), 0, kHighestItemId)) return false;
  action->kind = Action::Kind::Type;
  action->id = std::atoi(argument.substr(0, equals).c_str());
  action->text = argument.substr(equals + 1);
  return true;
}

// Whether the control the frame opened is still open.
bool IsOpen(const ActiveXHost& activeX, const std::string& invokeId) {
  for (const auto& open : activeX.OpenControls())
    if (open.invokeId == invokeId) return true;
  return false;
}

// The DTM's data set as it would be saved.
std::string DataSetNow(TransferSession& session) {
  ComPtr<IPersistStreamInit> persist;
  std::string stream;
  if (session.Dtm() && SUCCEEDED(session.Dtm()->QueryInterface(IPersistStreamInit::iid, persist.PutVoid())) && persist)
    StreamBytes(persist.Get(), &stream);
  return stream;
}

enum class Saved { Unchanged, Saved, Failed };

// Whether the DTM holds a value that its data set's saved form does not (IPersistStreamInit::
// IsDirty): a look or a read of the device only changes the data set's status marks, which the
// project then keeps as they were.
bool ValueChanged(TransferSession& session) {
  ComPtr<IPersistStreamInit> persist;
  return session.Dtm() && SUCCEEDED(session.Dtm()->QueryInterface(IPersistStreamInit::iid, persist.PutVoid())) &&
         persist && persist->IsDirty() == S_OK;
}

// Saves the DTM's data set into the project when the user's work changed a value in it (`before`:
// the data set when the work began), as a frame saves its project after an OK or Apply: a look at
// a control writes nothing, not even a project that is not there yet. A failed save is printed
// and *failure says why.
Saved SaveWhenChanged(TransferSession& session, KnownFile* project, const std::string* before, std::string* failure) {
  if (!before || !ValueChanged(session) || DataSetNow(session) == *before) {
    std::printf("  data set unchanged\n");
    return Saved::Unchanged;
  }
  MakeFolderOf(project->Path());
  bool replaced = false;
  const HRESULT hr = SaveDataSet(session.Dtm(), project, &replaced);
  if (FAILED(hr)) {
    *failure = SaveFailure("the data set", project->Path(), hr, replaced);
    std::printf("  %s\n", failure->c_str());
    return Saved::Failed;
  }
  std::printf("  data set saved to %s\n", project->Path().c_str());
  return Saved::Saved;
}

// What the transmitter's loop current is ("loop current 4.000 mA (fixed), zero trim 3.950 mA"): a
// picture alone cannot say whether the current a control speaks of is real.
std::string TransmitterText(const SimulatedDevice& device) {
  // A current that is no number is said so, not printed as one.
  auto milliamperes = [](float value) {
    if (!std::isfinite(value)) return std::string("not a finite number");
    char number[32] = {};
    std::snprintf(number, sizeof number, "%.3f mA", static_cast<double>(value));
    return std::string(number);
  };
  std::string text = "loop current " + milliamperes(device.LoopCurrent()) +
                     (device.config.fixedCurrent != 0.0f ? " (fixed)" : "");
  for (const auto& [name, trim] : {std::pair{"zero", device.config.zeroTrim}, std::pair{"gain", device.config.gainTrim}})
    if (trim) text += std::string(", ") + name + " trim " + milliamperes(*trim);
  return text;
}

// Reports the --answer values that did not fit their question or found none; true when every one
// answered its question.
bool AnswersUsed(const FrameContainer& frame) {
  for (const std::string& unfit : frame.unfitAnswers)
    std::printf("  answer %s: not a button of the question, which got the button that changes nothing\n",
                unfit.c_str());
  for (const std::string& unused : frame.questionAnswers)
    std::printf("  answer %s: not used, no question came for it\n", unused.substr(6).c_str());
  return frame.unfitAnswers.empty() && frame.questionAnswers.empty();
}

// Prints the user messages from the nth on, each with the answer it got.
void PrintTold(const FrameContainer& frame, std::size_t from, const char* when) {
  for (std::size_t i = from; i < frame.userMessages.size(); ++i)
    std::printf("  told%s: %s\n", when, frame.userMessages[i].c_str());
}

// Closes what the frame has open (asking each control first), prints what the controls asked
// meanwhile and reports a control that refused. Nobody answers at this close: a question that no
// --answer is left for gets No where it has one.
// Returns why the run fails because of the close (a control that would not close), or empty.
std::string CloseAndFinish(FrameContainer& frame, IFdtActiveXHost* host, bool journal) {
  ActiveXHost& activeX = frame.activeX;
  const std::size_t told = frame.userMessages.size();
  std::string refused;
  while (!activeX.OpenControls().empty()) {
    const std::string id = activeX.OpenControls().back().invokeId;
    if (journal) std::printf("    > step close %s\n", id.c_str());
    VARIANT_BOOL closed = VARIANT_FALSE;
    const HRESULT hr = host->CloseActiveXControl(Bstr(Utf8ToUtf16(id)), &closed);
    std::printf("  closed %s: %s\n", id.c_str(), SUCCEEDED(hr) && closed ? "yes" : "no, the control kept it open");
    if (FAILED(hr) || !closed) {
      activeX.CloseAll();
      if (refused.empty()) refused = "a user interface would not close when the frame closed it (" + id + "); the frame let it go";
    }
    // What the close set going (a download the user agreed to, a current given back) ends first.
    Settle();
  }
  PrintTold(frame, told, " at the close");
  return refused;
}

// Whether a text names entries not valid: the refusal of an entry a user interface will not take.
bool SaysNotValid(const std::string& text) {
  return text.find(" entry is not valid") != std::string::npos || text.find(" entries are not valid") != std::string::npos;
}

// How a click that asks a control to close left it open.
struct KeptOpen {
  enum class Why { None, InvalidEntry, Cancelled, Refused, Told } why = Why::None;
  int clicked = 0;
  int invalidItem = 0;  // the entry that holds the focus after a refused OK; 0 none
  std::string invokeId;
};

// What a click left open: the control asked to close and its release refused (after the user's
// Cancel, or on its own), OK that the user cancelled at the control's own question, OK that told
// the user why it did not close (a download the device did not take), or OK that left it open
// over an entry it holds invalid (with or without a word naming it).
// `record` and `told`: the host's record and the user messages before the click.
KeptOpen AfterClick(const FrameContainer& frame, int clicked, const std::string& invokeId, std::size_t record,
                    std::size_t told) {
  KeptOpen kept;
  if (!IsOpen(frame.activeX, invokeId)) return kept;
  kept.clicked = clicked;
  kept.invokeId = invokeId;
  const auto& lines = frame.activeX.record;
  const auto& messages = frame.userMessages;
  const std::string refused = "prepare " + invokeId + " -> 0";
  const bool cancelled = std::any_of(messages.begin() + static_cast<std::ptrdiff_t>(told), messages.end(),
                                     [](const std::string& m) { return m.ends_with("-> buttonCancel"); });
  if (std::find(lines.begin() + static_cast<std::ptrdiff_t>(record), lines.end(), refused) != lines.end()) {
    kept.why = cancelled ? KeptOpen::Why::Cancelled : KeptOpen::Why::Refused;
  } else if (clicked == IDOK) {
    // A word that names entries not valid is the refusal of an invalid entry, told.
    const bool invalid = std::any_of(messages.begin() + static_cast<std::ptrdiff_t>(told), messages.end(), SaysNotValid);
    kept.why = cancelled                            ? KeptOpen::Why::Cancelled
               : messages.size() > told && !invalid ? KeptOpen::Why::Told
                                                    : KeptOpen::Why::InvalidEntry;
    if (kept.why == KeptOpen::Why::InvalidEntry) kept.invalidItem = GetFocus() ? GetDlgCtrlID(GetFocus()) : 0;
  }
  return kept;
}

// The line that says why the control is still open.
void PrintKeptOpen(const KeptOpen& kept) {
  const std::string what = kept.clicked == IDOK       ? "OK"
                           : kept.clicked == IDCANCEL ? "Cancel"
                                                      : "item " + std::to_string(kept.clicked);
  switch (kept.why) {
    case KeptOpen::Why::InvalidEntry:
      std::printf("  OK refused: the control is still open%s\n",
                  kept.invalidItem > 0 ? (" with item " + std::to_string(kept.invalidItem) + " marked invalid").c_str() : "");
      break;
    case KeptOpen::Why::Cancelled:
      std::printf("  %s: the control stays open because the user answered Cancel\n", what.c_str());
      break;
    case KeptOpen::Why::Refused: std::printf("  %s: the control kept itself open\n", what.c_str()); break;
    case KeptOpen::Why::Told:
      std::printf("  %s: the control stays open after what it told the user\n", what.c_str());
      break;
    case KeptOpen::Why::None:
      break;
  }
}

// "35#2=busy": the command, its occurrence (0 when not given) and the kind; false when it is not one.
bool ParseFault(const std::string& value, int* command, std::size_t* occurrence, std::string* kind) {
  const std::size_t eq = value.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *kind = value.substr(eq + 1);
  if (std::find_if(std::begin(kNamedFaultKinds), std::end(kNamedFaultKinds),
                   [&](const char* k) { return *kind == k; }) == std::end(kNamedFaultKinds))
    return false;
  const std::string target = value.substr(0, eq);
  const std::size_t hash = target.find('#');
  const std::string number = target.substr(0, hash);
  if (!IsNumber(number) || number.size() > 3 || std::atoi(number.c_str()) > 255) return false;
  *command = std::atoi(number.c_str());
  *occurrence = 0;
  if (hash != std::string::npos) {
    const std::string nth = target.substr(hash + 1);
    if (!IsNumber(nth) || nth.size() > 6 || std::atoi(nth.c_str()) == 0) return false;
    *occurrence = static_cast<std::size_t>(std::atoi(nth.c_str()));
  }
  return true;
}

// Every HART request the run sent, in order, as --fault names them ("35#2"): what a failure of
// each would have met.
void PrintRequests(const FrameChannel& channel) {
  std::string line;
  for (const auto& [command, occurrence] : channel.requestLog) {
    line += ' ';
    line += std::to_string(command);
    line += '#';
    line += std::to_string(occurrence);
  }
  std::printf("  requests:%s\n", line.empty() ? " none" : line.c_str());
  // At a wire speed: how long the run's requests held the line, those of going online included.
  if (channel.wireBitsPerSecond != 0)
    std::printf("  line time: %.2f s for the run's %zu HART requests at %lu bit/s\n",
                static_cast<double>(channel.LineTimeMs()) / 1000.0, channel.line.size(),
                static_cast<unsigned long>(channel.wireBitsPerSecond));
}

// Calls `fn` for every visible item below `root` that has an id, nearest first (the inner windows
// of a combo box are not items); *icons, when given, gets the visible icon statics.
template <class Fn>
void ForEachShownItem(HWND root, Fn&& fn, std::vector<HWND>* icons = nullptr) {
  std::vector<HWND> level{root};
  while (!level.empty()) {
    std::vector<HWND> next;
    for (HWND parent : level)
      for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        const std::string name = vkr::ui::ClassName(child);
        if (icons && name == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
          icons->push_back(child);
        const int id = GetDlgCtrlID(child);
        if (id != 0 && id != -1 && id != 0xFFFF) fn(child);
        if (name != "ComboBox") next.push_back(child);
      }
    level = std::move(next);
  }
}

// What the user interfaces told the user, in the order it came: their messages, and each new text
// of a message line (the frame's item 6333, the trend's 6334) as it stood after a step.
struct ToldLog {
  std::vector<std::string> texts;
  std::size_t messagesSeen = 0;
  std::map<int, std::string> lines;
  bool journal = false;

  void Note(const FrameContainer& frame) {
    // A question asks; only what the user was told counts.
    for (; messagesSeen < frame.userMessages.size(); ++messagesSeen)
      if (frame.userMessages[messagesSeen].find(" buttonsOk ") != std::string::npos)
        texts.push_back(frame.userMessages[messagesSeen]);
    for (int id : {6333, 6334}) {
      const Item item = FindItem(frame.activeX, id);
      const std::string text = item.window && IsWindowVisible(item.window) ? vkr::ui::WindowText(item.window) : "";
      if (text == lines[id]) continue;
      lines[id] = text;
      if (journal) std::printf("    > message line %d: %s\n", id, text.c_str());
      if (!text.empty()) texts.push_back("message line: " + text);
    }
    // The fields as they change between steps: what the user saw before a click closed them. A
    // control without a message line tells a failure in a field of its own ("... could not be
    // read: ..."), and that is told too.
    const std::vector<ActiveXHost::OpenControl>& open = frame.activeX.OpenControls();
    for (std::size_t c = 0; c < open.size(); ++c)
      ForEachShownItem(open[c].host ? open[c].host : open[c].window, [&](HWND item) {
        const std::string name = vkr::ui::ClassName(item);
        if (name != "Edit" && name != "ComboBox") return;
        const int id = GetDlgCtrlID(item);
        const std::string key = std::to_string(c) + " " + std::to_string(id);
        const std::string text = vkr::ui::WindowText(item);
        const auto known = fields.find(key);
        if (known != fields.end() && known->second == text) return;
        fields[key] = text;
        if (journal) std::printf("    > field %s: %s\n", key.c_str(), text.c_str());
        if (id != 6333 && id != 6334 && text.find(" could not ") != std::string::npos) texts.push_back("field " + std::to_string(id) + ": " + text);
      });
  }
  std::map<std::string, std::string> fields;
};

// A message box's buttons as the frame's messages name them.
std::string MessageBoxButtons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return "buttonsOkCancel";
    case MB_ABORTRETRYIGNORE: return "buttonsAbortRetryIgnore";
    case MB_YESNOCANCEL: return "buttonsYesNoCancel";
    case MB_YESNO: return "buttonsYesNo";
    case MB_RETRYCANCEL: return "buttonsRetryCancel";
    default: return "buttonsOk";
  }
}

int MessageBoxResult(const std::string& button) {
  static const std::pair<const char*, int> kButtons[] = {{"buttonOk", IDOK},       {"buttonCancel", IDCANCEL},
                                                         {"buttonYes", IDYES},     {"buttonNo", IDNO},
                                                         {"buttonAbort", IDABORT}, {"buttonRetry", IDRETRY},
                                                         {"buttonIgnore", IDIGNORE}};
  for (const auto& [word, id] : kButtons)
    if (button == word) return id;
  return IDOK;
}

// Prints every item a user sees in the open controls, as the user sees it, one a line:
// "  shown C ID CLASS FLAGS \"TEXT\"", C the control's place in opening order, FLAGS
// "enabled" or "greyed", then "readonly" for an edit that takes no typing, "checked" for a checked
// button, "mark=N" for the status icon beside it (the icon's resource number), and for a picture
// (a lamp) "image=N" or "icon=N", the bitmap or icon resource it shows (0: none). Labels are items
// too; the inner windows of a combo box are not.
void DumpItems(const ActiveXHost& activeX) {
  const std::vector<ActiveXHost::OpenControl>& open = activeX.OpenControls();
  for (std::size_t c = 0; c < open.size(); ++c) {
    std::vector<HWND> items, icons;
    ForEachShownItem(open[c].host ? open[c].host : open[c].window, [&](HWND child) { items.push_back(child); },
                     &icons);
    std::map<HWND, int> marks;
    for (HWND icon : icons) {
      const int resource =
          vkr::ui::IconResourceId(reinterpret_cast<HICON>(SendMessageA(icon, STM_GETIMAGE, IMAGE_ICON, 0)));
      if (resource == 0) continue;
      RECT at{};
      GetWindowRect(icon, &at);
      HWND nearest = nullptr;
      LONG gap = 24;
      for (HWND item : items) {
        RECT r{};
        GetWindowRect(item, &r);
        if (r.left < at.right || r.left - at.right >= gap || r.bottom <= at.top || r.top >= at.bottom) continue;
        gap = r.left - at.right;
        nearest = item;
      }
      if (nearest) marks[nearest] = resource;
    }
    for (HWND item : items) {
      const std::string name = vkr::ui::ClassName(item);
      const LONG style = GetWindowLongA(item, GWL_STYLE);
      std::string flags = IsWindowEnabled(item) ? "enabled" : "greyed";
      if (name == "Edit" && (style & ES_READONLY)) flags += ",readonly";
      if (name == "Button" && SendMessageA(item, BM_GETCHECK, 0, 0) == BST_CHECKED) flags += ",checked";
      if (name == "Button" && (style & BS_TYPEMASK) == BS_GROUPBOX) flags += ",group";
      if (const auto mark = marks.find(item); mark != marks.end()) flags += ",mark=" + std::to_string(mark->second);
      // What a lamp or picture shows: the bitmap or icon resource it holds now (0: none).
      if (name == "Static" && (style & SS_TYPEMASK) == SS_BITMAP)
        flags += ",image=" + std::to_string(vkr::ui::BitmapResourceId(
                                 reinterpret_cast<HBITMAP>(SendMessageA(item, STM_GETIMAGE, IMAGE_BITMAP, 0))));
      if (name == "Static" && (style & SS_TYPEMASK) == SS_ICON)
        flags += ",icon=" + std::to_string(vkr::ui::IconResourceId(
                                reinterpret_cast<HICON>(SendMessageA(item, STM_GETIMAGE, IMAGE_ICON, 0))));
      std::string text;
      for (char ch : vkr::ui::WindowText(item)) text += ch == '\n' ? std::string("\\n") : ch == '\r' ? std::string() : std::string(1, ch);
      // A list's entries, for a reader that chooses another one.
      if (IsList(item)) flags += ",entries=" + std::to_string(SendMessageA(item, name == "ComboBox" ? CB_GETCOUNT : LB_GETCOUNT, 0, 0));
      std::printf("  shown %d %d %s %s \"%s\"\n", static_cast<int>(c), GetDlgCtrlID(item), name.c_str(), flags.c_str(),
                  text.c_str());
      if (IsList(item)) std::printf("    entries: %s\n", Entries(item).c_str());
    }
  }
}

// What the run applied, for its last line.
std::string AppliedText(Saved saved, bool deviceWritten) {
  std::string text = saved == Saved::Saved ? "the data set saved" : "";
  if (deviceWritten) text += (text.empty() ? "" : " and ") + std::string("the device written");
  return text.empty() ? "nothing" : text;
}

}  // namespace

int RunUiCommand(const std::vector<std::string>& arguments) {
  std::string project = kDefaultProject, devicePath, png, function, className, page, additionalStatus;
  LCID language = 0;  // 0: the DTM's own
  bool list = false, testControl = false, offline = false, dump = false, journal = false, noPicture = false;
  std::vector<int> clicks;  // controls of a lone page clicked before its picture
  std::vector<Action> actions;  // the user's work in an opened control, in order
  std::vector<int> reads;       // items whose text is printed after it
  struct NamedFault {
    int command = 0;
    std::size_t occurrence = 0;  // 0: the next request of the command
    std::string kind;
  };
  std::vector<NamedFault> faults;
  DWORD wireBitsPerSecond = 0;
  std::deque<std::string> answers;  // the user's answers to the questions, in order (button words)
  bool projectGiven = false;
  bool now = false;  // --now: the next --type or --click is taken at once
  bool warnEveryWrite = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    const bool takesValue = a == "--type" || a == "--read" || a == "--png" || a == "--project" || a == "--device" || a == "--class" ||
                            a == "--additional-status" || a == "--click" || a == "--page" || a == "--language" ||
                            a == "--fault" || a == "--answer" || a == "--wire-delay" || a == "--wait";
    if (takesValue && ValueMissing(arguments, i)) return Usage(a + " needs a value");
    const std::string value = takesValue ? arguments[i + 1] : std::string();
    if (takesValue) ++i;
    if (a == "--list") {
      list = true;
    } else if (a == "--test-control") {
      testControl = true;
    } else if (a == "--offline") {
      offline = true;
    } else if (a == "--dump") {
      dump = true;
    } else if (a == "--journal") {
      journal = true;
    } else if (a == "--no-picture") {
      noPicture = true;
    } else if (a == "--now") {
      now = true;
    } else if (a == "--wait") {
      if (!IsNumber(value) || value.size() > 7 || std::atol(value.c_str()) > 3600000)
        return Usage("--wait takes the milliseconds to let pass (0 to 3600000), not " + value);
      if (now) return Usage("--now goes before a --type or --click, not before --wait");
      actions.push_back(Action{Action::Kind::Wait, std::atoi(value.c_str()), {}});
    } else if (a == "--type") {
      Action typing;
      if (!ParseTyping(value, &typing)) return Usage("--type takes ID=TEXT (ID an item id, 0 to 65535), not " + value);
      typing.now = std::exchange(now, false);
      actions.push_back(typing);
    } else if (a == "--answer") {
      answers.push_back(AnswerButton(value));
      if (answers.back().empty())
        return Usage("--answer takes a button: OK, Cancel, Yes, No, Abort, Retry or Ignore, not " + value);
    } else if (a == "--read") {
      if (!IsNumberIn(value, 0, kHighestItemId)) return Usage("--read takes an item id (0 to 65535), not " + value);
      reads.push_back(std::atoi(value.c_str()));
    } else if (a == "--device") {
      devicePath = value;
    } else if (a == "--png" || a == "--project" || a == "--class") {
      (a == "--png" ? png : a == "--project" ? project : className) = value;
      projectGiven = projectGiven || a == "--project";
    } else if (a == "--language") {
      if (!IsNumber(value) || value.size() > 5 || std::strtoul(value.c_str(), nullptr, 10) == 0)
        return Usage("--language takes a language id (a number such as 1031), not " + value);
      language = static_cast<LCID>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (a == "--fault") {
      if (value == "writes=warned") {
        warnEveryWrite = true;
        continue;
      }
      NamedFault fault;
      if (!ParseFault(value, &fault.command, &fault.occurrence, &fault.kind))
        return Usage("--fault takes COMMAND[#N]=KIND (COMMAND 0-255, N from 1: its Nth request; KIND silent, busy, "
                     "refused, lost, linkgone or warned) or writes=warned, not " + value);
      faults.push_back(fault);
    } else if (a == "--wire-delay") {
      if (value == "0")
        wireBitsPerSecond = 0;
      else if (value == "hart")
        wireBitsPerSecond = kHartBitsPerSecond;
      else
        return Usage("--wire-delay takes 0 or hart, not " + value);
    } else if (a == "--additional-status") {
      additionalStatus = value;
    } else if (a == "--click") {
      if (!IsNumberIn(value, 0, kHighestItemId)) return Usage("--click takes an item id (0 to 65535), not " + value);
      clicks.push_back(std::atoi(value.c_str()));
      actions.push_back(Action{Action::Kind::Click, std::atoi(value.c_str()), {}, std::exchange(now, false)});
    } else if (a == "--page") {
      if (value != "all" && !IsNumber(value)) return Usage("--page takes a page number or all, not " + value);
      // After a step of the user's work or the first page, a page number is a step of its own:
      // the user clicks that page in the tree. The first one before any step is the page the
      // work starts on.
      if (value != "all" && (!actions.empty() || !page.empty())) {
        if (now) return Usage("--now goes before a --type or --click, not before --page");
        if (value.size() > 6) return Usage("--page takes a page number of the tree, not " + value);
        actions.push_back(Action{Action::Kind::Page, std::atoi(value.c_str()), {}});
      } else {
        page = value;
      }
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else if (function.empty()) {
      function = a;
    } else {
      return Usage("takes one FUNCTION, not " + function + " and " + a);
    }
  }
  if (list + testControl + !function.empty() + !className.empty() != 1)
    return Usage("give one of FUNCTION, --list, --test-control or --class CLASS");
  if (now) return Usage("--now goes before a --type or --click");
  const bool waits = std::any_of(actions.begin(), actions.end(), [](const Action& x) { return x.kind == Action::Kind::Wait; });
  // The wire's time runs on the real clock (a control that waits for a download counts real time
  // too): letting the user interface's time pass on the fake clock would hold its answers back.
  if (waits && wireBitsPerSecond != 0) return Usage("--wait does not go with --wire-delay hart");
  if (!page.empty() && (list || testControl)) return Usage("--page does not go with --list or --test-control");
  if ((list || testControl) &&
      (!actions.empty() || !reads.empty() || offline || !faults.empty() || warnEveryWrite || !answers.empty()))
    return Usage("--type, --click, --wait, --read, --offline, --fault and --answer do not go with --list or --test-control");
  if (!function.empty()) {
    if (!IsNumberIn(function, 1, kHighestFunctionId))
      return Usage("FUNCTION is a function id, a number from 1 to 2147483647 (ui --list lists them), not " + function);
  }
  if (!additionalStatus.empty() &&
      (additionalStatus.size() % 2 != 0 || additionalStatus.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos))
    return Usage("--additional-status takes the status bytes in hex (e.g. 06000100), not " + additionalStatus);
  const std::pair<const char*, std::string*> files[] = {{"--project", &project}, {"--device", &devicePath}};
  for (const auto& [option, path] : files)
    if (const std::string why = path->empty() ? "" : FullWindowsPath(*path, path); !why.empty())
      return Usage(PathOptionRefused(option, *path, why));
  if (offline && !devicePath.empty()) return Usage("--device does not go with --offline (no device is on the channel)");
  if (noPicture && !png.empty()) return Usage("--no-picture does not go with --png");
  g_noPicture = noPicture;
  if (png.empty()) png = testControl ? "ui-test-control.png" : !className.empty() ? "ui-class.png" : "ui-" + function + ".png";
  if (const std::string outside =
          LinkOutOfDriveRoot({project, project + ".compared", devicePath.empty() ? project + ".device" : devicePath});
      !outside.empty())
    return Fail(outside);
  // A project named on the command line must be there, unless the data set is planned offline
  // (a new one); without --project the user interface shows the default project or a new data set.
  const bool projectMustExist = projectGiven && !offline && !testControl;
  {
    bool usage = false;
    std::string why;
    if (!CheckCommandFiles({project, devicePath.empty() ? project + ".device" : devicePath, !devicePath.empty(), "",
                            g_noPicture ? std::string() : png},
                           projectMustExist, &usage, &why))
      return usage ? Usage(why) : Fail(why);
  }
  if (projectMustExist)
    if (const std::string problem = ProjectProblem(project); !problem.empty()) return Fail(problem);
  // A class of another module, registered as a DTM's module is: by ProgID or by {CLSID}.
  CLSID classId{};
  if (!className.empty()) {
    const std::u16string name = Utf8ToUtf16(className);
    const HRESULT found = name.front() == u'{' ? CLSIDFromString(name.c_str(), &classId)
                                               : CLSIDFromProgID(name.c_str(), &classId);
    if (FAILED(found)) return Fail("no class " + className + " is registered: " + FailureText(found));
  }
  const LONG functionId = function.empty() ? 0 : std::strtol(function.c_str(), nullptr, 10);

  // Time a --wait lets pass is the fake clock's, from before the first timer is set: the timers of
  // the user interface and the DTM then fire when the host moves the clock, never on their own.
  struct FakeClock {
    explicit FakeClock(bool on) : on(on) {
      if (!on) return;
      vkr::platform::UseFakeTickCount(GetTickCount());
      vkr::platform::MoveFakeTickCountOnSleep(true);
    }
    ~FakeClock() {
      if (on) vkr::platform::UseRealTickCount();
    }
    bool on;
  } fakeClock(waits);

  Apartment apartment;
  if (FAILED(apartment.Result())) return Fail("the frame's apartment could not be made");
  HRESULT hr = RegisterOutsideControls();
  if (FAILED(hr)) return Fail("the outside controls could not be registered: " + ResultText(hr));
  struct Revoke {
    ~Revoke() { RevokeOutsideControls(); }
  } revoke;
  AtlAxWinInit();

  // The project's files: its data set, and online the transmitter the engineer's commands talk to.
  KnownFile projectFile(project);
  std::string dataSet, why;
  if (!ReadProject(&projectFile, &dataSet, &why, !projectGiven || offline || testControl)) return Fail(why);
  DeviceFile deviceFile(devicePath.empty() ? project + ".device" : devicePath);
  // The record of what the project knew of the device says nothing is known before a change
  // reaches the transmitter.
  KnownFile record(project + ".compared");
  record.Read();
  DeviceChanges changes(&deviceFile, &record);
  auto session = std::make_unique<TransferSession>();
  auto device = std::make_shared<SimulatedDevice>();
  // Only an upload puts a transmitter in place; a listing and the frame's own test control talk to
  // none.
  if (!offline && !deviceFile.Load(device.get(), &why, list || testControl)) return Fail(why);
  // The leading status bytes as given; the rest stay clear. The device then reports more status
  // available until a master acknowledges them.
  if (!additionalStatus.empty()) {
    if (additionalStatus.size() / 2 > device->config.additionalStatus.size())
      return Usage("--additional-status takes at most " + std::to_string(device->config.additionalStatus.size()) +
                   " status bytes, not " + std::to_string(additionalStatus.size() / 2));
    for (std::size_t i = 0; i < additionalStatus.size() / 2; ++i)
      device->config.additionalStatus[i] =
          static_cast<std::uint8_t>(std::strtoul(additionalStatus.substr(2 * i, 2).c_str(), nullptr, 16));
  }
  hr = session->Open(kDtmProgId, device, std::string(), projectFile.Present() ? &dataSet : nullptr);
  if (FAILED(hr)) return Fail(OpenFailure(project, hr, session->DataSetRefused()));
  // Online, the device file keeps what the transmitter holds when the command ends, on every road
  // out (the session closed first): what reached the transmitter stays there.
  struct KeepDevice {
    ~KeepDevice() {
      std::string problem;
      if (!saved && !Save(&problem)) Fail(problem);
    }
    bool Save(std::string* problem) {
      saved = true;
      return offline || file.Save(*device, problem);
    }
    DeviceFile& file;
    const std::shared_ptr<SimulatedDevice>& device;
    bool offline;
    bool saved = false;
  } keepDevice{deviceFile, device, offline};
  // And it takes each write before the transmitter confirms it, whatever becomes of the run
  // afterwards; a write it cannot keep the transmitter does not confirm (told now, and by the
  // user interface as a refusal).
  // A read that told this master of a cold start confirms no write: its answer goes out though
  // the transmitter's memory of having told it cannot be kept (told once).
  changes.beforeChange = [] { HoldForTesting("change"); };
  if (!offline)
    device->keepMemory = [&changes, &deviceFile, transmitter = device.get(), toldNotKept = false]() mutable {
      const bool onlyTold = deviceFile.HoldsAllButToldColdStart(*transmitter);
      if (onlyTold && toldNotKept) return true;
      std::string problem;
      const bool kept = changes.Keep(*transmitter, &problem);
      if (!kept && onlyTold) {
        toldNotKept = true;
        std::fprintf(stderr,
                     "vkr-frame: the transmitter's memory of having told this master its cold start could not be kept "
                     "(%s): the next command is told it again\n",
                     problem.c_str());
        return true;
      }
      if (!problem.empty()) std::fprintf(stderr, "vkr-frame: %s\n", problem.c_str());
      return kept;
    };
  // Offline: nothing answers on the frame's channel, so nothing can take the DTM online.
  if (offline) {
    session->Channel()->devices.clear();
    std::printf("Offline: no device on the frame's channel\n");
  }
  if (language != 0) {
    ComPtr<IDtm> dtm;
    VARIANT_BOOL set = VARIANT_FALSE;
    hr = session->Dtm()->QueryInterface(IDtm::iid, dtm.PutVoid());
    if (SUCCEEDED(hr) && dtm) hr = dtm->SetLanguage(language, &set);
    if (FAILED(hr) || !dtm) {
      session->Close();
      return Fail("the DTM did not take the language " + std::to_string(language) + ": " + FailureText(hr));
    }
    std::printf("Language %lu: %s\n", static_cast<unsigned long>(language),
                set ? "set" : "not offered, the DTM kept English");
  }
  session->Channel()->wireBitsPerSecond = wireBitsPerSecond;
  session->Channel()->warnEveryWrite = warnEveryWrite;
  // The faults wait for the user interface: the requests of the session's opening are not theirs,
  // and the requests the run lists are counted from here as the faults count them.
  session->Channel()->CountRequestsFromNow();
  for (const NamedFault& f : faults) InjectNamedFault(*session->Channel(), f.command, f.kind, f.occurrence);
  FrameContainer* frame = session->Frame();
  frame->questionAnswers = answers;
  frame->answersChangeNothing = true;
  // The journal: what happened in the order it happened, for a reader that asks what came first.
  if (journal) {
    FrameChannel* channel = session->Channel();
    channel->onDataExchange = [channel](std::size_t) {
      if (!channel->requestLog.empty())
        std::printf("    > request %d#%d\n", channel->requestLog.back().first,
                    static_cast<int>(channel->requestLog.back().second));
    };
    frame->onNote = [previous = frame->onNote](const std::string& line) {
      if (previous) previous(line);
      if (line.rfind("message ", 0) == 0 || line.rfind("open user interface", 0) == 0 ||
          line.rfind("close user interface", 0) == 0)
        std::printf("    > %s\n", line.c_str());
    };
  }
  // The windows' own message boxes ask the same user: answered from the same --answer list.
  vkr::ui::SetMessageBoxResponder([frame, journal](const vkr::ui::MessageBoxQuestion& question) {
    const std::string buttons = MessageBoxButtons(question.type);
    const std::string answer = frame->ChooseAnswer(buttons, question.text);
    frame->userMessages.push_back("message box " + buttons + " " + question.caption + ": " + question.text + " -> " +
                                  answer);
    if (journal) std::printf("    > %s\n", frame->userMessages.back().c_str());
    return MessageBoxResult(answer);
  });
  struct ForgetResponder {
    ~ForgetResponder() { vkr::ui::SetMessageBoxResponder(nullptr); }
  } forgetResponder;
  ComPtr<IFdtActiveXHost> host;
  frame->QueryInterface(IFdtActiveXHost::iid, host.PutVoid());

  if (list) {
    ComPtr<IDtmActiveXInformation> information;
    session->Dtm()->QueryInterface(IDtmActiveXInformation::iid, information.PutVoid());
    if (!information) return Fail("the DTM offers no user interface information");
    std::printf("Functions with a user interface:\n");
    int shown = 0;
    for (const Function& f : Functions(session->Dtm())) {
      Bstr classId;
      if (information->GetActiveXGuid(Bstr(FunctionCallDocument(f.id)), classId.Put()) != S_OK) continue;
      std::printf("  %4d  %-32s %s\n", static_cast<int>(f.id), f.name.c_str(), Utf16ToUtf8(classId.View()).c_str());
      ++shown;
    }
    if (shown == 0) std::printf("  (none)\n");
    session->Close();
    return 0;
  }

  const Bstr call(FunctionCallDocument(functionId));
  // A property page of the DTM is shown on its own, as its page frame would host it.
  if (!className.empty() && PageHost::IsPropertyPage(classId)) {
    // Nothing else of the user's work reaches a lone page: refused, not silently left out.
    if (clicks.size() != actions.size() || !reads.empty() || !answers.empty() || dump || journal || !page.empty()) {
      session->Close();
      return Fail("a property page shown on its own takes --click only (not --type, --wait, --read, --answer, "
                  "--page, --dump or --journal)");
    }
    std::printf("Opening the property page of class %s\n", className.c_str());
    PageHost page;
    hr = page.Open(session->Dtm(), frame, classId, call);
    for (int id : clicks) {
      if (hr != S_OK) break;
      if (page.Click(id) != S_OK) {
        page.Close(nullptr);
        session->Close();
        return Fail("the page has no control " + std::to_string(id) + " to click");
      }
    }
    for (const std::string& line : page.record) std::printf("  %s\n", line.c_str());
    if (hr != S_OK) {
      page.Close(nullptr);
      session->Close();
      return Fail("the page did not open: " + (FAILED(hr) ? FailureText(hr) : std::string("Init refused")));
    }
    RECT r{};
    GetWindowRect(page.Window(), &r);
    const bool rendered = Render(page.Window(), png);
    if (rendered && !g_noPicture)
      std::printf("  rendered %dx%d to %s\n", static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top),
                  png.c_str());
    bool closed = false;
    page.Close(&closed);
    std::printf("  closed the page: %s\n", closed ? "yes" : "no, the page kept it open");
    session->Close();
    if (!rendered) return Fail("the picture could not be written to " + png);
    return closed ? 0 : 1;
  }
  VARIANT_BOOL opened = VARIANT_FALSE;
  if (testControl) {
    std::printf("Opening the frame's test control\n");
    hr = frame->activeX.OpenClass(session->Dtm(), CLSID_FrameTestControl, call, &opened);
  } else if (!className.empty()) {
    std::printf("Opening the user interface of class %s\n", className.c_str());
    hr = frame->activeX.OpenClass(session->Dtm(), classId, call, &opened);
  } else {
    std::printf("Opening the user interface of function %d\n", static_cast<int>(functionId));
    // A hidden function is opened by the DTM's online user interfaces (the self-test results
    // from the Diagnostics page): the DTM is online when it opens, so the host takes it online.
    for (const Function& f : Functions(session->Dtm()))
      if (f.id == functionId && f.hidden && PageHost::TakeOnline(session->Dtm(), frame)) std::printf("  online\n");
    hr = host->OpenActiveXControl(Bstr(kSystemTag), call, &opened);
  }
  for (const std::string& line : frame->activeX.record) std::printf("  %s\n", line.c_str());
  if (FAILED(hr) || !opened) {
    session->Close();
    if (hr == S_FALSE && className.empty()) return Fail("the DTM names no user interface for function " + function);
    return Fail("the user interface did not open: " + (FAILED(hr) ? FailureText(hr) : std::string("Init refused")));
  }
  const HWND window = frame->activeX.OpenControls().back().window;
  const std::string invokeId = frame->activeX.OpenControls().back().invokeId;
  RECT r{};
  GetWindowRect(window, &r);
  bool badPage = false, rendered = false, pictured = false;  // pictured: a picture was tried
  // The data set and the transmitter before the user's work, to tell what the work changed.
  const std::string before = actions.empty() ? std::string() : DataSetNow(*session);
  const std::string deviceBefore = DeviceFileText(device->config);
  // A download the user agreed to (a control's close asks) runs in the DTM: its failure is told as
  // the host's download tells it.
  const std::size_t notesBefore = frame->notifications.size();
  const std::uint16_t changesBefore = device->config.configChangeCounter;
  KeptOpen kept;
  // The Sends of the page frame (221) a page refused over an entry that is not valid, by page, as
  // its message line told it; the page's next Send or Refresh (356) answers for it.
  std::map<std::string, std::string> refusedSends;
  std::string stopped;  // why the user's work could not go on
  ToldLog toldLog;
  toldLog.journal = journal;
  if (!actions.empty()) SelectPage(window, page);
  const Action* lastPictured = nullptr;
  for (const Action& action : actions)
    if (action.kind == Action::Kind::Click && !action.now) lastPictured = &action;
  // The user's work, typing and clicks in order; the picture shows the control after all the work,
  // or as the click that closed it (OK, Cancel) found it.
  for (const Action& action : actions) {
    // The user acts on what the page shows once the device's answers are in; with --now as soon as
    // the DTM sent what it could, while the answers are still on their way.
    if (action.now) {
      std::string busy;
      if (!WaitUntilQuiet(kQuietLimitMs, &busy, true)) {
        g_waitedInVain = "the user interface did not settle within two minutes: it was still waiting for " + busy;
        break;
      }
    } else {
      if (!Settle()) break;
      toldLog.Note(*frame);
    }
    if (!IsOpen(frame->activeX, invokeId)) {
      stopped = action.kind == Action::Kind::Wait ? "the user interface closed before the time was let pass"
                : action.kind == Action::Kind::Page
                    ? "the user interface closed before its page " + std::to_string(action.id) + " was shown"
                    : "the user interface closed before the item " + std::to_string(action.id) + " was reached";
      break;
    }
    if (action.kind == Action::Kind::Page) {
      if (journal) std::printf("    > step page %d\n", action.id);
      const std::string shown = ShowPage(window, static_cast<std::size_t>(action.id));
      if (shown.empty()) {
        stopped = "no page " + std::to_string(action.id) + " in the user interface's page tree";
        break;
      }
      // The pictures and the final one show the page the user went to; "all" stays each in turn.
      if (page != "all") page = std::to_string(action.id);
      if (!Settle()) break;
      toldLog.Note(*frame);
      std::printf("  page %d \"%s\" shown\n", action.id, shown.c_str());
      continue;
    }
    if (action.kind == Action::Kind::Wait) {
      if (journal) std::printf("    > step wait %d\n", action.id);
      if (!LetTimePass(static_cast<DWORD>(action.id))) break;
      toldLog.Note(*frame);
      std::printf("  waited %d ms\n", action.id);
      continue;
    }
    // The picture as the click finds the page (with "all" each page comes at the end: going
    // through them now would move the user to another page before the click). Only the last such
    // click's: a later picture would draw over an earlier one.
    if (&action == lastPictured && page != "all") {
      rendered = RenderPages(window, png, page, &badPage);
      pictured = true;
    }
    const Item item = FindItem(frame->activeX, action.id);
    const std::size_t record = frame->activeX.record.size(), told = frame->userMessages.size();
    if (journal)
      std::printf("    > step %s%s %d%s\n", action.now ? "now " : "", action.kind == Action::Kind::Type ? "type" : "click",
                  action.id, action.kind == Action::Kind::Type ? ("=" + action.text).c_str() : "");
    const bool done = action.kind == Action::Kind::Type ? TypeInto(item.window, action.text)
                                                        : item.window && vkr::ui::Click(item.window);
    if (!done) {
      const std::string has = !item.window                            ? ""
                              : IsWindowVisible(item.window) == FALSE ? " (it is hidden)"
                              : IsWindowEnabled(item.window) == FALSE ? " (it is greyed)"
                              : action.kind == Action::Kind::Type && IsReadOnly(item.window) ? " (it is read-only)"
                              : action.kind == Action::Kind::Type && IsList(item.window)
                                  ? " (it has " + Entries(item.window) + ")"
                                  : "";
      stopped = "the user interface has no item " + std::to_string(action.id) + " that takes " +
                (action.kind == Action::Kind::Type ? "\"" + action.text + "\"" : std::string("a click")) + has;
      break;
    }
    // What the step set going (a read, a write, a close) ends before its outcome is looked at.
    Settle();
    toldLog.Note(*frame);
    if (action.kind == Action::Kind::Type)
      std::printf("  typed \"%s\" into %d\n", action.text.c_str(), action.id);
    else
      std::printf("  clicked %d\n", action.id);
    // What the frame did meanwhile: a control the click opened or closed, a close refused.
    for (std::size_t i = record; i < frame->activeX.record.size(); ++i)
      std::printf("    %s\n", frame->activeX.record[i].c_str());
    if (action.kind == Action::Kind::Click && (action.id == 221 || action.id == 356)) {
      const Item line = FindItem(frame->activeX, 6333);
      const std::string text = line.window ? vkr::ui::WindowText(line.window) : std::string();
      if (action.id == 221 && SaysNotValid(text))
        refusedSends[page] = text;
      else
        refusedSends.erase(page);
    }
    if (action.kind == Action::Kind::Type)
      kept = KeptOpen();
    else if (const KeptOpen now = AfterClick(*frame, action.id, item.invokeId, record, told);
             now.why != KeptOpen::Why::None || !IsOpen(frame->activeX, kept.invokeId))
      kept = now;
  }
  if (stopped.empty() && !g_waitedInVain.empty()) stopped = g_waitedInVain;
  const bool open = stopped.empty() && IsOpen(frame->activeX, invokeId);
  if (open) {
    // Every page as it was shown, for a reader of --dump: each page shows its own device fields.
    std::function<void()> dumpEach;
    if (dump && page == "all") dumpEach = [frame, &toldLog] {
      toldLog.Note(*frame);
      DumpItems(frame->activeX);
    };
    rendered = RenderPages(window, png, page, &badPage, dumpEach);
    pictured = true;
  }
  if (stopped.empty() && !g_waitedInVain.empty()) stopped = g_waitedInVain;
  toldLog.Note(*frame);
  if (rendered && page.empty() && !g_noPicture)
    std::printf("  rendered %dx%d to %s\n", static_cast<int>(r.right - r.left), static_cast<int>(r.bottom - r.top),
                png.c_str());
  for (int id : reads) {
    const Item item = open ? FindItem(frame->activeX, id) : Item();
    if (item.window)
      std::printf("  item %d: \"%s\"\n", id, vkr::ui::WindowText(item.window).c_str());
    else
      std::printf("  item %d: (%s)\n", id, open ? "none" : "the user interface closed");
  }
  if (stopped.empty() && !open) std::printf("  the user interface closed itself\n");
  // What the user sees once what the last step set going is over, also after a step it could not
  // take: a page still reading shows its placeholders only while its requests are on the channel.
  if (dump) {
    Settle();
    toldLog.Note(*frame);
    DumpItems(frame->activeX);
  }
  // What the user was told, and what the transmitter holds.
  PrintTold(*frame, 0, "");
  const std::string transmitter = offline ? std::string() : TransmitterText(*device);
  if (!offline) std::printf("  transmitter: %s\n", transmitter.c_str());
  // The status bits its answers carried, as the engineer's commands tell them.
  // A current the transmitter holds fixed is told by the line above, with its value.
  const std::uint8_t toldBits = device->StatusAnswered() & static_cast<std::uint8_t>(
                                    device->config.fixedCurrent != 0.0f ? ~hart::kStatusCurrentFixed : 0xFF);
  if (const std::string told = offline ? std::string() : hart::StatusConditions(toldBits); !told.empty())
    std::printf("  transmitter told: %s\n", told.c_str());
  if (const std::string wrong = offline ? std::string() : device->NonFiniteAnswered(); !wrong.empty())
    std::printf("  transmitter gave values that are not finite numbers: %s\n", wrong.c_str());
  if (!IsOpen(frame->activeX, kept.invokeId)) kept = KeptOpen();
  PrintKeptOpen(kept);
  // Why the run exits 1, most telling first: its last line says the first, the others come before.
  std::vector<std::string> failures;
  const std::string refusedClose = CloseAndFinish(*frame, host.Get(), journal);
  toldLog.Note(*frame);
  const bool answered = AnswersUsed(*frame);
  std::string saveFailure;
  const Saved saved = SaveWhenChanged(*session, &projectFile, actions.empty() ? nullptr : &before, &saveFailure);
  const std::string absent = offline ? std::string() : session->Channel()->NoDeviceAnswered();
  session->Close();
  // The close may still have written to the transmitter (a download the user agreed to, a loop
  // current given back): what it holds then, as its device file keeps it.
  if (!offline && TransmitterText(*device) != transmitter)
    std::printf("  transmitter after the close: %s\n", TransmitterText(*device).c_str());
  // The question a control asks before it downloads, answered Yes: what failed after it, whether
  // the control told it too or not.
  const std::vector<std::string>& notes = frame->notifications;
  std::size_t asked = notes.size();
  for (std::size_t i = notesBefore; i < notes.size(); ++i) {
    const std::string& note = notes[i];
    if (note.rfind("message ", 0) == 0 && note.find(" Download Parameters: ") != std::string::npos &&
        note.size() >= 12 && note.compare(note.size() - 12, 12, "-> buttonYes") == 0)
      asked = i;
  }
  // What it wrote with the transmitter's warning was written, and is told with the warning.
  if (!offline && asked < notes.size())
    for (std::size_t i = asked + 1; i < notes.size(); ++i)
      if (IsWarningNote(notes[i])) std::printf("  %s\n", notes[i].substr(notes[i].find(": ") + 2).c_str());
  std::string downloadFailure;
  if (asked < notes.size())
    downloadFailure =
        DownloadFailureText(notes, asked + 1, !offline && device->config.configChangeCounter != changesBefore);
  if (!downloadFailure.empty()) std::printf("  %s\n", downloadFailure.c_str());
  PrintRequests(*session->Channel());
  for (const std::string& failed : session->Channel()->requestFailures) std::printf("  not done: %s\n", failed.c_str());
  std::string deviceFailure;
  if (!keepDevice.Save(&deviceFailure)) std::printf("  %s\n", deviceFailure.c_str());
  const std::string applied = AppliedText(saved, !offline && DeviceFileText(device->config) != deviceBefore);
  std::printf("  applied: %s\n", applied.c_str());

  if (!stopped.empty()) failures.push_back(stopped);
  if (!absent.empty()) failures.push_back("the user interface could not reach the transmitter: " + absent);
  if (pictured && !rendered) failures.push_back("the picture could not be written to " + png);
  if (badPage) failures.push_back("no page " + page + " in the user interface's page tree");
  if (kept.why == KeptOpen::Why::InvalidEntry)
    failures.push_back("the control is still open with an invalid entry" +
                       (kept.invalidItem > 0 ? " (item " + std::to_string(kept.invalidItem) + ")" : std::string()) +
                       (applied == "nothing" ? ": it refused OK and applied nothing" : ": it refused OK; applied: " + applied));
  for (const auto& [shown, text] : refusedSends)
    failures.push_back((shown.empty() ? std::string("the page") : "page " + shown) +
                       " refused its Send: " + text);
  if (!downloadFailure.empty()) failures.push_back(downloadFailure);
  // A request of the run that the device did not do: the user's work did not all happen.
  const std::vector<std::string>& failedRequests = session->Channel()->requestFailures;
  if (!failedRequests.empty()) {
    std::string text = "not all was done: HART command " + failedRequests.front();
    if (failedRequests.size() > 1)
      text += " (and " + std::to_string(failedRequests.size() - 1) + " more request" +
              (failedRequests.size() > 2 ? "s" : "") + " not done)";
    text += toldLog.texts.empty() ? "; the user interface told nothing of it"
                                  : "; the user interface told last: " + toldLog.texts.back();
    failures.push_back(text);
  }
  if (!refusedClose.empty()) failures.push_back(refusedClose);
  if (!saveFailure.empty()) failures.push_back(saveFailure);
  if (!deviceFailure.empty()) failures.push_back(deviceFailure);
  if (!answered) failures.push_back("not every --answer answered its question");
  if (failures.empty()) return 0;
  for (std::size_t i = 1; i < failures.size(); ++i) std::printf("  also: %s\n", failures[i].c_str());
  return Fail(failures.front());
}

}  // namespace vkr::frame
