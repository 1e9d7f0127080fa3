// The tree view (SysTreeView32), in its "A" messages: items with text, parameter and state,
// insertion, deletion (TVI_ROOT deletes all), navigation, and the selection with
// TVN_SELCHANGINGA (which may veto) and TVN_SELCHANGEDA.
//
// Deleting the selected item (or an ancestor of it) moves the selection to the next sibling of
// the deleted branch, else the previous one, else its parent, else nothing, with the same pair of
// notifications (action TVC_UNKNOWN); the veto cannot keep an item that is going.
#include <algorithm>
#include <atomic>
#include <map>
#include <vector>

#include "platform/ui/control_internal.h"
#include "platform/win/text.h"

namespace vkr::ui::controls {
namespace {

struct Node {
  std::string text;
  LPARAM param = 0;
  UINT state = 0;
  int image = 0;
  int selectedImage = 0;
  int children = 0;
  HTREEITEM parent = nullptr;
  std::vector<HTREEITEM> kids;
};

// Item handles are unique in the process and never reused, like window handles.
std::atomic<ULONG_PTR> g_nextItem{0x100};

class Tree final : public Control {
 public:
  using Control::Control;

  LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case TVM_INSERTITEMA:
        return reinterpret_cast<LRESULT>(Insert(reinterpret_cast<const TVINSERTSTRUCTA*>(lParam)));
      case TVM_DELETEITEM:
        return Delete(reinterpret_cast<HTREEITEM>(lParam)) ? TRUE : FALSE;
      case TVM_GETNEXTITEM:
        return reinterpret_cast<LRESULT>(Next(wParam, reinterpret_cast<HTREEITEM>(lParam)));
      case TVM_SELECTITEM:
        if (wParam == TVGN_CARET) return Select(reinterpret_cast<HTREEITEM>(lParam), TVC_UNKNOWN) ? TRUE : FALSE;
        if (wParam == TVGN_DROPHILITE || wParam == TVGN_FIRSTVISIBLE) {
          HTREEITEM item = reinterpret_cast<HTREEITEM>(lParam);
          if (item && !Has(item)) return FALSE;
          (wParam == TVGN_DROPHILITE ? dropHilite_ : firstVisible_) = item;
          return TRUE;
        }
        return FALSE;
      case TVM_GETITEMA:
        return GetItem(reinterpret_cast<TVITEMA*>(lParam)) ? TRUE : FALSE;
      case TVM_SETITEMA:
        return SetItem(reinterpret_cast<const TVITEMA*>(lParam)) ? TRUE : FALSE;
      case TVM_GETITEMSTATE: {
        auto it = nodes_.find(reinterpret_cast<HTREEITEM>(wParam));
        return it == nodes_.end() ? 0 : (it->second.state & static_cast<UINT>(lParam));
      }
      case TVM_GETCOUNT:
        return static_cast<LRESULT>(nodes_.size());
      case TVM_GETVISIBLECOUNT: {
        RECT rc{};
        GetClientRect(hwnd_, &rc);
        return rc.bottom / 16;
      }
      case TVM_EXPAND: {
        auto it = nodes_.find(reinterpret_cast<HTREEITEM>(lParam));
        if (it == nodes_.end()) return FALSE;
        UINT& state = it->second.state;
        const UINT action = static_cast<UINT>(wParam) & 3;
        const bool expanded = (state & TVIS_EXPANDED) != 0;
        bool want = expanded;
        if (action == TVE_EXPAND) want = true;
        else if (action == TVE_COLLAPSE) want = false;
        else if (action == TVE_TOGGLE) want = !expanded;
        if (want) state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
        else state &= ~TVIS_EXPANDED;
        InvalidateRect(hwnd_, nullptr, TRUE);
        return want != expanded ? TRUE : FALSE;
      }
      case TVM_ENSUREVISIBLE:
        return FALSE;  // nothing scrolls or expands here
      case TVM_GETINDENT:
        return indent_;
      case TVM_SETINDENT:
        indent_ = static_cast<int>(wParam);
        return 0;
      case TVM_GETIMAGELIST:
        return 0;
      case TVM_SETIMAGELIST:
        return 0;
      case WM_SETFOCUS: {
        NMHDR header{};
        Notify(&header, NM_SETFOCUS);
        InvalidateRect(hwnd_, nullptr, FALSE);
        return 0;
      }
      case WM_KILLFOCUS: {
        NMHDR header{};
        Notify(&header, NM_KILLFOCUS);
        InvalidateRect(hwnd_, nullptr, FALSE);
        return 0;
      }
      case WM_LBUTTONDOWN:
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        return 0;
      case WM_LBUTTONUP: {
        NMHDR header{};
        Notify(&header, NM_CLICK);
        return 0;
      }
      case WM_KEYDOWN:
        Key(static_cast<int>(wParam));
        return 0;
      case WM_GETDLGCODE:
        return kDlgcWantArrows | kDlgcWantChars;
      case WM_SETFONT:
        font_ = reinterpret_cast<HFONT>(wParam);
        return 0;
      case WM_GETFONT:
        return reinterpret_cast<LRESULT>(font_);
      case WM_DESTROY:
        // The items go with the window, each announced to the parent.
        DeleteAll(false);
        return Default(message, wParam, lParam);
      default:
        return Default(message, wParam, lParam);
    }
  }

