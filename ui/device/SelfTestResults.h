// CSelfTestResults: the control that shows the result of the device's self test. When it starts it
// reads command 48 directly over the DTM's first connection and shows the sixteen fault flags as
// "PASS"/"FAIL" lines with lamps and a summary; later command 48 answers the DTM reports (1036)
// repaint the lamps only. It closes with OK (after applying changes) or Cancel as every control of
// its family does.
//
// Dialog 734. Everything runs on the frame's thread; the transaction waits with a message loop.
#pragma once

#include "include/DtmInterfaces.h"
#include "platform/platform.h"
#include "ui/device/StatusPP.h"
#include "ui/framework/ActiveXControl.h"

// The control's own dispatch interface; it has no methods.
struct ISelfTestResults : IDispatch {
  static constexpr IID iid = vkr::MakeGuid("3A1F6C52-9B0E-4D7A-8E25-61C4F0B9D733");
  using Base = IDispatch;
};

namespace vkr::dui {

inline constexpr UINT kSelfTestDialogId = 734;
inline constexpr UINT kSelfTestGroup = 503;
inline constexpr UINT kSelfTestSummaryEdit = 6354;
// The lamp and the result edit of each line, in fault order; the labels are 6359 to 6374.
inline constexpr UINT kSelfTestLamps[kAdditionalStatusFaultCount] = {6317, 6318, 6319, 6320, 6321, 6322, 6323, 6324,
                                                                     6325, 6326, 6327, 6328, 6329, 6330, 6331, 6332};
inline constexpr UINT kSelfTestResultEdits[kAdditionalStatusFaultCount] = {
    296, 6339, 6340, 6341, 6342, 6343, 6344, 6345, 6346, 6347, 6348, 6349, 6350, 6351, 6352, 6353};
inline constexpr UINT kSelfTestPassBitmap = 6335;
inline constexpr UINT kSelfTestFailBitmap = 6336;

inline constexpr const char* kSelfTestPassText = "PASS";
inline constexpr const char* kSelfTestFailText = "FAIL";
inline constexpr const char* kSelfTestPassedSummary = "SELF TEST PASSED";
inline constexpr const char* kSelfTestFailedSummary = "%d test(s) FAILED!, SELF TEST FAILED";
// Online, but the device's answer did not come or was too short to hold the results: the summary
// says "Self test results could not be read: <why>.", each line kSelfTestNotRead.
inline constexpr char16_t kSelfTestUnreadSummary[] = u"Self test results";
inline constexpr const char* kSelfTestNotRead = "Not read";

class CSelfTestResults : public CovFDT_IDtmActiveXControlImpl, public ISelfTestResults {
 public:
  CSelfTestResults();
  ~CSelfTestResults() override;
  CSelfTestResults(const CSelfTestResults&) = delete;
  CSelfTestResults& operator=(const CSelfTestResults&) = delete;

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

  // The base's start, then the self-test read.
  HRESULT InitializeUI(IUnknown* dtm, VARIANT_BOOL* ok) override;
  // 1036: the lamps follow an answer of at least four bytes; the texts stay.
  HRESULT SetControlValueById(LONG id, VARIANT value) override;
  // Reaching the online state: the self test is read (the control may have opened before).
  HRESULT OnDtmStateChanged(ULONG state) override;

  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  // State for tests.
  HBITMAP PassImage() const { return m_pass.Get(); }
  HBITMAP FailImage() const { return m_fail.Get(); }
  HBITMAP LampImage(std::size_t line) const;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  // Sends command 48 and shows its answer; stops quietly without the DTM's interfaces. While the
  // DTM goes online the lines wait for it; offline otherwise they say the device is not connected.
  void ReadSelfTest();
  void PaintLamps(const AdditionalStatusFaults& faults);

  COwnedBitmap m_fail;
  COwnedBitmap m_pass;
  LONG m_nFailedTests = 0;
};

}  // namespace vkr::dui
