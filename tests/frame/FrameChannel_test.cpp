// The frame's HART channel driven with the request documents exactly as the DTM writes them, and
// a recording event sink that waits in a message loop as the DTM's connection does.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "tests/support/threading.h"

namespace {

using vkr::frame::FrameChannel;
using Fault = FrameChannel::Fault;
using FaultKind = FrameChannel::FaultKind;

constexpr char16_t kHart[] = u"036D1498-387B-11D4-86E1-00E0987270B9";
constexpr char kInvoke[] = "9B1C3E6A-0D2F-4C1B-8E7A-5F4D3C2B1A09";

// ---- The DTM's documents, as its format texts give them ----

struct ConnectFields {
  std::string tag = "LT-101";
  std::string preambleCount;  // empty: absent
  std::string primaryMaster;
  std::string longFrameRequired;
  std::string systemTag;
  std::string longAddress;    // "96 230 1 35 69" or empty
  unsigned shortAddress = 0;
};

std::string ConnectText(const ConnectFields& f) {
  auto opt = [](const std::string& name, const std::string& value) {
    return value.empty() ? std::string(" ") : " " + name + "=\"" + value + "\"";
  };
  std::string longAddress = " ";
  if (!f.longAddress.empty()) {
    unsigned b[5] = {};
    std::sscanf(f.longAddress.c_str(), "%u %u %u %u %u", &b[0], &b[1], &b[2], &b[3], &b[4]);
    longAddress = "<LongAddress manufacturerId=\"" + std::to_string(b[0]) + "\" deviceTypeId=\"" + std::to_string(b[1]) +
                  "\" address1=\"" + std::to_string(b[2]) + "\" address2=\"" + std::to_string(b[3]) +
                  "\" address3=\"" + std::to_string(b[4]) + "\" />";
  }
  return "<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" \n     "
         "xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n    <ConnectRequest fdt:tag=\"" +
         f.tag + "\"" + opt("preambleCount", f.preambleCount) + opt("primaryMaster", f.primaryMaster) +
         opt("longFrameRequired", f.longFrameRequired) + opt("fdt:systemTag", f.systemTag) + ">\n        " +
         longAddress + "\n        <ShortAddress shortAddress=\"" + std::to_string(f.shortAddress) +
         "\" />\n</ConnectRequest>\n</FDT>";
}

std::string DisconnectText(const std::string& reference) {
  return "<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" \n     "
         "xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n    <DisconnectRequest communicationReference =\"" +
         reference + "\" />\n</FDT>";
}

constexpr char kTransactionHead[] =
    "<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n";

std::string DataExchangeText(unsigned command, const std::string& reference, const std::string& hex) {
  const std::string body = hex.empty() ? " " : "<fdt:CommunicationData byteArray=\"" + hex + "\" />\n";
  return std::string(kTransactionHead) + "<DataExchangeRequest commandNumber=\"" + std::to_string(command) +
         "\" communicationReference=\"" + reference + "\">\n" + body + "\n</DataExchangeRequest>\n</FDT>";
}

std::string SubscribeText(const char* element, const std::string& reference) {
  return std::string(kTransactionHead) + "<" + element + " communicationReference=\"" + reference + "\" />\n</FDT>";
}

std::string AbortText(const std::string& reference) {
  return "<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\">\n<Abort communicationReference=\"" + reference +
         "\" />\n</FDT>";
}

// ---- The DTM's side ----

class Sink : public vkr::Implements<IFdtCommunicationEvents, IFdtCommunicationEvents2> {
 public:
  struct Event {
    std::string method, invokeId, document, version;
  };
  std::vector<Event> events;
  bool offerVersion2 = true;
  std::function<void()> onEvent;
  HANDLE signal = CreateEventW(nullptr, FALSE, FALSE, nullptr);

  ~Sink() override { CloseHandle(signal); }

  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

  HRESULT OnAbort(BSTR reference) override { return Note("OnAbort", nullptr, reference, nullptr); }
  HRESULT OnConnectResponse(BSTR id, BSTR doc) override { return Note("OnConnectResponse", id, doc, nullptr); }
  HRESULT OnDisconnectResponse(BSTR id, BSTR doc) override { return Note("OnDisconnectResponse", id, doc, nullptr); }
  HRESULT OnTransactionResponse(BSTR id, BSTR doc) override { return Note("OnTransactionResponse", id, doc, nullptr); }
  HRESULT OnParentVersion(BSTR id, BSTR version, BSTR doc) override { return Note("OnParentVersion", id, doc, version); }

 protected:
  void* FindInterface(REFIID riid) override {
    if (riid == IFdtCommunicationEvents2::iid && !offerVersion2) return nullptr;
    return Implements::FindInterface(riid);
  }

 private:
  HRESULT Note(const char* method, BSTR id, BSTR doc, BSTR version) {
    auto text = [](BSTR s) { return vkr::Utf16ToUtf8(vkr::View(s)); };
    events.push_back({method, text(id), text(doc), text(version)});
    SetEvent(signal);
    if (onEvent) onEvent();
    return S_OK;
  }
};

class FrameChannelTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(vkr::MakeObject<FrameChannel>(&channel), S_OK);
    ASSERT_EQ(vkr::MakeObject<Sink>(&sink), S_OK);
    ASSERT_EQ(vkr::frame::CreateFrameSchemaCache(&schemas), S_OK);
  }
  void TearDown() override {
    channel = nullptr;
    sink = nullptr;
    schemas = nullptr;
    vkr::test::DrainQueue();
    CoUninitialize();
  }

  // Pumps the thread's messages until the sink has `count` events; false after the time-out.
  bool WaitForEvents(std::size_t count, DWORD milliseconds = 5000) {
    while (sink->events.size() < count)
      if (!vkr::test::PumpUntilSignalled(sink->signal, milliseconds)) return false;
    return true;
  }
  // Pumps a while and says whether nothing more came.
  bool NothingMore(DWORD milliseconds = 50) {
    const std::size_t before = sink->events.size();
    vkr::test::PumpUntilSignalled(sink->signal, milliseconds);
    return sink->events.size() == before;
  }

  VARIANT_BOOL Connect(const std::string& document, HRESULT expect = S_OK) {
    vkr::Bstr id(vkr::Utf8ToUtf16(kInvoke)), protocol(kHart), doc(vkr::Utf8ToUtf16(document));
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_EQ(channel->ConnectRequest(sink.Get(), id.Get(), protocol.Get(), doc.Get(), &result), expect);
    return result;
  }
  VARIANT_BOOL Disconnect(const std::string& document) {
    vkr::Bstr id(vkr::Utf8ToUtf16(kInvoke)), doc(vkr::Utf8ToUtf16(document));
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_EQ(channel->DisconnectRequest(id.Get(), doc.Get(), &result), S_OK);
    return result;
  }
  VARIANT_BOOL Transact(const std::string& document, HRESULT expect = S_OK) {
    vkr::Bstr id(vkr::Utf8ToUtf16(kInvoke)), doc(vkr::Utf8ToUtf16(document));
    VARIANT_BOOL result = VARIANT_TRUE;
    EXPECT_EQ(channel->TransactionRequest(id.Get(), doc.Get(), &result), expect);
    return result;
  }

  // Connects to the polling address 0 and returns the reference the answer carries.
  std::string Open() {
    const std::size_t before = sink->events.size();
    EXPECT_EQ(Connect(ConnectText({})), VARIANT_TRUE);
    if (!WaitForEvents(before + 1)) return "";
    return Read(sink->events.back().document, u"FDT/ConnectResponse/@communicationReference");
  }

  // The text a path selects in a document loaded with the schema set; "<invalid: reason>" when the
  // document does not validate, "<none>" when nothing is selected.
  std::string Read(const std::string& document, const char16_t* path) {
    vkr::ComPtr<IXMLDOMDocument2> doc;
    std::string reason;
    vkr::Bstr text(vkr::Utf8ToUtf16(document));
    if (vkr::frame::LoadWithSchemaCache(text.Get(), schemas.Get(), &doc, &reason) != S_OK)
      return "<invalid: " + reason + ">";
    vkr::ComPtr<IXMLDOMNode> node;
    vkr::Bstr query(path), value;
    if (FAILED(doc->selectSingleNode(query.Get(), node.Put())) || !node) return "<none>";
    node->get_text(value.Put());
    return vkr::Utf16ToUtf8(vkr::View(value.Get()));
  }
  bool Valid(const std::string& document) { return Read(document, u"FDT").rfind("<invalid", 0) != 0; }

  vkr::ComPtr<vkr::ComObject<FrameChannel>> channel;
  vkr::ComPtr<vkr::ComObject<Sink>> sink;
  vkr::ComPtr<IXMLDOMSchemaCollection> schemas;
};

