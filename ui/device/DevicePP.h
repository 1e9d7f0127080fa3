// CDevicePP: the property page "Device" of the online parameterization frame. It shows the
// identification of the connected transmitter (tag, long tag, descriptor, message, date, final
// assembly number, write protection, sensor serial number, sensor limits and minimum span) and
// sends the user's changes of message, tag, descriptor, date, final assembly number and long tag.
//
// Most values arrive as raw HART answer bytes that the page decodes itself. The changes go out
// through the DTM's parameters: message (command 17), tag/descriptor/date (command 18, built by
// the page), final assembly number (19) and long tag (22); a write the device does not confirm is
// told on the frame's message line.
//
// The page reads through the DTM asynchronously: RefreshDeviceInfo only asks, and the answers
// come back through SetControlValueById. Everything runs on the frame's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/device/DevicePage.h"

namespace vkr::dui {

// ---- Decoders of the device's answers (each uses only fields wholly present) ----------------

// The 32-character message of 24 Packed ASCII bytes; absent with fewer bytes.
std::optional<std::string> DecodeMessage(const std::vector<std::uint8_t>& bytes);
// The final assembly number of 3 bytes, most significant first; absent with fewer bytes.
std::optional<std::uint32_t> DecodeFinalAssembly(const std::vector<std::uint8_t>& bytes);

// The parts of a command 13 answer; each absent when its bytes are not all there.
struct SCommand13 {
  std::optional<std::string> tag;         // bytes 0-5, 8 characters
  std::optional<std::string> descriptor;  // bytes 6-17, 16 characters
  std::optional<std::uint8_t> day;        // byte 18
  std::optional<std::uint8_t> month;      // byte 19
  std::optional<std::uint16_t> year;      // byte 20 + 1900
};
SCommand13 DecodeCommand13(const std::vector<std::uint8_t>& bytes);

// The text of the write-protect code in the high byte of parameter 1018.
const char* WriteProtectText(std::uint16_t value);
// The private label distributor code in the low byte of parameter 1018, as two hex digits.
std::string DistributorText(std::uint16_t value);

// The long tag: Latin-1 bytes up to the first zero byte, at most 32 and never past the answer;
// absent with fewer than 24 bytes.
std::optional<std::u16string> DecodeLongTag(const std::vector<std::uint8_t>& bytes);

// ---- Encoders of the user's entries (absent: the entry does not fit the device field) --------

// The years the date's byte holds (the year minus 1900), taken alike by every entry of a date.
inline constexpr std::uint32_t kDateYearFirst = 1900;
inline constexpr std::uint32_t kDateYearLast = 2155;
// The last day of a month of the Gregorian calendar (29 February in a year divisible by 4, but not
// by 100 unless by 400); 0 for a month that is none.
std::uint32_t LastDayOfMonth(std::uint32_t month, std::uint32_t year);
// The last day a day entry may hold beside the month and year entries' texts, as far as those are
// numbers of a date: 31 without a month, 29 in February without a year.
std::uint32_t LastDayOfEntries(const std::u16string& month, const std::u16string& year);
// The long tag's 32 bytes keep their last for the closing zero.
inline constexpr std::size_t kLongTagCharacters = 31;

// A text for a Packed ASCII field of `length` characters: at most `length` characters, each a
// blank, a digit, an upper- or lower-case letter or one of the other characters of the 6-bit set.
std::optional<std::vector<std::uint8_t>> EncodePackedField(const std::u16string& text, std::size_t length);
// The long tag: at most 31 printing Latin-1 characters, zero-padded to 32 bytes.
std::optional<std::vector<std::uint8_t>> EncodeLongTag(const std::u16string& text);

}  // namespace vkr::dui

class CDevicePP : public CDevicePropertyPage {
 public:
  CDevicePP();
  ~CDevicePP() override;

  static CActXParInfo* GetParameterMap(int* count, BOOL copy);

  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  HRESULT ReadParameter(LONG index) override;
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  HRESULT GetControlValueById(LONG id, VARIANT* value) override;
  HRESULT SetControlStateById(LONG id, ULONG state) override;
  HRESULT OnShowWindow(UINT message, WPARAM wParam, LPARAM lParam, BOOL* handled) override;
  HRESULT OnControlChange(UINT code, UINT controlId, HWND control) override;

  // Re-reads the identification from the device (the answers arrive later).
  HRESULT RefreshDeviceInfo();
  // The reads of the identification alone, while the DTM is online.
  HRESULT ReadDeviceInfo();
  // Sends the changed identification to the device, then reads it again. An entry that does not
  // fit its device field is marked and focused instead, and nothing is sent.
  HRESULT OnSend();

  BOOL HandleNavigationKey(MSG* message, ULONG* state) override;
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;
  using CovFDT_BaseActiveXImpl::ProcessWindowMessage;

  bool IsPageVisible() const { return m_bPageVisible; }

 private:
  void WritePlaceholders();
  // The user's entry of one editable field checked against its device field; marks the entry
  // invalid (or valid again). False when it does not fit.
  bool CheckEntry(LONG id);
  // What each entry holds: the text fields' character sets and lengths, the date's parts.
  std::u16string LimitsText(LONG id) override;
  // A Send held back by entries that are not valid: the message line names them with what each
  // holds, and the user's other entries it did not write for them.
  void TellHeldBack();
  // Every editable field checked; the first that does not fit gets the focus. False then.
  bool CheckAllEntries();
  std::u16string ItemTextW(UINT controlId) const;
  void SetItemTextW(UINT controlId, const std::u16string& text);
  // Whether a part of the date is the user's entry: only then is the date judged by the calendar.
  bool DateIsUsers() const {
    return IsUserEntry(vkr::dui::kParDateDay) || IsUserEntry(vkr::dui::kParDateMonth) ||
           IsUserEntry(vkr::dui::kParDateYear);
  }
  // 21 bytes of the command 18 request from the tag, descriptor and date fields.
  std::optional<std::vector<std::uint8_t>> BuildTagDescriptorDate() const;

  // "Loading..." into the upper and lower sensor limit while no command 14 answer gave them, then
  // UpdatePlaceholders.
  void ShowLimitPlaceholders();
  void UpdatePlaceholders() override;
  void OnDeviceOnline() override;
  // The fields each read fills.
  std::optional<std::vector<UINT>> FieldsOfRead(LONG id) const override;
  // The sensor limits, which keep showing the last answer while command 14 is read again.
  std::vector<UINT> LiveFieldsOfRead(LONG id) const override;
  // The fields of `id` that kept the last answer wait again: a read that fails says "Not read" there.
  void ShowLiveFieldsWaiting(LONG id);

  bool m_bFirstShow = true;
  bool m_bPageVisible = false;  // set by the first show: triggers before it do nothing
  bool m_bSending = false;      // OnSend runs
  bool m_bUpperLimitShown = false;
  bool m_bLowerLimitShown = false;
};