  // What a person's click on the item sends.
  bool UserSelect(HTREEITEM item) {
    if (!Has(item)) return false;
    if (GetFocus() != hwnd_) SetFocus(hwnd_);
    if (!IsWindow(hwnd_)) return true;
    Select(item, TVC_BYMOUSE);
    if (!IsWindow(hwnd_)) return true;
    NMHDR header{};
    Notify(&header, NM_CLICK);
    return true;
  }

  void Fill(ControlState* state) const override {
    state->count = static_cast<int>(nodes_.size());
    state->curSel = -1;
    int i = 0;
    Walk(nullptr, [&](HTREEITEM item, const Node& node, int depth) {
      state->items.push_back(std::string(static_cast<std::size_t>(depth) * 2, ' ') + node.text);
      if (item == selected_) state->curSel = i;
      ++i;
    });
  }

  std::string Describe() const override {
    std::string out = " items=[";
    bool first = true;
    Walk(nullptr, [&](HTREEITEM item, const Node& node, int depth) {
      if (!first) out += '|';
      out.append(static_cast<std::size_t>(depth), '>');
      out += node.text;
      if (item == selected_) out += "*";
      if (node.state & TVIS_BOLD) out += "(b)";
      first = false;
    });
    return out + "]";
  }

  HTREEITEM Child(HTREEITEM parent, int index) const {
    const std::vector<HTREEITEM>& kids = Kids(parent);
    return index >= 0 && index < static_cast<int>(kids.size()) ? kids[static_cast<std::size_t>(index)] : nullptr;
  }

  template <class F>
  void Walk(HTREEITEM parent, F f, int depth = 0) const {
    for (HTREEITEM kid : Kids(parent)) {
      f(kid, nodes_.at(kid), depth);
      Walk(kid, f, depth + 1);
    }
  }

 private:
  bool Has(HTREEITEM item) const { return item && nodes_.count(item) != 0; }
  const std::vector<HTREEITEM>& Kids(HTREEITEM parent) const {
    if (!parent || parent == TVI_ROOT) return roots_;
    auto it = nodes_.find(parent);
    static const std::vector<HTREEITEM> none;
    return it == nodes_.end() ? none : it->second.kids;
  }
  std::vector<HTREEITEM>& KidsOf(HTREEITEM parent) {
    if (!parent || parent == TVI_ROOT) return roots_;
    return nodes_.at(parent).kids;
  }