TEST_F(FrameChannelTest, ConnectIsAnsweredLaterOnTheFramesThreadWithAValidResponse) {
  EXPECT_EQ(Connect(ConnectText({})), VARIANT_TRUE);
  // Not inside the call: the answer waits in the queue for the caller's message loop.
  EXPECT_TRUE(sink->events.empty());
  EXPECT_EQ(channel->PendingAnswers(), 1u);
  ASSERT_TRUE(WaitForEvents(1));
  const auto& e = sink->events[0];
  EXPECT_EQ(e.method, "OnConnectResponse");
  EXPECT_EQ(e.invokeId, kInvoke);
  ASSERT_TRUE(Valid(e.document)) << e.document;
  EXPECT_EQ(Read(e.document, u"FDT/ConnectResponse/@fdt:tag"), "LT-101");
  EXPECT_EQ(Read(e.document, u"FDT/ConnectResponse/@preambleCount"), "5");
  EXPECT_EQ(Read(e.document, u"FDT/ConnectResponse/@primaryMaster"), "1");
  EXPECT_EQ(Read(e.document, u"FDT/ConnectResponse/ShortAddress/@shortAddress"), "0");
  EXPECT_EQ(Read(e.document, u"FDT/ConnectResponse/LongAddress/@manufacturerId"), "96");
  EXPECT_EQ(Read(e.document, u"FDT/ConnectResponse/LongAddress/@deviceTypeId"), "230");
  EXPECT_EQ(Read(e.document, u"FDT/ConnectResponse/LongAddress/@address3"), "69");
  const std::string reference = Read(e.document, u"FDT/ConnectResponse/@communicationReference");
  EXPECT_EQ(reference.size(), 36u) << reference;
  EXPECT_EQ(channel->References(), std::vector<std::string>{reference});
  EXPECT_EQ(channel->PendingAnswers(), 0u);
  EXPECT_TRUE(channel->failures.empty());
  ASSERT_EQ(channel->calls.size(), 1u);
  EXPECT_EQ(channel->calls[0].method, "ConnectRequest");
  EXPECT_EQ(channel->calls[0].document, ConnectText({}));
  // Each connection gets its own reference.
  EXPECT_NE(Open(), reference);
  EXPECT_EQ(channel->ConnectionCount(), 2u);
}

TEST_F(FrameChannelTest, ConnectPicksTheDeviceByLongAddressFirstThenByPollingAddress) {
  auto second = std::make_shared<vkr::frame::SimulatedDevice>();
  second->config.pollingAddress = 5;
  second->config.deviceId = {0x00, 0x00, 0x07};
  channel->devices.push_back(second);
  struct Case {
    ConnectFields fields;
    const char* shortAddressAnswered;  // "" for a noConnection error
  };
  ConnectFields byPolling;
  byPolling.shortAddress = 5;
  ConnectFields byLong;
  byLong.longAddress = "96 230 0 0 7";  // the second device, whatever the polling address says
  ConnectFields nobody;
  nobody.shortAddress = 9;
  ConnectFields wrongLong;
  wrongLong.longAddress = "96 230 0 0 8";  // the long address wins: no fallback to polling address 0
  ConnectFields full;
  full.preambleCount = "10";
  full.primaryMaster = "0";
  full.longFrameRequired = "1";
  full.systemTag = "{A1B2}";
  full.longAddress = "96 230 1 35 69";
  full.tag = "T &amp; &lt;1&gt;";
  const Case cases[] = {{byPolling, "5"}, {byLong, "5"}, {nobody, ""}, {wrongLong, ""}, {full, "0"}};
  for (const Case& c : cases) {
    const std::string request = ConnectText(c.fields);
    sink->events.clear();
    EXPECT_EQ(Connect(request), VARIANT_TRUE) << request;
    ASSERT_TRUE(WaitForEvents(1)) << request;
    const std::string& answer = sink->events[0].document;
    ASSERT_TRUE(Valid(answer)) << answer;
    if (*c.shortAddressAnswered) {
      EXPECT_EQ(Read(answer, u"FDT/ConnectResponse/ShortAddress/@shortAddress"), c.shortAddressAnswered) << request;
    } else {
      EXPECT_EQ(Read(answer, u"FDT/fdt:CommunicationError/@communicationError"), "noConnection") << request;
      EXPECT_EQ(Read(answer, u"FDT/fdt:CommunicationError/@tag"), c.fields.tag) << request;
    }
  }
  // The fully specified request: its preamble count and primary master come back, the tag escaped.
  const std::string& answer = sink->events[0].document;
  EXPECT_EQ(Read(answer, u"FDT/ConnectResponse/@preambleCount"), "10");
  EXPECT_EQ(Read(answer, u"FDT/ConnectResponse/@primaryMaster"), "0");
  EXPECT_EQ(Read(answer, u"FDT/ConnectResponse/@fdt:tag"), "T & <1>");
  EXPECT_EQ(channel->ConnectionCount(), 3u);
}

