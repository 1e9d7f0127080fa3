// CDevicePropertyPage: the property-page base of the device pages, with the bodies several pages
// share, each built once here:
//   FinalConstruct / FinalRelease / destructor   the parameter-group display control (unit and
//                                                transfer-function texts)
//   ReadParameterOnline                          the Command page's ReadParameter, also that of the
//                                                HART, Process, Setup and Values pages
//   ReadParameterOrDataSet                       the base page ReadParameter with the data-set
//                                                fallback (Device page)
//   OnCommandPageControlChange                   the Command page's OnControlChange (also Process)
//   UninitializeStoppingResponses                the UninitializeUI that stops the cyclic reads of
//                                                commands 1 and 2 (Command, Process)
//   EmptyParameterMap                            the GetParameterMap of a class without entries
//   the user's entries and Send                  an entry is the user's from the first keystroke
//                                                until its write is confirmed; a write the device
//                                                did not confirm is told on the message line
//
// A page derives from it instead of CovFDT_PropertyPageImpl and routes the slots it shares:
//
//   class CProcessPP : public CDevicePropertyPage {
//     HRESULT ReadParameter(LONG index) override { return ReadParameterOnline(index); }
//     HRESULT UninitializeUI(VARIANT_BOOL* ok) override { return UninitializeStoppingResponses(ok); }
//     HRESULT OnControlChange(UINT code, UINT id, HWND w) override { return OnCommandPageControlChange(code, id, w); }
//   };
//   vkr::ComObject<CProcessPP> runs FinalConstruct (the display control) and FinalRelease.
//
// A page without the display control (Setup) hides FinalConstruct with one that answers S_OK.
// Pages whose destructor only frees their own members (Echo curve, HART, Information, Raw
// command, Status) need nothing of this class for it: C++ runs the base destructor after theirs.
//
// Everything runs on the frame's thread.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/kit/DeviceOutcome.h"
#include "ui/framework/PropertyPage.h"

class CDevicePropertyPage : public CovFDT_PropertyPageImpl {
 public:
  explicit CDevicePropertyPage(const SPropertyPageClass& pageClass);
  // Releases the display control, then the page base.
  ~CDevicePropertyPage() override;

  // Creates the parameter-group display control by its class id; the page works without it
  // (empty unit texts), so the answer is always S_OK.
  HRESULT FinalConstruct();
  // Releases the display control and clears the member.
  void FinalRelease();

  IParamGroupDisplay* ParamGroupDisplay() const { return m_spParamGroupDisplay.Get(); }
  // The display control's text of a HART unit code / transfer-function code in the ANSI code
  // page; empty without the control or when it knows no text.
  std::string UnitText(BYTE unitCode) const;
  std::string TransferFunctionText(BYTE code) const;

  // The dialog, then the page follows its fields awaiting the device (FollowAwaitedFields) after
  // every message the dialog handles; Deactivate stops that before the dialog goes.
  HRESULT Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  HRESULT Deactivate() override;

  // The DTM's state as the page learns it: the placeholders follow it (UpdatePlaceholders), and
  // reaching the online state runs OnDeviceOnline.
  HRESULT OnDtmStateChanged(ULONG state) override;
  // A value the DTM reports for an entry of the user leaves the entry alone (see IsUserEntry).
  HRESULT RefreshAllParameters(LONG id) override;
  HRESULT RefreshParameter(LONG id) override;
  // The user's keystroke or choice makes the control's entries the user's, then the framework's.
  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override;
  // The DTM's word that a device access of one of the page's parameters failed goes to
  // OnDeviceAccessFailed; everything else to the framework.
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override;

  // A device value that is no finite number (NaN, an infinity) is no number a field can show:
  // the field says "Not shown" (ShowNumber) and a Send does not carry it; other values go to the
  // framework.
  HRESULT SetControlValueById(LONG id, VARIANT value) override;

  // The DTM's check of an entry, with the limits of a distance (ShownLengthUnit) taken into the
  // unit the entry shows it in.
  HRESULT ValidateEntryValue(LONG id, const VARIANT& value, ULONG* flags) override;
  // Offline no device takes an entry: whatever state an entry's field is given, it takes no typing.
  HRESULT SetControlState(LONG index, ULONG state) override;

