// The stand-in frame's HART channel: request documents in, device answers out, faults on demand.
#include "frame/FrameChannel.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>

#include "frame/FrameContainer.h"

namespace vkr::frame {
namespace {

constexpr char kHead[] =
    "<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";
constexpr char kVersion121[] =
    "<FDT xmlns:fdtvers=\"x-schema:FDTDataTypesSchema.xml\"><ParentVersion>"
    "<fdtvers:FDTVersion major=\"1\" minor=\"2\" release=\"1\"/></ParentVersion></FDT>";

std::string Text(BSTR s) { return Utf16ToUtf8(View(s)); }

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

bool SameIdIgnoringCase(std::string a, std::string b) {
  auto lower = [](std::string& s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  };
  lower(a);
  lower(b);
  return a == b;
}

// A fresh GUID text without braces: connection references and foreign invoke ids.
std::string NewGuidText() {
  GUID guid{};
  if (FAILED(CoCreateGuid(&guid))) return "00000000-0000-0000-0000-000000000000";
  OLECHAR buffer[40] = {};
  if (StringFromGUID2(guid, buffer, 40) <= 2) return "00000000-0000-0000-0000-000000000000";
  std::string text = Utf16ToUtf8(buffer);
  return text.substr(1, text.size() - 2);
}

// The value of the node the path selects, if there is one.
std::optional<std::string> Select(IXMLDOMNode* node, const char16_t* path) {
  ComPtr<IXMLDOMNode> found;
  Bstr query(path), text;
  if (FAILED(node->selectSingleNode(query.Get(), found.Put())) || !found) return std::nullopt;
  if (FAILED(found->get_text(text.Put()))) return std::nullopt;
  return Text(text.Get());
}

// A decimal number in 0..255; the schema has checked the type already, this keeps the reading safe.
std::optional<std::uint8_t> Byte(const std::optional<std::string>& text) {
  if (!text || text->empty() || text->size() > 3) return std::nullopt;
  unsigned value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 255) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

bool Flag(const std::optional<std::string>& text, bool absent) {
  if (!text) return absent;
  return *text == "1" || *text == "true";
}

std::string ErrorDocument(const std::string& word, const std::string& tag, const std::string& descriptor) {
  std::string doc = std::string(kHead) + "<fdt:CommunicationError communicationError=\"" + Escape(word) + "\" tag=\"" +
                    Escape(tag) + "\"";
  if (!descriptor.empty()) doc += " descriptor=\"" + Escape(descriptor) + "\"";
  return doc + "/></FDT>";
}

// The commands that write what the transmitter keeps: a setting, the loop current or its trims.
bool IsWrite(int command) {
  switch (command) {
    case 6: case 17: case 18: case 19: case 22: case 34: case 35: case 40: case 44: case 45: case 46:
    case 134: case 136: case 138:
      return true;
    default:
      return false;
  }
}

// The channels whose timers are running, by timer id (timer procedures get only the id).
std::mutex& TimerLock() {
  static std::mutex lock;
  return lock;
}
std::map<UINT_PTR, FrameChannel*>& TimerOwners() {
  static std::map<UINT_PTR, FrameChannel*> owners;
  return owners;
}

// The live channels, by the thread that owns them: a host waits for its own channels' answers.
std::mutex& ChannelsLock() {
  static std::mutex lock;
  return lock;
}
std::vector<FrameChannel*>& LiveChannels() {
  static std::vector<FrameChannel*> channels;
  return channels;
}

}  // namespace

FrameChannel::FrameChannel() : m_thread(GetCurrentThreadId()) {
  devices.push_back(std::make_shared<SimulatedDevice>());
  std::lock_guard lock(ChannelsLock());
  LiveChannels().push_back(this);
}

FrameChannel::~FrameChannel() {
  {
    std::lock_guard lock(ChannelsLock());
    std::erase(LiveChannels(), this);
  }
  std::lock_guard lock(TimerLock());
  for (const Pending& p : m_pending) {
    if (p.held) continue;
    TimerOwners().erase(p.timer);
    KillTimer(nullptr, p.timer);
  }
}

void FrameChannel::CountRequestsFromNow() {
  m_commandCounts.clear();
  requestLog.clear();
  requestFailures.clear();
  m_failureKeys.clear();
}

bool IsWarningResponse(std::uint8_t code) {
  return code == 8 || code == 14 || (code >= 24 && code <= 27) || code == 30 || code == 31 ||
         (code >= 96 && code <= 111);
}

bool FrameChannel::AnyRequestPending(std::string* what) {
  const DWORD thread = GetCurrentThreadId();
  std::lock_guard lock(ChannelsLock());
  for (const FrameChannel* channel : LiveChannels()) {
    if (channel->m_thread != thread || channel->m_pending.empty()) continue;
    if (what) {
      const Pending& oldest = channel->m_pending.front();
      *what = oldest.command >= 0                    ? "the answer to HART command " + std::to_string(oldest.command)
              : oldest.kind == AnswerKind::Connect    ? std::string("the answer to the connect request")
              : oldest.kind == AnswerKind::Disconnect ? std::string("the answer to the disconnect request")
              : oldest.kind == AnswerKind::Abort      ? std::string("the abort of a connection")
                                                      : std::string("the answer to a transaction request");
    }
    return true;
  }
  return false;
}

bool FrameChannel::AnyDataExchangePending() {
  const DWORD thread = GetCurrentThreadId();
  std::lock_guard lock(ChannelsLock());
  for (const FrameChannel* channel : LiveChannels())
    if (channel->m_thread == thread &&
        std::any_of(channel->m_pending.begin(), channel->m_pending.end(), [](const Pending& p) { return p.command >= 0; }))
      return true;
  return false;
}

std::vector<std::string> FrameChannel::References() const {
  std::vector<std::string> out;
  for (const Connection& c : m_connections) out.push_back(c.reference);
  return out;
}

namespace {
// The characters of a master's request frame: preambles, delimiter, address, command, byte count,
// data, checksum.
std::size_t RequestCharacters(std::size_t bytes, bool longFrame, std::size_t preambles) {
  return preambles + 1 + (longFrame ? 5 : 1) + 2 + bytes + 1;
}
}  // namespace

unsigned long long FrameChannel::WireBits(std::size_t requestBytes, std::size_t responseBytes, bool longFrame,
                                          std::size_t preambles) {
  // The answer's frame holds the two status bytes besides.
  const std::size_t characters =
      RequestCharacters(requestBytes, longFrame, preambles) + RequestCharacters(responseBytes + 2, longFrame, preambles);
  return characters * 11ull;
}

DWORD FrameChannel::WireTime(std::size_t requestBytes, std::size_t responseBytes, bool longFrame,
                             std::size_t preambles) const {
  if (wireBitsPerSecond == 0) return 0;
  const unsigned long long bits = WireBits(requestBytes, responseBytes, longFrame, preambles);
  return static_cast<DWORD>((bits * 1000 + wireBitsPerSecond - 1) / wireBitsPerSecond);
}

DWORD FrameChannel::SilentTime(std::size_t requestBytes, bool longFrame, bool primaryMaster,
                               std::size_t preambles) const {
  if (wireBitsPerSecond == 0) return 0;
  const std::size_t characters = RequestCharacters(requestBytes, longFrame, preambles) +
                                 (primaryMaster ? kPrimaryQuietCharacters : kSecondaryQuietCharacters);
  return static_cast<DWORD>((characters * 11ull * 1000 + wireBitsPerSecond - 1) / wireBitsPerSecond);
}

unsigned long long FrameChannel::LineTimeMs() const {
  unsigned long long total = 0;
  for (const LineUse& use : line) total += static_cast<DWORD>(use.answerIn - use.onWire);
  return total;
}

DWORD FrameChannel::TakeLine(int command, DWORD busyMs, bool scan) {
  const DWORD now = GetTickCount();
  DWORD start = now;
  if (wireBitsPerSecond != 0 && m_lineUsed && static_cast<LONG>(m_lineFreeAt - now) > 0) start = m_lineFreeAt;
  const DWORD end = start + busyMs;
  if (wireBitsPerSecond != 0) {
    m_lineFreeAt = end;
    m_lineUsed = true;
  }
  if (command >= 0) line.push_back({command, scan, start, end});
  return end - now;
}

HRESULT FrameChannel::GetTypeInfoCount(UINT* count) {
  if (!count) return E_INVALIDARG;
  *count = 0;
  return S_OK;
}
HRESULT FrameChannel::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

// ---- Requests ---------------------------------------------------------------------------------

HRESULT FrameChannel::Begin(const char* method, BSTR invokeId, BSTR document, VARIANT_BOOL* result) {
  if (GetCurrentThreadId() != m_thread) return RPC_E_WRONG_THREAD;
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  calls.push_back({method, Text(invokeId), Text(document), GetTickCount()});
  return S_OK;
}

HRESULT FrameChannel::Refuse(const char* method, const std::string& why, VARIANT_BOOL* result) {
  failures.push_back(std::string(method) + ": " + why);
  if (result) *result = VARIANT_FALSE;
  return S_OK;
}

HRESULT FrameChannel::LoadRequest(const char* method, BSTR document, ComPtr<IXMLDOMDocument2>* out) {
  if (!document) {
    failures.push_back(std::string(method) + ": no document");
    return S_FALSE;
  }
  HRESULT hr = S_OK;
  if (!m_schemas) hr = CreateFrameSchemaCache(&m_schemas);
  if (FAILED(hr)) {
    failures.push_back(std::string(method) + ": no schema set");
    return hr;
  }
  std::string reason;
  hr = LoadWithSchemaCache(document, m_schemas.Get(), out, &reason);
  if (hr == S_FALSE) failures.push_back(std::string(method) + ": invalid document: " + reason);
  return hr;
}

FrameChannel::Fault FrameChannel::TakeFault(int command) {
  const auto counted = m_commandCounts.find(command);
  const std::size_t occurrence = counted == m_commandCounts.end() ? 0 : counted->second;
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->command >= 0 && it->command != command) continue;
    if (it->command >= 0 && it->occurrence != 0 && it->occurrence != occurrence) continue;
    Fault fault = *it;
    faults.erase(it);
    return fault;
  }
  if (alwaysFault.command < 0 || alwaysFault.command == command) return alwaysFault;
  return Fault{};
}

