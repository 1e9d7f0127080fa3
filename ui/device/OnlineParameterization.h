// COnlineParameterization: the device's online parameterization window. The tree page frame filled
// with the device's ten property pages, framed by a device header (pictures, name, description,
// tag), the distance reading, a message line and the button row (Refresh, Send, Read, Close).
//
// It shows the connected device's identity and distance reading, keeps the device buttons disabled
// for a device of another type, and takes part in the DTM's online connection through the shared
// online usage counter (1047): the first online user interface to open asks the DTM to go online,
// the last one to close asks it to go offline.
//
// Refresh, Send and Read do not reach the pages as window messages: a click sets the DTM-side
// parameter 1041, 1042 or 1043, and the pages that show it act when the DTM reports it back (one
// device action per click).
//
// Everything runs on the frame application's user-interface thread.
#pragma once

#include <vector>

#include "include/DtmInterfaces.h"
#include "include/TranslationInterfaces.h"
#include "platform/platform.h"
#include "ui/device/kit/DeviceOutcome.h"
#include "ui/device/kit/OnlineUsageCounter.h"
#include "ui/device/kit/PageResources.h"
#include "ui/framework/TreePageFrame.h"

// The frame's dialog and its items.
inline constexpr UINT kOnlineFrameDialogId = 105;
enum EOnlineFrameItem : UINT {
  kOnlineHeaderDisplay = 217,
  kOnlineStatusDisplay = 218,
  kOnlineClose = 289,
  kOnlineHelp = 290,
  kOnlineRefresh = 356,
  kOnlineSend = 221,
  kOnlineRead = 335,
  kOnlineLeftPicture = 576,
  kOnlineRightPicture = 577,
  kOnlineNameLabel = 578,
  kOnlineDescriptionLabel = 579,
  kOnlineTagLabel = 581,
  kOnlineName = 585,
  kOnlineDescription = 587,
  kOnlineTag = 583,
  kOnlineReadingLabel = 661,
  kOnlineReading = 688,
  kOnlineReadingUnit = 659,
  kOnlineMessage = 6333,
};