TEST_F(FrameChannelTest, TransactionsRunTheDeviceAndAnswerWithItsBytesAndStatus) {
  const std::string ref = Open();
  ASSERT_FALSE(ref.empty());
  sink->events.clear();
  struct Case {
    unsigned command;
    const char* request;
    const char* data;  // "<none>" when the answer has no data element
    const char* commandResponse;
    const char* deviceStatus;
  };
  const Case cases[] = {
      {1, "", "2D40200000", "0", "0"},
      {44, "2C", "2C", "0", "64"},  // a write: configuration changed from now on
      {1, "", "2C41033BCD", "0", "64"},  // the PV now in feet: 2.5 m is 8.202 ft
      {7, "", "0001", "0", "64"},
      {41, "", "<none>", "0", "64"},
      {131, "00350001", "0320", "0", "64"},
      {34, "3F80", "<none>", "5", "64"},
      {200, "", "<none>", "64", "64"},
  };
  for (const Case& c : cases) {
    const std::string request = DataExchangeText(c.command, ref, c.request);
    sink->events.clear();
    EXPECT_EQ(Transact(request), VARIANT_TRUE) << request;
    ASSERT_TRUE(WaitForEvents(1)) << request;
    const auto& e = sink->events[0];
    EXPECT_EQ(e.method, "OnTransactionResponse");
    EXPECT_EQ(e.invokeId, kInvoke);
    ASSERT_TRUE(Valid(e.document)) << e.document;
    EXPECT_EQ(Read(e.document, u"FDT/DataExchangeResponse/@communicationReference"), ref);
    EXPECT_EQ(Read(e.document, u"FDT/DataExchangeResponse/@commandNumber"), std::to_string(c.command));
    EXPECT_EQ(Read(e.document, u"FDT/DataExchangeResponse/fdt:CommunicationData/@byteArray"), c.data) << request;
    EXPECT_EQ(Read(e.document, u"FDT/DataExchangeResponse/Status/CommandResponse/@value"), c.commandResponse)
        << request;
    EXPECT_EQ(Read(e.document, u"FDT/DataExchangeResponse/Status/@deviceStatus"), c.deviceStatus) << request;
    EXPECT_EQ(Read(e.document, u"FDT/DataExchangeResponse/Status/CommunicationStatus"), "<none>") << request;
  }
  // The device saw exactly the bytes the documents carried.
  const auto& received = channel->devices[0]->received;
  ASSERT_EQ(received.size(), std::size(cases));
  EXPECT_EQ(received[1].command, 44);
  EXPECT_EQ(received[1].request, vkr::frame::Bytes{0x2C});
  EXPECT_TRUE(received[0].request.empty());

  // A device that keeps silent: the channel reports the master's time-out.
  sink->events.clear();
  Transact(DataExchangeText(21, ref, std::string(64, '0')));
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/fdt:CommunicationError/@communicationError"), "timeout");

  // Lower-case hex is a frame's choice too; the device's communication status shows when set.
  channel->lowerCaseHex = true;
  vkr::frame::CommandFault parity;
  parity.communicationStatus = 0x88;
  channel->devices[0]->InjectFault(parity);
  sink->events.clear();
  Transact(DataExchangeText(12, ref, ""));
  Transact(DataExchangeText(16, ref, ""));
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/DataExchangeResponse/Status/CommunicationStatus/@value"), "136");
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/DataExchangeResponse/fdt:CommunicationData"), "<none>");
  EXPECT_EQ(Read(sink->events[1].document, u"FDT/DataExchangeResponse/fdt:CommunicationData/@byteArray"), "00002a");
}

// The loop configuration and the two status flags as a HART 7 transmitter keeps them, for masters
// of either revision: command 6 with and without the loop-current mode, command 38 with and without
// the counter, command 48 read only or with the status bytes that acknowledge it.
TEST_F(FrameChannelTest, LoopConfigurationAndStatusFlagsFollowTheHartCommands) {
  const std::string ref = Open();
  ASSERT_FALSE(ref.empty());
  vkr::frame::SimulatedDevice& device = *channel->devices[0];
  const std::string zeros23(46, '0');
  const std::string fault = "02" + zeros23;  // one device-specific status bit
  // As answered: byte 6 is the extended device status, "maintenance required" for the fault.
  const std::string answered = "020000000000" "01" + std::string(34, '0');
  struct Case {
    int statusByte0;  // set before the request when not -1
    unsigned command;
    std::string request;
    const char* data;
    const char* commandResponse;
    const char* deviceStatus;
  };
  const Case cases[] = {
      {-1, 6, "0002", "<none>", "12", "0"},  // loop-current mode 2 does not exist
      {-1, 6, "4001", "<none>", "2", "0"},   // polling address 64 does not either
      {-1, 6, "05", "0500", "0", "72"},      // a HART 5 master: multidrop parks the current (fixed)
      {-1, 7, "", "0500", "0", "72"},
      {-1, 6, "00", "0001", "0", "64"},      // address 0 drives the loop current again
      {-1, 38, "", "0002", "0", "0"},        // no counter: reset, and the counter comes back
      {-1, 44, "2D", "2D", "0", "64"},
      {-1, 38, "0003", "0003", "0", "0"},
      {2, 48, "", answered.c_str(), "0", "16"},           // the status changed: more status available
      {-1, 48, "", answered.c_str(), "0", "16"},          // reading alone acknowledges nothing
      {-1, 48, "03" + zeros23, answered.c_str(), "14", "16"},  // other bytes: a mismatch warning
      {-1, 48, fault, answered.c_str(), "14", "16"},      // the bytes without the extended status
      {-1, 48, "02", "<none>", "5", "16"},
      {-1, 48, answered, answered.c_str(), "0", "0"},     // the bytes read back: acknowledged
      {-1, 1, "", "2D40200000", "0", "0"},
      {0, 1, "", "2D40200000", "0", "16"},   // any change after that raises it again
      {2, 1, "", "2D40200000", "0", "0"},    // and the status it was acknowledged at lowers it
  };
  for (const Case& c : cases) {
    if (c.statusByte0 >= 0) device.config.additionalStatus[0] = static_cast<std::uint8_t>(c.statusByte0);
    const std::string request = DataExchangeText(c.command, ref, c.request);
    sink->events.clear();
    EXPECT_EQ(Transact(request), VARIANT_TRUE) << request;
    ASSERT_TRUE(WaitForEvents(1)) << request;
    const std::string& answer = sink->events[0].document;
    ASSERT_TRUE(Valid(answer)) << answer;
    EXPECT_EQ(Read(answer, u"FDT/DataExchangeResponse/fdt:CommunicationData/@byteArray"), c.data) << request;
    EXPECT_EQ(Read(answer, u"FDT/DataExchangeResponse/Status/CommandResponse/@value"), c.commandResponse) << request;
    EXPECT_EQ(Read(answer, u"FDT/DataExchangeResponse/Status/@deviceStatus"), c.deviceStatus) << request;
  }
  EXPECT_EQ(device.config.pollingAddress, 0);
  EXPECT_EQ(device.config.loopCurrentMode, 1);
}