FrameChannel::Connection* FrameChannel::Find(const std::string& reference) {
  for (Connection& c : m_connections)
    if (c.reference == reference) return &c;
  return nullptr;
}

HRESULT FrameChannel::ConnectRequest(IFdtCommunicationEvents* callback, BSTR invokeId, BSTR protocolId, BSTR document,
                                     VARIANT_BOOL* result) {
  constexpr char kMethod[] = "ConnectRequest";
  HRESULT hr = Begin(kMethod, invokeId, document, result);
  if (hr != S_OK) return hr;
  if (!callback) {
    Refuse(kMethod, "no callback", result);
    return E_INVALIDARG;
  }
  if (!SameIdIgnoringCase(Text(protocolId), kHartProtocolId))
    return Refuse(kMethod, "protocol " + Text(protocolId) + " is not HART", result);
  ComPtr<IXMLDOMDocument2> doc;
  hr = LoadRequest(kMethod, document, &doc);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return S_OK;

  const std::string tag = Select(doc.Get(), u"FDT/ConnectRequest/@fdt:tag").value_or("");
  const std::optional<std::uint8_t> preambles = Byte(Select(doc.Get(), u"FDT/ConnectRequest/@preambleCount"));
  const bool primaryMaster = Flag(Select(doc.Get(), u"FDT/ConnectRequest/@primaryMaster"), true);
  const bool longFrame = Flag(Select(doc.Get(), u"FDT/ConnectRequest/@longFrameRequired"), true);
  const std::optional<std::uint8_t> polling = Byte(Select(doc.Get(), u"FDT/ConnectRequest/ShortAddress/@shortAddress"));
  if (!polling) return Refuse(kMethod, "no short address", result);
  std::optional<std::array<std::uint8_t, 5>> longAddress;
  ComPtr<IXMLDOMNode> longNode;
  Bstr longPath(u"FDT/ConnectRequest/LongAddress");
  if (SUCCEEDED(doc->selectSingleNode(longPath.Get(), longNode.Put())) && longNode) {
    std::array<std::uint8_t, 5> bytes{};
    const char16_t* names[] = {u"@manufacturerId", u"@deviceTypeId", u"@address1", u"@address2", u"@address3"};
    for (int i = 0; i < 5; ++i) {
      const auto b = Byte(Select(longNode.Get(), names[i]));
      if (!b) return Refuse(kMethod, "incomplete long address", result);
      bytes[i] = *b;
    }
    longAddress = bytes;
  }

  const Fault fault = TakeFault(-1);
  if (fault.kind == FaultKind::Refuse) return Refuse(kMethod, "refused by fault", result);
  if (fault.kind == FaultKind::Fail) {
    Refuse(kMethod, "failed by fault", result);
    return fault.result;
  }

  // The long address names the device when given; otherwise the polling address does.
  std::shared_ptr<SimulatedDevice> device;
  for (const auto& d : devices) {
    const auto& c = d->config;
    const bool match = longAddress ? (*longAddress)[0] == c.manufacturerId && (*longAddress)[1] == c.deviceType &&
                                         (*longAddress)[2] == c.deviceId[0] && (*longAddress)[3] == c.deviceId[1] &&
                                         (*longAddress)[4] == c.deviceId[2]
                                   : *polling == c.pollingAddress;
    if (match) {
      device = d;
      break;
    }
  }

  Pending answer;
  answer.kind = AnswerKind::Connect;
  answer.sink = callback;
  answer.invokeId = std::u16string(View(invokeId));
  std::string response;
  if (fault.kind == FaultKind::CommunicationError) {
    response = ErrorDocument(fault.word, tag, fault.descriptor);
  } else if (fault.kind == FaultKind::Busy) {
    response = ErrorDocument("busy", tag, fault.descriptor);
  } else if (fault.kind == FaultKind::Disconnect) {
    response = ErrorDocument("noConnection", tag, "the link to the device is lost");
  } else if (!device) {
    response = ErrorDocument("noConnection", tag, "no device at this address");
  } else {
    Connection connection;
    connection.reference = NewGuidText();
    connection.sink = callback;
    connection.device = device;
    connection.tag = tag;
    connection.longFrame = longFrame;
    connection.primaryMaster = primaryMaster;
    const auto& c = device->config;
    response = std::string(kHead) + "<ConnectResponse fdt:tag=\"" + Escape(tag) + "\" preambleCount=\"" +
               std::to_string(preambles.value_or(c.preambles)) + "\" primaryMaster=\"" + (primaryMaster ? "1" : "0") +
               "\" communicationReference=\"" + connection.reference + "\"><ShortAddress shortAddress=\"" +
               std::to_string(c.pollingAddress) + "\"/><LongAddress manufacturerId=\"" +
               std::to_string(c.manufacturerId) + "\" deviceTypeId=\"" + std::to_string(c.deviceType) +
               "\" address1=\"" + std::to_string(c.deviceId[0]) + "\" address2=\"" + std::to_string(c.deviceId[1]) +
               "\" address3=\"" + std::to_string(c.deviceId[2]) + "\"/></ConnectResponse></FDT>";
    answer.reference = connection.reference;
    m_connections.push_back(std::move(connection));
  }
  answer.document = Utf8ToUtf16(response);
  // Identifying the device: command 0 in a short frame, which no device may answer.
  const DWORD wire = device || fault.kind != FaultKind::None ? WireTime(0, 22, false, device ? device->config.preambles : 5)
                                                              : SilentTime(0, false, primaryMaster);
  return Answer(std::move(answer), fault, wire, result, 0);
}

