// The FDT user-interface side of the system's controls: the frame makes a control by its class,
// calls IDtmActiveXControl::Init with an instance id, the function-call document that opened it
// and the DTM, and later PrepareToRelease.
//
// CovFDT_IDtmActiveXControlImpl (the dialog controls: online and offline parameters, echo trace,
// self test, trim, the page frame) starts and releases the control, registers it with the DTM's
// function container and takes OK, Apply and Cancel. CovFDT_IDtmActiveXImplEx (the output and
// trend controls) takes the same steps; it has no Apply of its own.
//
// Road of a control: construction -> window (Create, or in-place activation by the frame) ->
// Init (register, read the function, choose the dialog type, InitializeUI, lock message) ->
// broadcasts, user work, update rates -> OK or Apply (the apply; online, changes the data set
// took are offered for download at once, and a download runs to its end before the control goes
// on) -> close request (OK, Cancel, Escape, the frame) ->
// PrepareToRelease (question about unsaved changes, access mode 4, UninitializeUI, unregister) ->
// destruction. A start that fails after the registration withdraws it again, so the function
// container never keeps a user interface the frame let go.
#pragma once

#include <string>
#include <vector>

#include "include/FdtInterfaces.h"
#include "platform/platform.h"
#include "ui/framework/CompositeControl.h"

// FDT application ids of the DTM's function list.
enum EFdtApplicationId : ULONG {
  kAppIdNone = 0,
  kAppIdAdjustSetValue = 1,
  kAppIdAssetManagement = 2,
  kAppIdAuditTrail = 3,
  kAppIdConfiguration = 4,
  kAppIdDiagnosis = 5,
  kAppIdForce = 6,
  kAppIdManagement = 7,
  kAppIdObserve = 8,
  kAppIdOfflineCompare = 9,
  kAppIdOfflineParameterize = 10,
  kAppIdOnlineCompare = 11,
  kAppIdOnlineParameterize = 12,
  kAppIdMainOperation = 13,
};

// The answers of AskUser (message-box buttons).
inline constexpr LONG kAnswerCancel = 2;
inline constexpr LONG kAnswerYes = 6;
inline constexpr LONG kAnswerNo = 7;
// The release question's style: Yes, No, Cancel, question icon, second button default.
inline constexpr ULONG kReleaseQuestionStyle = 0x123;

class CovFDT_IDtmActiveXControlImpl : public CovFDT_BaseActiveXImplEx, public IDtmActiveXControl {
 public:
  CovFDT_IDtmActiveXControlImpl(const CLSID& clsid, ParameterMapFunction parameterMap,
                                const SCompositeControlClass& cls);
  ~CovFDT_IDtmActiveXControlImpl() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_BaseActiveXImplEx::QueryInterface;

  // IDispatch of IDtmActiveXControl: the base's answers.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  // ===== IDtmActiveXControl ====================================================================