  HTREEITEM Insert(const TVINSERTSTRUCTA* ins) {
    if (!ins) return nullptr;
    HTREEITEM parent = ins->hParent == TVI_ROOT ? nullptr : ins->hParent;
    if (parent && !Has(parent)) return nullptr;
    std::vector<HTREEITEM>& kids = KidsOf(parent);
    const TVITEMA& item = ins->item;
    Node node;
    if ((item.mask & TVIF_TEXT) && item.pszText && item.pszText != LPSTR_TEXTCALLBACKA) node.text = item.pszText;
    if (item.mask & TVIF_PARAM) node.param = item.lParam;
    if (item.mask & TVIF_STATE) node.state = item.state & item.stateMask & ~TVIS_SELECTED;
    if (item.mask & TVIF_IMAGE) node.image = item.iImage;
    if (item.mask & TVIF_SELECTEDIMAGE) node.selectedImage = item.iSelectedImage;
    if (item.mask & TVIF_CHILDREN) node.children = item.cChildren;
    node.parent = parent;
    std::size_t at = kids.size();
    if (ins->hInsertAfter == TVI_FIRST) {
      at = 0;
    } else if (ins->hInsertAfter == TVI_SORT) {
      at = 0;
      while (at < kids.size() && _stricmp(nodes_.at(kids[at]).text.c_str(), node.text.c_str()) <= 0) ++at;
    } else if (ins->hInsertAfter && ins->hInsertAfter != TVI_LAST) {
      auto pos = std::find(kids.begin(), kids.end(), ins->hInsertAfter);
      if (pos != kids.end()) at = static_cast<std::size_t>(pos - kids.begin()) + 1;
    }
    HTREEITEM handle = reinterpret_cast<HTREEITEM>(g_nextItem.fetch_add(1));
    nodes_.emplace(handle, std::move(node));
    KidsOf(parent).insert(KidsOf(parent).begin() + static_cast<std::ptrdiff_t>(at), handle);
    InvalidateRect(hwnd_, nullptr, TRUE);
    return handle;
  }

  bool Within(HTREEITEM item, HTREEITEM branch) const {
    for (HTREEITEM i = item; i; i = nodes_.at(i).parent)
      if (i == branch) return true;
    return false;
  }

  bool Delete(HTREEITEM item) {
    if (!item || item == TVI_ROOT) {
      DeleteAll(true);
      return true;
    }
    if (!Has(item)) return false;
    if (selected_ && Within(selected_, item)) {
      // The selection leaves the branch before it goes.
      const std::vector<HTREEITEM>& siblings = Kids(nodes_.at(item).parent);
      auto pos = std::find(siblings.begin(), siblings.end(), item);
      HTREEITEM next = nullptr;
      if (pos + 1 != siblings.end()) next = *(pos + 1);
      else if (pos != siblings.begin()) next = *(pos - 1);
      else next = nodes_.at(item).parent;
      Select(next, TVC_UNKNOWN, true);
      if (!IsWindow(hwnd_) || !Has(item)) return true;
    }
    Remove(item, true);
    InvalidateRect(hwnd_, nullptr, TRUE);
    return true;
  }

  void DeleteAll(bool notifySelection) {
    if (selected_ && notifySelection) {
      Select(nullptr, TVC_UNKNOWN, true);
      if (!IsWindow(hwnd_)) return;
    }
    selected_ = nullptr;
    while (!roots_.empty()) Remove(roots_.front(), IsWindow(hwnd_) != FALSE);
    InvalidateRect(hwnd_, nullptr, TRUE);
  }

  // Children first, each announced with TVN_DELETEITEMA.
  void Remove(HTREEITEM item, bool notify) {
    while (Has(item) && !nodes_.at(item).kids.empty()) Remove(nodes_.at(item).kids.front(), notify);
    auto it = nodes_.find(item);
    if (it == nodes_.end()) return;
    if (notify) {
      NMTREEVIEWA nm{};
      nm.itemOld.mask = TVIF_HANDLE | TVIF_PARAM;
      nm.itemOld.hItem = item;
      nm.itemOld.lParam = it->second.param;
      Notify(&nm.hdr, TVN_DELETEITEMA);
      it = nodes_.find(item);
      if (it == nodes_.end()) return;
    }
    std::vector<HTREEITEM>& siblings = KidsOf(it->second.parent);
    siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    if (selected_ == item) selected_ = nullptr;
    if (dropHilite_ == item) dropHilite_ = nullptr;
    if (firstVisible_ == item) firstVisible_ = nullptr;
    nodes_.erase(it);
  }