std::optional<std::uint8_t> FrameChannel::Scan(std::uint8_t highest) {
  std::optional<std::uint8_t> found;
  DWORD due = GetTickCount();
  for (unsigned address = 0; address <= highest && !found; ++address) {
    std::shared_ptr<SimulatedDevice> device;
    for (const auto& d : devices)
      if (d->config.pollingAddress == address) {
        device = d;
        break;
      }
    HartReply reply;
    if (device) reply = device->Execute(0, {});
    const bool answered = device && reply.answered;
    // Command 0 in a short frame, one poll after the other; an address nobody answers at costs the
    // master's whole wait.
    const DWORD busy = answered ? WireTime(0, reply.data.size(), false, device->config.preambles)
                                : SilentTime(0, false, true);
    due = GetTickCount() + TakeLine(0, busy, true);
    if (answered && reply.communicationStatus == 0 && reply.commandResponse == 0)
      found = static_cast<std::uint8_t>(address);
  }
  // The frame's thread serves its messages while its polls are on the wire.
  while (static_cast<LONG>(due - GetTickCount()) > 0) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(due - GetTickCount()), QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return found;
}

std::string FrameChannel::NoDeviceAnswered() const {
  std::string why;
  for (const Record& answer : answers) {
    const bool connect = answer.method == "OnConnectResponse" || answer.method == "OnParentVersion";
    if (!connect) continue;
    if (answer.document.find("<ConnectResponse") != std::string::npos) return "";
    if (!why.empty() || answer.document.find("no device at this address") == std::string::npos) continue;
    why = "no device answered at the address the DTM connected to";
    for (const Record& call : calls) {
      if (call.method != "ConnectRequest" || call.invokeId != answer.invokeId) continue;
      const std::size_t at = call.document.find("shortAddress=\"");
      if (at == std::string::npos) break;
      const std::size_t from = at + 14;
      why = "no device answered at polling address " + call.document.substr(from, call.document.find('"', from) - from);
      break;
    }
  }
  return why;
}

