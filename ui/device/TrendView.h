// CTrendView: the control that plots the device's dynamic variables over time. While it runs it
// has the DTM read command 3 cyclically at the chosen rate (1 to 10 seconds), shows the latest
// value and unit of each selected pen (primary, secondary, third and fourth variable, the loop
// current) and adds every sample to the hosted chart control (item 403). A header shows the
// device's name, description and tag.
//
// It takes part in the DTM's online connection through the shared online usage counter (1047),
// and stops its cyclic reading however it closes while running.
//
// Dialog 108. Everything runs on the frame's thread; the cyclic answers arrive there from the DTM.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "include/DtmInterfaces.h"
#include "platform/platform.h"
#include "ui/device/kit/DeviceOutcome.h"
#include "ui/device/kit/OnlineUsageCounter.h"
#include "ui/device/kit/PageResources.h"
#include "ui/framework/ActiveXControl.h"

namespace vkr::dui {

inline constexpr UINT kTrendDialogId = 108;
enum ETrendItem : UINT {
  kTrendLeftLogo = 580,
  kTrendRightLogo = 582,
  kTrendNameLabel = 591,
  kTrendDescriptionLabel = 584,
  kTrendTagLabel = 586,
  kTrendName = 589,
  kTrendDescription = 590,
  kTrendTag = 588,
  kTrendPenGroup = 437,
  kTrendRateLabel = 666,
  kTrendRateCombo = 703,
  kTrendStartStop = 407,
  kTrendChart = 403,
  kTrendHeaderDisplay = 217,
  kTrendStatusDisplay = 218,
  // The line that tells why the values stopped coming (a failed read of the device).
  kTrendMessage = 6334,
};

inline constexpr std::size_t kTrendPenCount = 5;
// Per pen 1 to 5: check box, value edit, unit label.
inline constexpr UINT kTrendPenChecks[kTrendPenCount] = {415, 418, 424, 431, 435};
inline constexpr UINT kTrendPenValues[kTrendPenCount] = {411, 413, 420, 427, 433};
inline constexpr UINT kTrendPenUnits[kTrendPenCount] = {416, 417, 422, 429, 434};

// The rate combo's items and their rates.
inline constexpr std::size_t kTrendRateCount = 5;
inline constexpr const char* kTrendRateTexts[kTrendRateCount] = {"1 Sec.", "2 Sec.", "5 Sec.", "7 Sec.", "10 Sec."};
inline constexpr ULONG kTrendRates[kTrendRateCount] = {1000, 2000, 5000, 7000, 10000};
// The rate before the device was read: the registry value "ProcessValueUpdate", else this.
inline constexpr ULONG kTrendDefaultRate = 2000;
inline constexpr ULONG kTrendStartRate = 10000;
// A running trend that gets neither values nor a failure for three times its rate (at least this
// long) stops and says so: the connection went without a word. One read lost on the way is a gap
// of two periods, not yet a silence.
inline constexpr ULONG kTrendWatchdogMinimum = 3000;
inline constexpr UINT_PTR kTrendWatchdogTimer = 0x7D1;
inline constexpr UINT kTrendWatchdogTick = 250;
// What the tag field shows when its read failed.
inline constexpr const char* kTrendTagNotRead = "Not read";

inline constexpr std::array<float, kTrendPenCount> kTrendPenMinimum = {0.0f, 0.0f, 0.0f, 225.0f, 0.0f};
inline constexpr std::array<float, kTrendPenCount> kTrendPenMaximum = {18.5f, 1.5f, 3.0f, 360.0f, 22.0f};

// Its default interface is the DTM's ISomeInterface (no methods of its own).
class CTrendView : public CovFDT_IDtmActiveXImplEx, public ISomeInterface {
 public:
  CTrendView();
  ~CTrendView() override;
  CTrendView(const CTrendView&) = delete;
  CTrendView& operator=(const CTrendView&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppv) override = 0;
  ULONG AddRef() override = 0;
  ULONG Release() override = 0;
  using CovFDT_IDtmActiveXImplEx::QueryInterface;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  // The unit-text provider (the parameter-group display control). Without it the trend still
  // works, its units of pens 1 to 4 empty.
  HRESULT FinalConstruct();
  void FinalRelease();

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError) override;

  // The control's start, the header, the pens, the rate; online, the tag and the sensor limits
  // are read and the control counts itself in.
  HRESULT Init(BSTR instanceId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) override;
  // Stops a running trend, counts out, gives the DTM's function back, then the control's release.
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override;
  // 1031 samples, 1032 sensor limit, 1092 tag bytes, 1093 tag text; the rest to the base.
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  // A failed read of this control's parameters (the DTM's broadcast): said on the message line;
  // a lost link stops a running trend.
  HRESULT ExecuteCommand(VARIANT command, VARIANT argument) override;
  // Leaving online stops a running trend and says so; the header's tag follows the connection.
  // Reaching online reads the tag and the sensor limit when they were not read yet.
  HRESULT OnDtmStateChanged(ULONG state) override;

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // ===== For tests ==============================================================================
  bool IsRunning() const { return m_bRunning; }
  BYTE PenMask() const { return m_nPenMask; }
  ULONG SamplingRate() const { return m_nSamplingRate; }
  float PenMinimum(std::size_t pen) const { return m_afPenMinimum[pen]; }
  float PenMaximum(std::size_t pen) const { return m_afPenMaximum[pen]; }
  bool IsCountedOnline() const { return m_usage.Counted(); }

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  void OnStartStop();
  void Stop();
  // Stops a running trend and tells why.
  void StopBecause(const std::u16string& why);
  // Reads the tag and then the sensor limit; false when either read did not go out (told).
  bool ReadHeader();
  // The tag field while no tag came from the device: waiting, or not connected.
  void ShowTagPlaceholder(ULONG state);
  void SetMessage(const std::u16string& text);
  void TellHeaderNotRead(LONG id, const SDeviceOutcome& outcome);
  // The names of the pens sampled, for a failed sample's notice.
  std::vector<std::u16string> SampledNames() const;
  void ShowPensNotRead();
  void ClearFailureOf(LONG id);
  ULONG WatchdogLimit() const;
  void OnWatchdog();
  // The pen mask from the check boxes.
  void ReadPenMask();
  // The rate of the combo's selected text; E_FAIL when the text is no item.
  HRESULT SelectRate();
  void FillRateCombo();
  void Layout();
  void ClearPenFields();
  void EnableSelection(BOOL enable);
  void ShowSample(const std::vector<BYTE>& bytes);
  void SetItemText(UINT id, const char* text);
  ULONG CurrentDtmState() const;

  vkr::ComPtr<IParamGroupDisplay> m_spDisplay;
  vkr::ComPtr<IChartControl> m_spChart;
  COwnedFont m_headerFont;
  COnlineUsageCounter m_usage;
  BYTE m_nPenMask = 0;
  ULONG m_nSamplingRate = 0;
  bool m_bRunning = false;
  bool m_bFunctionDisabled = false;  // this control greyed the DTM's function 2
  bool m_bTagRead = false;           // the device answered the tag read
  bool m_bLimitRead = false;         // the device answered the sensor-limit read
  bool m_bLinkGone = false;          // a read of this control found the connection lost
  std::vector<LONG> m_toldFailures;  // the header's reads whose failure the message line tells
  ULONG m_nLastState = 0;            // the DTM's state as last seen
  DWORD m_nLastActivity = 0;         // the tick of the last sample or failure while running
  std::array<float, kTrendPenCount> m_afPenMinimum{};
  std::array<float, kTrendPenCount> m_afPenMaximum{};
};

}  // namespace vkr::dui
