// Combo boxes of the device pages: code tables (item i shows text i and stands for device code
// i) and the "Loading..." placeholder item shown while values are awaited.
//
// The placeholder is added only when the combo lacks it and removed only when it has it, so
// showing, hiding and refreshing a page any number of times leaves at most one, and an arriving
// value removes it wherever it sits.
#pragma once

#include <initializer_list>
#include <optional>
#include <span>
#include <string>

#include "platform/platform.h"

namespace vkr::dui {

// One item of a code-table combo.
struct SComboCode {
  const char* text;
  BYTE code;
};

// Empties the combo and adds the table's texts in order. E_INVALIDARG when the dialog has no such
// item; E_OUTOFMEMORY when an item cannot be added.
HRESULT FillCodeCombo(HWND dialog, UINT comboId, std::span<const SComboCode> table);
// Selects the item of the code; false (selection unchanged) for a code the table lacks.
bool SelectCode(HWND dialog, UINT comboId, std::span<const SComboCode> table, BYTE code);
// The code of the item whose text is exactly the combo's text (its edit field for a drop-down
// combo); absent when the text is none of the table's.
std::optional<BYTE> CodeOfComboText(HWND dialog, UINT comboId, std::span<const SComboCode> table);
// The code of the selected item; absent without a selection or on the placeholder.
std::optional<BYTE> SelectedCode(HWND dialog, UINT comboId, std::span<const SComboCode> table);

// Adds "Loading..." as the last item when the combo lacks it, and selects it.
void ShowComboPlaceholder(HWND dialog, UINT comboId);
// Deletes the "Loading..." item when the combo has it; the selection is then none when it was
// selected. True when there was one.
bool RemoveComboPlaceholder(HWND dialog, UINT comboId);
bool HasComboPlaceholder(HWND dialog, UINT comboId);
// Writes "Loading..." into each of the items (edits, statics).
void SetLoadingText(HWND dialog, std::initializer_list<UINT> itemIds);

// The whole text of a dialog item (8-bit).
std::string DialogItemText(HWND dialog, UINT itemId);

}  // namespace vkr::dui