HRESULT FrameChannel::DisconnectRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) {
  constexpr char kMethod[] = "DisconnectRequest";
  HRESULT hr = Begin(kMethod, invokeId, document, result);
  if (hr != S_OK) return hr;
  ComPtr<IXMLDOMDocument2> doc;
  hr = LoadRequest(kMethod, document, &doc);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return S_OK;
  const std::string reference = Select(doc.Get(), u"FDT/DisconnectRequest/@communicationReference").value_or("");
  Connection* connection = Find(reference);
  if (!connection) return Refuse(kMethod, "unknown communication reference " + reference, result);
  const Fault fault = TakeFault(-1);
  if (fault.kind == FaultKind::Refuse) return Refuse(kMethod, "refused by fault", result);
  if (fault.kind == FaultKind::Fail) {
    Refuse(kMethod, "failed by fault", result);
    return fault.result;
  }

  Pending answer;
  answer.kind = AnswerKind::Disconnect;
  answer.sink = connection->sink;
  answer.reference = reference;
  answer.invokeId = std::u16string(View(invokeId));
  if (fault.kind == FaultKind::CommunicationError || fault.kind == FaultKind::Busy) {
    answer.document = Utf8ToUtf16(
        ErrorDocument(fault.kind == FaultKind::Busy ? "busy" : fault.word, connection->tag, fault.descriptor));
  } else if (fault.kind == FaultKind::Disconnect) {
    answer.document = Utf8ToUtf16(ErrorDocument("noConnection", connection->tag, "the link to the device is lost"));
    DropConnection(reference);
  } else {
    answer.document =
        Utf8ToUtf16(std::string(kHead) + "<DisconnectResponse communicationReference=\"" + reference + "\"/></FDT>");
    // An abort instead of the answer needs the connection still there.
    if (fault.kind != FaultKind::Abort) DropConnection(reference);
  }
  return Answer(std::move(answer), fault, 0, result, -1);
}

