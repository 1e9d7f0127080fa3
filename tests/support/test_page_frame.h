// A page frame of the tests' own on the tree page frame, and scripted property pages for it.
//
// CTestPageFrame is a COM class the frame's ActiveX host makes by class id: a dialog with the
// header (217) and status (218) controls and the OK, Cancel, Apply and Help buttons; the tree,
// the splitters and the page area come from the tree frame. Its property map is what the test
// sets (SetTestFramePages), so a frame can host the tests' scripted pages, the page layer's test
// pages, or a class nobody registered.
//
// A scripted page (CScriptedPage) is a plain property page with IovFdtPropertyPageControl whose
// answers a test sets per class (Init, Apply, dirty state, size, title) and which writes every
// call the frame makes into one log ("A Activate", "B Init", "A Show 5", ...), in order, and the
// frame's focus notice after Help and Apply ("A focus notice").
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/framework/TreePageFrame.h"

namespace vkr::test {

inline constexpr CLSID CLSID_TestPageFrame = vkr::MakeGuid("5D2E8B41-7A0C-4F93-B6E1-0C9D8A7B6F31");
inline constexpr UINT kTestFrameDialogId = 9105;
// The frame's buttons.
inline constexpr UINT kTestFrameOk = 1;
inline constexpr UINT kTestFrameCancel = 2;
inline constexpr UINT kTestFrameApply = 102;
inline constexpr UINT kTestFrameHelp = 9;

class CTestPageFrame : public CovFDT_WtlTreePPFrameImpl {
 public:
  CTestPageFrame();
  ~CTestPageFrame() override;
  static int liveCount;

  HRESULT FinalConstruct() override;
  std::vector<CLSID> PropertyMap() const override;

  // The frame's state, for tests.
  using CovFDT_BasePPFrameImpl::m_bAskApply;
  using CovFDT_BasePPFrameImpl::m_bAutoSize;
  using CovFDT_BasePPFrameImpl::m_bClosing;
  using CovFDT_BasePPFrameImpl::m_bNoClosePost;
  using CovFDT_BasePPFrameImpl::m_nApplyOption;
  using CovFDT_BasePPFrameImpl::m_pbObjectsSet;
  using CovFDT_BasePPFrameImpl::m_pbSiteSet;
  using CovFDT_BaseActiveXImpl::m_nDialogType;
  HWND Window() const { return m_hWnd; }
};

// The page classes the next frames list, in order, and whether they ask about unapplied pages.
void SetTestFramePages(std::vector<CLSID> pages);
void SetTestFrameAskApply(bool ask);

HRESULT RegisterTestPageFrame();
void RevokeTestPageFrame();
CTestPageFrame* AsTestPageFrame(IUnknown* frame);

// ---- Scripted pages ---------------------------------------------------------------------------

// Up to four scripted classes, named "A" to "D"; kUnregisteredPage is a class nobody serves.
CLSID ScriptedPageClass(char name);
inline constexpr CLSID kUnregisteredPage = vkr::MakeGuid("5D2E8B41-7A0C-4F93-B6E1-0C9D8A7B6F3F");

struct SPageScript {
  std::u16string title;                     // the page's title ("Group\\Page" makes a group)
  SIZE size{240, 160};                      // in pixels
  std::vector<bool> initResults;            // what Init answers, call by call (then true)
  HRESULT applyResult = S_OK;               // what Apply answers
  bool dirty = false;                       // IsPageDirty; a successful Apply clears it
};

// Sets the script of a class (before the frame makes the page) and clears the log.
void SetPageScript(char name, SPageScript script);
SPageScript& PageScript(char name);
// Every call of every scripted page, in order; and the pages alive now.
std::vector<std::string>& PageLog();
int LivePages();
// The window of the live page of a class (null when none or it has no window).
HWND ScriptedPageWindow(char name);
// Marks a live page dirty and tells its site, as a page does when the user edits it.
void MakePageDirty(char name);

HRESULT RegisterScriptedPages();
void RevokeScriptedPages();

}  // namespace vkr::test
