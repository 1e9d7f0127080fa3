// The stand-in frame's HART communication channel: the IFdtCommunication a frame gives a DTM, with
// simulated VKR transmitters behind it.
//
// Every request document is loaded with the frame's schema set; one that does not validate is
// refused (*result FALSE) and recorded in `failures`. A request taken is answered later through
// the IFdtCommunicationEvents its connect request named, on the frame's thread: the answer is a
// WM_TIMER message of a thread timer of the channel, posted at once, or due after the wire delay,
// so it arrives while the caller waits in its message loop (never inside a cross-apartment call,
// which leaves WM_TIMER queued). The wire delay follows the platform's tick clock (a fake clock
// holds answers back until it is advanced).
//
// With a wire speed the channel is a HART line, which is half duplex: it carries one request at a
// time. A request goes on the wire when the answer before it is in (requests that come meanwhile
// wait in order), and its answer is in once the request and the answer have been on the wire, or,
// when the device does not answer, once the master's wait for an answer has run out. The wire
// time counts every character of both frames, preambles included, at 11 bits a character. The
// simulated transmitter starts its answer as the request ends (a real one may take up to its
// slave time-out, 28 character times, which is not modelled); a master that hears nothing gives
// up after its link quiet time (RT1: 33 character times for the primary master, 41 for the
// secondary). A late answer (Fault::delayMs) keeps the line until it is in; a held one leaves
// the line when it has been on the wire and waits in the channel. The simulated transmitter runs
// each request as the channel takes it (its memory changes then, in the order of the requests);
// only the answer waits for the line. Without a wire speed the line is not modelled: each answer
// comes after its own delay, as the frame's answers come at once.
//
// Faults are injected per request (`faults`, taken in order by the requests they match) or for
// every request (`alwaysFault`). A late answer is a fault with only a delay. Every call and every
// answer is recorded.
//
// The channel belongs to the thread that made it: a call from another thread gets
// RPC_E_WRONG_THREAD (other apartments reach it through a proxy).
#pragma once

#include <deque>
#include <map>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/SimulatedDevice.h"
#include "include/FdtInterfaces.h"
#include "platform/platform.h"

namespace vkr::frame {

// The FDT HART protocol id (also the HART bus category).
inline constexpr char kHartProtocolId[] = "036D1498-387B-11D4-86E1-00E0987270B9";
// A real HART loop's speed, for the simulated wire.
inline constexpr DWORD kHartBitsPerSecond = 1200;

class FrameChannel : public vkr::Implements<IFdtCommunication> {
 public:
  enum class FaultKind {
    None,                // answer normally (a fault with only a delay)
    NoAnswer,            // take the request, never answer
    Refuse,              // *result FALSE, S_OK
    Fail,                // return `result` (a failure), *result FALSE
    CommunicationError,  // answer with an fdt:CommunicationError of `word`
    WrongReference,      // answer with another communication reference
    WrongInvokeId,       // answer with another invoke id
    ShortInvokeId,       // answer with the invoke id less its last character
    MalformedDocument,   // answer with the first half of the document
    GarbledData,         // a response data text that is not hex (data exchanges only)
    TruncatedData,       // keep only `keepBytes` bytes of the response data (data exchanges only)
    Abort,               // instead of answering, abort the connection (OnAbort)
    TwoAnswers,          // answer twice
    Synchronous,         // answer inside the request call
    Busy,                // the device is busy: a data exchange gets command response 32 and no
                         // data (the device does not run it); other requests a CommunicationError
                         // "busy"
    Disconnect,          // the link to the device is lost: the request gets a CommunicationError
                         // "noConnection" and the frame forgets the connection without telling
                         // the DTM, so later requests on it are refused
    Silent,              // the device hears the request and does not answer: the master's time
                         // runs out (a CommunicationError "timeout"); data exchanges only
    Warned,              // the device does what it was asked and answers with a warning
                         // (response code 8, "set to nearest possible value"); data exchanges only
  };
  struct Fault {
    FaultKind kind = FaultKind::None;
    int command = -1;  // -1: any request; else only data exchanges of this command
    std::string word = "busy";
    std::string descriptor;
    HRESULT result = E_FAIL;
    std::size_t keepBytes = 0;
    DWORD delayMs = 0;  // added to the wire delay
    // The answer waits, on the channel, until ReleaseHeldAnswers: a test acts while it is there.
    bool held = false;
    // With a command: 0 the next request of it; N its Nth data exchange counted since
    // CountRequestsFromNow (the first is 1).
    std::size_t occurrence = 0;
  };

  // One call of the DTM or one answer of the channel.
  struct Record {
    std::string method;  // "ConnectRequest", ..., "OnConnectResponse", "OnParentVersion", "OnAbort"
    std::string invokeId;
    std::string document;
    DWORD tick = 0;
  };

  FrameChannel();
  ~FrameChannel() override;