HRESULT FrameChannel::TransactionRequest(BSTR invokeId, BSTR document, VARIANT_BOOL* result) {
  constexpr char kMethod[] = "TransactionRequest";
  HRESULT hr = Begin(kMethod, invokeId, document, result);
  if (hr != S_OK) return hr;
  ComPtr<IXMLDOMDocument2> doc;
  hr = LoadRequest(kMethod, document, &doc);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return S_OK;

  enum class Kind { DataExchange, Subscribe, Unsubscribe } kind;
  std::optional<std::string> reference;
  if ((reference = Select(doc.Get(), u"FDT/DataExchangeRequest/@communicationReference")))
    kind = Kind::DataExchange;
  else if ((reference = Select(doc.Get(), u"FDT/SubscribeRequest/@communicationReference")))
    kind = Kind::Subscribe;
  else if ((reference = Select(doc.Get(), u"FDT/UnsubscribeRequest/@communicationReference")))
    kind = Kind::Unsubscribe;
  else
    return Refuse(kMethod, "not a transaction request", result);
  int command = -1;
  if (kind == Kind::DataExchange) {
    const auto number = Byte(Select(doc.Get(), u"FDT/DataExchangeRequest/@commandNumber"));
    if (!number) return Refuse(kMethod, "no command number", result);
    command = *number;
  }
  Connection* connection = Find(*reference);
  if (!connection) {
    if (command >= 0) {
      requestFailures.push_back(std::to_string(command) + ": the link to the device is gone");
      m_failureKeys.push_back(std::string());
    }
    return Refuse(kMethod, "unknown communication reference " + *reference, result);
  }

  Bytes request;
  std::string counted;  // "35#2"
  if (kind == Kind::DataExchange) {
    const auto hex = Select(doc.Get(), u"FDT/DataExchangeRequest/fdt:CommunicationData/@byteArray");
    if (hex && !wire::FromHex(*hex, &request)) return Refuse(kMethod, "request data is not hex: " + *hex, result);
    ++m_dataExchanges;
    requestLog.emplace_back(command, ++m_commandCounts[command]);
    counted = std::to_string(command) + "#" + std::to_string(requestLog.back().second);
    if (onDataExchange) onDataExchange(m_dataExchanges);
  }
  const Fault fault = TakeFault(command);
  // The same request again, done, makes up for one that was not: a master's retry.
  const std::string key = std::to_string(command) + ":" + wire::ToHex(request);
  bool done = true;
  const auto failed = [&](const std::string& why) {
    done = false;
    if (counted.empty()) return;
    requestFailures.push_back(counted + ": " + why);
    m_failureKeys.push_back(key);
  };
  if (fault.kind == FaultKind::Refuse || fault.kind == FaultKind::Fail) failed("the frame's channel did not take it");
  if (fault.kind == FaultKind::Refuse) return Refuse(kMethod, "refused by fault", result);
  if (fault.kind == FaultKind::Fail) {
    Refuse(kMethod, "failed by fault", result);
    return fault.result;
  }

  Pending answer;
  answer.kind = AnswerKind::Transaction;
  answer.sink = connection->sink;
  answer.reference = *reference;
  answer.invokeId = std::u16string(View(invokeId));
  answer.command = command;
  const std::string referenceText = "communicationReference=\"" + *reference + "\"";
  std::string response;
  DWORD wire = 0;
  const std::size_t preambles = connection->device->config.preambles;
  if (fault.kind == FaultKind::CommunicationError) {
    failed("its answer was lost (" + fault.word + ")");
    response = ErrorDocument(fault.word, connection->tag, fault.descriptor);
    // The master heard no answer it could take, and waited for one.
    if (kind == Kind::DataExchange) wire = SilentTime(request.size(), connection->longFrame, connection->primaryMaster, preambles);
  } else if (fault.kind == FaultKind::Disconnect) {
    failed("the link to the device was lost");
    response = ErrorDocument("noConnection", connection->tag, "the link to the device is lost");
    DropConnection(*reference);
  } else if (fault.kind == FaultKind::Busy && kind != Kind::DataExchange) {
    response = ErrorDocument("busy", connection->tag, fault.descriptor);
  } else if (kind == Kind::DataExchange) {
    HartReply reply;
    if (fault.kind == FaultKind::Busy) {
      // Busy: the device is doing something it cannot break off and runs nothing.
      reply.commandResponse = hart::kBusy;
      reply.deviceStatus = connection->device->DeviceStatus(connection->primaryMaster);
    } else {
      if (fault.kind == FaultKind::Silent) {
        CommandFault silent;
        silent.command = command;
        silent.silent = true;
        connection->device->InjectFault(silent);
      }
      reply = connection->device->Execute(static_cast<std::uint8_t>(command), request, connection->primaryMaster);
      // Done, with a word of warning: what the device took stays taken.
      const bool warned = fault.kind == FaultKind::Warned || (warnEveryWrite && IsWrite(command));
      if (warned && reply.answered && reply.communicationStatus == 0 && reply.commandResponse == 0)
        reply.commandResponse = kWarnedResponseCode;
    }
    if (!reply.answered) failed("the device did not answer");
    else if (reply.communicationStatus != 0) failed("the device did not understand it (communication status " + std::to_string(reply.communicationStatus) + ")");
    else if (reply.commandResponse == hart::kBusy) failed("the device was busy");
    else if (reply.commandResponse != 0 && !IsWarningResponse(reply.commandResponse))
      failed("the device refused it (response code " + std::to_string(reply.commandResponse) + ")");
    if (done && !counted.empty() && fault.kind == FaultKind::None)
      for (std::size_t i = m_failureKeys.size(); i-- > 0;)
        if (m_failureKeys[i] == key) {
          m_failureKeys.erase(m_failureKeys.begin() + static_cast<std::ptrdiff_t>(i));
          requestFailures.erase(requestFailures.begin() + static_cast<std::ptrdiff_t>(i));
        }
    if (!reply.answered) {
      answer.document = Utf8ToUtf16(ErrorDocument("timeout", connection->tag, "no answer from the device"));
      return Answer(std::move(answer), fault,
                    SilentTime(request.size(), connection->longFrame, connection->primaryMaster, preambles), result,
                    command);
    }
    if (fault.kind == FaultKind::TruncatedData && reply.data.size() > fault.keepBytes)
      reply.data.resize(fault.keepBytes);
    wire = WireTime(request.size(), reply.data.size(), connection->longFrame, preambles);
    dataExchangeWireBits += WireBits(request.size(), reply.data.size(), connection->longFrame, preambles);
    response = std::string(kHead) + "<DataExchangeResponse " + referenceText + " commandNumber=\"" +
               std::to_string(command) + "\">";
    if (!reply.data.empty()) {
      std::string hex = wire::ToHex(reply.data, lowerCaseHex);
      if (fault.kind == FaultKind::GarbledData) hex[hex.size() > 1 ? 1 : 0] = 'Z';
      response += "<fdt:CommunicationData byteArray=\"" + hex + "\"/>";
    }
    response += "<Status deviceStatus=\"" + std::to_string(reply.deviceStatus) + "\">";
    if (reply.communicationStatus != 0)
      response += "<CommunicationStatus value=\"" + std::to_string(reply.communicationStatus) + "\"/>";
    response += "<CommandResponse value=\"" + std::to_string(reply.commandResponse) + "\"/></Status>";
    response += "</DataExchangeResponse></FDT>";
  } else if (kind == Kind::Subscribe) {
    // The simulated devices have no burst mode.
    response = std::string(kHead) + "<SubscribeResponse " + referenceText + " burstModeDetected=\"0\"/></FDT>";
  } else {
    response = std::string(kHead) + "<UnsubscribeResponse " + referenceText + "/></FDT>";
  }
  answer.document = Utf8ToUtf16(response);
  return Answer(std::move(answer), fault, wire, result, command);
}

