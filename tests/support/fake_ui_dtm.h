// A DTM for user-interface tests: the interfaces a page or control calls on its DTM (parameter
// handler, parameter information, validation, DTM messages, the DTM's state, the function
// container, translation) over a small parameter set of every kind a user interface shows.
//
// It behaves as the real DTM does where a user interface can see it:
// - a value reaches the user interfaces later, as a broadcast through their ExecuteCommand
//   (0x2701 a data-set value, 0x270D a device value, each with the packed pair {VT_UI4 id, value};
//   0x270A a changed flag word, with {id, VT_EMPTY} as the real handler names no value;
//   0x271C/0x271D the end of an upload/download); the broadcasts are posted to
//   the queue of the thread that made the fake, so a test pumps (Deliver) to see them arrive;
// - setting a value equal to the stored one still broadcasts it;
// - offline, or for a parameter of the data set only, a write is validated and stored (a refused
//   value gives E_FAIL and changes nothing); online, a device parameter goes to the device and its
//   new device value comes back later;
// - reads outside the online state do nothing and answer S_OK with *result false.
//
// Every call is recorded (Calls) in order. Any operation can be told to answer a failure
// (FailCall), and any interface can be withdrawn (Withdraw), as a DTM without it would be.
// Single-threaded: everything, the delivery included, runs on the thread that made the fake.
// The fake holds the user interfaces attached to it; DetachAll before the test ends breaks the
// cycle with the user interface's hold on the DTM.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "include/ActiveXInterfaces.h"
#include "include/DtmInterfaces.h"
#include "include/DtmMessages.h"
#include "include/ParameterHandlerInterfaces.h"
#include "include/TranslationInterfaces.h"
#include "platform/platform.h"
#include "tests/support/stub_base_dtm.h"
#include "tests/support/stub_dispatch.h"

