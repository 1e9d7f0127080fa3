// CAdvancedPP: the property page "Advanced" of the online parameterization frame. It shows and
// writes the device settings standard HART commands do not reach: sensitivity, analog output
// mode, blanking distance and distance offset (device-specific command 137 read / 138 write,
// through the DTM's parameters), and the probe-fault setting, bit 6 of the first byte of device
// word 0x007C (read with command 131; written back with command 134 straight through the HART
// service, the word's other bits kept). The length unit beside the distances comes from command 1.
//
// Dialog 160; strings 153 (title), 154 (help target), 155 (documentation). Refresh and Send arrive
// as the values of parameters 1041 and 1042 and act only while the page is shown.
#pragma once

#include <array>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "platform/platform.h"
#include "ui/device/DevicePage.h"
#include "ui/device/kit/ComboHelpers.h"
#include "ui/device/kit/EntryLimits.h"
#include "ui/device/kit/PageResources.h"

namespace vkr::dui {

// The page's default interface: a dispatch interface without methods of its own.
struct IAdvancedPP : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("0C8E5A31-6B2D-4F19-9E4A-7D3B21C5F8A6");
  using Base = IDispatch;
};

// Dialog 160 and its controls.
inline constexpr UINT kAdvancedDialogId = 160;
inline constexpr UINT kAdvancedGroup = 551;
inline constexpr UINT kAdvancedSensitivityEdit = 554;     // percent
inline constexpr UINT kAdvancedAnalogModeCombo = 556;     // drop-down list
inline constexpr UINT kAdvancedBlankingEdit = 555;
inline constexpr UINT kAdvancedBlankingUnit = 596;
inline constexpr UINT kAdvancedOffsetEdit = 697;
inline constexpr UINT kAdvancedOffsetUnit = 594;
inline constexpr UINT kAdvancedProbeFaultCombo = 562;     // drop-down list
inline constexpr UINT kAdvancedPicture = 699;             // bitmap 200

inline constexpr UINT kAdvancedTitleId = 153;
inline constexpr UINT kAdvancedHelpFileId = 154;
inline constexpr UINT kAdvancedDocStringId = 155;

// The page's parameters besides the shared ones (blanking 1078 and offset 1080 among those).
inline constexpr LONG kParSensitivity = 1074;        // command 137/138 byte 0 (code = percent x 2.5)
inline constexpr LONG kParSensitivityUser = 1075;
inline constexpr LONG kParAnalogMode = 1076;         // byte 1
inline constexpr LONG kParAnalogModeUser = 1077;
inline constexpr LONG kParBlankingUser = 1079;
inline constexpr LONG kParDistanceOffsetUser = 1081;
inline constexpr LONG kParProbeFaultCmd = 1101;
inline constexpr LONG kParProbeFaultUser = 1102;

// Device word 0x007C: bit 6 of its first byte is the probe-fault setting.
inline constexpr USHORT kProbeFaultWordAddress = 0x007C;
inline constexpr BYTE kProbeFaultBit = 0x40;

// The command 137 answer; each field only when its bytes are all there.
struct SCommand137Response {
  std::optional<BYTE> sensitivityCode;  // percent = code x 0.4
  std::optional<BYTE> analogMode;
  std::optional<float> blanking;
  std::optional<float> distanceOffset;
};
SCommand137Response DecodeCommand137(std::span<const BYTE> data);

// The sensitivity code of a typed percent: absent for a text that is no number or lies outside
// 0 to 100 % (the codes 0 to 250); the code is the percent x 2.5 truncated, a step typed as shown
// ("20.4") giving its own code.
std::optional<BYTE> SensitivityCodeOfText(HRESULT parsed, float percent);
// The percent a sensitivity code stands for (code x 0.4).
inline double SensitivityPercent(BYTE code) { return code * 0.4; }
// What the user is told of a typed percent that lies between two steps ("Sensitivity was set to
// 0.8 %, the step of 0.4 % below the entry."); empty for a step, or for no number.
std::u16string SensitivityStepNote(const std::u16string& label, HRESULT parsed, float percent);
// How the sensitivity entries show the code's limits: in percent.
inline SShownLimits SensitivityShown() {
  SShownLimits shown;
  shown.scale = SensitivityPercent(1);
  shown.sign = "%";
  return shown;
}
// The analog-mode combo's code table (text and device code).
std::span<const SComboCode> AnalogModeCodes();