  // Whether the entry of `id` is the user's: changed by the user since the device last confirmed
  // its write or the user asked for the device's values (Refresh). No device answer, placeholder
  // or refresh of the page's own writes into its control or drops its marks meanwhile, and Send
  // writes it.
  bool IsUserEntry(LONG id) const;

  // Whether a field the user types into waits for its device value ("Loading..."): a read of the
  // page is on the channel. Fields that only show a value do not count.
  bool AwaitsDeviceValues();
  // A field awaiting its device value takes no typing (an edit is read-only, a combo greyed): an
  // answer cannot overwrite what nobody could type. Once the value or "Not read" stands there the
  // field takes typing again as its entry's state says (a field of no entry as it did before).
  // Runs after everything that reaches the page: a DTM command, a state change, a message of its
  // dialog.
  void FollowAwaitedFields();
  // FollowAwaitedFields while the user sees the page.
  void FollowWhileShown();

 protected:
  // A read or write of the parameter `id` (one of the page's table) failed as `outcome`: the page
  // tells the user what did not happen and shows no value the device did not give. Here, for a
  // read (a write's failure is Send's to tell): the fields the read fills (FieldsOfRead) that
  // still wait say "Not read", and the message line names them beside what the page told before
  // (a Send's "not written" stays); the reads of one round that fail are told in one sentence,
  // with the first reason. A read that fills no waiting field is named by NameOfRead.
  virtual void OnDeviceAccessFailed(LONG id, const vkr::dui::SDeviceOutcome& outcome);
  // The dialog items (edits, statics, combos) a read of `id` fills; absent: every field still
  // waiting.
  virtual std::optional<std::vector<UINT>> FieldsOfRead(LONG /*id*/) const { return std::nullopt; }
  // What the value of a read is to the user ("the sensor limits"), named instead of the fields it
  // left waiting; empty: those fields by their labels.
  virtual std::u16string NameOfRead(LONG /*id*/) const { return {}; }
  // The fields of a read that keep showing the last answer while the read is on its way (a
  // measured value read again and again, settings read again): when the read fails, that answer
  // is not the device's word now and makes way for "Not read" too. None here.
  virtual std::vector<UINT> LiveFieldsOfRead(LONG /*id*/) const { return {}; }
  // Whether the user sees the page: its dialog is visible, or is being shown (a read the showing
  // starts may fail before the dialog is visible, and is the shown page's all the same).
  bool IsShownToUser() const;
  // Sets the device read of `id` going as the page's own (*asked as the DTM's ReadDeviceParameter
  // says): until its answer or its failure comes, a read of the page is on the channel, also when
  // another read has filled its fields meanwhile, and Send writes nothing (AcceptSend): an answer
  // that comes after the write would show what the device held before it.
  HRESULT ReadFromDevice(LONG id, VARIANT_BOOL* asked);
  // A round of reads starts (the page's refresh): what the last one could not read is no longer
  // said.
  void BeginReadRound();
  // A device answer for `id` came: a failure told for it is over; when none is left the message
  // line no longer says that something could not be read.
  void NoteAnswer(LONG id);
  // A value of the device came for `id`: its control shows the device's word again.
  void ForgetUnread(LONG id);
  // Tells that `what` (empty: the fields of `fields` that still waited) could not be read for the
  // reason of `outcome`, beside what the page told before; those fields say "Not read".
  void TellNotRead(LONG id, const std::vector<UINT>& fields, const std::u16string& what,
                   const vkr::dui::SDeviceOutcome& outcome, BYTE command = 0);
  // The label the dialog shows for a control (the static texts before it).
  std::u16string ControlLabel(UINT control) const;
  // A number of the device into a field in `format`. One that is no finite number shows "Not
  // shown", and the message line names the field with why, until a number comes for it.
  HRESULT SetDlgItemFloat(LONG control, const char* format, float value);
  // False (the field left alone) for a finite number, which the caller shows itself.
  bool ShowsNonFinite(UINT control, double value);
  // The DTM reached the online state (from another): a page that shows device values reads them
  // now, also when it was shown while the DTM went online. Here: a refresh that came while the
  // device could not answer stays owed, and runs when the DTM's word that it is online shows the
  // page's entries again (AcceptRefresh).
  virtual void OnDeviceOnline();
  // The page's fields without a device value show the placeholder that tells whether one may
  // come ("Loading...") or cannot, the DTM being neither online nor going online ("Not
  // connected"). Nothing here.
  virtual void UpdatePlaceholders() {}
  // The length unit the page shows the distance of parameter `id` in (beside its entry); absent
  // for a parameter that is no distance, or while the unit is not known. Nothing here.
  virtual std::optional<BYTE> ShownLengthUnit(LONG /*id*/) const { return std::nullopt; }
  // Whether parameter `id` is a distance the page shows, its unit known or not. No here.
  virtual bool IsLengthEntry(LONG /*id*/) const { return false; }
  // Whether `value`, in `unit`, lies within the limits of parameter `limitsOf` (in metres, as the
  // DTM gives them); absent when the parameter has no limits or `unit` is no length unit.
  std::optional<bool> DistanceWithinLimits(LONG limitsOf, double value, BYTE unit);
  // Checks the user's distance entries again: their unit came (an entry typed before it was
  // checked without it), or a Send is about to write them.
  void RecheckDistances();
  // The unit the page shows the distances of `ids` in changed from `from` to `to` (the device's
  // unit changed: written on another page, or read anew). An entry of the user still pending was
  // typed in `from`: it is converted into `to`, so that it keeps the distance the user meant and
  // is never written as a number of another unit, and the message line says so. One that cannot
  // be converted (either unit no length unit) is given up for the device's value, with a word.
  void FollowUnitChange(std::initializer_list<LONG> ids, BYTE from, BYTE to);
  // The DTM's state now, from the DTM itself (dsUNDEFINED without one).
  ULONG CurrentDtmState() const;
  // Whether a device value may still come: the DTM is online or going online.
  bool DeviceMayAnswer() const;
  // Reads one table entry for display: the device value when the DTM is online, the parameter is
  // read from the device and the dialog type asks for it (bit 4, or bit 1 with the entry's option
  // 0x200); a device parameter without that is marked without value (0x404) until its answer
  // arrives. A parameter the DTM keeps itself (no device value to wait for) shows the data set's
  // value. E_POINTER without parameter information, E_FAIL for a parameter the DTM does not know,
  // E_INVALIDARG for a bad index.
  HRESULT ReadParameterOnline(LONG index);
  // As ReadParameterOnline, but where no device value is read or none came back the entry shows
  // the data set's value; the first failure on the way is returned.
  HRESULT ReadParameterOrDataSet(LONG index);
  // While the base fills controls: nothing. Edits 395, 397, 399: sets 1045 "Activate Button
  // Send" to 1. Combo 381 on a selection change: the same, and the combo's edit takes the
  // selected item's text. Then the framework's OnControlChange.
  HRESULT OnCommandPageControlChange(UINT code, UINT controlId, HWND control);
  // Stops the cyclic reading of 1029 and 1030 (commands 1 and 2), then the base UninitializeUI.
  HRESULT UninitializeStoppingResponses(VARIANT_BOOL* ok);
  // Marks the entry's input invalid (usable, bit 4) through SetControlStateById, so that the
  // base's SetFocusToControl focuses and selects it and Send stops there: the road of an entry that
  // does not fit its device field. E_INVALIDARG for an id not in the table.
  HRESULT MarkEntryInvalid(LONG id);

