// Combo boxes of the device pages: code tables (item i shows text i and stands for device code
// i), and the placeholders of device fields without a device value: "Loading..." while a value
// may come, "Not connected" when none can (the DTM is neither online nor going online).
//
// A combo's placeholder item is added only when the combo lacks it and removed only when it has
// it, so showing, hiding and refreshing a page any number of times leaves at most one, and an
// arriving value removes it wherever it sits.
//
// A placeholder that does not fit its field is written short ("..." and "--"): a field shows no
// cut text. A short form counts as the placeholder only in a field too narrow for the words.
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
// Selects the item of the code (and drops a "Not connected" item); false (selection unchanged)
// for a code the table lacks.
bool SelectCode(HWND dialog, UINT comboId, std::span<const SComboCode> table, BYTE code);
// The code of the item whose text is exactly the combo's text (its edit field for a drop-down
// combo); absent when the text is none of the table's.
std::optional<BYTE> CodeOfComboText(HWND dialog, UINT comboId, std::span<const SComboCode> table);
// The code of the selected item; absent without a selection or on the placeholder.
std::optional<BYTE> SelectedCode(HWND dialog, UINT comboId, std::span<const SComboCode> table);

// Adds "Loading..." as the last item when the combo lacks it (in place of "Not connected"), and
// selects it.
void ShowComboPlaceholder(HWND dialog, UINT comboId);
// Deletes the "Loading..." item when the combo has it (a value came; "Not connected" stays until
// one is shown); the selection is then none when it was selected. True when there was one.
bool RemoveComboPlaceholder(HWND dialog, UINT comboId);
bool HasComboPlaceholder(HWND dialog, UINT comboId);
// Writes "Loading..." into each of the items (edits, statics).
void SetLoadingText(HWND dialog, std::initializer_list<UINT> itemIds);
// Each item and combo that shows a placeholder shows the one that tells what is coming:
// "Loading..." when a device value may come, "Not connected" when none can (a combo's placeholder
// item is replaced and selected; a combo without a selection gets "Not connected" too). Values and
// the user's entries stay, and so does "Not read" while a device value may come: no read of it is
// on its way.
void MatchPlaceholders(HWND dialog, bool valueMayCome, std::initializer_list<UINT> itemIds,
                       std::initializer_list<UINT> comboIds = {});
// A read that failed: each item and combo still waiting for its value ("Loading...") shows "Not
// read" instead (a combo's placeholder item is replaced and selected). Values and the user's
// entries stay. A later placeholder replaces it.
void ShowNotRead(HWND dialog, std::initializer_list<UINT> itemIds, std::initializer_list<UINT> comboIds = {});
// Whether the item shows a placeholder (the short form only where the words do not fit): nothing
// of the device's or the user's is in it.
bool ShowsPlaceholder(HWND dialog, UINT itemId);

// Whether the item shows "Loading..." (its short form only where the words do not fit): its value
// is on its way from the device.
bool AwaitsValue(HWND dialog, UINT itemId);
// The same of an item already at hand (a walk over the dialog's children).
bool ItemAwaitsValue(HWND item);

// The whole text of a dialog item (8-bit).
std::string DialogItemText(HWND dialog, UINT itemId);
// The whole text of a window (8-bit); empty for none.
std::string WindowText(HWND item);

}  // namespace vkr::dui
