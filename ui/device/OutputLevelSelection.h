// COutputLevelSelection: the loop test. The user fixes the device's analog output at 4 mA, 20 mA
// or a level of their own (parameter 1021, HART command 40) to check the loop; "End" or Abort
// returns the device to its normal output (1021 = 0.0) and closes the control.
//
// A level counts as fixed only when the device confirmed it; one it did not confirm is told and
// given back at once. A level the control fixed is given back on every road out while the DTM is
// online: its own Abort, the frame closing it, the DTM's release, the window going away; when the
// device does not confirm it, the user hears once that the output may still be fixed, and the
// next request to leave closes the control all the same. A typed
// level that is not a number, is 0 or lies outside what a loop carries is refused; nothing is
// written for it. The DTM leaving online stops the test: the control is back at the list.
//
// Dialog 119. Everything runs on the frame's thread.
#pragma once

#include "include/DtmInterfaces.h"
#include "platform/platform.h"
#include "ui/device/DeviceUiIds.h"
#include "ui/device/LoopCurrent.h"
#include "ui/framework/ActiveXControl.h"

// The control's default dispatch interface; it has no methods.
struct IOutputLevelSelection : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5C0E7B1A-2F64-4E9D-B3A8-71D2C9E4F119");
  using Base = IDispatch;
};

namespace vkr::dui {

inline constexpr UINT kOutputLevelDialogId = 119;
inline constexpr UINT kOutputLevelLabel = 379;
inline constexpr UINT kOutputLevelList = 375;
inline constexpr UINT kOutputLevelEnter = 377;
inline constexpr UINT kOutputLevelAbort = 378;
inline constexpr UINT kOutputLevelEdit = 301;
inline constexpr UINT kOutputLevelUnit = 380;

// The list's entries, in this order.
enum EOutputLevelChoice : int { kLevel4mA = 0, kLevel20mA = 1, kLevelOther = 2, kLevelEnd = 3 };

class COutputLevelSelection : public CovFDT_IDtmActiveXImplEx, public IOutputLevelSelection {
 public:
  COutputLevelSelection();
  ~COutputLevelSelection() override;
  COutputLevelSelection(const COutputLevelSelection&) = delete;
  COutputLevelSelection& operator=(const COutputLevelSelection&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_IDtmActiveXImplEx::QueryInterface;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  // A level still fixed on the device is given back first; when the device does not take it the
  // user is told once and the control stays (FALSE): the next request lets it go.
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override;
  // Leaving online with the current still fixed: it is given back while the connection stands
  // (the user is told when it cannot be); back online with it still fixed, it is given back then.
  HRESULT OnDtmStateChanged(ULONG state) override;

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // Enter: fixes the chosen level, or takes the typed one.
  HRESULT OnEnter();
  // Abort and "End": gives the output back, tells the user, closes.
  HRESULT OnAbort();

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  void FillDialog();
  void SetLabel(UINT stringId);
  void Show(UINT id, bool shown);
  // The list back in place of the own level (stage 1).
  void ShowList();
  // The typed level is refused: the user is told, the entry focused and selected.
  void RefuseTyped(UINT textId);
  // The warnings of the writes the device took since they were last told, as one message.
  void TellWarnings();
  // A message with the title "Loop Test" (style 0x40 unless given); false without a function
  // container.
  bool Tell(const std::u16string& text, LONG style = kMessageInformation);

  BYTE m_nStage = 1;        // 1: a level is chosen from the list; 0: the user types one
  BYTE m_bOutputFixed = 0;  // a level was set: Abort must give the output back
  CFixedLoopCurrent m_loop;
  bool m_bOnline = false;     // the DTM's state as last told
  bool m_bBusy = false;       // waiting for the device: Enter and Abort wait too
  unsigned m_nStops = 0;      // counts the procedure stopped by the DTM leaving online
};

}  // namespace vkr::dui