  // ---- The user's entries --------------------------------------------------------------------
  bool IsUserControl(UINT controlId) const;
  bool HasUserEntries() const { return !m_userEntries.empty(); }
  // Every entry is the device's again (the user gave them up for the device's values): their
  // changed marks go, and the message line's "not written" with them.
  void ReleaseUserEntries();
  // "Loading..." into the items / the placeholder item into the combo, except where an entry of
  // the user is.
  void PutLoadingText(std::initializer_list<UINT> itemIds);
  void PutComboPlaceholder(UINT comboId);
  // Only the device takes these entries: while it cannot answer (the DTM neither online nor going
  // online) the edits take no typing and the combos do not open; otherwise an entry the framework
  // left usable takes them again.
  void LockDeviceEntries(std::initializer_list<UINT> edits, std::initializer_list<UINT> combos = {});
  // Whether the framework left the control's entry usable (a control it does not list is).
  bool IsUsableControl(UINT control) const;
  // The frame's Refresh (1041) for the page's first showing: the DTM tells it back to every user
  // interface, this page included, and that echo is not the user's click.
  void RequestFirstRefresh();
  // A Refresh (1041) reached the page: whether the page refreshes now (pressed and visible). The
  // user's click gives the user's entries up; the echo of RequestFirstRefresh keeps them. The
  // trigger's stored value that reading all entries shows is no press: it runs only a refresh
  // the page still owes (see OnDeviceOnline).
  bool AcceptRefresh(bool pressed, bool visible);
  // A Send (1042) reached the page: whether the page sends now. The trigger's stored value that
  // reading all entries shows is no click: nothing is written then.
  // While a read of the page is on the channel nothing is written: the user is told to send once
  // the values are in (a write now would carry what the fields show before their values came).
  bool AcceptSend(bool pressed, bool visible);
  // The dirty flag after a refresh: the page stays dirty while an entry of the user waits.
  void SetDirtyAfterRefresh();

