// The interfaces of every page and control as the DTM reaches them: IovFdtActiveX4 (state,
// errors, commands) and IovFdtActiveXInfo (information items). Header only; the ids are this
// program's own.
//
// Both are dual: slot 7 is the first method named here. IovFdtActiveX4 goes on with the user
// interfaces' own operations, which the user-interface framework adds after slot 10.
#pragma once

#include "platform/platform.h"

struct IovFdtActiveX4 : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5D2C8E41-7B3A-4F16-A0C9-E4B7D1F3A201");
  using Base = IDispatch;
  virtual HRESULT OnDtmStateChanged(ULONG state) = 0;                 // 7
  virtual HRESULT ReportError(BSTR text) = 0;                         // 8
  virtual HRESULT ReportErrorText(LPCWSTR text) = 0;                  // 9
  virtual HRESULT ExecuteCommand(VARIANT command, VARIANT argument) = 0;  // 10
};

struct IovFdtActiveXInfo : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5D2C8E41-7B3A-4F16-A0C9-E4B7D1F3A202");
  using Base = IDispatch;
  virtual HRESULT SetInfo(VARIANT id, VARIANT* value) = 0;            // 7
  virtual HRESULT IsInfoSupported(VARIANT id) = 0;                    // 8
  virtual HRESULT SetSchemaSource(IUnknown* container) = 0;           // 9
};
