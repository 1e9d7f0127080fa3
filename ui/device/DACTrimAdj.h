// CDACTrimAdj: the loop-current (DAC) trim. The user picks 4 mA or 20 mA; the control fixes the
// loop current there (parameter 1021, HART command 40), asks whether the reference meter in the
// loop shows the same, and while it does not, sends the meter reading to the device as a zero trim
// (1120, command 45, at 4 mA) or a gain trim (1121, command 46, at 20 mA). Leaving the procedure
// gives the loop current back (1021 = 0.0) and closes the control.
//
// The reading stage starts only when the device confirmed the fixed level, and no trim is sent
// without one; a level or trim the device did not confirm is told, the loop is given back and the
// control is back at the list. A current the control fixed is given back on every road out while
// the DTM is online: "End" and Abort, the frame closing it, the DTM's release, the window going
// away; when the device does not confirm it, the user hears once that the current may still be
// fixed, and the next request to leave closes the control all the same. Offline nothing is
// written and the procedure does not start: the user is told so. A reading that is not a number or lies far from the fixed level is refused; nothing is
// written for it. The DTM leaving online stops the procedure: the control is back at the list.
//
// Dialog 731. Everything runs on the frame's thread.
#pragma once

#include "include/DtmInterfaces.h"
#include "platform/platform.h"
#include "ui/device/LoopCurrent.h"
#include "ui/framework/ActiveXControl.h"

// The control's own dispatch interface; it has no methods.
struct IDACTrimAdj : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("3A73909B-A018-48F7-8123-55E82DE27209");
  using Base = IDispatch;
};

namespace vkr::dui {

inline constexpr UINT kDacTrimDialogId = 731;
inline constexpr UINT kDacTrimLevelLabel = 379;
inline constexpr UINT kDacTrimLevelList = 6314;
inline constexpr UINT kDacTrimEnter = 6315;
inline constexpr UINT kDacTrimAbort = 6312;
inline constexpr UINT kDacTrimReadingLabel = 6358;
inline constexpr UINT kDacTrimReadingEdit = 6316;
inline constexpr UINT kDacTrimReadingUnit = 380;
inline constexpr UINT kDacTrimReadingEnter = 6313;

inline constexpr LONG kParLoopCurrentZeroTrim = 1120;  // write: command 45 (float mA)
inline constexpr LONG kParLoopCurrentGainTrim = 1121;  // write: command 46 (float mA)

// Trim writes after which the next reading ends the procedure.
inline constexpr LONG kDacTrimMaxAttempts = 9;

inline constexpr const char* kDacTrimMatchQuestion = "Field device output %.3f mA equal to reference meter?";
inline constexpr const char* kDacTrimTooManyAttempts =
    "Too many attempts to trim loop current zero\n\r Please try again.";

// The list's entries, in this order.
enum EDacTrimChoice : int { kTrim4mA = 0, kTrim20mA = 1, kTrimEnd = 2 };

class CDACTrimAdj : public CovFDT_IDtmActiveXControlImpl, public IDACTrimAdj {
 public:
  CDACTrimAdj();
  ~CDACTrimAdj() override;
  CDACTrimAdj(const CDACTrimAdj&) = delete;
  CDACTrimAdj& operator=(const CDACTrimAdj&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_IDtmActiveXControlImpl::QueryInterface;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  // A current still fixed on the device is given back first; when the device does not take it
  // the user is told once and the control stays (FALSE): the next request lets it go.
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override;
  // Leaving online with the current still fixed: it is given back while the connection stands
  // (the user is told when it cannot be); back online with it still fixed, it is given back then.
  HRESULT OnDtmStateChanged(ULONG state) override;

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // Enter (6315): one step of the procedure.
  HRESULT RunTrimProcedure();
  // Abort, "End" and too many attempts: asks, gives the current back, closes.
  HRESULT AbortProcedure();

  // State for tests.
  BYTE Stage() const { return m_nStage; }
  LONG Attempts() const { return m_nAttempts; }

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  void FillList();
  void Show(UINT id, bool shown);
  // The reading fields in place of the list, or the list back.
  void ShowReading(const char* prefill);
  void ShowLevels();
  // Asks the match question for the target; the answer (0 without a function container).
  LONG AskMatch();
  // The warnings of the writes the device took since they were last told, as one message.
  void TellWarnings();
  // The answer, or kNoContainer when the DTM offers no function container (the step ends).
  LONG Ask(const std::u16string& text, LONG style);
  static constexpr LONG kNoContainer = -1;
  // The DTM's state is online; *missing E_NOINTERFACE when the DTM cannot tell.
  bool IsOnline(HRESULT* missing) const;
  // One step of the procedure (RunTrimProcedure holds Enter and Abort off meanwhile).
  HRESULT TrimStep();
  // Gives the current back after the user confirmed the match; true when the device took it (or
  // nothing was to be written offline).
  bool ReleaseAfterMatch();
  // Back at the list after a failure or a stop (stage 1).
  void BackToLevels();
  // The typed reading is refused: the user is told, the entry focused and selected.
  void RefuseReading(const std::u16string& text);

  BYTE m_nStage = 1;       // 1: a level is chosen from the list; 0: the meter reading is awaited
  LONG m_nAttempts = 0;    // trim writes since the level was chosen
  float m_fTarget = 0.0f;  // the fixed level: 4.0 or 20.0
  CFixedLoopCurrent m_loop;
  bool m_bOnline = false;  // the DTM's state as last told
  bool m_bBusy = false;    // waiting for the device or the user: Enter and Abort wait too
  unsigned m_nStops = 0;   // counts the procedure stopped by the DTM leaving online
};

}  // namespace vkr::dui