  void FillItem(TVITEMA* out, HTREEITEM item) const {
    out->mask = TVIF_HANDLE | TVIF_STATE | TVIF_PARAM;
    out->hItem = item;
    auto it = nodes_.find(item);
    if (it == nodes_.end()) return;
    out->state = it->second.state;
    out->stateMask = 0xFFFF;
    out->lParam = it->second.param;
  }

  // The caret selection: TVN_SELCHANGINGA (a non-zero answer vetoes, unless the old item is going),
  // the change, TVN_SELCHANGEDA.
  bool Select(HTREEITEM item, UINT action, bool forced = false) {
    if (item && !Has(item)) return false;
    if (item == selected_) return true;
    HTREEITEM old = selected_;
    NMTREEVIEWA nm{};
    nm.action = action;
    FillItem(&nm.itemOld, old);
    FillItem(&nm.itemNew, item);
    if (Notify(&nm.hdr, TVN_SELCHANGINGA) && !forced) return false;
    if (!IsWindow(hwnd_)) return false;
    if (Has(old)) nodes_.at(old).state &= ~TVIS_SELECTED;
    if (item && !Has(item)) item = nullptr;  // deleted by the parent meanwhile
    selected_ = item;
    if (item) nodes_.at(item).state |= TVIS_SELECTED;
    InvalidateRect(hwnd_, nullptr, TRUE);
    NMTREEVIEWA done{};
    done.action = action;
    FillItem(&done.itemOld, Has(old) ? old : nullptr);
    if (!Has(old)) done.itemOld.hItem = old;
    FillItem(&done.itemNew, item);
    Notify(&done.hdr, TVN_SELCHANGEDA);
    return true;
  }

  HTREEITEM Next(WPARAM how, HTREEITEM item) const {
    switch (how) {
      case TVGN_ROOT:
        return roots_.empty() ? nullptr : roots_.front();
      case TVGN_CARET:
        return selected_;
      case TVGN_DROPHILITE:
        return dropHilite_;
      case TVGN_FIRSTVISIBLE:
        return firstVisible_ ? firstVisible_ : (roots_.empty() ? nullptr : roots_.front());
      case TVGN_CHILD: {
        if (item && item != TVI_ROOT && !Has(item)) return nullptr;
        const std::vector<HTREEITEM>& kids = Kids(item);
        return kids.empty() ? nullptr : kids.front();
      }
      case TVGN_PARENT:
        return Has(item) ? nodes_.at(item).parent : nullptr;
      case TVGN_NEXT:
      case TVGN_PREVIOUS: {
        if (!Has(item)) return nullptr;
        const std::vector<HTREEITEM>& siblings = Kids(nodes_.at(item).parent);
        auto pos = std::find(siblings.begin(), siblings.end(), item);
        if (how == TVGN_NEXT) return pos + 1 == siblings.end() ? nullptr : *(pos + 1);
        return pos == siblings.begin() ? nullptr : *(pos - 1);
      }
      case TVGN_NEXTVISIBLE:
      case TVGN_PREVIOUSVISIBLE: {
        std::vector<HTREEITEM> order = VisibleOrder();
        auto pos = std::find(order.begin(), order.end(), item);
        if (pos == order.end()) return nullptr;
        if (how == TVGN_NEXTVISIBLE) return pos + 1 == order.end() ? nullptr : *(pos + 1);
        return pos == order.begin() ? nullptr : *(pos - 1);
      }
      case TVGN_LASTVISIBLE: {
        std::vector<HTREEITEM> order = VisibleOrder();
        return order.empty() ? nullptr : order.back();
      }
      default:
        return nullptr;
    }
  }

  std::vector<HTREEITEM> VisibleOrder() const {
    std::vector<HTREEITEM> order;
    AddVisible(nullptr, &order);
    return order;
  }
  void AddVisible(HTREEITEM parent, std::vector<HTREEITEM>* order) const {
    for (HTREEITEM kid : Kids(parent)) {
      order->push_back(kid);
      if (nodes_.at(kid).state & TVIS_EXPANDED) AddVisible(kid, order);
    }
  }

