// Code-table combos and the placeholders of device fields (see ComboHelpers.h).
#include "ui/device/kit/ComboHelpers.h"

#include <cstring>
#include <string_view>

#include "ui/device/DeviceUiIds.h"

namespace vkr::dui {

namespace {

LRESULT Send(HWND dialog, UINT id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendDlgItemMessageA(dialog, static_cast<int>(id), message, wParam, lParam);
}

// The index of the item whose text is exactly text (case counts), or -1. CB_FINDSTRINGEXACT
// ignores case, so its hit is checked.
LRESULT FindExact(HWND dialog, UINT id, const char* text) {
  LRESULT start = -1;
  for (;;) {
    const LRESULT found = Send(dialog, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(text));
    if (found == CB_ERR || found <= start) return -1;
    const LRESULT length = Send(dialog, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(found));
    std::string item(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    Send(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(found), reinterpret_cast<LPARAM>(item.data()));
    if (std::string_view(item.c_str()) == text) return found;
    start = found;
  }
}

// Whether the text fits the item's client area in the item's font; an edit keeps a pixel each side.
// An item that cannot be measured takes the text as it is.
bool Fits(HWND item, const char* text) {
  RECT client{};
  if (!GetClientRect(item, &client)) return true;
  HDC dc = GetDC(item);
  if (!dc) return true;
  const auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(item, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SIZE size{};
  const BOOL measured = GetTextExtentPoint32A(dc, text, static_cast<int>(std::strlen(text)), &size);
  if (old) SelectObject(dc, old);
  ReleaseDC(item, dc);
  return !measured || size.cx <= client.right - client.left - 2;
}

void SetPlaceholder(HWND dialog, UINT id, const char* text, const char* shortText) {
  HWND item = GetDlgItem(dialog, static_cast<int>(id));
  if (item) SetWindowTextA(item, Fits(item, text) ? text : shortText);
}

}  // namespace

std::string DialogItemText(HWND dialog, UINT itemId) {
  return WindowText(GetDlgItem(dialog, static_cast<int>(itemId)));
}

std::string WindowText(HWND item) {
  if (!item) return {};
  const int length = GetWindowTextLengthA(item);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(item, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

HRESULT FillCodeCombo(HWND dialog, UINT comboId, std::span<const SComboCode> table) {
  if (!GetDlgItem(dialog, static_cast<int>(comboId))) return E_INVALIDARG;
  Send(dialog, comboId, CB_RESETCONTENT);
  for (const SComboCode& item : table) {
    const LRESULT index = Send(dialog, comboId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text));
    if (index == CB_ERR || index == CB_ERRSPACE) return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool SelectCode(HWND dialog, UINT comboId, std::span<const SComboCode> table, BYTE code) {
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].code != code) continue;
    const LRESULT index = FindExact(dialog, comboId, table[i].text);
    if (index < 0) return false;
    Send(dialog, comboId, CB_SETCURSEL, static_cast<WPARAM>(index));
    // A value is shown: "Not connected" is no longer true (it sits after the items, so the
    // selection stays).
    for (const char* old : {kNotConnectedText, kNotReadText})
      if (const LRESULT stale = FindExact(dialog, comboId, old); stale > index)
        Send(dialog, comboId, CB_DELETESTRING, static_cast<WPARAM>(stale));
    return true;
  }
  return false;
}

std::optional<BYTE> CodeOfComboText(HWND dialog, UINT comboId, std::span<const SComboCode> table) {
  const std::string text = DialogItemText(dialog, comboId);
  for (const SComboCode& item : table)
    if (text == item.text) return item.code;
  return std::nullopt;
}

std::optional<BYTE> SelectedCode(HWND dialog, UINT comboId, std::span<const SComboCode> table) {
  const LRESULT index = Send(dialog, comboId, CB_GETCURSEL);
  if (index < 0) return std::nullopt;
  const LRESULT length = Send(dialog, comboId, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
  if (length < 0) return std::nullopt;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  Send(dialog, comboId, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  for (const SComboCode& item : table)
    if (text == item.text) return item.code;
  return std::nullopt;
}

bool HasComboPlaceholder(HWND dialog, UINT comboId) { return FindExact(dialog, comboId, kLoadingText) >= 0; }

void ShowComboPlaceholder(HWND dialog, UINT comboId) {
  for (const char* old : {kNotConnectedText, kNotReadText})
    if (const LRESULT stale = FindExact(dialog, comboId, old); stale >= 0)
      Send(dialog, comboId, CB_DELETESTRING, static_cast<WPARAM>(stale));
  LRESULT index = FindExact(dialog, comboId, kLoadingText);
  if (index < 0) index = Send(dialog, comboId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kLoadingText));
  if (index >= 0) Send(dialog, comboId, CB_SETCURSEL, static_cast<WPARAM>(index));
}

bool RemoveComboPlaceholder(HWND dialog, UINT comboId) {
  const LRESULT index = FindExact(dialog, comboId, kLoadingText);
  if (index < 0) return false;
  Send(dialog, comboId, CB_DELETESTRING, static_cast<WPARAM>(index));
  return true;
}

void SetLoadingText(HWND dialog, std::initializer_list<UINT> itemIds) {
  for (UINT id : itemIds) SetPlaceholder(dialog, id, kLoadingText, kLoadingShortText);
}

void MatchPlaceholders(HWND dialog, bool valueMayCome, std::initializer_list<UINT> itemIds,
                       std::initializer_list<UINT> comboIds) {
  const char* wanted = valueMayCome ? kLoadingText : kNotConnectedText;
  const char* other = valueMayCome ? kNotConnectedText : kLoadingText;
  for (UINT id : itemIds) {
    if (!ShowsPlaceholder(dialog, id) || (valueMayCome && DialogItemText(dialog, id) == kNotReadText)) continue;
    SetPlaceholder(dialog, id, wanted, valueMayCome ? kLoadingShortText : kNotConnectedShortText);
  }
  for (UINT id : comboIds) {
    // A combo that shows nothing where no value can come says why as well.
    const LRESULT stale = FindExact(dialog, id, other);
    if (stale >= 0)
      Send(dialog, id, CB_DELETESTRING, static_cast<WPARAM>(stale));
    else if (valueMayCome || Send(dialog, id, CB_GETCURSEL) >= 0)
      continue;
    LRESULT index = FindExact(dialog, id, wanted);
    if (index < 0) index = Send(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wanted));
    if (index >= 0) Send(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index));
  }
}

void ShowNotRead(HWND dialog, std::initializer_list<UINT> itemIds, std::initializer_list<UINT> comboIds) {
  for (UINT id : itemIds)
    if (DialogItemText(dialog, id) == kLoadingText || DialogItemText(dialog, id) == kLoadingShortText)
      ::SetDlgItemTextA(dialog, static_cast<int>(id), kNotReadText);
  for (UINT id : comboIds) {
    // Waiting shows as the placeholder item or as no selection at all.
    const LRESULT loading = FindExact(dialog, id, kLoadingText);
    const LRESULT current = Send(dialog, id, CB_GETCURSEL);
    if (loading >= 0) Send(dialog, id, CB_DELETESTRING, static_cast<WPARAM>(loading));
    if (current >= 0 && current != loading) continue;
    LRESULT index = FindExact(dialog, id, kNotReadText);
    if (index < 0) index = Send(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kNotReadText));
    if (index >= 0) Send(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index));
  }
}