TEST_F(FrameChannelTest, SubscribeAndUnsubscribeAreAnsweredWithoutBurstMode) {
  const std::string ref = Open();
  sink->events.clear();
  EXPECT_EQ(Transact(SubscribeText("SubscribeRequest", ref)), VARIANT_TRUE);
  EXPECT_EQ(Transact(SubscribeText("UnsubscribeRequest", ref)), VARIANT_TRUE);
  ASSERT_TRUE(WaitForEvents(2));
  ASSERT_TRUE(Valid(sink->events[0].document)) << sink->events[0].document;
  ASSERT_TRUE(Valid(sink->events[1].document)) << sink->events[1].document;
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/SubscribeResponse/@burstModeDetected"), "0");
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/SubscribeResponse/@communicationReference"), ref);
  EXPECT_EQ(Read(sink->events[1].document, u"FDT/UnsubscribeResponse/@communicationReference"), ref);
  EXPECT_EQ(Read(sink->events[1].document, u"FDT/UnsubscribeResponse/@communicationError"), "<none>");
}

TEST_F(FrameChannelTest, DisconnectEndsTheConnectionAndLaterRequestsOnItAreRefused) {
  const std::string ref = Open();
  sink->events.clear();
  EXPECT_EQ(Disconnect(DisconnectText(ref)), VARIANT_TRUE);
  EXPECT_EQ(channel->ConnectionCount(), 0u);
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(sink->events[0].method, "OnDisconnectResponse");
  ASSERT_TRUE(Valid(sink->events[0].document)) << sink->events[0].document;
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/DisconnectResponse/@communicationReference"), ref);
  // The reference is gone: refused, recorded, not answered.
  EXPECT_EQ(Disconnect(DisconnectText(ref)), VARIANT_FALSE);
  EXPECT_EQ(Transact(DataExchangeText(1, ref, "")), VARIANT_FALSE);
  EXPECT_TRUE(NothingMore());
  ASSERT_EQ(channel->failures.size(), 2u);
  EXPECT_NE(channel->failures[1].find("unknown communication reference"), std::string::npos) << channel->failures[1];
}

TEST_F(FrameChannelTest, RequestsThatDoNotValidateAreRefusedAndRecorded) {
  const std::string ref = Open();
  sink->events.clear();
  const std::string head = kTransactionHead;
  const std::string bad[] = {
      head + "<DataExchangeRequest commandNumber=\"256\" communicationReference=\"" + ref +
          "\">\n \n</DataExchangeRequest>\n</FDT>",
      head + "<DataExchangeRequest communicationReference=\"" + ref + "\">\n \n</DataExchangeRequest>\n</FDT>",
      DataExchangeText(1, ref, "0G"),
      DataExchangeText(1, ref, "ABC"),
      head + "<DataExchangeRequest commandNumber=\"1\" communicationReference=\"" + ref +
          "\" burst=\"1\">\n \n</DataExchangeRequest>\n</FDT>",
      head + "<ConnectResponse/></FDT>",
      head + "<SubscribeRequest communicationReference=\"" + ref + "\" /><SubscribeRequest communicationReference=\"" +
          ref + "\" />\n</FDT>",
      "<FDT xmlns=\"x-schema:FDTHARTCommunicationSchemaX.xml\"><SubscribeRequest communicationReference=\"" + ref +
          "\"/></FDT>",
      head + "<DataExchangeRequest commandNumber=\"1\"",
      "",
  };
  for (const std::string& request : bad) {
    const std::size_t failures = channel->failures.size();
    EXPECT_EQ(Transact(request), VARIANT_FALSE) << request;
    ASSERT_EQ(channel->failures.size(), failures + 1) << request;
    EXPECT_NE(channel->failures.back().find("TransactionRequest: invalid document"), std::string::npos)
        << channel->failures.back();
  }
  ConnectFields noTag;
  noTag.tag = "X\" fdt:tag=\"Y";  // a tag given twice is not well-formed
  EXPECT_EQ(Connect(ConnectText(noTag)), VARIANT_FALSE);
  std::string missingShort = ConnectText({});
  missingShort.replace(missingShort.find("<ShortAddress"), std::string("<ShortAddress shortAddress=\"0\" />").size(), "");
  EXPECT_EQ(Connect(missingShort), VARIANT_FALSE);
  std::string disconnect = DisconnectText(ref);
  disconnect.replace(disconnect.find("communicationReference ="), 22, "reference");
  EXPECT_EQ(Disconnect(disconnect), VARIANT_FALSE);
  vkr::Bstr abort(vkr::Utf8ToUtf16("<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\"><Abort/></FDT>"));
  EXPECT_EQ(channel->Abort(abort.Get()), E_INVALIDARG);
  EXPECT_TRUE(NothingMore());
  EXPECT_EQ(channel->ConnectionCount(), 1u);
  EXPECT_EQ(channel->devices[0]->received.size(), 0u);
}