namespace vkr::test::ui {

// The fake's parameters: those of the test user interface (tests/support/test_user_interface.h),
// with the device table's ids, names and limits, given the kinds a dialog shows them in. Device
// parameters are read and written in the device when online; the others live in the data set only.
enum FakeParameterId : ULONG {
  kFakeAddressing = 120,      // VT_BOOL
  kFakeShortAddress = 121,    // VT_UI1, 0 to 15
  kFakePrimaryMaster = 127,   // VT_UI1, 0 to 1
  kFakeDeviceStatus = 1001,   // bit set (VT_UI1) of the eight HART device status bits
  kFakeMessage = 1009,        // VT_ARRAY|VT_UI1, at most 24 bytes; device
  kFakeDamping = 1022,        // VT_R4, unit "s", 0 to 60; device
  kFakePvUnit = 1024,         // enumeration (VT_UI1): 44 "ft", 45 "m", 47 "in", 48 "cm", 49 "mm"; device
  kFakeUpperRange = 1026,     // VT_R4, unit "m", 0 to 66
  kFakeRefreshButton = 1041,  // VT_UI1, a command
  kFakeActivateSend = 1045,   // VT_UI1, a command
  kFakeCurrentValue = 1048,   // VT_R4, unit "m"; device, read only
  kFakeTag = 1054,            // VT_BSTR, at most 8 characters; device
  kFakeLoopCurrent = 1110,    // VT_UI1, 0 to 3
  kFakeDate = 2001,           // VT_DATE
  kFakeDistance = 2002,       // VT_R8, unit "m", -1000 to 1000; device
};

// Field masks of GetParameterField the fake answers (those of the parameter record).
enum FakeField : ULONG {
  kFieldAddressed = 0x1,     // VT_UI4: 1 a device parameter
  kFieldName = 0x4,          // VT_BSTR
  kFieldType = 0x10,         // VT_UI2: the VARTYPE
  kFieldMinimum = 0x20,
  kFieldMaximum = 0x40,
  kFieldValue = 0x80,
  kFieldDefault = 0x100,
  kFieldUnit = 0x1000,       // VT_BSTR
  kFieldFlags = 0x4000,      // VT_UI4
  kFieldEnumeration = 0x10000,  // VT_ARRAY|VT_BSTR of "value;label"
  kFieldKind = 0x20000,      // VT_UI2: 0 plain, 1 enumeration, 2 bit set
  kFieldDeviceValue = 0x200000,
  kFieldExists = 0x80000000,  // VT_BOOL
};

// Flag-word bits as the parameter model keeps them.
enum FakeFlag : ULONG {
  kFlagSettable = 0x1,
  kFlagModified = 0x2,
  kFlagInvalid = 0x4,
  kFlagDisabled = 0x8,
  kFlagReadable = 0x10,
  kFlagWritable = 0x20,
};

struct FakeParameter {
  ULONG id = 0;
  std::u16string name;
  VARTYPE vt = VT_EMPTY;
  USHORT kind = 0;  // 0 plain, 1 enumeration, 2 bit set
  vkr::Variant value;        // the data set's
  vkr::Variant deviceValue;  // what the device holds
  vkr::Variant minimum;
  vkr::Variant maximum;      // for texts and byte strings: the largest length
  vkr::Variant defaultValue;
  vkr::Variant enumeration;  // VT_ARRAY|VT_BSTR of "value;label", kinds 1 and 2
  ULONG flags = kFlagSettable | kFlagReadable | kFlagWritable;
  ULONG addressed = 1;       // 1 a device parameter, 0 the data set only
  std::u16string unit;
};

// One recorded call: the operation's name, the parameter id (or DTM message id, or 0), its
// argument (a value, field, message argument; empty when it has none) and what it answered.
struct FakeCall {
  std::string op;
  ULONG id = 0;
  vkr::Variant argument;
  HRESULT result = S_OK;
};

// One broadcast as it reached the user interfaces.
struct FakeBroadcast {
  ULONG command = 0;
  vkr::Variant argument;
};

// The interfaces, every operation failing with E_NOTIMPL until FakeUiDtm gives it a body.
class FakeUiDtmStubs
    : public vkr::Implements<IovFdtBaseDTM, IovFdtParameterHandler4, IovFdtParameterInfo, IovFdtParameterValidation,
                             IovFdtDtmEvents, IovFdtActiveXContainer, IovFdtActiveXManagement, IovFdtTranslation> {
 public:
  VKR_TEST_DISPATCH
  VKR_STUB_BASE_DTM
  VKR_STUB_PARAMETER_HANDLER
  HRESULT GetParameterCount(VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetParameterIdAt(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetParameterField(VARIANT, VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT SetParameterField(VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT ValidateParameter(VARIANT, VARIANT, ULONG*) override { return E_NOTIMPL; }
  HRESULT ValidateAndSetParameter(VARIANT, VARIANT, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT DtmMessage(VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT GetFunctionList(BSTR*) override { return E_NOTIMPL; }
  HRESULT StartOrFinishFunction(BSTR, IUnknown*) override { return E_NOTIMPL; }
  HRESULT NotifyStateChanged(ULONG) override { return E_NOTIMPL; }
  HRESULT ReportErrorToActiveX(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT BroadcastToActiveX(VARIANT, VARIANT) override { return E_NOTIMPL; }
  HRESULT CloseUserInterface(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetFunctionCallDocument(LONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT SetFunctionEnabled(LONG, BOOL) override { return E_NOTIMPL; }
  HRESULT ShowUserMessage(BSTR, BSTR, VARIANT, LONG*) override { return E_NOTIMPL; }
  HRESULT CloseAllUserInterfaces(VARIANT_BOOL, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT ReadFunctionKeys() override { return E_NOTIMPL; }
  HRESULT ReadFunctionEntry(BSTR, HKEY, LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetFunctionText(BSTR, LONG, BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT OpenUserInterface(LONG, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT StartFunction(BSTR, IUnknown*, ULONG) override { return E_NOTIMPL; }
  HRESULT FunctionFinished(BSTR) override { return E_NOTIMPL; }
  HRESULT GetTranslation(BSTR, BSTR*, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT GetLanguageCount(LONG*) override { return E_NOTIMPL; }
  HRESULT GetLanguageId(LONG, ULONG*) override { return E_NOTIMPL; }
  HRESULT SetLanguage(ULONG, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT LoadTranslationXml(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT HasTranslationNode(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
};

class FakeUiDtm : public FakeUiDtmStubs {
 public:
  FakeUiDtm();
  ~FakeUiDtm() override;
  FakeUiDtm(const FakeUiDtm&) = delete;
  FakeUiDtm& operator=(const FakeUiDtm&) = delete;

  // A new fake with its parameter set, offline (dsCONFIGURED), language 1033.
  static vkr::ComPtr<vkr::ComObject<FakeUiDtm>> Create();

  // ---- What a test sets up ----
  // Quietly, as a frame's calls would have left it (no user interface is told; see ChangeState).
  void SetState(EDtmState state) { m_state = state; }
  EDtmState State() const { return m_state; }
  // Moves to the state and tells the user interfaces (OnDtmStateChanged), posted.
  void ChangeState(EDtmState state);
  void SetUiLanguage(LCID language) { m_language = language; }
  void SetSystemTag(std::u16string_view tag) { m_systemTag = tag; }
  // The parameter of the id (null when the fake has none); changing it changes nothing else.
  FakeParameter* Parameter(ULONG id);
  void AddParameter(FakeParameter parameter);
  HRESULT RemoveParameter(ULONG id) override;
  // The device changes a value by itself; it reaches the user interfaces when they read it.
  HRESULT SetDeviceValue(ULONG id, const VARIANT& value);
  // A text the translation look-up finds for the path (GetTranslation).
  void SetTranslation(std::u16string_view xpath, std::u16string_view text);

  // ---- The user interfaces told about changes ----
  // Attach holds the user interface (as the function container holds an open one, under its
  // invoke id) until Detach.
  void Attach(IUnknown* userInterface, std::u16string_view invokeId = u"");
  void Detach(IUnknown* userInterface);
  void DetachAll();
  std::size_t AttachedCount() const { return m_userInterfaces.size(); }

  // ---- Posted broadcasts ----
  // Queues a broadcast for every attached user interface; Deliver (or any pump) hands it over.
  void Post(ULONG command, const VARIANT& argument);
  // The same with the packed pair {VT_UI4 id, value}.
  void PostParameter(ULONG command, ULONG id, const VARIANT& value);
  // Broadcasts queued and not yet handed over.
  std::size_t Pending() const { return m_pending.size(); }
  // Pumps the thread's queue until every queued broadcast was handed over (also those a delivery
  // queues); false when some are left after the pump gave up.
  bool Deliver();
  // While held, pumping hands nothing over: the broadcasts wait (the values "are on their way")
  // until Deliver, or until the hold ends, which lets the next pumps hand them over.
  void HoldDeliveries(bool hold);
  bool DeliveriesHeld() const { return m_hold; }
  // Every broadcast handed over so far, in order (also those with no user interface attached).
  const std::vector<FakeBroadcast>& Delivered() const { return m_delivered; }
  // The answers the user interfaces gave to the deliveries, in order (one per interface each).
  const std::vector<HRESULT>& DeliveryResults() const { return m_deliveryResults; }
  void ClearDelivered() {
    m_delivered.clear();
    m_deliveryResults.clear();
  }

  // What the user interface answered when DTM message 3 (update rates changed) made the fake ask it
  // for its cyclic parameters (IovFdtActiveXInfo information 32), as the real DTM does.
  const vkr::Variant& LastUpdateList() const { return m_lastUpdateList; }

  // ---- What the user interface did ----
  const std::vector<FakeCall>& Calls() const { return m_calls; }
  // The calls of one operation (and of one id, unless kAnyId).
  static constexpr ULONG kAnyId = 0xFFFFFFFF;
  std::vector<FakeCall> CallsOf(std::string_view op, ULONG id = kAnyId) const;
  std::size_t CountOf(std::string_view op, ULONG id = kAnyId) const { return CallsOf(op, id).size(); }
  void ClearCalls() { m_calls.clear(); }

  // ---- Failures ----
  // The next `times` calls of the operation (by its name, as Calls records it; every call when
  // times is negative) answer `result` and do nothing else. A success code other than S_OK is
  // answered the same way (S_FALSE: "not done").
  void FailCall(std::string_view op, HRESULT result, int times = -1);
  void ClearFailures() { m_failures.clear(); }
  // QueryInterface no longer finds the interface.
  void Withdraw(REFIID iid) { m_withdrawn.push_back(iid); }

  // The message a posted delivery travels as (for tests that look at the queue).
  static constexpr UINT kDeliverMessage = 0x8000 + 0x2E1;  // WM_APP + 0x2E1

  // ---- IovFdtBaseDTM ----
  HRESULT GetDTMState(EDtmState* state) override;
  HRESULT Broadcast(VARIANT id, VARIANT argument) override;
  HRESULT GetCurLanguageId(LCID* language) override;
  HRESULT GetSystemTag(BSTR* tag) override;

  // ---- IovFdtParameterHandler4 ----
  HRESULT ReadDeviceParameter(VARIANT id, VARIANT_BOOL* result) override;
  HRESULT WriteDeviceParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) override;
  HRESULT GetParameterInfo(VARIANT id, VARIANT* value, BSTR* name, VARTYPE* type, VARIANT* minimum, VARIANT* maximum,
                           VARIANT* defaultValue, VARIANT* status) override;
  HRESULT GetParameterValue(VARIANT id, VARIANT* value) override;
  HRESULT SetParameterValue(VARIANT id, VARIANT value) override;
  HRESULT ReadDeviceParameterEx(VARIANT id, VARIANT_BOOL* result) override;
  HRESULT WriteDeviceParameterEx(VARIANT id, VARIANT value, VARIANT_BOOL* result) override;
  HRESULT GetParameterDisplayText(VARIANT id, VARIANT value, BSTR* text) override;
  HRESULT SetParameterStatus(ULONG id, ULONG status) override;
  HRESULT GetParameterCount(ULONG* count) override;
  HRESULT GetParameterIdAt(LONG index, ULONG* id) override;
  bool HasParameter(ULONG id) override { return m_parameters.count(id) != 0; }

  // ---- IovFdtParameterInfo ----
  HRESULT GetParameterCount(VARIANT* count) override;
  HRESULT GetParameterIdAt(VARIANT index, VARIANT* id) override;
  HRESULT GetParameterField(VARIANT id, VARIANT field, VARIANT* result) override;
  HRESULT SetParameterField(VARIANT id, VARIANT field, VARIANT value) override;

  // ---- IovFdtParameterValidation ----
  HRESULT ValidateParameter(VARIANT id, VARIANT value, ULONG* result) override;
  HRESULT ValidateAndSetParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) override;

  // ---- IovFdtDtmEvents ----
  HRESULT DtmMessage(VARIANT id, VARIANT argument) override;

  // ---- IovFdtActiveXContainer (what a user interface reaches of the function container) ----
  HRESULT StartOrFinishFunction(BSTR invokeId, IUnknown* userInterface) override;
  HRESULT NotifyStateChanged(ULONG state) override;
  HRESULT ReportErrorToActiveX(LPCWSTR text) override;
  HRESULT BroadcastToActiveX(VARIANT id, VARIANT argument) override;
  HRESULT ShowUserMessage(BSTR title, BSTR text, VARIANT flags, LONG* answer) override;
  // The answer ShowUserMessage gives (IDOK by default).
  void SetUserMessageAnswer(LONG answer) { m_messageAnswer = answer; }

  // ---- IovFdtActiveXManagement ----
  HRESULT StartFunction(BSTR invokeId, IUnknown* userInterface, ULONG flags) override;
  HRESULT FunctionFinished(BSTR invokeId) override;

  // ---- IovFdtTranslation ----
  HRESULT GetTranslation(BSTR xpath, BSTR* text, VARIANT_BOOL* found) override;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  struct Attached {
    vkr::ComPtr<IUnknown> userInterface;
    std::u16string invokeId;
  };
  struct Failure {
    std::string op;
    HRESULT result;
    int times;
  };

  // Records the call; true (and *result set) when a scripted failure answers it.
  bool Begin(std::string_view op, ULONG id, const VARIANT& argument, HRESULT* result);
  HRESULT End(HRESULT result);
  // The id as the parameter model reads it (VT_UI4 by conversion); E_INVALIDARG for an unknown id.
  HRESULT Lookup(const VARIANT& id, ULONG* out, FakeParameter** parameter);
  HRESULT Validate(const FakeParameter& parameter, const VARIANT& value, ULONG* result) const;
  HRESULT Store(FakeParameter& parameter, const VARIANT& value);
  HRESULT WriteToDevice(FakeParameter& parameter, const VARIANT& value, VARIANT_BOOL* done);
  void PostDeviceValue(ULONG id);
  void Walk(ULONG command, const VARIANT& argument);
  void DeliverOne();
  HRESULT OnUpdateRateChanged(const VARIANT& key);
  void OnUpload();
  void OnDownload();

  static LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  EDtmState m_state = dsCONFIGURED;
  LCID m_language = 1033;
  std::u16string m_systemTag = u"FakeDtm";
  LONG m_messageAnswer = 1;
  std::map<ULONG, FakeParameter> m_parameters;
  std::map<std::u16string, std::u16string> m_translations;
  std::vector<Attached> m_userInterfaces;
  std::deque<FakeBroadcast> m_pending;
  std::vector<FakeBroadcast> m_delivered;
  std::vector<HRESULT> m_deliveryResults;
  std::vector<FakeCall> m_calls;
  std::vector<Failure> m_failures;
  std::vector<IID> m_withdrawn;
  vkr::Variant m_lastUpdateList;
  HWND m_window = nullptr;
  bool m_hold = false;
};

// The pair a parameter broadcast carries: VT_ARRAY|VT_VARIANT {VT_UI4 id, value}.
vkr::Variant PackParameterPair(ULONG id, const VARIANT& value);
// The two halves of such a pair; false for anything else.
bool UnpackParameterPair(const VARIANT& pair, ULONG* id, vkr::Variant* value);
// VT_ARRAY|VT_UI1 of the bytes.
vkr::Variant ByteArray(std::initializer_list<BYTE> bytes);
// The bytes of a VT_ARRAY|VT_UI1 (empty for anything else).
std::vector<BYTE> BytesOf(const VARIANT& value);
// Whether two values are the same value of the same type (byte strings by their bytes).
bool SameValue(const VARIANT& a, const VARIANT& b);

}  // namespace vkr::test::ui
