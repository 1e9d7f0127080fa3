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

#include <string>

#include "platform/platform.h"
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

  // The DTM's state as the page learns it: the placeholders follow it (UpdatePlaceholders), and
  // reaching the online state runs OnDeviceOnline.
  HRESULT OnDtmStateChanged(ULONG state) override;

 protected:
  // The DTM reached the online state (from another): a page that shows device values reads them
  // now, also when it was shown while the DTM went online. Nothing here.
  virtual void OnDeviceOnline() {}
  // The page's fields without a device value show the placeholder that tells whether one may
  // come ("Loading...") or cannot, the DTM being neither online nor going online ("Not
  // connected"). Nothing here.
  virtual void UpdatePlaceholders() {}
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

 private:
  // Steps 1 to 3 of both reads: whether the parameter exists and is read from the device
  // (*fromDevice), and the device value when the read conditions hold (VT_EMPTY otherwise).
  HRESULT ReadDeviceValue(LONG index, bool* fromDevice, VARIANT* value);
  // Steps after the value: information, flags, choices, display, state.
  HRESULT ShowEntry(LONG index, const VARIANT& value, bool returnDisplayFailure);
};

// The parameter map of a class without entries: only the end entry (id -1, state 0x71, kind
// 0x80000000); count 0; with copy a new[] array of that one record.
CActXParInfo* EmptyParameterMap(int* count, BOOL copy);