bool AwaitsValue(HWND dialog, UINT itemId) { return ItemAwaitsValue(GetDlgItem(dialog, static_cast<int>(itemId))); }

bool ItemAwaitsValue(HWND item) {
  if (!item) return false;
  // Only a text as short as the placeholder can be it: one read of a short buffer tells.
  char buffer[32] = {};
  const int got = GetWindowTextA(item, buffer, static_cast<int>(sizeof buffer));
  if (got <= 0 || got >= static_cast<int>(sizeof buffer) - 1) return false;
  const std::string_view text(buffer, static_cast<std::size_t>(got));
  return text == kLoadingText || (text == kLoadingShortText && !Fits(item, kLoadingText));
}

bool ShowsPlaceholder(HWND dialog, UINT itemId) {
  HWND item = GetDlgItem(dialog, static_cast<int>(itemId));
  if (!item) return false;
  const std::string text = DialogItemText(dialog, itemId);
  if (text == kLoadingText || text == kNotConnectedText || text == kNotReadText || text == kNotShownText) return true;
  // A short form is the placeholder only where the words would not fit: elsewhere it is a value.
  return (text == kLoadingShortText && !Fits(item, kLoadingText)) ||
         (text == kNotConnectedShortText && !Fits(item, kNotConnectedText));
}

}  // namespace vkr::dui
