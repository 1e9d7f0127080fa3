// Test support for the device pages: a DTM with the device pages' parameters, its function
// container with scripted user-message answers, a HART connection with scripted transactions, a
// fake clock, and a harness that opens a page as the online parameterization frame does.
//
// FakeDeviceDtm is the user-interface fake DTM (fake_ui_dtm.h) with more parameters and one more
// interface; it keeps that fake's behaviour, which the pages depend on:
// - values reach the pages later: reads, writes and sets post their broadcasts (0x270D device
//   value, 0x2701 data-set value) to the test thread's queue, and nothing arrives until the test
//   pumps (Deliver, PumpUntilIdle, or a page's own message loop); HoldDeliveries(true) keeps them
//   back even from pumps until Deliver, so a test sees the page while its values are on their way;
// - setting a value equal to the stored one broadcasts it again (the frame's Refresh and Send
//   triggers 1041 and 1042 work by that), converted to the parameter's type first (the triggers
//   are set as VT_I4 and arrive as VT_UI1);
// - reading a "Command n complete" parameter online answers its device value (SetResponse).
//
//   auto dtm = FakeDeviceDtm::Create();
//   dtm->SetState(dsONLINE);
//   dtm->SetResponse(kParCommand15Complete, {0, 0, 45, ...});
//   dtm->Hart().Script(135, FakeTransaction::Answer({3, 1, 2, 4, 10}));
//   dtm->AnswerUserMessages({kAnswerCancel});
//   DevicePageHarness page(kCommandPageClsid, dtm);   // created, sited, started, shown, delivered
//
// Everything runs on the test's thread.
#pragma once

#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "include/CommunicationInterfaces.h"
#include "platform/platform.h"
#include "tests/support/fake_ui_dtm.h"
#include "tests/support/page_site_harness.h"
#include "ui/framework/BaseActiveX.h"

namespace vkr::test::dui {

using vkr::test::ui::FakeParameter;
using vkr::test::ui::FakeUiDtm;

// One answer of the fake HART service. A result other than S_OK is answered as is, with
// errorText (the service's "0x%08X; %s") when it is S_FALSE.
struct FakeTransaction {
  BYTE deviceStatus = 0;
  BYTE responseCode = 0;
  std::vector<BYTE> response;
  HRESULT result = S_OK;
  std::u16string errorText;

  // An answer with these data bytes, response code and device status.
  static FakeTransaction Answer(std::vector<BYTE> response, BYTE responseCode = 0, BYTE deviceStatus = 0) {
    FakeTransaction t;
    t.response = std::move(response);
    t.responseCode = responseCode;
    t.deviceStatus = deviceStatus;
    return t;
  }
  // The service's failure (S_FALSE) with its error text.
  static FakeTransaction Failure(std::u16string errorText) {
    FakeTransaction t;
    t.result = S_FALSE;
    t.errorText = std::move(errorText);
    return t;
  }
};

// One transaction as the page asked for it.
struct FakeTransactionCall {
  BYTE command = 0;
  std::vector<BYTE> request;
};

// The connection's HART service. Answers come from the script, per command, first scripted first;
// the last answer scripted for a command repeats. An unscripted command is answered by the device
// behind the service when one is set (AnswerUnscriptedWith), else it fails as the service does
// (S_FALSE, "0x80004005; error during transaction").
class FakeHartService : public vkr::Implements<IovFdtHartServiceInterface> {
 public:
  VKR_TEST_DISPATCH
  using Device = std::function<FakeTransaction(BYTE command, const std::vector<BYTE>& request)>;
  void Script(BYTE command, FakeTransaction answer) { m_script[command].push_back(std::move(answer)); }
  void AnswerUnscriptedWith(Device device) { m_device = std::move(device); }
  const std::vector<FakeTransactionCall>& Calls() const { return m_calls; }
  std::vector<FakeTransactionCall> CallsOf(BYTE command) const;
  void ClearCalls() { m_calls.clear(); }

  HRESULT Connect(BYTE, BSTR*) override { return E_NOTIMPL; }
  HRESULT ConnectWithAddress(BYTE, BYTE, BYTE, BYTE, BYTE, BSTR*) override { return E_NOTIMPL; }
  HRESULT Disconnect(BSTR*) override { return E_NOTIMPL; }
  HRESULT Abort(BSTR*) override { return E_NOTIMPL; }
  HRESULT Transaction(BYTE command, BSTR requestData, BYTE* deviceStatus, BYTE* statusByte, BSTR* responseData,
                      BSTR* error) override;

 private:
  std::map<BYTE, std::deque<FakeTransaction>> m_script;
  std::vector<FakeTransactionCall> m_calls;
  Device m_device;
};

// One ShowUserMessage as the container received it.
struct FakeUserMessage {
  std::u16string title;
  std::u16string text;
  LONG style = 0;
  LONG answer = 0;
};

class FakeDeviceDtm : public FakeUiDtm, public IovFdtConnectionManagement {
 public:
  FakeDeviceDtm();
  // A new fake with the device pages' parameters, offline (dsCONFIGURED).
  static vkr::ComPtr<vkr::ComObject<FakeDeviceDtm>> Create();

