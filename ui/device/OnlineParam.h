// The controls that keep the DTM online while they are open: the online parameter control
// (COnlineParam, dialog 131) and the offline/online values control (COfflineOnlineParam, dialog
// 134). Both count themselves in the DTM's online usage counter (1047) when they start: the first
// one opened while the DTM has its channel asks it to go online, the last one closed while it is
// online asks it to go offline. An instance counts out only what it counted in.
//
// Their OK and Apply write the changed entries with the DTM's audit trail switched on (message 52
// with -1) and off again (52 with 0) around the writes; the switch-off follows on every road out,
// a failing write included. Tag, descriptor and date are gathered into one write of the device's
// identification (1053); every other entry is written on its own.
//
// The online parameter control's values form binds no parameter; it greys the DTM's function 3
// while it runs. Everything runs on the frame's thread.
#pragma once

#include "include/DtmInterfaces.h"
#include "platform/platform.h"
#include "ui/device/kit/OnlineUsageCounter.h"
#include "ui/framework/ActiveXControl.h"

// The online parameter control's own dispatch interface; it has no methods.
struct IOnlineParam : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5E0B7C21-4A6D-4F3B-9C18-2D7E9A61B403");
  using Base = IDispatch;
};

namespace vkr::dui {

inline constexpr UINT kOnlineParamDialogId = 131;
inline constexpr UINT kOfflineOnlineParamDialogId = 134;

// The items of the values form (dialogs 131 and 134 alike).
enum EValuesFormItem : UINT {
  kValuesFormCurrent = 408,
  kValuesFormPv = 302,
  kValuesFormSv = 306,
  kValuesFormTag = 205,
  kValuesFormDescriptor = 207,
  kValuesFormMessage = 209,
  kValuesFormDay = 358,
  kValuesFormMonth = 360,
  kValuesFormYear = 364,
  kValuesFormClose = 632,  // dialog 131 only
};
inline constexpr UINT kValuesFormFields[] = {kValuesFormCurrent, kValuesFormPv,         kValuesFormSv,
                                             kValuesFormTag,     kValuesFormDescriptor, kValuesFormMessage,
                                             kValuesFormDay,     kValuesFormMonth,      kValuesFormYear};

// The DTM function the online parameter control greys while it runs.
inline constexpr ULONG kOnlineParamFunction = 3;
// The DTM message that switches the audit trail around the writes (VT_I2 -1 on, 0 off).
inline constexpr ULONG kDtmMessageAuditTrail = 52;

// Told when tag, descriptor or date is to be written while a part of them was never read from
// the device (nothing is written then).
inline constexpr char16_t kIdentificationCaption[] = u"Identification";
inline constexpr char16_t kIdentificationUnread[] =
    u"The device's tag, descriptor and date could not be read; nothing was written.";

// The shared part of the two controls: the usage counter and the write of the changed entries.
class COnlineCountedControl : public CovFDT_IDtmActiveXControlImpl {
 public:
  COnlineCountedControl(const CLSID& clsid, ParameterMapFunction parameterMap, UINT dialogId);

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_IDtmActiveXControlImpl::QueryInterface;

  // OK and Apply: the changed entries written with the audit trail on; tag, descriptor and date
  // (1054 to 1058) stored in the DTM and written once as 1053. The first failure is returned
  // (the audit trail is switched off all the same); S_OK disables Apply.
  HRESULT ApplyParameterChanges() override;

  bool IsCountedOnline() const { return m_usage.Counted(); }

 protected:
  // The DTM's state now (asked of the DTM; the state last told when it cannot be asked).
  ULONG CurrentDtmState() const;
  // The framework's start, then the DTM's base interface: E_NOINTERFACE (and the start undone)
  // without it. S_OK with *result TRUE when the control started.
  HRESULT StartControl(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result);

  COnlineUsageCounter m_usage;
};

class COnlineParam : public COnlineCountedControl, public IOnlineParam {
 public:
  COnlineParam();
  ~COnlineParam() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using COnlineCountedControl::QueryInterface;

  // No entry: the values form binds no parameter.
  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // IDispatch of both dual interfaces: the base's answers.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  // The framework's start; then the DTM is asked to go online when it has its channel, and the
  // control counts itself in.
  HRESULT Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) override;
  // Counts the control out (the DTM goes offline when it was the last), then the framework's
  // release.
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override;
  // The framework's start, then function 3 greyed.
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  // Function 3 back, then the framework's end.
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  // The form says not connected while the DTM is neither online nor going online.
  HRESULT OnDtmStateChanged(ULONG state) override;

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  bool IsFunctionDisabled() const { return m_bFunctionDisabled; }

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  void ShowConnection(ULONG state);

  bool m_bFunctionDisabled = false;  // this control greyed function 3
};

}  // namespace vkr::dui