  // ---- Send ------------------------------------------------------------------------------------
  // A page's Send runs inside one of these, made before BeginSend. Whichever way the Send ends,
  // every entry the user changed is then named once, for what happened to it: the Send's own
  // words name those it failed to write or refused, and at the end the message line names each
  // other changed entry it did not come to ("Damping was not sent: Lower Range Value holds an
  // entry that is not valid") and, when not all was written, the entries it did write.
  class CSendRun {
   public:
    explicit CSendRun(CDevicePropertyPage& page) : m_page(page) {
      if (m_page.m_nSendRuns++ == 0) m_page.OpenSendRun();
    }
    ~CSendRun() {
      if (--m_page.m_nSendRuns == 0) m_page.CloseSendRun();
    }
    CSendRun(const CSendRun&) = delete;
    CSendRun& operator=(const CSendRun&) = delete;

   private:
    CDevicePropertyPage& m_page;
  };
  // The Send told in its own words (`text`) that it did not write `ids` and goes no further: the
  // entries it does not come to are named as not sent because it stopped at them.
  void TellSendStopped(const std::u16string& text, const std::vector<LONG>& ids);
  // A Send starts: an earlier "not written" goes from the message line. False when the DTM is
  // not online: nothing can be written, the user's entries stay and the user is told.
  bool BeginSend();
  // The device write of `id` (the framework's checked write) that carries the user's entries
  // `carried`. S_OK when the device confirmed it: those entries are written (no longer the user's
  // nor marked changed). A write that went out and was not confirmed (refused, failed, no answer,
  // the link lost), or whose value could not be made, is told on the message line and answers
  // its failure (E_FAIL when the write itself did not fail); the entries keep the user's text and
  // marks. S_FALSE when the entry had nothing to write (not usable, refused by the DTM's check).
  //
  // `staged` are the data set's values the write carries beside its own (the other fields of the
  // record it writes, as the page shows them): the data set takes them as changes only when the
  // device takes the write, and otherwise holds what it held (StageDtmParameterValue).
  struct SStaged {
    LONG id;
    VARIANT value;
  };
  HRESULT SendEntry(LONG id, std::initializer_list<LONG> carried, std::initializer_list<SStaged> staged = {});
  // The device took a write it did not confirm: it answered with a warning.
  bool DeviceTookWrite(LONG id) override;
  // The user's PV unit (1039's value) as 1024, written (command 44) by SendEntry. When the device
  // confirmed it, the data set follows the device's unit change: its blanking and offset (kept in
  // the PV unit) and its range values record (in its own unit) are converted into the new unit, so
  // that they keep naming the same distances. A value the data set does not hold, or one in a unit
  // that is no length unit, stays.
  HRESULT SendPvUnit(const VARIANT& unit);
  // The data set's value of the parameter into *value; false when the data set holds none.
  bool HoldsValue(LONG id, vkr::Variant* value);
  // A Send wrote all it had to: no entry is the user's any more but those it told it did not
  // write.
  void EndSend();
  // Why a write did not happen: the device did not confirm it (the outcome says how), no device is
  // connected, its value could not be made, or the entry is not valid.
  enum class ENotWritten { Unconfirmed, NotConnected, NoValue, Invalid, Unread };
  // A write that carries `carried` (the fields of one record) and would carry a field that holds
  // no value of the device's nor the user's (a placeholder, or nothing): nothing is written, and
  // the message line says which of them could not be read. False when every field holds a value.
  bool WriteNeedsUnread(std::initializer_list<LONG> carried);
  // A Send that stops at invalid entries (SetFocusToControl failed): the message line names them.
  // False when no entry is marked invalid.
  bool TellInvalidEntries();
  // "A was not written: its entry is not valid: 0 to 66 m." for the entries of `ids`.
  std::u16string InvalidText(const std::vector<LONG>& ids);
  // "0 to 66 m": the limits of the parameter's value, in the unit its entry shows it in; empty
  // without limits. A page whose entries hold texts or numbers of its own says what they hold.
  virtual std::u16string LimitsText(LONG id);
  // Every page's Send begins here: invalid input anywhere on the page is focused and named on the
  // message line, and true says that nothing may go out.
  bool StopsAtInvalidEntries() {
    if (SUCCEEDED(SetFocusToControl())) return false;
    TellInvalidEntries();
    return true;
  }
  // Tells on the message line that `failed` were not written and why, naming with them the
  // user's other entries still unwritten. Unread: `unread` names the fields the write would carry
  // that could not be read; `partly`: they are the user's own entries, read in part (the day
  // typed, the month not read).
  void TellNotWritten(std::initializer_list<LONG> failed, ENotWritten why, const vkr::dui::SDeviceOutcome& outcome = {},
                      BYTE command = 0, const std::vector<std::u16string>& unread = {}, bool partly = false);
  // The text on the frame's message line (empty: none). Without a frame's message line (the page
  // on its own) the text goes to the user as a message.
  void TellOnMessageLine(const std::u16string& text);
  // A write of `command` that the device took with the warning `code`: "A was written; the device
  // warns: 0x08 (set to nearest possible value).", beside the rest of the page's line until the
  // next Send; each command's warning once a Send, every warning of the Send told, the writes
  // warned of the same named together ("A and B were written; ...").
  void TellWarning(const std::vector<std::u16string>& names, BYTE command, BYTE code);
  // The warning the device answered the last write of `command` with (the DTM's last response
  // code, reset to 0 before the write); 0 for none.
  BYTE LastWriteWarning(BYTE command);
  // A word on what the page did with the user's entry (a level it moved), before the rest of the
  // page's line through the next Send, or until the user gives the entries up; the same word
  // twice is told once.
  void TellNote(const std::u16string& text);
  // The entries written by a confirmed write: the user's no longer, their changed marks gone.
  void MarkWritten(std::initializer_list<LONG> ids);
  // The text the dialog shows as the label of the entry's control (the static texts just before
  // it; for a control without one, that of the control before it); the entry's name without.
  std::u16string EntryLabel(LONG id) const;