TEST_F(FrameChannelTest, ArgumentsAndProtocolAreChecked) {
  vkr::Bstr id(vkr::Utf8ToUtf16(kInvoke)), doc(vkr::Utf8ToUtf16(ConnectText({})));
  VARIANT_BOOL result = VARIANT_TRUE;
  vkr::Bstr profibus(u"036D1499-387B-11D4-86E1-00E0987270B9"), lower(u"036d1498-387b-11d4-86e1-00e0987270b9");
  EXPECT_EQ(channel->ConnectRequest(sink.Get(), id.Get(), profibus.Get(), doc.Get(), &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_NE(channel->failures.back().find("not HART"), std::string::npos);
  EXPECT_EQ(channel->ConnectRequest(sink.Get(), id.Get(), lower.Get(), doc.Get(), &result), S_OK);
  EXPECT_EQ(result, VARIANT_TRUE);
  EXPECT_EQ(channel->ConnectRequest(nullptr, id.Get(), lower.Get(), doc.Get(), &result), E_INVALIDARG);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(channel->ConnectRequest(sink.Get(), id.Get(), lower.Get(), doc.Get(), nullptr), E_POINTER);
  EXPECT_EQ(channel->TransactionRequest(id.Get(), doc.Get(), nullptr), E_POINTER);
  EXPECT_EQ(channel->DisconnectRequest(id.Get(), nullptr, &result), S_OK);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(channel->SequenceBegin(id.Get(), doc.Get(), &result), E_NOTIMPL);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(channel->GetSupportedProtocols(nullptr), E_POINTER);
  EXPECT_EQ(channel->AbortConnection("no such reference"), E_INVALIDARG);
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_TRUE(NothingMore());
}

TEST_F(FrameChannelTest, SupportedProtocolsNameTheHartBusCategory) {
  vkr::Bstr protocols;
  ASSERT_EQ(channel->GetSupportedProtocols(protocols.Put()), S_OK);
  const std::string doc = vkr::Utf16ToUtf8(vkr::View(protocols.Get()));
  ASSERT_TRUE(Valid(doc)) << doc;
  EXPECT_EQ(Read(doc, u"FDT/fdt:BusCategories/fdt:BusCategory/@busCategory"), "036D1498-387B-11D4-86E1-00E0987270B9");
  channel->busCategories = {};
  ASSERT_EQ(channel->GetSupportedProtocols(protocols.Put()), S_OK);
  EXPECT_EQ(Read(vkr::Utf16ToUtf8(vkr::View(protocols.Get())), u"FDT/fdt:BusCategories/fdt:BusCategory"), "<none>");
  channel->supportedProtocolsResult = E_UNEXPECTED;
  EXPECT_EQ(channel->GetSupportedProtocols(protocols.Put()), E_UNEXPECTED);
  EXPECT_EQ(protocols.Get(), nullptr);
}

TEST_F(FrameChannelTest, AnFdt121FrameAnswersConnectsThroughParentVersion) {
  channel->fdt121 = true;
  Open();
  ASSERT_EQ(sink->events.size(), 1u);
  const auto& e = sink->events[0];
  EXPECT_EQ(e.method, "OnParentVersion");
  EXPECT_EQ(e.invokeId, kInvoke);
  ASSERT_TRUE(Valid(e.version)) << e.version;
  EXPECT_EQ(Read(e.version, u"FDT/ParentVersion/fdtvers:FDTVersion/@release"), "1");
  EXPECT_EQ(Read(e.document, u"FDT/ConnectResponse/@fdt:tag"), "LT-101");
  // A connection without the second events interface gets the plain answer.
  sink->offerVersion2 = false;
  sink->events.clear();
  Open();
  ASSERT_EQ(sink->events.size(), 1u);
  EXPECT_EQ(sink->events[0].method, "OnConnectResponse");
}

TEST_F(FrameChannelTest, EveryInjectedFaultShowsAsTheDtmWouldSeeIt) {
  const std::string ref = Open();
  ASSERT_FALSE(ref.empty());
  struct Case {
    Fault fault;
    VARIANT_BOOL result;
    HRESULT hr;
    int answers;  // how many answers arrive
    std::function<void(const Sink::Event&)> check;
  };
  auto fault = [](FaultKind kind) {
    Fault f;
    f.kind = kind;
    return f;
  };
  Fault busy = fault(FaultKind::CommunicationError);
  busy.descriptor = "channel busy";
  Fault timeout = fault(FaultKind::CommunicationError);
  timeout.word = "timeout";
  Fault failing = fault(FaultKind::Fail);
  failing.result = RPC_E_DISCONNECTED;
  Fault truncated = fault(FaultKind::TruncatedData);
  truncated.keepBytes = 2;
  const std::string wellFormed = "<invalid";
  const Case cases[] = {
      {fault(FaultKind::NoAnswer), VARIANT_TRUE, S_OK, 0, nullptr},
      {fault(FaultKind::Refuse), VARIANT_FALSE, S_OK, 0, nullptr},
      {failing, VARIANT_FALSE, RPC_E_DISCONNECTED, 0, nullptr},
      {busy, VARIANT_TRUE, S_OK, 1,
       [&](const Sink::Event& e) {
         EXPECT_EQ(Read(e.document, u"FDT/fdt:CommunicationError/@communicationError"), "busy");
         EXPECT_EQ(Read(e.document, u"FDT/fdt:CommunicationError/@tag"), "LT-101");
         EXPECT_EQ(Read(e.document, u"FDT/fdt:CommunicationError/@descriptor"), "channel busy");
       }},
      {timeout, VARIANT_TRUE, S_OK, 1,
       [&](const Sink::Event& e) {
         EXPECT_EQ(Read(e.document, u"FDT/fdt:CommunicationError/@communicationError"), "timeout");
         EXPECT_EQ(Read(e.document, u"FDT/fdt:CommunicationError/@descriptor"), "<none>");
       }},
      {fault(FaultKind::WrongReference), VARIANT_TRUE, S_OK, 1,
       [&](const Sink::Event& e) {
         const std::string other = Read(e.document, u"FDT/DataExchangeResponse/@communicationReference");
         EXPECT_NE(other, ref);
         EXPECT_EQ(other.size(), 36u);
       }},
      {fault(FaultKind::WrongInvokeId), VARIANT_TRUE, S_OK, 1,
       [&](const Sink::Event& e) {
         EXPECT_NE(e.invokeId, kInvoke);
         EXPECT_EQ(e.invokeId.size(), 36u);
       }},
      {fault(FaultKind::ShortInvokeId), VARIANT_TRUE, S_OK, 1,
       [&](const Sink::Event& e) { EXPECT_EQ(e.invokeId, std::string(kInvoke).substr(0, 35)); }},
      {fault(FaultKind::MalformedDocument), VARIANT_TRUE, S_OK, 1,
       [&](const Sink::Event& e) { EXPECT_EQ(Read(e.document, u"FDT").rfind("<invalid", 0), 0u) << e.document; }},
      {fault(FaultKind::GarbledData), VARIANT_TRUE, S_OK, 1,
       [&](const Sink::Event& e) { EXPECT_NE(e.document.find("byteArray=\"2Z40200000\""), std::string::npos); }},
      {truncated, VARIANT_TRUE, S_OK, 1,
       [&](const Sink::Event& e) {
         EXPECT_EQ(Read(e.document, u"FDT/DataExchangeResponse/fdt:CommunicationData/@byteArray"), "2D40");
       }},
      {fault(FaultKind::TwoAnswers), VARIANT_TRUE, S_OK, 2,
       [&](const Sink::Event& e) { EXPECT_EQ(e.method, "OnTransactionResponse"); }},
      {fault(FaultKind::Busy), VARIANT_TRUE, S_OK, 1,
       [&](const Sink::Event& e) {
         EXPECT_EQ(Read(e.document, u"FDT/DataExchangeResponse/Status/CommandResponse/@value"), "32");
         EXPECT_EQ(Read(e.document, u"FDT/DataExchangeResponse/fdt:CommunicationData"), "<none>");
       }},
  };
  for (const Case& c : cases) {
    const int kind = static_cast<int>(c.fault.kind);
    sink->events.clear();
    channel->faults.push_back(c.fault);
    EXPECT_EQ(Transact(DataExchangeText(1, ref, ""), c.hr), c.result) << "fault " << kind;
    if (c.answers > 0) {
      ASSERT_TRUE(WaitForEvents(static_cast<std::size_t>(c.answers))) << "fault " << kind;
    }
    EXPECT_TRUE(NothingMore()) << "fault " << kind;
    ASSERT_EQ(sink->events.size(), static_cast<std::size_t>(c.answers)) << "fault " << kind;
    for (const auto& e : sink->events) c.check(e);
    EXPECT_TRUE(channel->faults.empty()) << "fault " << kind;
  }
  // The connection survived all of them.
  EXPECT_EQ(channel->References(), std::vector<std::string>{ref});
}

TEST_F(FrameChannelTest, ALostLinkEndsTheConnectionSilentlyAndBusyOrAbortCanAnswerConnectAndDisconnect) {
  // The link goes: the request gets "noConnection", the frame forgets the connection without an
  // abort, and what comes later on it is refused.
  std::string ref = Open();
  sink->events.clear();
  Fault lost;
  lost.kind = FaultKind::Disconnect;
  channel->faults.push_back(lost);
  const std::size_t received = channel->devices[0]->received.size();
  EXPECT_EQ(Transact(DataExchangeText(1, ref, "")), VARIANT_TRUE);
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/fdt:CommunicationError/@communicationError"), "noConnection");
  EXPECT_EQ(channel->ConnectionCount(), 0u);
  EXPECT_EQ(channel->devices[0]->received.size(), received);
  EXPECT_EQ(Transact(DataExchangeText(1, ref, "")), VARIANT_FALSE);
  EXPECT_EQ(Disconnect(DisconnectText(ref)), VARIANT_FALSE);
  EXPECT_TRUE(NothingMore());

  // Busy, and a lost link, answer a connect with their errors and make no connection.
  sink->events.clear();
  for (FaultKind kind : {FaultKind::Busy, FaultKind::Disconnect}) {
    Fault f;
    f.kind = kind;
    channel->faults.push_back(f);
  }
  EXPECT_EQ(Connect(ConnectText({})), VARIANT_TRUE);
  EXPECT_EQ(Connect(ConnectText({})), VARIANT_TRUE);
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/fdt:CommunicationError/@communicationError"), "busy");
  EXPECT_EQ(Read(sink->events[1].document, u"FDT/fdt:CommunicationError/@communicationError"), "noConnection");
  EXPECT_EQ(channel->ConnectionCount(), 0u);

  // A busy frame keeps the connection through a disconnect; an abort can come instead of the answer.
  ref = Open();
  sink->events.clear();
  Fault busy;
  busy.kind = FaultKind::Busy;
  channel->faults.push_back(busy);
  EXPECT_EQ(Disconnect(DisconnectText(ref)), VARIANT_TRUE);
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/fdt:CommunicationError/@communicationError"), "busy");
  EXPECT_EQ(channel->ConnectionCount(), 1u);
  Fault aborted;
  aborted.kind = FaultKind::Abort;
  channel->faults.push_back(aborted);
  EXPECT_EQ(Disconnect(DisconnectText(ref)), VARIANT_TRUE);
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(sink->events[1].method, "OnAbort");
  EXPECT_EQ(sink->events[1].document, ref);
  EXPECT_EQ(channel->ConnectionCount(), 0u);
  EXPECT_TRUE(NothingMore());
}

TEST_F(FrameChannelTest, FaultsAimedAtACommandWaitForItAndAGlobalFaultHitsEveryRequest) {
  const std::string ref = Open();
  Fault busy13;
  busy13.kind = FaultKind::CommunicationError;
  busy13.command = 13;
  channel->faults.push_back(busy13);
  sink->events.clear();
  Transact(DataExchangeText(12, ref, ""));
  Transact(DataExchangeText(13, ref, ""));
  Transact(DataExchangeText(13, ref, ""));
  ASSERT_TRUE(WaitForEvents(3));
  EXPECT_EQ(Read(sink->events[0].document, u"FDT/fdt:CommunicationError"), "<none>");
  EXPECT_EQ(Read(sink->events[1].document, u"FDT/fdt:CommunicationError/@communicationError"), "busy");
  EXPECT_EQ(Read(sink->events[2].document, u"FDT/fdt:CommunicationError"), "<none>");
  // A channel error keeps the request from the device.
  EXPECT_EQ(channel->devices[0]->received.size(), 2u);

  channel->alwaysFault.kind = FaultKind::Refuse;
  EXPECT_EQ(Transact(DataExchangeText(1, ref, "")), VARIANT_FALSE);
  EXPECT_EQ(Disconnect(DisconnectText(ref)), VARIANT_FALSE);
  EXPECT_EQ(Connect(ConnectText({})), VARIANT_FALSE);
  channel->alwaysFault = Fault{};
  EXPECT_EQ(Disconnect(DisconnectText(ref)), VARIANT_TRUE);
}

TEST_F(FrameChannelTest, AbortsFromEitherSideEndTheConnection) {
  std::string ref = Open();
  // The DTM aborts: the connection ends and nothing is answered on it.
  vkr::Bstr abort(vkr::Utf8ToUtf16(AbortText(ref)));
  EXPECT_EQ(channel->Abort(abort.Get()), S_OK);
  EXPECT_EQ(channel->ConnectionCount(), 0u);
  EXPECT_EQ(channel->Abort(abort.Get()), E_INVALIDARG);
  EXPECT_TRUE(NothingMore());

  // The frame aborts, here as the answer to a transaction: OnAbort with the reference, once.
  ref = Open();
  sink->events.clear();
  Fault lost;
  lost.kind = FaultKind::Abort;
  channel->faults.push_back(lost);
  EXPECT_EQ(Transact(DataExchangeText(1, ref, "")), VARIANT_TRUE);
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(sink->events[0].method, "OnAbort");
  EXPECT_EQ(sink->events[0].document, ref);
  EXPECT_EQ(channel->ConnectionCount(), 0u);
  EXPECT_TRUE(NothingMore());

  // An abort follows the answers already on their way.
  ref = Open();
  sink->events.clear();
  Transact(DataExchangeText(1, ref, ""));
  EXPECT_EQ(channel->AbortConnection(ref), S_OK);
  ASSERT_TRUE(WaitForEvents(2));
  EXPECT_EQ(sink->events[0].method, "OnTransactionResponse");
  EXPECT_EQ(sink->events[1].method, "OnAbort");
}

TEST_F(FrameChannelTest, ASynchronousAnswerComesInsideTheCall) {
  const std::string ref = Open();
  sink->events.clear();
  Fault now;
  now.kind = FaultKind::Synchronous;
  channel->faults.push_back(now);
  EXPECT_EQ(Transact(DataExchangeText(1, ref, "")), VARIANT_TRUE);
  ASSERT_EQ(sink->events.size(), 1u);
  EXPECT_EQ(channel->PendingAnswers(), 0u);
  EXPECT_TRUE(NothingMore());
}

TEST_F(FrameChannelTest, TheWireDelayHoldsTheAnswerBackOnTheTickClock) {
  const std::string ref = Open();
  sink->events.clear();
  vkr::test::FakeTickCount clock;
  channel->wireBitsPerSecond = 1200;
  // Command 1: 5 preambles, delimiter, 5 address bytes, command, count, checksum out (14
  // characters); back also 2 status bytes and 5 data bytes (21): 35 * 11 bits at 1200 bit/s.
  const DWORD expected = (35 * 11 * 1000 + 1199) / 1200;
  EXPECT_EQ(channel->WireTime(0, 5, true), expected);
  EXPECT_EQ(channel->WireTime(0, 22, false), (44 * 11 * 1000 + 1199) / 1200);
  Fault slower;
  slower.delayMs = 100;
  channel->faults.push_back(slower);
  Transact(DataExchangeText(1, ref, ""));
  EXPECT_TRUE(NothingMore(30));
  clock.Advance(expected + 99);
  EXPECT_TRUE(NothingMore(30));
  clock.Advance(1);
  ASSERT_TRUE(WaitForEvents(1, 2000));
  EXPECT_EQ(sink->events[0].method, "OnTransactionResponse");
  EXPECT_EQ(channel->answers.back().tick - channel->calls.back().tick, expected + 100);
}

// The requests a DTM sends at once, and what each costs on the line at 1200 bit/s: 11 bits a
// character, 5 preambles, long frames (14 characters out for a request without data; back 5
// preambles, delimiter, 5 address bytes, command, count, 2 status bytes, the data, checksum).
struct LineRow {
  unsigned command;
  const char* data;
  FaultKind kind;
  DWORD delay;
  bool held;
  DWORD ms;  // on the wire, at 1200 bit/s
  const char* why;
};
const LineRow kLineRows[] = {
    {1, "", FaultKind::None, 0, false, 321, "14 characters out, 21 back (5 data bytes)"},
    {13, "", FaultKind::None, 0, false, 468, "14 out, 37 back (21 data bytes)"},
    {1, "", FaultKind::Silent, 0, false, 431, "14 out, then the primary master's 33 characters of waiting"},
    {34, "3F800000", FaultKind::None, 0, false, 349, "18 out, 20 back (4 data bytes each way)"},
    {1, "", FaultKind::None, 100, false, 421, "a late answer keeps the line for its delay"},
    {1, "", FaultKind::None, 0, true, 321, "a held answer leaves the line once on the wire"},
    {1, "", FaultKind::Busy, 0, false, 275, "14 out, 16 back (no data)"},
};

// Sends the rows as one burst, the first alone and the others while it is on the wire (after
// `gap` ms); the ticks each was sent at.
std::vector<DWORD> SendLineRows(FrameChannel& channel, const std::function<void(const std::string&)>& transact,
                                const std::string& reference, vkr::test::FakeTickCount& clock, DWORD gap) {
  std::vector<DWORD> sent;
  for (const LineRow& row : kLineRows) {
    Fault fault;
    fault.kind = row.kind;
    fault.delayMs = row.delay;
    fault.held = row.held;
    channel.faults.push_back(fault);
    sent.push_back(GetTickCount());
    transact(DataExchangeText(row.command, reference, row.data));
    if (sent.size() == 1) clock.Advance(gap);
  }
  return sent;
}

// A HART line is half duplex: the burst goes on the wire one request at a time, in the order sent,
// each when the answer before it is in; each answer comes when its request and answer (or the
// master's wait) have been on the wire. Judged by the channel's record of the line and the tick
// of each answer on the fake clock.
TEST_F(FrameChannelTest, TheLineCarriesOneRequestAtATimeAndEachAnswerComesAtItsWireTime) {
  const std::string ref = Open();
  vkr::test::FakeTickCount clock(7000);
  channel->wireBitsPerSecond = vkr::frame::kHartBitsPerSecond;
  channel->line.clear();
  channel->answers.clear();
  sink->events.clear();
  const std::size_t rows = std::size(kLineRows);
  const std::vector<DWORD> sent = SendLineRows(
      *channel, [&](const std::string& doc) { Transact(doc); }, ref, clock, 100);
  std::string what;
  EXPECT_TRUE(FrameChannel::AnyRequestPending(&what));
  EXPECT_EQ(what, "the answer to HART command 1");
  EXPECT_EQ(channel->PendingAnswers(), rows);
  ASSERT_EQ(channel->line.size(), rows);
  EXPECT_EQ(channel->line[0].onWire, sent[0]);
  unsigned long long total = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    SCOPED_TRACE(std::to_string(i) + ": " + kLineRows[i].why);
    const auto& use = channel->line[i];
    EXPECT_EQ(use.command, static_cast<int>(kLineRows[i].command));
    EXPECT_EQ(use.answerIn - use.onWire, kLineRows[i].ms);
    // Not before the answer before it is in, though it came while that one was on the wire.
    if (i > 0) {
      EXPECT_EQ(use.onWire, channel->line[i - 1].answerIn);
    }
    total += kLineRows[i].ms;
  }
  EXPECT_EQ(channel->LineTimeMs(), total);

  // Each answer comes at its tick, not a millisecond before; the held one waits in the channel.
  std::vector<std::string> order;
  for (std::size_t i = 0; i < rows; ++i) {
    SCOPED_TRACE(std::to_string(i) + ": " + kLineRows[i].why);
    const std::size_t before = sink->events.size();
    const DWORD due = channel->line[i].answerIn;
    clock.Advance(due - 1 - GetTickCount());
    EXPECT_TRUE(NothingMore(20));
    clock.Advance(1);
    if (kLineRows[i].held) {
      EXPECT_TRUE(NothingMore(20));
      continue;
    }
    ASSERT_TRUE(WaitForEvents(before + 1, 2000));
    EXPECT_TRUE(NothingMore(20));
    EXPECT_EQ(channel->answers.back().tick, due);
    order.push_back(Read(sink->events.back().document, u"FDT/DataExchangeResponse/@commandNumber"));
    if (kLineRows[i].kind == FaultKind::Silent) {
      EXPECT_EQ(Read(sink->events.back().document, u"FDT/fdt:CommunicationError/@communicationError"), "timeout");
    }
  }
  // The silent one's answer is the master's time-out; the busy one answers command 1 with no data.
  EXPECT_EQ(order, (std::vector<std::string>{"1", "13", "<none>", "34", "1", "1"}));
  EXPECT_EQ(channel->HeldAnswers(), 1u);
  EXPECT_TRUE(FrameChannel::AnyRequestPending(nullptr));
  // Let go, it comes at once: its time on the wire has passed.
  ASSERT_EQ(channel->ReleaseHeldAnswers(), S_OK);
  ASSERT_TRUE(WaitForEvents(rows, 2000));
  EXPECT_EQ(channel->answers.back().tick, GetTickCount());
  EXPECT_FALSE(FrameChannel::AnyRequestPending(nullptr));

  // The order holds for an answer that takes no time on the wire, asked for at the tick the
  // answer before it is due, before that one was served.
  sink->events.clear();
  Transact(DataExchangeText(1, ref, ""));
  clock.Advance(321);
  Disconnect(DisconnectText(ref));
  ASSERT_TRUE(WaitForEvents(2, 2000));
  EXPECT_EQ(sink->events[0].method, "OnTransactionResponse");
  EXPECT_EQ(sink->events[1].method, "OnDisconnectResponse");
}

// Without a wire speed there is no line to wait for: the same burst is answered at once, each
// answer after its own delay only, in the order sent but for the late one; the answers are those
// of the line.
TEST_F(FrameChannelTest, WithoutAWireSpeedTheSameRequestsAreAnsweredAtOnceWithTheSameAnswers) {
  std::vector<std::vector<std::string>> runs;
  for (const DWORD speed : {vkr::frame::kHartBitsPerSecond, DWORD{0}}) {
    SCOPED_TRACE(speed);
    ASSERT_EQ(vkr::MakeObject<FrameChannel>(&channel), S_OK);
    sink->events.clear();
    const std::string ref = Open();
    vkr::test::FakeTickCount clock(7000);
    channel->wireBitsPerSecond = speed;
    channel->line.clear();
    sink->events.clear();
    const std::vector<DWORD> sent = SendLineRows(
        *channel, [&](const std::string& doc) { Transact(doc); }, ref, clock, 0);
    if (speed == 0) {
      ASSERT_TRUE(WaitForEvents(std::size(kLineRows) - 2, 2000));
      EXPECT_TRUE(NothingMore(20));
      for (const auto& use : channel->line) EXPECT_EQ(use.onWire, sent[0]);
    }
    clock.Advance(10000);
    ASSERT_TRUE(WaitForEvents(std::size(kLineRows) - 1, 2000));
    ASSERT_EQ(channel->ReleaseHeldAnswers(), S_OK);
    ASSERT_TRUE(WaitForEvents(std::size(kLineRows), 2000));
    std::vector<std::string> documents;
    for (const auto& event : sink->events) documents.push_back(event.document);
    runs.push_back(documents);
    const std::string reference = "communicationReference=\"" + ref + "\"";
    for (std::string& doc : runs.back())
      for (std::size_t at; (at = doc.find(reference)) != std::string::npos;) doc.erase(at, reference.size());
  }
  // At no speed the late answer (the fifth) comes after those sent after it.
  std::vector<std::string> line = runs[0];
  std::rotate(line.begin() + 4, line.begin() + 5, line.begin() + 6);
  EXPECT_EQ(runs[1], line);
}

// The frame's scan polls address after address, each on the line in turn: an address nobody
// answers at costs the short command 0 (10 characters) and the master's wait (33), 395 ms at
// 1200 bit/s; the one that answers its request and the answer (34 characters back, 22 data bytes),
// 404 ms. The scan returns once the line has carried its polls.
TEST_F(FrameChannelTest, TheScanPaysEachSilentAddressTheMastersWait) {
  struct Row {
    int at;  // the transmitter's polling address, -1 none on the line
    std::optional<std::uint8_t> found;
    std::size_t polls;
  } const rows[] = {{0, 0, 1}, {9, 9, 10}, {15, 15, 16}, {-1, std::nullopt, 16}};
  vkr::test::FakeTickCount clock(7000);
  vkr::test::FakeClockDriver driver;
  channel->wireBitsPerSecond = vkr::frame::kHartBitsPerSecond;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.at);
    if (row.at < 0)
      channel->devices.clear();
    else
      channel->devices.front()->config.pollingAddress = static_cast<std::uint8_t>(row.at);
    channel->line.clear();
    const DWORD start = GetTickCount();
    EXPECT_EQ(channel->Scan(15), row.found);
    ASSERT_EQ(channel->line.size(), row.polls);
    DWORD at = start;
    for (std::size_t i = 0; i < row.polls; ++i) {
      const auto& poll = channel->line[i];
      EXPECT_TRUE(poll.scan);
      EXPECT_EQ(poll.command, 0);
      EXPECT_EQ(poll.onWire, at) << i;
      EXPECT_EQ(poll.answerIn - poll.onWire, row.found && i + 1 == row.polls ? 404u : 395u) << i;
      at = poll.answerIn;
    }
    EXPECT_GE(static_cast<LONG>(GetTickCount() - at), 0);
  }
}