HRESULT FrameChannel::Abort(BSTR document) {
  constexpr char kMethod[] = "Abort";
  if (GetCurrentThreadId() != m_thread) return RPC_E_WRONG_THREAD;
  calls.push_back({kMethod, "", Text(document), GetTickCount()});
  ComPtr<IXMLDOMDocument2> doc;
  HRESULT hr = LoadRequest(kMethod, document, &doc);
  if (FAILED(hr)) return hr;
  if (hr != S_OK) return E_INVALIDARG;
  const std::string reference = Select(doc.Get(), u"FDT/Abort/@communicationReference").value_or("");
  if (!Find(reference)) {
    failures.push_back(std::string(kMethod) + ": unknown communication reference " + reference);
    return E_INVALIDARG;
  }
  // The DTM ends the connection itself: nothing more is answered on it.
  DropConnection(reference);
  return S_OK;
}

HRESULT FrameChannel::GetSupportedProtocols(BSTR* protocols) {
  if (GetCurrentThreadId() != m_thread) return RPC_E_WRONG_THREAD;
  if (!protocols) return E_POINTER;
  *protocols = nullptr;
  calls.push_back({"GetSupportedProtocols", "", "", GetTickCount()});
  if (FAILED(supportedProtocolsResult)) return supportedProtocolsResult;
  std::string doc = "<FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"><fdt:BusCategories>";
  for (const std::string& category : busCategories)
    doc += "<fdt:BusCategory busCategory=\"" + Escape(category) + "\"/>";
  doc += "</fdt:BusCategories></FDT>";
  *protocols = SysAllocString(Utf8ToUtf16(doc).c_str());
  return *protocols ? S_OK : E_OUTOFMEMORY;
}