class COnlineParameterization : public CovFDT_WtlTreePPFrameImpl,
                                public ISomeInterface,
                                public IovFdtTranslationEvent {
 public:
  COnlineParameterization();
  ~COnlineParameterization() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_WtlTreePPFrameImpl::QueryInterface;

  // The frame's parameter table (13 entries and the end entry).
  static CActXParInfo* GetParameterMap(int* count, BOOL copy);
  // The page classes in page order: Command, Process, Values, Device, Advanced, Status, HART,
  // Diagnostics, Information, Echo curve.
  static const std::vector<CLSID>& PageClasses();

  // IDispatch of the frame's dual interfaces: the frame's answers.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  // The frame options: page area, Close as Cancel, hidden Help, the tree; never asks about dirty
  // pages on closing, keeps the size its container gives it.
  HRESULT FinalConstruct() override;
  std::vector<CLSID> PropertyMap() const override;

  // ===== IDtmActiveXControl =====================================================================
  // Fills the header, starts the frame and its pages, reads the tag and the distance reading,
  // counts this user interface in and asks the DTM to go online when it is not.
  HRESULT Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) override;
  // Counts this user interface out (going offline when it was the last), enables the DTM's
  // function 1 again, stops the distance reading, releases the frame.
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override;

  // ===== IovFdtActiveX4 =========================================================================
  // The control version, then the device buttons follow the online state.
  HRESULT OnDtmStateChanged(ULONG state) override;
  // The identity check (1028), the distance reading (1029), the tag (1092, 1093), Send's
  // activation (1045); ids outside 1028..1093 go to the framework.
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  // A failed read of command 0 is a lost answer: read again (twice at most), then say so. A
  // failed read of the tag or the distance reading says "Not read" in its field and tells why.
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override;
  // The device's answers (commands 0, 1 and 13) are shown only as the device gave them, never as
  // the data set's placeholder bytes; everything else as the framework reads it.
  HRESULT ReadParameter(LONG index) override;
  // A device answer came: a failure told of it is over.
  HRESULT RefreshParameter(LONG id) override;

  // The tree frame's keyboard routing with the device buttons in the button row.
  HRESULT OnMessageMediatorEvent(MSG* message) override;

  // IovFdtTranslationEvent: the frame's dialog through its translation part; then the tree
  // shows the pages' titles in the new language (0: tear-down).
  HRESULT OnTranslate(ULONG lcid) override;

  // Places the header, the button row for the selected page, the tree and the reading.
  void UpdateLayout() override;

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  using CovFDT_WtlTreePPFrameImpl::ProcessWindowMessage;

  // ===== State, for tests =======================================================================
  bool IsCountedOnline() const { return m_usage.Counted(); }
  bool IdentityRefused() const { return m_bIdentityRefused; }
  // How many device buttons the page `index` has (Refresh and Send 2, Read 1, none 0).
  static int DeviceButtonCount(LONG index);

 protected:
  void* FindInterface(REFIID riid) override;

  void EnableDeviceButtons(BOOL enable);
  // The DTM's state now (asked of the DTM; the state last told when it cannot be asked).
  ULONG CurrentDtmState() const;
  // The check of a command 0 answer that names a manufacturer and a device type; the bytes
  // present only. Anything shorter is no identity: the answer was lost (RetryIdentity).
  void CheckIdentity(const BYTE* bytes, size_t count);
  // Command 0 read again after a lost answer while retries are left; then the message line says
  // that the identity could not be read and why.
  void RetryIdentity(const vkr::dui::SDeviceOutcome& why);
  void SetItemText(UINT id, const char* text);
  // The frame's identity message; the line shows only with a text.
  void SetMessage(const char* text);
  // The message line holds each source's words, in the order they came: each page's (the page's
  // window is the source), the frame's own (identity, tag, reading). An empty text takes a
  // source's words away. While the device is not this DTM's, only the identity message shows.
  void SetMessageOf(UINT_PTR source, const std::u16string& text);
  // The line as the sources' words make it: the frame's own, and those of the page shown.
  void ShowMessages();
  // The message line above the button row, as high as its text needs (two lines at least, four
  // at most), shown only while it has something to say.
  void PlaceMessageLine();
  // A read of the tag or the reading failed: its field says "Not read", told once until it comes.
  void TellFrameReadFailed(LONG id, const vkr::dui::SDeviceOutcome& outcome);
  // The frame's reads (identity, tag, reading) that failed, told in one sentence until their
  // answer comes.
  void NoteFrameReadFailure(LONG id, const vkr::dui::SDeviceOutcome& outcome);
  void ForgetFrameReadFailure(LONG id);
  void ShowFrameReadFailures();
  // The device tag's placeholder tells whether the tag may come ("Loading...") or cannot, the DTM
  // being neither online nor going online ("Not connected").
  void UpdateTagPlaceholder();

 private:
  // The fonts the frame gives its header and its reading; freed with the frame.
  vkr::dui::COwnedFont m_headerFont;
  vkr::dui::COwnedFont m_readingFont;
  vkr::dui::COnlineUsageCounter m_usage;
  bool m_bFunctionDisabled = false;   // this frame greyed the DTM's function 1
  bool m_bIdentityRefused = false;    // the last command 0 answer was not this device's
  bool m_bReadingShown = false;       // the distance reading shows a device's reading
  int m_nIdentityRetries = 0;         // reads of command 0 after lost answers since the last one
  vkr::dui::SDeviceOutcome m_identityLoss;  // the first why of those losses the DTM told
  bool m_bTagRead = false;            // the tag shown came from the device
  std::vector<std::pair<UINT_PTR, std::u16string>> m_messages;  // the message line's words by source
  std::vector<std::pair<LONG, vkr::dui::SDeviceOutcome>> m_frameReadFailures;
};