  // Sets m_bUpdatingControls for a scope and puts back what it held, on every way out.
  class CUpdatingControls {
   public:
    explicit CUpdatingControls(CDevicePropertyPage& page)
        : m_flag(page.m_bUpdatingControls), m_previous(page.m_bUpdatingControls) {
      m_flag = TRUE;
    }
    ~CUpdatingControls() { m_flag = m_previous; }
    CUpdatingControls(const CUpdatingControls&) = delete;
    CUpdatingControls& operator=(const CUpdatingControls&) = delete;

   private:
    BOOL& m_flag;
    BOOL m_previous;
  };

  vkr::ComPtr<IParamGroupDisplay> m_spParamGroupDisplay;

  // The entries `ids` were named for their fate by this Send, which went no further for `why`.
  void NoteSendStop(const std::vector<LONG>& ids, const std::u16string& why);

 private:
  // A value came for the user's entry: the entry stays and is marked changed.
  HRESULT KeepUserEntry(LONG id);

  // The dialog's window procedure before the page followed it (FollowingProc).
  static LRESULT FollowingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void StopFollowing();

  std::vector<LONG> m_userEntries;  // ids of the user's entries, in the order first changed
  std::vector<UINT> m_awaitLocked;  // fields FollowAwaitedFields made take no typing
  std::vector<LONG> m_readsOut;     // ReadFromDevice's reads not answered yet, one id a read
  std::vector<UINT> m_unreadControls;  // fields told "Not read" whose device value has not come since
  // The answer or the failure of a read of `id` came: one read of it less on the channel.
  void TakeReadOut(LONG id);
  HWND m_followedDialog = nullptr;
  WNDPROC m_dialogProc = nullptr;   // the dialog's own procedure while followed
  bool m_bFollowing = false;        // FollowAwaitedFields runs
  bool m_bShowing = false;          // the dialog handles its WM_SHOWWINDOW that shows it
  int m_nOwnRefreshes = 0;          // echoes of RequestFirstRefresh still to come
  bool m_bRefreshOwed = false;      // the last refresh came while the device could not answer
  bool m_bOwedAtOnline = false;     // m_bRefreshOwed as the DTM reached the online state
  bool m_bReadFailed = false;       // a read failed since the last refresh: the page owes values
  bool m_bWriting = false;          // SendEntry's write runs: its failure is told by Send
  std::u16string m_toldText;          // the page's word on the message line (a Send's, a procedure's)
  std::u16string m_noteText;          // before it: what the page did with the user's entries
  std::u16string m_notesBeforeSend;   // those of them told up to the end of the last Send
  std::u16string m_notReadText;       // beside it: what could not be read
  std::vector<UINT> m_notShownControls;  // fields whose device value is no finite number
  std::u16string m_notShownText;         // and the sentence that names them
  struct SWarning {
    std::u16string warns;  // "0x08 (set to nearest possible value)"
    std::vector<std::u16string> names;
    std::vector<BYTE> commands;
    std::u16string text;
  };
  std::vector<SWarning> m_warnings;   // before the page's word: the warnings of this Send
  // The Send running (CSendRun): the entries it named, why it went no further, what it wrote.
  int m_nSendRuns = 0;
  std::vector<LONG> m_sendNamed;
  std::u16string m_sendStop;
  std::vector<std::u16string> m_sendWritten;
  void OpenSendRun();
  void CloseSendRun();
  std::vector<LONG> m_notReadIds;     // the reads that failed, until their answer comes
  std::vector<std::u16string> m_notReadNames;
  std::map<std::u16string, std::vector<UINT>> m_notReadFields;  // the fields a name of them stands for
  vkr::dui::SDeviceOutcome m_notReadOutcome;
  BYTE m_notReadCommand = 0;
  // The page's texts onto the frame's message line; without a frame `told` goes to the user.
  void ShowMessageLine(const std::u16string& told);

  // Steps 1 to 3 of both reads: whether the parameter exists and is read from the device
  // (*fromDevice), and the device value when the read conditions hold (VT_EMPTY otherwise).
  HRESULT ReadDeviceValue(LONG index, bool* fromDevice, VARIANT* value);
  // Steps after the value: information, flags, choices, display, state.
  HRESULT ShowEntry(LONG index, const VARIANT& value, bool returnDisplayFailure);
};

// The parameter map of a class without entries: only the end entry (id -1, state 0x71, kind
// 0x80000000); count 0; with copy a new[] array of that one record.
CActXParInfo* EmptyParameterMap(int* count, BOOL copy);