HRESULT FrameChannel::SequenceBegin(BSTR invokeId, BSTR document, VARIANT_BOOL* result) {
  const HRESULT hr = Begin("SequenceBegin", invokeId, document, result);
  return hr == S_OK ? E_NOTIMPL : hr;
}
HRESULT FrameChannel::SequenceEnd(BSTR invokeId, BSTR document, VARIANT_BOOL* result) {
  const HRESULT hr = Begin("SequenceEnd", invokeId, document, result);
  return hr == S_OK ? E_NOTIMPL : hr;
}
HRESULT FrameChannel::SequenceStart(BSTR invokeId, BSTR document, VARIANT_BOOL* result) {
  const HRESULT hr = Begin("SequenceStart", invokeId, document, result);
  return hr == S_OK ? E_NOTIMPL : hr;
}

// ---- Answers ----------------------------------------------------------------------------------

HRESULT FrameChannel::AbortConnection(const std::string& reference) {
  Connection* connection = Find(reference);
  if (!connection) return E_INVALIDARG;
  Pending abort;
  abort.kind = AnswerKind::Abort;
  abort.sink = connection->sink;
  abort.reference = reference;
  DropConnection(reference);
  // After the answers on their way.
  if (wireBitsPerSecond != 0) abort.lineOrder = ++m_lineOrder;
  return Schedule(std::move(abort), TakeLine(-1, 0));
}

void FrameChannel::DropConnection(const std::string& reference) {
  std::erase_if(m_connections, [&](const Connection& c) { return c.reference == reference; });
  // Answers already on their way stay; an abort comes after them.
}

HRESULT FrameChannel::Answer(Pending answer, const Fault& fault, DWORD wireMs, VARIANT_BOOL* result,
                             int lineCommand) {
  if (fault.kind == FaultKind::Synchronous) {
    *result = VARIANT_TRUE;
    DeliverNow(answer);
    return S_OK;
  }
  // The request goes on the line once the answers before it are in. A late answer keeps the line
  // until it comes; a held one leaves it when it has been on the wire.
  const DWORD lineMs = TakeLine(lineCommand, wireMs + (fault.held ? 0 : fault.delayMs));
  if (wireBitsPerSecond != 0) answer.lineOrder = ++m_lineOrder;
  switch (fault.kind) {
    case FaultKind::NoAnswer: *result = VARIANT_TRUE; return S_OK;
    case FaultKind::Abort:
      *result = VARIANT_TRUE;
      if (Find(answer.reference)) return AbortConnection(answer.reference);
      return S_OK;
    case FaultKind::WrongReference: {
      const std::string wrong = NewGuidText();
      const std::u16string from = Utf8ToUtf16(answer.reference);
      if (const auto at = answer.document.find(from); !from.empty() && at != std::u16string::npos)
        answer.document.replace(at, from.size(), Utf8ToUtf16(wrong));
      break;
    }
    case FaultKind::WrongInvokeId: answer.invokeId = Utf8ToUtf16(NewGuidText()); break;
    case FaultKind::ShortInvokeId:
      if (!answer.invokeId.empty()) answer.invokeId.pop_back();
      break;
    case FaultKind::MalformedDocument: answer.document.resize(answer.document.size() / 2); break;
    default: break;
  }
  *result = VARIANT_TRUE;
  if (fault.held) {
    answer.held = true;
    answer.delayMs = fault.delayMs;
    answer.lineEnd = GetTickCount() + lineMs;
    if (fault.kind == FaultKind::TwoAnswers) m_pending.push_back(answer);
    m_pending.push_back(std::move(answer));
    return S_OK;
  }
  HRESULT hr = S_OK;
  if (fault.kind == FaultKind::TwoAnswers) hr = Schedule(answer, lineMs);
  if (SUCCEEDED(hr)) hr = Schedule(std::move(answer), lineMs);
  if (FAILED(hr)) {
    *result = VARIANT_FALSE;
    failures.push_back("could not schedule the answer");
  }
  return hr;
}

HRESULT FrameChannel::Schedule(Pending answer, DWORD delayMs) {
  // Without a delay the timer only carries the posted WM_TIMER; its own period never ends.
  const UINT_PTR timer = SetTimer(nullptr, 0, delayMs ? delayMs : USER_TIMER_MAXIMUM, &FrameChannel::TimerProc);
  if (!timer) return HRESULT_FROM_WIN32(GetLastError());
  {
    std::lock_guard lock(TimerLock());
    TimerOwners()[timer] = this;
  }
  answer.timer = timer;
  m_pending.push_back(std::move(answer));
  if (delayMs == 0 &&
      !PostThreadMessageW(m_thread, WM_TIMER, timer, reinterpret_cast<LPARAM>(&FrameChannel::TimerProc))) {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    m_pending.pop_back();
    std::lock_guard lock(TimerLock());
    TimerOwners().erase(timer);
    KillTimer(nullptr, timer);
    return FAILED(hr) ? hr : E_FAIL;
  }
  return S_OK;
}

std::size_t FrameChannel::HeldAnswers() const {
  return static_cast<std::size_t>(std::count_if(m_pending.begin(), m_pending.end(), [](const Pending& p) { return p.held; }));
}