TEST_F(FrameChannelTest, ASinkMayDropTheChannelWhileItIsAnsweredAndPendingAnswersDieWithIt) {
  const std::string ref = Open();
  sink->events.clear();
  // The DTM releases the channel inside the answer: the channel stays alive until it has answered.
  sink->onEvent = [&] { channel = nullptr; };
  Transact(DataExchangeText(1, ref, ""));
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(channel.Get(), nullptr);
  sink->onEvent = nullptr;

  // A channel released with answers on their way answers nothing more.
  ASSERT_EQ(vkr::MakeObject<FrameChannel>(&channel), S_OK);
  const std::string second = Open();
  sink->events.clear();
  Transact(DataExchangeText(1, second, ""));
  Transact(DataExchangeText(2, second, ""));
  EXPECT_EQ(channel->PendingAnswers(), 2u);
  channel = nullptr;
  EXPECT_TRUE(NothingMore());
}

TEST_F(FrameChannelTest, AnswersWaitWhileTheFramesThreadIsInACallToAnotherApartment) {
  const std::string ref = Open();
  sink->events.clear();
  vkr::test::ApartmentThread dtmThread;
  Transact(DataExchangeText(1, ref, ""));
  // The frame's thread waits for a call into another apartment: answers are not its calls.
  ASSERT_EQ(dtmThread.Run([]() -> HRESULT { return S_OK; }), S_OK);
  EXPECT_TRUE(sink->events.empty());
  ASSERT_TRUE(WaitForEvents(1));
  EXPECT_EQ(sink->events[0].method, "OnTransactionResponse");
}

