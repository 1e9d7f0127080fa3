// CRawCommandPP: the property page "RawCommand" ("manual command"). The user types a HART command
// number (decimal) and request data bytes (hexadecimal); the frame's Send sends them as one
// transaction on the DTM's first connection, and the page shows the response code, the device
// status, the response byte count and the response data. The values travel through the DTM-side
// parameters 1002 to 1008, which the page's table binds to its edits.
//
// Dialog 175; strings 170 (title), 171 (help target), 172 (documentation); dialog type 4 (online
// reading). Send arrives as the value of parameter 1042 and acts only while the page is shown.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "ui/device/DevicePage.h"

namespace vkr::dui {

// The page's default interface: a dispatch interface without methods of its own.
struct IRawCommandPP : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("5B7E2D94-1C3A-4F86-B0D2-9E41A6C73F25");
  using Base = IDispatch;
};

// Dialog 175 and its controls.
inline constexpr UINT kRawDialogId = 175;
inline constexpr UINT kRawCommandEdit = 297;           // decimal, digits only
inline constexpr UINT kRawRequestCountEdit = 316;      // read-only
inline constexpr UINT kRawRequestDataEdit = 319;       // hex
inline constexpr UINT kRawResponseCodeEdit = 324;      // read-only
inline constexpr UINT kRawResponseCountEdit = 329;     // read-only
inline constexpr UINT kRawDeviceStatusEdit = 327;      // read-only
inline constexpr UINT kRawResponseDataEdit = 332;      // read-only

inline constexpr UINT kRawTitleId = 170;
inline constexpr UINT kRawHelpFileId = 171;
inline constexpr UINT kRawDocStringId = 172;
inline constexpr UINT kRawNoAnswerId = 173;

inline constexpr LONG kParRawCommand = 1002;           // VT_UI1
inline constexpr LONG kParRawRequestData = 1003;       // VT_ARRAY|VT_UI1
inline constexpr LONG kParRawRequestCount = 1004;      // VT_UI4
inline constexpr LONG kParRawResponseData = 1005;      // VT_ARRAY|VT_UI1
inline constexpr LONG kParRawResponseCode = 1006;      // VT_UI1
inline constexpr LONG kParRawDeviceStatus = 1007;      // VT_UI1
inline constexpr LONG kParRawResponseCount = 1008;     // VT_UI4

// The most request data bytes one HART frame carries (its byte count is one byte).
inline constexpr std::size_t kMaxRequestBytes = 255;
// The largest command number the transaction encodes (one byte).
inline constexpr ULONG kMaxCommandNumber = 255;

// The request bytes of a typed hex text: pairs of hex digits, blanks between bytes allowed; absent
// for an odd number of digits, any other character, or more than kMaxRequestBytes bytes.
std::optional<std::vector<BYTE>> RequestBytesOfText(std::string_view text);

class CRawCommandPP : public CDevicePropertyPage, public IRawCommandPP {
 public:
  CRawCommandPP();
  ~CRawCommandPP() override;
  CRawCommandPP(const CRawCommandPP&) = delete;
  CRawCommandPP& operator=(const CRawCommandPP&) = delete;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CDevicePropertyPage::QueryInterface;
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override;

  // ---- IovFdtActiveX4 operations the page replaces ----
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  // 1002 and 1003 are read strictly: a number above 255 or a request that is no whole hex bytes
  // is no value (the base would cut or pad it).
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT GetParameterText(LONG id, VARIANT_BOOL* valid) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

  using CDevicePropertyPage::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // Sends the typed command and shows its answer; an entry that is not a command number or whole
  // hex bytes is marked and focused, and nothing is sent.
  HRESULT OnSend();

  bool IsShown() const { return m_bShown != 0; }

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  BYTE m_bShown = 0;
  bool m_bSending = false;  // the transaction lets messages through
};

}  // namespace vkr::dui