  // IUnknown and IDispatch for both families of interfaces.
  using FakeUiDtm::AddRef;
  using FakeUiDtm::QueryInterface;
  using FakeUiDtm::Release;
  VKR_TEST_DISPATCH

  // The device's answer to a "Command n complete" (or any byte-array) parameter.
  HRESULT SetResponse(ULONG id, std::initializer_list<BYTE> bytes);
  HRESULT SetResponse(ULONG id, const std::vector<BYTE>& bytes);
  // The data set's value of a parameter (VT_EMPTY for an unknown one).
  vkr::Variant Value(ULONG id);

  // ---- Function container ----
  // The answers of the next user messages, in order; after them every message is answered 1 (OK),
  // or by the answerer when one is set (it gets the message as received).
  void AnswerUserMessages(std::initializer_list<LONG> answers) { m_answers.insert(m_answers.end(), answers); }
  void AnswerUserMessagesWith(std::function<LONG(const FakeUserMessage&)> answerer) { m_answerer = std::move(answerer); }
  const std::vector<FakeUserMessage>& UserMessages() const { return m_messages; }
  HRESULT ShowUserMessage(BSTR title, BSTR text, VARIANT flags, LONG* answer) override;
  HRESULT SetFunctionEnabled(LONG, BOOL) override { return S_OK; }
  // A function the user interfaces asked to open is noted in UserMessages as a message with the
  // text "open <id>" (so that a test sees the order of both).
  HRESULT OpenUserInterface(LONG functionId, VARIANT_BOOL* opened) override;

  // ---- Connection 0 and its HART service ----
  FakeHartService& Hart() { return *m_hart.Get(); }
  HRESULT GetConnectionCount(LONG* count) override;
  HRESULT GetConnection(LONG index, IUnknown** connection) override;
  HRESULT GetConnectionById(BSTR, IUnknown**) override { return E_NOTIMPL; }
  HRESULT GetConnectionsOfProtocol(BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetOnlineConnections(VARIANT*) override { return E_NOTIMPL; }
  HRESULT CreateConnection(BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT ReleaseConnection(BSTR) override { return E_NOTIMPL; }

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  vkr::ComPtr<vkr::ComObject<FakeHartService>> m_hart;
  std::deque<LONG> m_answers;
  std::function<LONG(const FakeUserMessage&)> m_answerer;
  std::vector<FakeUserMessage> m_messages;
};

// The fake clock: GetTickCount, the wall clock (GetLocalTime) and Sleep on the test's thread move
// only when the test (or a page's Sleep) moves them. Restores the real clocks when it ends.
class FakeClock {
 public:
  // Starts at the given local-less UTC time (10:00:00 on 8 December 2026 by default).
  explicit FakeClock(WORD hour = 10, WORD minute = 0, WORD second = 0);
  ~FakeClock();
  FakeClock(const FakeClock&) = delete;
  FakeClock& operator=(const FakeClock&) = delete;
  void Advance(DWORD milliseconds);
  // Milliseconds the clock moved since it started.
  DWORD Elapsed() const;

 private:
  DWORD m_start = 0;
};

// A page made by its class id, sited and activated in a harness window, started on the DTM
// (IovFdtPropertyPageControl::Init) and shown, with the broadcasts of all that delivered: what the
// online parameterization frame does before the user sees the page.
class DevicePageHarness {
 public:
  // Hidden (shown false), the page works as shown but nothing is painted until the window is shown.
  DevicePageHarness(const CLSID& clsid, IUnknown* dtm, int width = 760, int height = 560, bool shown = true);
  ~DevicePageHarness();
  DevicePageHarness(const DevicePageHarness&) = delete;
  DevicePageHarness& operator=(const DevicePageHarness&) = delete;

  // Whether creation, activation, Init and Show all succeeded.
  bool Ok() const { return m_ok; }
  IPropertyPage* Page() const { return m_page.Get(); }
  // The page object behind its interfaces (its class is the test's to name).
  CovFDT_BaseActiveXImpl* Ui() const;
  HWND Item(int id) const { return m_host.Item(id); }
  // The window the page sits in.
  HWND Window() const { return m_host.Hwnd(); }
  std::string Text(int id) const;
  void Show(bool shown);
  // Hides, deactivates and releases the page (PrepareToRelease first, as the frame does). Whether
  // the page said it was ready (true also when there is no page).
  bool Close();

 private:
  PageSiteHarness m_host;
  vkr::ComPtr<IUnknown> m_dtm;
  vkr::ComPtr<IPropertyPage> m_page;
  bool m_ok = false;
};

}  // namespace vkr::test::dui