  // ---- What the frame does ----
  bool fdt121 = false;  // answer connects through OnParentVersion when the sink offers it
  // Wire speed for the answer delay (HART: 1200 bit/s, 11 bits a character); 0: no delay.
  DWORD wireBitsPerSecond = 0;
  bool lowerCaseHex = false;
  // The bus categories GetSupportedProtocols names, and its result.
  std::vector<std::string> busCategories{kHartProtocolId};
  HRESULT supportedProtocolsResult = S_OK;
  std::deque<Fault> faults;
  Fault alwaysFault;
  // Every write the device takes (a setting, the loop current or its trims) is answered with the
  // warning response code 8.
  bool warnEveryWrite = false;
  // The devices on the bus; connect picks one by long address, else by polling address.
  std::vector<std::shared_ptr<SimulatedDevice>> devices;

  // Called with the running count (from 1) of each data exchange request the channel takes, before
  // it is answered: a test's hook into the middle of a run of transactions.
  std::function<void(std::size_t count)> onDataExchange;

  // ---- What happened ----
  // Starts counting each command's data exchanges afresh (the occurrences of faults and of
  // `requestLog`); the channel counts from its creation until then.
  void CountRequestsFromNow();
  // The data exchanges taken, in order: the command and its occurrence since the count began.
  std::vector<std::pair<int, std::size_t>> requestLog;
  // The data exchanges that did not get done, in order, with why: "34#1: the device was busy"
  // (counted as requestLog counts; a request on a connection already gone has no count: "3: ...").
  // A warning the device answered is no failure; a request the device did when it came again (the
  // same command with the same data) is taken off.
  std::vector<std::string> requestFailures;
  // Whether any channel of the calling thread has a request on the way that is still to be
  // answered; *what then names the oldest ("the answer to command 35").
  static bool AnyRequestPending(std::string* what);
  // Whether a channel of the calling thread has a HART request (a data exchange) on the way.
  static bool AnyDataExchangePending();
  std::vector<Record> calls;
  std::vector<Record> answers;
  // Requests refused and why: "TransactionRequest: invalid document: ...".
  std::vector<std::string> failures;
  // Why the DTM could not reach a device: "no device answered at polling address N", N as its
  // connect asked; empty when no connect found none or one found a device.
  std::string NoDeviceAnswered() const;

  // The frame's scan of its line: command 0 to each polling address from 0 to `highest` in turn,
  // as a master polls for devices; the address of the first device that answers, none when none
  // does. Each poll takes the line at its speed (an address nobody answers at, the master's whole
  // wait), and the call returns when the line has carried them (serving the thread's messages).
  std::optional<std::uint8_t> Scan(std::uint8_t highest);

  // The frame ends a connection on its own: OnAbort(reference) comes later, pending answers of
  // the connection are dropped. E_INVALIDARG for an unknown reference.
  HRESULT AbortConnection(const std::string& reference);
  std::size_t PendingAnswers() const { return m_pending.size(); }
  // The answers faults hold (Fault::held), and sending them on their way (with their delays).
  std::size_t HeldAnswers() const;
  HRESULT ReleaseHeldAnswers();
  std::size_t ConnectionCount() const { return m_connections.size(); }
  // The references of the open connections, oldest first.
  std::vector<std::string> References() const;
  // The bits on the wire of one transaction (11 a character, with the preambles).
  static unsigned long long WireBits(std::size_t requestBytes, std::size_t responseBytes, bool longFrame,
                                     std::size_t preambles = 5);
  // The bits of every data exchange answered so far.
  unsigned long long dataExchangeWireBits = 0;
  // The time one transaction takes on the wire, in ms, at wireBitsPerSecond.
  DWORD WireTime(std::size_t requestBytes, std::size_t responseBytes, bool longFrame, std::size_t preambles = 5) const;
  // The time a request the device does not answer takes: the request on the wire and the master's
  // wait for an answer (its link quiet time), in ms at wireBitsPerSecond.
  DWORD SilentTime(std::size_t requestBytes, bool longFrame, bool primaryMaster, std::size_t preambles = 5) const;
  // The link quiet time of a master, in character times.
  static constexpr unsigned kPrimaryQuietCharacters = 33;
  static constexpr unsigned kSecondaryQuietCharacters = 41;

  // One use of the line: a HART request on the wire and its answer (or the master's wait for
  // one), in the order they used it. Every request is recorded, without a wire speed too (then
  // with the answer's own delay).
  struct LineUse {
    int command = 0;     // the HART command (0 for a connect's identification and the scan's polls)
    bool scan = false;   // a poll of the frame's scan
    DWORD onWire = 0;    // the tick the request went on the wire
    DWORD answerIn = 0;  // the tick its answer was in (or the master's wait ran out)
  };
  std::vector<LineUse> line;
  // The time the line carried requests and answers, in ms (the sum over `line`).
  unsigned long long LineTimeMs() const;