class CAdvancedPP : public CDevicePropertyPage, public IAdvancedPP {
 public:
  CAdvancedPP();
  ~CAdvancedPP() override;
  CAdvancedPP(const CAdvancedPP&) = delete;
  CAdvancedPP& operator=(const CAdvancedPP&) = delete;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // The page has no use for the parameter-group display control.
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}

  // One IUnknown and IDispatch for every base.
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
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT UninitializeUI(VARIANT_BOOL* ok) override;
  // Nothing: the page's values come from its own refresh.
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT GetParameterText(LONG id, VARIANT_BOOL* valid) override;
  HRESULT SetControlStateById(LONG id, ULONG state) override;
  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;

  using CDevicePropertyPage::ProcessWindowMessage;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;

  // Placeholders, then (online) commands 137 and 1 and the probe-fault word read again; offline
  // and not going online the fields say that the device is not connected.
  HRESULT OnRefresh();
  // The four settings to the device (command 138), then the probe-fault setting (commands 131 and
  // 134); an entry that does not fit its field stops it with the entry focused and nothing sent.
  HRESULT OnSend();
  // The probe-fault setting into device word 0x007C: the word is read (command 131) and written
  // back (command 134) with only bit 6 of its first byte changed. Without a word read whole the
  // device is not written; that, or a write not done, is told with why (E_FAIL); S_FALSE while the
  // DTM is not online.
  HRESULT WriteProbeFault(BYTE code);

  // State for tests.
  USHORT LastAnalogMode() const { return m_wLastAnalogMode; }
  bool IsShown() const { return m_bPageVisible; }
  CActXParInfo& Entry(LONG index) { return m_pParInfo[index]; }

 protected:
  void* FindInterface(REFIID riid) override;

  // Shown while the DTM went online: the values are read now.
  void OnDeviceOnline() override;
  void UpdatePlaceholders() override;
  // Blanking and offset are shown in the PV unit of the last command 1 answer.
  std::optional<BYTE> ShownLengthUnit(LONG id) const override;
  bool IsLengthEntry(LONG id) const override;
  // The sensitivity's limits in percent, as its entry shows it ("0 to 100 %").
  std::u16string LimitsText(LONG id) override;
  // A read of the page that failed: its fields still waiting say "Not read", the probe fault's
  // entry loses the mark its read set, and the message line says what could not be read.
  void OnDeviceAccessFailed(LONG id, const SDeviceOutcome& outcome) override;

  std::array<BYTE, 5> m_abyAnalogModeCodes{};
  std::optional<BYTE> m_pvUnit;  // the PV unit of the last command 1 answer
  bool m_bPvUnitUnread = false;  // a read of the PV unit failed since its last answer
  std::array<BYTE, 2> m_abyProbeFaultCodes{};
  USHORT m_wLastAnalogMode = 0xFFFF;  // analog-mode code last passed on; 0xFFFF none
  bool m_bFirstShow = true;
  bool m_bPageVisible = false;

 private:
  void ShowLoading();
  void MarkValueEntriesChanged();
  // Offline the settings take no input: only a device takes them.
  void LockSettings();
  // A typed sensitivity between two of its steps goes out as the step below it (the code the
  // percent gives): the word that says so once the device took it ("Sensitivity was set to 20.0
  // %, ..."); empty for a step typed as it is, or no entry of the user's.
  std::u16string SensitivityStepText();
  // Whether a write of the user's entries among `ids` would carry one of them that was not read
  // (a placeholder); true when so, and the user is told which.
  bool CarriesUnread(std::span<const LONG> ids);
  // The entries (not the user's) whose read brought nothing lose the marks the read set.
  void ForgetUnreadMarks(std::initializer_list<LONG> ids);
  // One direct transaction on connection 0 and what became of it: done (with the response data)
  // only when the service answered without error text and with response code 0.
  // A warning answer is done; its code goes to `warning` (0: none).
  SDeviceOutcome Transaction(BYTE command, std::span<const BYTE> request, std::vector<BYTE>* response,
                             BYTE* warning = nullptr);

  vkr::dui::COwnedFont m_font;
  bool m_bSending = false;  // Send runs: its transactions let messages through
};

}  // namespace vkr::dui