  bool GetItem(TVITEMA* item) const {
    if (!item) return false;
    auto it = nodes_.find(item->hItem);
    if (it == nodes_.end()) return false;
    const Node& node = it->second;
    if ((item->mask & TVIF_TEXT) && item->pszText && item->cchTextMax > 0) {
      const std::size_t n = std::min(node.text.size(), static_cast<std::size_t>(item->cchTextMax - 1));
      node.text.copy(item->pszText, n);
      item->pszText[n] = '\0';
    }
    if (item->mask & TVIF_PARAM) item->lParam = node.param;
    if (item->mask & TVIF_STATE) item->state = node.state & item->stateMask;
    if (item->mask & TVIF_IMAGE) item->iImage = node.image;
    if (item->mask & TVIF_SELECTEDIMAGE) item->iSelectedImage = node.selectedImage;
    if (item->mask & TVIF_CHILDREN) item->cChildren = node.kids.empty() ? node.children : 1;
    return true;
  }

  bool SetItem(const TVITEMA* item) {
    if (!item) return false;
    auto it = nodes_.find(item->hItem);
    if (it == nodes_.end()) return false;
    Node& node = it->second;
    if ((item->mask & TVIF_TEXT) && item->pszText && item->pszText != LPSTR_TEXTCALLBACKA) node.text = item->pszText;
    if (item->mask & TVIF_PARAM) node.param = item->lParam;
    if (item->mask & TVIF_STATE) {
      // The selection is the caret's business (TVM_SELECTITEM).
      const UINT mask = item->stateMask & ~TVIS_SELECTED;
      node.state = (node.state & ~mask) | (item->state & mask);
    }
    if (item->mask & TVIF_IMAGE) node.image = item->iImage;
    if (item->mask & TVIF_SELECTEDIMAGE) node.selectedImage = item->iSelectedImage;
    if (item->mask & TVIF_CHILDREN) node.children = item->cChildren;
    InvalidateRect(hwnd_, nullptr, TRUE);
    return true;
  }

  void Key(int vk) {
    HTREEITEM to = nullptr;
    switch (vk) {
      case VK_DOWN:
        to = selected_ ? Next(TVGN_NEXTVISIBLE, selected_) : Next(TVGN_ROOT, nullptr);
        break;
      case VK_UP:
        to = selected_ ? Next(TVGN_PREVIOUSVISIBLE, selected_) : nullptr;
        break;
      case VK_HOME:
        to = Next(TVGN_ROOT, nullptr);
        break;
      case VK_END:
        to = Next(TVGN_LASTVISIBLE, nullptr);
        break;
      case VK_LEFT:
        to = selected_ ? nodes_.at(selected_).parent : nullptr;
        break;
      case VK_RIGHT:
        to = selected_ ? Next(TVGN_CHILD, selected_) : nullptr;
        break;
      default:
        return;
    }
    if (to) Select(to, TVC_BYKEYBOARD);
  }

  std::map<HTREEITEM, Node> nodes_;
  std::vector<HTREEITEM> roots_;
  HTREEITEM selected_ = nullptr;
  HTREEITEM dropHilite_ = nullptr;
  HTREEITEM firstVisible_ = nullptr;
  int indent_ = 19;
};

}  // namespace

bool UserSelectTree(HWND tree, HTREEITEM item) {
  auto t = FindAs<Tree>(tree);
  return t && t->UserSelect(item);
}

// SelectItem by index: the index-th item in display order (depth first); by text, the first
// item of that text.
bool SelectTreeItem(HWND tree, int index, const char* text) {
  auto t = FindAs<Tree>(tree);
  if (!t) return false;
  HTREEITEM found = nullptr;
  int i = 0;
  t->Walk(nullptr, [&](HTREEITEM item, const Node& node, int) {
    if (found) return;
    if (text ? node.text == text : i == index) found = item;
    ++i;
  });
  return found && t->UserSelect(found);
}

void RegisterTree() {
  RegisterBuiltinClass({u"SysTreeView32", CS_DBLCLKS | CS_GLOBALCLASS, &ControlProc<Tree>, 0, nullptr, nullptr,
                        false});
}

}  // namespace vkr::ui::controls