TEST_F(FrameChannelTest, CallsFromAnotherThreadAreRefused) {
  vkr::test::ApartmentThread other;
  FrameChannel* raw = channel.Get();
  HRESULT seen = S_OK;
  ASSERT_EQ(other.Run([&]() -> HRESULT {
    vkr::Bstr protocols;
    seen = raw->GetSupportedProtocols(protocols.Put());
    return S_OK;
  }),
            S_OK);
  EXPECT_EQ(seen, RPC_E_WRONG_THREAD);
}

}  // namespace

namespace {

// The HART samples of the XML test data, with the validator the channel uses: valid ones load,
// each faulty one is refused with a reason that names what the fault is about.
TEST(FrameChannelSchemas, TheHartSamplesValidateAndTheFaultyOnesAreRefusedForTheirFault) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  {
    vkr::ComPtr<IXMLDOMSchemaCollection> schemas;
    ASSERT_EQ(vkr::frame::CreateFrameSchemaCache(&schemas), S_OK);
    const std::filesystem::path data = std::filesystem::path(vkr::frame::SchemaDirectory()) / "../../tests/data/xml";
    auto load = [&](const std::filesystem::path& file, std::string* reason) {
      std::ifstream in(file, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      vkr::Bstr doc(vkr::Utf8ToUtf16(text.str()));
      return vkr::frame::LoadWithSchemaCache(doc.Get(), schemas.Get(), nullptr, reason);
    };
    int valid = 0;
    for (const auto& entry : std::filesystem::directory_iterator(data / "valid")) {
      if (entry.path().filename().string().rfind("hart_", 0) != 0) continue;
      std::string reason;
      EXPECT_EQ(load(entry.path(), &reason), S_OK) << entry.path() << ": " << reason;
      ++valid;
    }
    EXPECT_GE(valid, 15);
    std::ifstream expected(data / "invalid/expected.tsv");
    std::string line;
    int invalid = 0;
    while (std::getline(expected, line)) {
      const auto tab = line.find('\t');
      if (line.rfind("hart_", 0) != 0 || tab == std::string::npos) continue;
      std::string reason;
      EXPECT_EQ(load(data / "invalid" / line.substr(0, tab), &reason), S_FALSE) << line;
      EXPECT_NE(reason.find(line.substr(tab + 1)), std::string::npos) << line << ": " << reason;
      ++invalid;
    }
    EXPECT_GE(invalid, 9);
  }
  CoUninitialize();
}

}  // namespace
