// The tree page frames: CovFDT_TreePPFrameImpl shows the frame's pages as items of a tree control
// (a title "Group\Page" puts the page below a group item), and CovFDT_WtlTreePPFrameImpl builds the
// window arrangement around that tree: the dotted vertical splitter with the tree on the left, the
// horizontal splitter with the scrolling page area on the right, the header control above, the
// status control and the frame's buttons below, and the keyboard routing between them.
//
// Tree items carry their page's index as item data, -1 for a group item. Selecting a page item
// shows its page (started on its first selection); selecting a group item shows nothing new. While
// the tree is rebuilt its selection notifications are ignored.
#pragma once

#include <string>

#include "platform/platform.h"
#include "ui/framework/PageFrame.h"
#include "ui/framework/PageFrameSplitters.h"

// Dialog items of the tree frame.
inline constexpr UINT kPageTreeId = 516;
inline constexpr UINT kFrameHeaderId = 217;
inline constexpr UINT kFrameStatusId = 218;
// Commands of the tree frame: 10011 rebuilds the tree when the dialog type has bit 2.
inline constexpr ULONG kCommandRebuildTree = 10011;

class CovFDT_TreePPFrameImpl : public CovFDT_BasePPFrameImpl {
 public:
  CovFDT_TreePPFrameImpl(const CLSID& clsid, ParameterMapFunction parameterMap, const SCompositeControlClass& cls);
  ~CovFDT_TreePPFrameImpl() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_BasePPFrameImpl::QueryInterface;

  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override;
  // The frame's start; then the first tree item is selected, which shows its page. E_FAIL when
  // the frame has no tree.
  HRESULT InitializeUI(IUnknown* client, VARIANT_BOOL* ok) override;
  // One item per created page, in page order, named by the page's title.
  HRESULT LayoutPages() override;
  HRESULT RebuildPageSelector() override;
  void SelectPageInSelector(LONG index) override;

  // Inserts `path` below `parent`: the part before the first backslash names a group item (made
  // with data -1 when missing), the rest goes below it; the last part is the item, made with
  // `data` or, when it exists, given `data`. The item, or null when the tree refused it.
  virtual HTREEITEM InsertTreeItem(HWND tree, HTREEITEM parent, const char* path, LONG data);
  // Whether page `index` has an item (default: every page).
  virtual BOOL IsPageShown(IUnknown* dtm, int index);
  // Rebuilds the tree from the created pages (nothing without a DTM); the page that was current
  // stays selected, else the first root item is selected.
  HRESULT RebuildPageTree(HWND tree);

  // The child of `parent` (TVI_ROOT or null: the root items) whose text is `name`; null if none.
  static HTREEITEM FindChildItem(HWND tree, HTREEITEM parent, const std::string& name);
  // The page of the selected item: a group item stands for its first page below it, which is then
  // selected after the current message. -1 without a selection or a page below it.
  static LONG FindTreeItem(HWND tree);
  // The item whose data is `data` anywhere in the tree; null if none.
  static HTREEITEM FindItemByData(HWND tree, HTREEITEM parent, LONG data);

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  using CovFDT_BasePPFrameImpl::ProcessWindowMessage;

  LONG CurrentIndex() const { return m_nCurrentIndex; }
  HTREEITEM FirstItem() const { return m_nFirstItem; }

 protected:
  HWND TreeWindow() const { return FrameControl(kFrameSelector); }
  // The tree's selection changed to an item with `data`: a page index shows that page (started
  // first when it was not), -1 (a group) changes nothing.
  virtual void ChangePage(LONG data);
  // The page `index` became the shown one (the layer that scrolls sizes its area here).
  virtual void OnPageShown(ULONG index) { (void)index; }
  IUnknown* DtmReference() const;

  HTREEITEM m_nFirstItem = nullptr;
  LONG m_nCurrentIndex = -1;
  BYTE m_bSuppressSelChange = 0;
};

class CovFDT_WtlTreePPFrameImpl : public CovFDT_TreePPFrameImpl {
 public:
  CovFDT_WtlTreePPFrameImpl(const CLSID& clsid, ParameterMapFunction parameterMap, const SCompositeControlClass& cls);
  ~CovFDT_WtlTreePPFrameImpl() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_TreePPFrameImpl::QueryInterface;

  // The control's natural extent grows by 25 pixels in height.
  HRESULT FinalConstruct() override;

  // The keyboard between tree, page and buttons (0: taken).
  HRESULT OnMessageMediatorEvent(MSG* message) override;
  // Tab goes to the buttons (Shift+Tab to the tree); the rest as the frame does it.
  HRESULT TranslateAccelerator(MSG* message) override;

  // The generic layout of the frame's parts over its client area; a device frame replaces it.
  virtual void UpdateLayout();

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  using CovFDT_TreePPFrameImpl::ProcessWindowMessage;

  HWND TreeControl() const { return m_hTree; }
  CDottedVertSplitter& VerticalSplitter() { return m_wndVertSplitter; }
  CPageFrameHorSplitter& HorizontalSplitter() { return m_wndHorSplitter; }

 protected:
  // WM_INITDIALOG: splitters, tree and page area, the header and status controls.
  void CreateFrameWindows();
  void OnPageShown(ULONG index) override;
  bool IsInPageArea(HWND window) const;

  HWND m_hTree = nullptr;
  CDottedVertSplitter m_wndVertSplitter;
  CPageFrameHorSplitter m_wndHorSplitter;
  HWND m_hHeaderCtl = nullptr;
  HWND m_hStatusCtl = nullptr;
};
