// COfflineOnlineParam: the offline/online values control. It shows the device's current, PV and
// SV values and its identification (tag, descriptor, message, date), and writes the changed ones
// to the device with OK or Apply: the message on its own, tag, descriptor and date together as
// the device's identification (1053).
//
// Opened for an online function it keeps the DTM online while it is open (the shared online usage
// counter, see OnlineParam.h); opened as an offline dialog (dialog type 2) it counts nothing and
// its OK and Apply are the framework's. Dialog 134; everything runs on the frame's thread.
#pragma once

#include "platform/platform.h"
#include "ui/device/OnlineParam.h"

// The control's own dispatch interface; it has no methods.
struct IOfflineOnlineParam : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("8C2D41F7-3B95-4E0A-A6D2-7F19C05E2B68");
  using Base = IDispatch;
};

namespace vkr::dui {

class COfflineOnlineParam : public COnlineCountedControl, public IOfflineOnlineParam {
 public:
  COfflineOnlineParam();
  ~COfflineOnlineParam() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using COnlineCountedControl::QueryInterface;

  // Current, PV and SV values, tag, descriptor, message, day, month, year (9 entries).
  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // IDispatch of both dual interfaces: the base's answers.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  // The framework's start; unless the dialog is offline (type 2), the DTM is asked to go online
  // when it has its channel and the control counts itself in.
  HRESULT Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) override;
  // Counts the control out when it counted in (the DTM goes offline when it was the last), then
  // the framework's release.
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override;

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 protected:
  void* FindInterface(REFIID riid) override;
};

}  // namespace vkr::dui
