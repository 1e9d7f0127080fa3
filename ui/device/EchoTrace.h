// CEchoTrace: the echo trace control. A dialog control of the DTM with nothing of its own: no
// parameter, its buttons hidden; it opens, starts, shows and closes as every control of its family
// does. Dialog 186; the frame's thread only.
#pragma once

#include "platform/platform.h"
#include "ui/framework/ActiveXControl.h"

// The control's own dispatch interface; it has no methods.
struct IEchoTrace : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("A4E3F0C9-6D21-4B87-93AE-0C5B8D7162F1");
  using Base = IDispatch;
};

namespace vkr::dui {

inline constexpr UINT kEchoTraceDialogId = 186;

class CEchoTrace : public CovFDT_IDtmActiveXControlImpl, public IEchoTrace {
 public:
  CEchoTrace();
  ~CEchoTrace() override;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_IDtmActiveXControlImpl::QueryInterface;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // IDispatch of both dual interfaces: the base's answers.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 protected:
  void* FindInterface(REFIID riid) override;
};

}  // namespace vkr::dui