  // IDispatch: no type information.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

  // IFdtCommunication
  HRESULT Abort(BSTR document) override;
  HRESULT ConnectRequest(IFdtCommunicationEvents* callback, BSTR invokeId, BSTR protocolId, BSTR document,
                         VARIANT_BOOL* result) override;
  HRESULT DisconnectRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) override;
  HRESULT GetSupportedProtocols(BSTR* protocols) override;
  // Sequences are not simulated: E_NOTIMPL.
  HRESULT SequenceBegin(BSTR invokeId, BSTR document, VARIANT_BOOL* result) override;
  HRESULT SequenceEnd(BSTR invokeId, BSTR document, VARIANT_BOOL* result) override;
  HRESULT SequenceStart(BSTR invokeId, BSTR document, VARIANT_BOOL* result) override;
  HRESULT TransactionRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) override;

 private:
  struct Connection {
    std::string reference;
    ComPtr<IFdtCommunicationEvents> sink;
    std::shared_ptr<SimulatedDevice> device;
    std::string tag;
    bool longFrame = true;
    bool primaryMaster = true;  // the master bit of every request's address
  };
  enum class AnswerKind { Connect, Disconnect, Transaction, Abort };
  struct Pending {
    UINT_PTR timer = 0;
    AnswerKind kind = AnswerKind::Transaction;
    ComPtr<IFdtCommunicationEvents> sink;
    std::string reference;
    std::u16string invokeId;
    std::u16string document;
    int command = -1;  // a data exchange's command
    bool held = false;  // waits for ReleaseHeldAnswers (no timer yet)
    DWORD delayMs = 0;  // of a held answer, once released
    DWORD lineEnd = 0;  // of a held answer: the tick it has been on the wire
    // Its place on the line (from 1; 0 off the line): an answer comes after those before it.
    std::uint64_t lineOrder = 0;
  };

  static void TimerProc(HWND, UINT, UINT_PTR id, DWORD);

  HRESULT Begin(const char* method, BSTR invokeId, BSTR document, VARIANT_BOOL* result);
  // Loads and validates a request; S_FALSE (recorded) when it does not validate.
  HRESULT LoadRequest(const char* method, BSTR document, ComPtr<IXMLDOMDocument2>* out);
  HRESULT Refuse(const char* method, const std::string& why, VARIANT_BOOL* result);
  Fault TakeFault(int command);
  Connection* Find(const std::string& reference);
  // Applies the fault to the answer and schedules it when the line has carried it (`lineCommand`
  // the HART command on the wire, -1 none); S_OK, or the result the request returns.
  HRESULT Answer(Pending answer, const Fault& fault, DWORD wireMs, VARIANT_BOOL* result, int lineCommand);
  // Takes the line for `busyMs` once what is on it is done (records the use when `command` >= 0);
  // the ms from now until then. Without a wire speed the line is free at once.
  DWORD TakeLine(int command, DWORD busyMs, bool scan = false);
  HRESULT Schedule(Pending answer, DWORD delayMs);
  void Deliver(UINT_PTR timer);
  void DeliverNow(Pending& answer);
  void DropConnection(const std::string& reference);

  ComPtr<IXMLDOMSchemaCollection> m_schemas;
  std::vector<Connection> m_connections;
  std::vector<Pending> m_pending;
  DWORD m_lineFreeAt = 0;  // the tick the last answer taken on the line is in
  bool m_lineUsed = false;
  std::uint64_t m_lineOrder = 0;  // the last place given on the line
  DWORD m_thread = 0;
  std::size_t m_dataExchanges = 0;
  std::map<int, std::size_t> m_commandCounts;  // data exchanges of each command since counting began
  std::vector<std::string> m_failureKeys;       // beside requestFailures: each one's command and data
};

// Whether a HART command response code is a warning (the device did what was asked and says
// something about it), as HART's response code classes have it: 8, 14, 24-27, 30, 31 and 96-111;
// every other code but 0 is an error (112-127 too).
bool IsWarningResponse(std::uint8_t code);

// Makes a request of `command` fail as the host's --fault KIND names it: "silent" (the
// transmitter does not answer), "busy", "refused" (the channel refuses it), "lost" (a communication
// error of its own) or "linkgone" (the link is lost); or "warned": the transmitter does it and
// answers with a warning (response code 8). `occurrence` 0 is the next request of the command, N
// its Nth since the channel's count began. False for a KIND that is none of these.
bool InjectNamedFault(FrameChannel& channel, int command, const std::string& kind, std::size_t occurrence = 0);
// The fault kinds the host's --fault names, in the order its usage lists them.
inline constexpr const char* kNamedFaultKinds[] = {"silent", "busy", "refused", "lost", "linkgone", "warned"};
// HART's "warning: set to nearest possible value", the warning a "warned" request is answered with.
inline constexpr std::uint8_t kWarnedResponseCode = 8;

}  // namespace vkr::frame