  // S_OK with *result TRUE when started; every refusal S_FALSE with *result FALSE (the function
  // list that does not load: E_FAIL or E_POINTER); E_POINTER for a null result.
  HRESULT Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) override;
  // S_OK with *result TRUE when the control may go; S_FALSE (*result FALSE) when the user
  // cancelled the question or the tear-down refused; E_FAIL when the DTM has no way to withdraw.
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override;
  // IOleObject::Close. A control its container closes without PrepareToRelease (a frame tearing
  // down) also withdraws from the DTM: kept on the DTM's list, it would make the DTM refuse its
  // release for good, and the DTM, its thread and the control would outlive the frame.
  HRESULT Close(DWORD option) override;

  // ===== Start and end of the user interface (control versions) ================================

  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  // Information 1 is the function call the control was opened with (the function container asks
  // for it when the control registers); the rest as the base answers.
  HRESULT SetInfo(VARIANT id, VARIANT* value) override;

  // "fdtAdjustSetValue" 1 ... "fdtMainOperation" 13 (case matters); E_FAIL and *id unchanged for
  // any other text.
  static HRESULT ApplicationIdFromName(LPCWSTR name, ULONG* id);
  // "FDT/FDTFunctionCall/@func:functionId" of a function-call document; E_FAIL when it does not
  // load, the read's failure when the attribute is missing or not a number.
  HRESULT ReadFunctionId(BSTR functionCall, LONG* functionId);

  // A question to the user through the DTM's function container (ShowUserMessage); the button
  // pressed, 0 without a container.
  virtual LONG AskUser(LPCWSTR text, LPCWSTR title, ULONG style);

  // ===== OK, Apply, Cancel =====================================================================

  // OK: apply the changes and offer their download; the close request follows only when that
  // worked (an invalid entry is focused, the user cancelled or the device refused: the control
  // stays).
  virtual LRESULT OnOK(WORD code, WORD id, HWND control, BOOL* handled);
  // Apply: apply the changes and offer their download.
  virtual LRESULT OnApply(WORD code, WORD id, HWND control, BOOL* handled);
  // Cancel: the close request.
  virtual LRESULT OnCancel(WORD code, WORD id, HWND control, BOOL* handled);
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // The control's own apply of OK and Apply: the framework's apply unless the class has its own.
  virtual HRESULT ApplyChanges() { return ApplyParameterChanges(); }
  // The framework's apply, which keeps the entries it found marked changed (a class's own apply
  // may mark more before it runs this): a download that does not go through marks them again.
  HRESULT ApplyParameterChanges() override;

  // ===== Download of the changes the data set took ============================================

  // How an offered download ended.
  // Unreached: the DTM could not go online to the device (none on the channel, or another one);
  // nothing was written, and the changes stay in the data set as they do offline.
  enum class EDownload { NotOffered, Written, Declined, Cancelled, Failed, Unreached };
  // While the DTM has its device (communication set or online) and the apply stored changes in
  // the DTM's data set only: asks whether to store them in the device and, on Yes, downloads the
  // data set and waits for the device's answer. Written, Declined and Unreached settle the
  // changes (the close asks no more); Cancelled and Failed mark the entries of `changed` changed
  // again and enable Apply, since the device does not hold them. A download that did not go
  // through is told, with the DTM's texts of what went wrong.
  EDownload OfferDownload(const std::vector<LONG>& changed);
  // The entries marked changed now (taken before an apply clears the marks).
  std::vector<LONG> ChangedEntries() const;
  // The download's end (command 10013) and the DTM's failure texts reach a waiting download here.
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override;
  HRESULT ReportErrorText(LPCWSTR text) override;
  bool IsDownloading() const { return m_download.waiting; }

 protected:
  // Tells the user that an offered download did not go through (Failed, or Unreached: the DTM
  // could not go online), with `failure`, the DTM's words or the control's; `changed` are the
  // entries whose changes it was to carry. Here: those words, and that the changes stay in the
  // data set.
  virtual void TellDownloadFailure(EDownload outcome, const std::u16string& failure, const std::vector<LONG>& changed);
  // The failures of device accesses the DTM told after this mark belong to the download being
  // told (vkr::ui::DeviceAccessFailuresSince).
  unsigned long long DownloadFailureMark() const { return m_download.failureMark; }
  // The download's message, under its title, in the control's words (DownloadWords).
  void TellDownloadWords(const std::u16string& text);
  // A download notice as the control words it: the DTM names the parameters in its texts by their
  // data-set names ("Damping Value"); a control whose entries the user knows by other labels
  // puts those in. Here: the text as it is.
  virtual std::u16string DownloadWords(const std::u16string& text) { return text; }
  // The warnings the device gave the writes of the last download, each once ("\"A\" was written;
  // the device warns: 0x08 (...)", joined by "; "); empty without any. A download that stopped
  // later still wrote them.
  const std::u16string& DownloadWarnings() const { return m_download.warnings; }

 public:
  // ===== What Init found =======================================================================

  const vkr::Bstr& InstanceId() const { return m_bstrSystemTag; }
  const vkr::Bstr& FunctionCall() const { return m_bstrFunctionCall; }
  const vkr::Bstr& FunctionName() const { return m_bstrFunctionName; }
  ULONG ApplicationId() const { return m_nApplicationId; }
  ULONG OperationPhase() const { return m_nOperationPhase; }
  LONG FunctionId() const { return m_nFunctionId; }
  bool IsStarted() const { return m_bStarted; }

 protected:
  void* FindInterface(REFIID riid) override;

  // Registers the user interface with the DTM object under the instance id (StartFunction of the
  // management interface, or the container's registration); remembers which road it took.
  HRESULT RegisterWithContainer(BSTR instanceId);
  // Withdraws it (FunctionFinished, or the container's registration with a null user interface);
  // E_FAIL when the DTM offers neither.
  HRESULT UnregisterFromContainer();
  // Undoes a start that failed after the registration: withdraws it and frees what Init kept.
  void AbandonStart();
  // What a start made beyond the control's own members (pages, helpers), let go when the start is
  // abandoned; nothing here.
  virtual void AbandonUserInterface() {}
  // The user interface was released while it was still starting (a message loop inside the start
  // ran its close): the start stops and frees what it made.
  bool ReleasedWhileStarting() const { return m_bReleasedWhileStarting; }
  // Reads the application id, the function name and the operation phase from the DTM's function
  // list and the call (steps after the function id); S_FALSE for a refusal.
  HRESULT ReadFunctionDetails(IDtm* dtm);
  // Chooses the dialog type by the application id.
  HRESULT ChooseDialogType();
  // The start of an online dialog while the DTM is offline: every entry from the DTM's parameter
  // information, nothing read from the device.
  HRESULT StartWithoutDevice();

  vkr::Bstr m_bstrFunctionCall;
  vkr::Bstr m_bstrFunctionName;
  vkr::ComPtr<IDtm> m_spIDtm;
  ULONG m_nApplicationId = 0;
  ULONG m_nOperationPhase = 0;
  LONG m_nFunctionId = -1;
  bool m_bStarted = false;          // Init went through; PrepareToRelease has not
  bool m_bRegistered = false;       // the function container holds this user interface
  bool m_bViaManagement = false;    // the registration went through IovFdtActiveXManagement
  bool m_bApplying = false;         // OK or Apply is writing (the buttons wait for it)
  bool m_bStarting = false;         // Init runs
  bool m_bReleasedWhileStarting = false;  // PrepareToRelease came while Init ran: Init stops

 private:
  // The question of the release (upload when the device changed, else download); the answer.
  LONG AskTransferQuestion(bool upload);
  // Downloads the data set through the DTM and waits for its end: Written, Failed or Unreached.
  // *failure: what the user is told when it did not go through.
  EDownload DownloadAndWait(std::u16string* failure);
  // Tells the warnings of the device on a download that went through.
  void TellDownloadWarning(const std::u16string& warnings);

  std::vector<LONG> m_appliedEntries;  // the entries the last apply found marked changed
  // A download this control started and waits for.
  struct SDownloadWait {
    bool waiting = false;
    bool ended = false;
    bool succeeded = false;
    unsigned long long failureMark = 0;  // the device-access failures noted before it began
    std::vector<std::u16string> texts;  // the DTM's failure texts meanwhile, each once
    std::u16string warnings;            // those of them that are warnings, joined
  } m_download;
};

// The extended controls (output level selection, trend view): the same start and release; no
// Apply of their own, so the release question never arises for them.
class CovFDT_IDtmActiveXImplEx : public CovFDT_IDtmActiveXControlImpl {
 public:
  CovFDT_IDtmActiveXImplEx(const CLSID& clsid, ParameterMapFunction parameterMap, const SCompositeControlClass& cls);
  ~CovFDT_IDtmActiveXImplEx() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_IDtmActiveXControlImpl::QueryInterface;

  // The language command (9984): the language stored, the class's own translation told, every
  // parameter notified.
  HRESULT OnNotifyAllEvent(VARIANT language) override;
  // Status (1, 1/3/2/4) for going online, going offline, online and every other state, then the
  // cyclic-update status.
  HRESULT OnDtmStateChanged(ULONG state) override;
};