HRESULT FrameChannel::ReleaseHeldAnswers() {
  std::vector<Pending> held;
  for (auto it = m_pending.begin(); it != m_pending.end();) {
    if (!it->held) {
      ++it;
      continue;
    }
    held.push_back(std::move(*it));
    it = m_pending.erase(it);
  }
  HRESULT first = S_OK;
  const DWORD now = GetTickCount();
  for (Pending& answer : held) {
    answer.held = false;
    // It comes when it is let go, past the answers the line carried meanwhile.
    answer.lineOrder = 0;
    // What is left of its time on the wire, and its own delay.
    const LONG wire = static_cast<LONG>(answer.lineEnd - now);
    const DWORD delay = (wire > 0 ? static_cast<DWORD>(wire) : 0) + answer.delayMs;
    const HRESULT hr = Schedule(std::move(answer), delay);
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  return first;
}

void FrameChannel::TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
  FrameChannel* channel = nullptr;
  {
    std::lock_guard lock(TimerLock());
    const auto it = TimerOwners().find(id);
    if (it == TimerOwners().end()) return;
    channel = it->second;
    TimerOwners().erase(it);
  }
  KillTimer(nullptr, id);
  channel->Deliver(id);
}

void FrameChannel::Deliver(UINT_PTR timer) {
  // The sink may release the channel while it is being answered.
  AddRef();
  for (;;) {
    const auto it = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending& p) { return p.timer == timer; });
    if (it == m_pending.end()) break;
    // The line carries its answers in turn: one before this one (its timer not served yet, or its
    // message still queued) comes first.
    auto first = it;
    if (it->lineOrder != 0)
      for (auto p = m_pending.begin(); p != m_pending.end(); ++p)
        if (!p->held && p->lineOrder != 0 && p->lineOrder < first->lineOrder) first = p;
    const bool last = first == it;
    Pending answer = std::move(*first);
    m_pending.erase(first);
    if (!last) {
      std::lock_guard lock(TimerLock());
      TimerOwners().erase(answer.timer);
      KillTimer(nullptr, answer.timer);
    }
    DeliverNow(answer);
    if (last) break;
  }
  Release();
}

void FrameChannel::DeliverNow(Pending& answer) {
  // The sink may release the channel while it is being answered.
  AddRef();
  Bstr invokeId(answer.invokeId), document(answer.document);
  const std::string invokeText = Utf16ToUtf8(answer.invokeId), documentText = Utf16ToUtf8(answer.document);
  switch (answer.kind) {
    case AnswerKind::Connect: {
      ComPtr<IFdtCommunicationEvents2> events2;
      if (fdt121) answer.sink->QueryInterface(IFdtCommunicationEvents2::iid, events2.PutVoid());
      if (events2) {
        Bstr version(Utf8ToUtf16(kVersion121));
        answers.push_back({"OnParentVersion", invokeText, documentText, GetTickCount()});
        events2->OnParentVersion(invokeId.Get(), version.Get(), document.Get());
      } else {
        answers.push_back({"OnConnectResponse", invokeText, documentText, GetTickCount()});
        answer.sink->OnConnectResponse(invokeId.Get(), document.Get());
      }
      break;
    }
    case AnswerKind::Disconnect:
      answers.push_back({"OnDisconnectResponse", invokeText, documentText, GetTickCount()});
      answer.sink->OnDisconnectResponse(invokeId.Get(), document.Get());
      break;
    case AnswerKind::Transaction:
      answers.push_back({"OnTransactionResponse", invokeText, documentText, GetTickCount()});
      answer.sink->OnTransactionResponse(invokeId.Get(), document.Get());
      break;
    case AnswerKind::Abort: {
      Bstr reference(Utf8ToUtf16(answer.reference));
      answers.push_back({"OnAbort", "", answer.reference, GetTickCount()});
      answer.sink->OnAbort(reference.Get());
      break;
    }
  }
  Release();
}

bool InjectNamedFault(FrameChannel& channel, int command, const std::string& kind, std::size_t occurrence) {
  FrameChannel::Fault fault;
  fault.command = command;
  fault.occurrence = occurrence;
  if (kind == "silent")
    fault.kind = FrameChannel::FaultKind::Silent;
  else if (kind == "busy")
    fault.kind = FrameChannel::FaultKind::Busy;
  else if (kind == "refused")
    fault.kind = FrameChannel::FaultKind::Refuse;
  else if (kind == "lost")
    fault.kind = FrameChannel::FaultKind::CommunicationError;
  else if (kind == "linkgone")
    fault.kind = FrameChannel::FaultKind::Disconnect;
  else if (kind == "warned")
    fault.kind = FrameChannel::FaultKind::Warned;
  else
    return false;
  // A lost answer is a communication error of its own, not the channel's "busy".
  if (fault.kind == FrameChannel::FaultKind::CommunicationError) {
    fault.word = "unknownError";
    fault.descriptor = "the answer was lost";
  }
  channel.faults.push_back(fault);
  return true;
}

}  // namespace vkr::frame
