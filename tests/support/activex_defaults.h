// Stand-ins of user interfaces that answer only the DTM's four calls (slots 7 to 10) and the
// information interface: VKR_ACTIVEX4_NOT_IMPLEMENTED fills in the user interfaces' own
// operations (slots 11 to 81), each answering E_NOTIMPL (0 for the ones that answer a number).
#pragma once

#include "include/ActiveXInterfaces.h"

#define VKR_ACTIVEX4_NOT_IMPLEMENTED                                                            \
  HRESULT InitializeUI(IUnknown*, VARIANT_BOOL*) override { return E_NOTIMPL; }                 \
  HRESULT UninitializeUI(VARIANT_BOOL*) override { return E_NOTIMPL; }                          \
  HRESULT ReadAllParameters() override { return E_NOTIMPL; }                                    \
  HRESULT ReadParameter(LONG) override { return E_NOTIMPL; }                                    \
  HRESULT FillControlChoices(ULONG) override { return E_NOTIMPL; }                              \
  HRESULT NoOperation() override { return E_NOTIMPL; }                                          \
  HRESULT CommitControlValue(LONG) override { return E_NOTIMPL; }                               \
  HRESULT SetDirty(BOOL) override { return E_NOTIMPL; }                                         \
  HRESULT SetFocusToControl() override { return E_NOTIMPL; }                                    \
  HRESULT SetControlValue(LONG, VARIANT) override { return E_NOTIMPL; }                         \
  HRESULT SetControlValueById(LONG, VARIANT) override { return E_NOTIMPL; }                     \
  HRESULT SetComboBoxValue(ULONG, VARIANT) override { return E_NOTIMPL; }                       \
  HRESULT SetListBoxValue(ULONG, VARIANT) override { return E_NOTIMPL; }                        \
  HRESULT GetControlValue(ULONG, VARIANT*) override { return E_NOTIMPL; }                       \
  HRESULT GetCheckValue(ULONG, VARIANT*) override { return E_NOTIMPL; }                         \
  HRESULT IsValueChanged(ULONG, VARIANT*, BOOLEAN*) override { return E_NOTIMPL; }              \
  HRESULT GetListValue(ULONG, VARIANT*) override { return E_NOTIMPL; }                          \
  HRESULT IsValueChangedEx(ULONG, VARIANT*, BOOLEAN*) override { return E_NOTIMPL; }            \
  HRESULT GetControlValueById(LONG, VARIANT*) override { return E_NOTIMPL; }                    \
  HRESULT GetParameterTextByIndex(LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }           \
  HRESULT GetParameterTextOfMode1(ULONG, VARIANT_BOOL*) override { return E_NOTIMPL; }          \
  HRESULT GetParameterTextOfMode2(ULONG, VARIANT_BOOL*) override { return E_NOTIMPL; }          \
  HRESULT GetParameterText(LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }                  \
  HRESULT SetControlState(LONG, ULONG) override { return E_NOTIMPL; }                           \
  HRESULT SetStatusIndicator(ULONG, ULONG, ULONG, BOOL) override { return E_NOTIMPL; }          \
  HRESULT SetControlStateById(LONG, ULONG) override { return E_NOTIMPL; }                       \
  HRESULT ApplyOnlineAccess(BOOL) override { return E_NOTIMPL; }                                \
  HRESULT SetDisplayOption(BOOL) override { return E_NOTIMPL; }                                 \
  HRESULT RefreshAllParameters(LONG) override { return E_NOTIMPL; }                             \
  HRESULT RefreshParameter(LONG) override { return E_NOTIMPL; }                                 \
  HRESULT ValidateControlValue(LONG) override { return E_NOTIMPL; }                             \
  HRESULT ValidateControlValueEx(LONG) override { return E_NOTIMPL; }                           \
  HRESULT ReadParameterInfo(ULONG) override { return E_NOTIMPL; }                               \
  HRESULT GetParameterInfoValue(LONG, ULONG*) override { return E_NOTIMPL; }                    \
  HRESULT GetDtmParameterValue(LONG, VARIANT*) override { return E_NOTIMPL; }                   \
  HRESULT QueryParameterInfo(LONG, VARIANT*) override { return E_NOTIMPL; }                     \
  HRESULT SetDtmParameterValue(LONG, VARIANT) override { return E_NOTIMPL; }                    \
  HRESULT GetParameterInfoText(LONG, VARIANT*, VARIANT*) override { return E_NOTIMPL; }         \
  HRESULT GetParameterInfoField(LONG, ULONG*) override { return E_NOTIMPL; }                    \
  HRESULT ReadDeviceParameterEx(LONG) override { return E_NOTIMPL; }                            \
  HRESULT CheckParameterInput(LONG) override { return E_NOTIMPL; }                              \
  HRESULT ReadDeviceParameter(ULONG) override { return E_NOTIMPL; }                             \
  HRESULT WriteDeviceParameter(ULONG) override { return E_NOTIMPL; }                            \
  HRESULT ShowParameterDisplayText(LONG) override { return E_NOTIMPL; }                         \
  HRESULT GetParameterDisplayText(LONG, BSTR*) override { return E_NOTIMPL; }                   \
  HRESULT FormatParameterText(LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }               \
  HRESULT OnControlKillFocus(UINT, WPARAM, LPARAM, BOOL*) override { return E_NOTIMPL; }        \
  HRESULT OnControlChange(UINT, UINT, HWND) override { return E_NOTIMPL; }                      \
  HRESULT OnControlSetFocus(UINT, UINT, HWND) override { return E_NOTIMPL; }                    \
  HRESULT OnShowWindow(UINT, WPARAM, LPARAM, BOOL*) override { return E_NOTIMPL; }              \
  LRESULT OnCtlColorEdit(UINT, WPARAM, LPARAM, BOOL*) override { return 0; }                    \
  LRESULT OnCtlColorListBox(UINT, WPARAM, LPARAM, BOOL*) override { return 0; }                 \
  LRESULT OnCtlColorStatic(UINT, WPARAM, LPARAM, BOOL*) override { return 0; }                  \
  LRESULT OnCtlColorDlg(UINT, WPARAM, LPARAM, BOOL*) override { return 0; }                     \
  HRESULT OnDrawItem(UINT, DRAWITEMSTRUCT*) override { return E_NOTIMPL; }                      \
  LONG GetAccessMode() override { return 0; }                                                   \
  HRESULT SetAccessMode(LONG) override { return E_NOTIMPL; }                                    \
  HRESULT NotifyAllParameters() override { return E_NOTIMPL; }                                  \
  HRESULT OnNotifyParameter(LONG) override { return E_NOTIMPL; }                                \
  HRESULT InitializeMembers() override { return E_NOTIMPL; }                                    \
  HRESULT SetDialogType(ULONG) override { return E_NOTIMPL; }                                   \
  LONG GetControlType(HWND) override { return 0; }                                              \
  LONG GetControlTypeById(LONG) override { return 0; }                                          \
  HRESULT OnParameterChangedEvent(VARIANT) override { return E_NOTIMPL; }                       \
  HRESULT OnParameterRefreshEvent(VARIANT) override { return E_NOTIMPL; }                       \
  HRESULT OnRefreshAllEvent(VARIANT) override { return E_NOTIMPL; }                             \
  HRESULT OnParameterStateEvent(VARIANT) override { return E_NOTIMPL; }                         \
  HRESULT OnNotifyAllEvent(VARIANT) override { return E_NOTIMPL; }                              \
  HRESULT OnDtmMessage(VARIANT) override { return E_NOTIMPL; }                                  \
  HRESULT ConvertValue(VARIANT, VARIANT) override { return E_NOTIMPL; }                         \
  HRESULT CompareValues(VARIANT, ULONG*) override { return E_NOTIMPL; }
