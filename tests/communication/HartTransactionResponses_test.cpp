// The protocol objects' reading of the frame's answers: transaction responses spread over the
// transaction group, HART status decoding into error texts, values from PDUs, and the connect and
// disconnect responses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/protocol_fixture.h"

namespace {

using vkr::test::Bytes;
using vkr::test::ProtocolTest;
using vkr::test::Text;
using vkr::test::Utf8;

// A command 3 answer: current 12.5 mA, PV unit, PV 1.5, SV unit, SV 2.0, then TV and QV.
constexpr const char* kCommand3 = "414800002D3FC000002D4000000000000000000000000000";

const char16_t* kHead =
    u"<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
    u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n";

class ResponseTest : public ProtocolTest {
 protected:
  // The packed read request of a parameter, as the connection keeps it.
  vkr::Variant ReadRecord(CovFDT_HartProtocolImpl& p, ULONG id) {
    vkr::Variant record;
    VARIANT_BOOL created = VARIANT_FALSE;
    vkr::Bstr document;
    EXPECT_EQ(p.CreateReadRequest(vkr::UI4(id), reference, VARIANT_FALSE, &created, document.Put(), &record), S_OK);
    return record;
  }
  HRESULT Parse(CovFDT_HartProtocolImpl& p, ULONG id, const std::u16string& response,
                VARIANT_BOOL distribute = VARIANT_TRUE, VARIANT* bytes = nullptr) {
    vkr::Bstr text(response);
    return p.ParseTransactionResponse(ReadRecord(p, id), text, reference, distribute, bytes);
  }
  float FloatOf(const vkr::Variant& v) { return v.vt == VT_R4 ? v.fltVal : -999.0f; }
};

TEST_F(ResponseTest, Command3AnswerReachesEveryMemberOfItsGroup) {
  ASSERT_EQ(Parse(protocol, 1049, DataExchangeResponse(kCommand3, 0x40, 0, 0)), S_OK);
  EXPECT_EQ(AnswerLines(), (std::vector<std::string>{"1031 ok", "1048 ok", "1049 ok", "1050 ok"}));
  EXPECT_EQ(FloatOf(DeviceValue(1048)), 12.5f);
  EXPECT_EQ(FloatOf(DeviceValue(1049)), 1.5f);
  EXPECT_EQ(FloatOf(DeviceValue(1050)), 2.0f);
  EXPECT_EQ(vkr::test::Hex(Bytes(DeviceValue(1031))), kCommand3);
  for (const vkr::test::DeviceAnswer& a : dtm->answers) EXPECT_TRUE(a.nullText) << a.id;
}

// The DTM thread hears of the values of one answer once, after all of them are stored (DTM
// message 9 with every id), not once before each value.
TEST_F(ResponseTest, TheValuesOfOneAnswerAreToldToTheDtmThreadInOneMessage) {
  site.Clear();
  ASSERT_EQ(Parse(protocol, 1049, DataExchangeResponse(kCommand3, 0x40, 0, 0)), S_OK);
  std::vector<std::size_t> messages;
  std::size_t lastBroadcast = 0;
  for (std::size_t i = 0; i < site.journal.size(); ++i) {
    if (site.journal[i].rfind("message 9 ", 0) == 0) messages.push_back(i);
    if (site.journal[i].rfind("broadcast ", 0) == 0) lastBroadcast = i;
  }
  ASSERT_EQ(messages.size(), 1u) << site.Joined();
  EXPECT_GT(messages.front(), lastBroadcast) << site.Joined();
  // One value alone goes as its id, as it always did.
  site.Clear();
  VARIANT value = vkr::EmptyVariant();
  value.vt = VT_R4;
  value.fltVal = 1.0f;
  dtm->HandleDevParResponse(VARIANT_TRUE, vkr::UI4(1049), value, nullptr);
  EXPECT_TRUE(site.Has("message 9 1049")) << site.Joined();
}

TEST_F(ResponseTest, WholeCommand3AnswerGoesTo1031WhateverItsLength) {
  struct Case {
    std::string data;
    std::vector<std::string> device;  // the device class
    std::vector<std::string> framework;
  } cases[] = {
      // Seven bytes: only the current fits; the device class still takes the whole answer.
      {"414800002D3FC0", {"1031 ok", "1048 ok"}, {"1048 ok"}},
      {kCommand3, {"1031 ok", "1048 ok", "1049 ok", "1050 ok"}, {"1031 ok", "1048 ok", "1049 ok", "1050 ok"}},
      {std::string(kCommand3) + "AABBCCDDEEFF", {"1031 ok", "1048 ok", "1049 ok", "1050 ok"},
       {"1031 ok", "1048 ok", "1049 ok", "1050 ok"}},
  };
  for (const Case& c : cases) {
    dtm->answers.clear();
    ASSERT_EQ(Parse(protocol, 1048, DataExchangeResponse(c.data.c_str())), S_OK) << c.data;
    EXPECT_EQ(AnswerLines(), c.device) << c.data;
    EXPECT_EQ(vkr::test::Hex(Bytes(DeviceValue(1031))), c.data);
    EXPECT_EQ(Entry(protocol, 1031)->nBitLength, 4 * c.data.size()) << c.data;
    dtm->answers.clear();
    ASSERT_EQ(Parse(hart, 1048, DataExchangeResponse(c.data.c_str())), S_OK) << c.data;
    EXPECT_EQ(AnswerLines(), c.framework) << c.data;
    EXPECT_EQ(Entry(hart, 1031)->nBitLength, 192u);
  }
}

// A command 3 answer of seven bytes holds the current only. A read of the PV, alone or for a list
// that names it, fails and tells the PV; what the answer holds is still stored, and members nobody
// asked for are only skipped. Both classes alike.
TEST_F(ResponseTest, AnAnswerTooShortForARequestedMemberTellsItAndFails) {
  const char* shortAnswer = "414800002D3FC0";
  struct Case {
    CovFDT_HartProtocolImpl* p;
    bool fromList;
    std::vector<std::string> device, framework;
  } cases[] = {
      {&protocol, false, {"1031 ok", "1048 ok", "1049 error: error distributing result!"}, {}},
      {&hart, false, {}, {"1048 ok", "1049 error: error distributing result!"}},
      {&protocol, true,
       {"1031 ok", "1048 ok", "1049 error: error distributing result!", "1050 error: error distributing result!"}, {}},
      {&hart, true, {},
       {"1031 error: error distributing result!", "1048 ok", "1049 error: error distributing result!",
        "1050 error: error distributing result!"}},
  };
  SetList(u"L", {1049, 1031, 1050});
  for (const Case& c : cases) {
    const bool device = c.p == &protocol;
    SCOPED_TRACE(std::string(device ? "device class" : "framework class") + (c.fromList ? ", list" : ", single"));
    vkr::Variant record;
    if (c.fromList) {
      vkr::Variant documents, records;
      ASSERT_EQ(c.p->CreateReadTransactions(ListId(u"L"), reference, &documents, &records), S_OK);
      LONG first = 0;
      ASSERT_EQ(SafeArrayGetElement(records.parray, &first, record.Put()), S_OK);
    } else {
      record = ReadRecord(*c.p, 1049);
    }
    dtm->answers.clear();
    SetDeviceValue(1049, vkr::Variant());
    const HRESULT hr = c.p->ParseTransactionResponse(record, vkr::Bstr(DataExchangeResponse(shortAnswer)), reference,
                                                     VARIANT_TRUE, nullptr);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(AnswerLines(), device ? c.device : c.framework);
    EXPECT_EQ(FloatOf(DeviceValue(1048)), 12.5f);
    EXPECT_EQ(DeviceValue(1049).vt, VT_EMPTY);
  }
}

TEST_F(ResponseTest, StatusBytesDecideSuccess) {
  struct Case {
    int deviceStatus, communicationStatus, commandResponse;
    HRESULT hr;
    const char* message;  // null: success
  } cases[] = {
      {0x40, 0, 0, S_OK, nullptr},
      {0x40, -1, -1, S_OK, nullptr},
      {0x40, 0, 5, E_FAIL, "error: device status = 0x40 command response = 0x05"},
      {0, 0x88, -1, E_FAIL, "error:  communication status = 0x88"},
      {0x10, 0x88, 0x20, E_FAIL, "error: device status = 0x10 communication status = 0x88 command response = 0x20"},
      // A warning is no failure: the device ran the command and answers with its data.
      {0, 0, 8, S_OK, nullptr},
      {0x40, 0, 14, S_OK, nullptr},
      {0x40, 0, 0x60, S_OK, nullptr},
      // A warning code beside a communication error is an error.
      {0, 0x88, 8, E_FAIL, "error:  communication status = 0x88 command response = 0x08"},
  };
  for (const Case& c : cases) {
    dtm->answers.clear();
    SetDeviceValue(1024, vkr::Variant());
    vkr::Variant bytes;
    const std::u16string doc = DataExchangeResponse("2D", c.deviceStatus, c.communicationStatus, c.commandResponse,
                                                    nullptr, 1);
    EXPECT_EQ(Parse(protocol, 1024, doc, VARIANT_TRUE, &bytes), c.hr) << c.deviceStatus << "/" << c.commandResponse;
    ASSERT_EQ(dtm->answers.size(), 1u) << c.commandResponse;
    if (c.message) {
      EXPECT_FALSE(dtm->answers[0].success);
      EXPECT_EQ(dtm->answers[0].text, c.message);
      EXPECT_EQ(dtm->answers[0].data.vt, VT_EMPTY);
      EXPECT_EQ(bytes.vt, VT_EMPTY);
      EXPECT_EQ(DeviceValue(1024).vt, VT_EMPTY) << "an error keeps the old value";
    } else {
      EXPECT_TRUE(dtm->answers[0].success);
      EXPECT_EQ(Bytes(bytes), (std::vector<int>{0x2D}));
      EXPECT_EQ(DeviceValue(1024).bVal, 0x2D);
    }
  }
}

TEST_F(ResponseTest, ResponseDataThatIsNotHexCannotBeDistributed) {
  for (const char* data : {"ABC", "ZZ", "2D-"}) {
    dtm->answers.clear();
    vkr::Variant bytes;
    EXPECT_EQ(Parse(protocol, 1024, DataExchangeResponse(data, 0, -1, -1, nullptr, 1), VARIANT_TRUE, &bytes),
              E_INVALIDARG)
        << data;
    EXPECT_EQ(AnswerLines(), (std::vector<std::string>{"1024 error: error distributing result!"})) << data;
  }
  // Lower-case digits are hex too.
  dtm->answers.clear();
  EXPECT_EQ(Parse(protocol, 1024, DataExchangeResponse("2d", 0, -1, -1, nullptr, 1)), S_OK);
  EXPECT_EQ(DeviceValue(1024).bVal, 0x2D);
}

TEST_F(ResponseTest, AnswersWithoutDataDistributeNothing) {
  for (const char* data : {static_cast<const char*>(nullptr), ""}) {
    // A command that only acts (41: the self test) has no field to fill.
    dtm->answers.clear();
    vkr::Variant bytes;
    EXPECT_EQ(Parse(protocol, 1034, DataExchangeResponse(data, 0, 0, 0, nullptr, 41), VARIANT_TRUE, &bytes), S_OK);
    EXPECT_TRUE(dtm->answers.empty());
    EXPECT_EQ(bytes.vt, VT_EMPTY);
    // A read that asked for a value gets no value: the parameter is told, the read fails.
    dtm->answers.clear();
    SetDeviceValue(1024, vkr::Variant());
    EXPECT_TRUE(FAILED(Parse(protocol, 1024, DataExchangeResponse(data, 0, 0, 0, nullptr, 1), VARIANT_TRUE, &bytes)));
    EXPECT_EQ(AnswerLines(), (std::vector<std::string>{"1024 error: error distributing result!"}));
    EXPECT_EQ(DeviceValue(1024).vt, VT_EMPTY);
  }
}

TEST_F(ResponseTest, CommunicationReferenceMustMatchExceptForErrors) {
  EXPECT_EQ(Parse(protocol, 1048, DataExchangeResponse(kCommand3, 0, 0, 0, "other")), E_FAIL);
  EXPECT_TRUE(dtm->answers.empty());

  struct Case {
    const char16_t* element;
    const char* message;
  } cases[] = {
      {u"<fdt:CommunicationError communicationError=\"busy\" tag=\"LT-101\" errorCode=\"16\" descriptor=\"Channel "
       u"busy\"/>",
       "busy, error code: 16, descriptor: Channel busy"},
      {u"<fdt:CommunicationError communicationError=\"timeout\" tag=\"LT-101\"/>", "timeout"},
      {u"<fdt:CommunicationError communicationError=\"abort\" tag=\"x\" descriptor=\"gone\"/>",
       "abort, descriptor: gone"},
      {u"<SubscribeResponse communicationReference=\"7F3C2D10-1A2B-4C5D-8E9F-0A1B2C3D4E5F\" "
       u"burstModeDetected=\"1\"/>",
       "unknown response type"},
      {u"<UnsubscribeResponse communicationReference=\"7F3C2D10-1A2B-4C5D-8E9F-0A1B2C3D4E5F\"/>",
       "unknown response type"},
  };
  for (const Case& c : cases) {
    dtm->answers.clear();
    EXPECT_EQ(Parse(protocol, 1048, std::u16string(kHead) + c.element + u"\n</FDT>"), E_FAIL) << c.message;
    EXPECT_EQ(AnswerLines(), (std::vector<std::string>{std::string("1048 error: ") + c.message}));
  }
}

TEST_F(ResponseTest, WhatCannotBeReadIsRefused) {
  const vkr::Bstr good(DataExchangeResponse(kCommand3));
  // Records that do not restore to a request of ours.
  vkr::Variant packedConnect;
  HARTDisconnectRequestInfo disconnect;
  disconnect.SetCommunicationReference(reference);
  ASSERT_TRUE(disconnect.Pack(&packedConnect));
  for (const vkr::Variant& record : {vkr::Variant(), vkr::test::UI4(1048),
                                     vkr::test::Array(VT_BSTR, {Text(u"a"), Text(u"b")}), packedConnect}) {
    EXPECT_EQ(protocol.ParseTransactionResponse(record, good, reference, VARIANT_TRUE, nullptr), E_UNEXPECTED)
        << record.vt;
  }
  // Documents that do not load, and one that is no transaction response.
  for (const char16_t* text : {u"", u"<FDT>", u"not xml"}) {
    EXPECT_EQ(Parse(protocol, 1048, text), E_FAIL) << Utf8(std::u16string_view(text));
  }
  EXPECT_EQ(Parse(protocol, 1048, std::u16string(kHead) + u"<ConnectResponse/>\n</FDT>"), E_INVALIDARG);
  EXPECT_TRUE(dtm->answers.empty());

  MyHartProtocol detached;
  EXPECT_EQ(detached.ParseTransactionResponse(ReadRecord(protocol, 1048), good, reference, VARIANT_TRUE, nullptr),
            E_UNEXPECTED);
  CovFDT_BaseProtocolImpl base;
  EXPECT_EQ(base.ParseTransactionResponse(ReadRecord(protocol, 1048), good, reference, VARIANT_TRUE, nullptr),
            E_NOTIMPL);
}

TEST_F(ResponseTest, WithoutDistributionTheCallerGetsTheBytes) {
  vkr::Variant bytes;
  ASSERT_EQ(Parse(protocol, 1048, DataExchangeResponse(kCommand3), VARIANT_FALSE, &bytes), S_OK);
  EXPECT_EQ(vkr::test::Hex(Bytes(bytes)), kCommand3);
  EXPECT_TRUE(dtm->answers.empty());
  EXPECT_EQ(Parse(protocol, 1048, DataExchangeResponse(kCommand3, 0, 0, 5), VARIANT_FALSE, &bytes), E_FAIL);
  EXPECT_EQ(bytes.vt, VT_EMPTY);
  EXPECT_TRUE(dtm->answers.empty());
}

TEST_F(ResponseTest, PackedAsciiAndByteArraysOfOneAnswer) {
  // Command 12: the message as Packed ASCII (1051) and as bytes (1009).
  std::string data;
  for (int i = 0; i < 8; ++i) data += "0420C4";
  ASSERT_EQ(Parse(protocol, 1051, DataExchangeResponse(data.c_str(), 0, 0, 0, nullptr, 12)), S_OK);
  EXPECT_EQ(AnswerLines(), (std::vector<std::string>{"1009 ok", "1051 ok"}));
  EXPECT_EQ(vkr::test::TextOf(DeviceValue(1051)), u"ABCDABCDABCDABCDABCDABCDABCDABCD");
  EXPECT_EQ(vkr::test::Hex(Bytes(DeviceValue(1009))), data);
}

TEST_F(ResponseTest, DistributionOfUnknownParameters) {
  EXPECT_EQ(protocol.DistributeResult(vkr::UI4(9999), vkr::test::Bytes({1, 2})), E_INVALIDARG);
  EXPECT_EQ(AnswerLines(), (std::vector<std::string>{"9999 error: unknown parameter address!"}));
  EXPECT_EQ(Bytes(dtm->answers[0].data), (std::vector<int>{1, 2}));
  EXPECT_EQ(protocol.ExtractParameterValue(nullptr, vkr::test::Bytes({1})), E_INVALIDARG);
  SovFDT_TransactionGroup* group = protocol.FindTransactionGroup(Entry(protocol, 1024)->nGroup);
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(protocol.ExtractParameterValue(group, vkr::test::UI4(1)), E_INVALIDARG);
  EXPECT_EQ(hart.ExtractParameterValue(group, vkr::test::Array(VT_I4, {vkr::test::I4(1)})), E_INVALIDARG);
  // A byte array with a lower bound other than 0 is read from its first element.
  dtm->answers.clear();
  EXPECT_EQ(protocol.ExtractParameterValue(group, vkr::test::Bytes({0x20}, 5)), S_OK);
  EXPECT_EQ(DeviceValue(1024).bVal, 0x20);
}

TEST_F(ResponseTest, ValueFromAPdu) {
  vkr::Variant value;
  ASSERT_EQ(protocol.SetParameterFromPdu(vkr::UI4(1049), vkr::test::Bytes({0x41, 0x48, 0, 0, 0x2D, 0x3F, 0xC0, 0, 0,
                                                                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                          0}),
                                        &value),
            S_OK);
  EXPECT_EQ(FloatOf(value), 1.5f);
  ASSERT_EQ(protocol.SetParameterFromPdu(vkr::UI4(1024), vkr::test::Bytes({0x2D}), &value), S_OK);
  EXPECT_EQ(value.vt, VT_UI1);
  EXPECT_EQ(value.bVal, 0x2D);

  // A value read directly is the value a response spreads for the same bytes: a packed-ASCII text
  // unpacked, a byte string as the device class stores it (a comparison of the two found every
  // text different before).
  const vkr::Variant message = vkr::test::Bytes({0x04, 0x20, 0xC4, 0x04, 0x20, 0xC4, 0x04, 0x20, 0xC4, 0x04, 0x20, 0xC4,
                                                  0x04, 0x20, 0xC4, 0x04, 0x20, 0xC4, 0x04, 0x20, 0xC4, 0x04, 0x20, 0xC4});
  ASSERT_EQ(protocol.SetParameterFromPdu(vkr::UI4(1051), message, &value), S_OK);
  EXPECT_EQ(vkr::test::TextOf(value), u"ABCDABCDABCDABCDABCDABCDABCDABCD");
  std::string hex;
  for (int i = 0; i < 8; ++i) hex += "0420C4";
  ASSERT_EQ(Parse(protocol, 1051, DataExchangeResponse(hex.c_str(), 0, 0, 0, nullptr, 12)), S_OK);
  ASSERT_EQ(protocol.SetParameterFromPdu(vkr::UI4(1009), message, &value), S_OK);
  EXPECT_EQ(Bytes(value), Bytes(DeviceValue(1009)));

  // Shorter than the group's write extent (24 bytes for command 3), though the read would fit.
  EXPECT_EQ(protocol.SetParameterFromPdu(vkr::UI4(1048), vkr::test::Bytes({0x41, 0x48, 0, 0}), &value), E_INVALIDARG);
  EXPECT_EQ(protocol.SetParameterFromPdu(vkr::UI4(9999), vkr::test::Bytes({1}), &value), E_INVALIDARG);
  EXPECT_EQ(protocol.SetParameterFromPdu(vkr::UI4(1024), vkr::test::Bytes({1}), nullptr), E_INVALIDARG);
  EXPECT_EQ(protocol.SetParameterFromPdu(vkr::UI4(1024), vkr::test::UI1(1), &value), E_INVALIDARG);
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  vkr::Variant square;
  square.vt = VT_ARRAY | VT_UI1;
  square.parray = SafeArrayCreate(VT_UI1, 2, bounds);
  EXPECT_EQ(protocol.SetParameterFromPdu(vkr::UI4(1024), square, &value), E_INVALIDARG);
  // Nothing stays locked.
  EXPECT_EQ(square.parray->cLocks, 0u);
}

// ---- Connect and disconnect responses. ----

class ConnectResponseTest : public ResponseTest {
 protected:
  struct Result {
    HRESULT hr;
    bool ok;
    std::string reference;
    std::string error;
  };
  Result Connect(const std::u16string& text) {
    Result r{};
    vkr::Bstr response(text), ref, error;
    VARIANT_BOOL ok = VARIANT_TRUE;
    r.hr = protocol.ParseConnectResponse(response, ref.Put(), &ok, error.Put());
    r.ok = ok == VARIANT_TRUE;
    r.reference = Utf8(ref.Get());
    r.error = Utf8(error.Get());
    return r;
  }
  Result Disconnect(const std::u16string& text, const char16_t* expected) {
    Result r{};
    vkr::Bstr response(text), ref(expected), error;
    VARIANT_BOOL ok = VARIANT_TRUE;
    r.hr = protocol.ParseDisconnectResponse(ref, response, &ok, error.Put());
    r.ok = ok == VARIANT_TRUE;
    r.error = Utf8(error.Get());
    return r;
  }
};

const char16_t* kConnectResponse =
    u"<ConnectResponse fdt:tag=\"LT-101\" preambleCount=\"5\" primaryMaster=\"1\" "
    u"communicationReference=\"REF-1\"><ShortAddress shortAddress=\"0\"/></ConnectResponse>";

TEST_F(ConnectResponseTest, ConnectResponses) {
  struct Case {
    std::u16string text;
    bool ok;
    const char* reference;
    const char* error;
  } cases[] = {
      {std::u16string(kHead) + kConnectResponse + u"</FDT>", true, "REF-1", ""},
      {std::u16string(kHead) + u"<fdt:CommunicationError communicationError=\"busy\" tag=\"t\" errorCode=\"16\"/></FDT>",
       false, "", "Error: busy, error code: 16"},
      // No communication reference.
      {std::u16string(kHead) + u"<ConnectResponse fdt:tag=\"LT-101\" preambleCount=\"5\" primaryMaster=\"1\">"
                               u"<ShortAddress shortAddress=\"0\"/></ConnectResponse></FDT>",
       false, "", "Error: invalid ConnectResponse Document"},
      {u"<FDT>", false, "", "Error loading ConnectResponse Xml Document"},
      {u"", false, "", "Error loading ConnectResponse Xml Document"},
  };
  for (const Case& c : cases) {
    const Result r = Connect(c.text);
    EXPECT_EQ(r.hr, S_OK) << c.error;
    EXPECT_EQ(r.ok, c.ok) << c.error;
    EXPECT_EQ(r.reference, c.reference);
    EXPECT_EQ(r.error, c.error);
  }
}

TEST_F(ConnectResponseTest, DisconnectResponses) {
  const std::u16string good =
      std::u16string(kHead) + u"<DisconnectResponse communicationReference=\"REF-1\"/></FDT>";
  struct Case {
    std::u16string text;
    const char16_t* expected;
    bool ok;
    const char* error;
  } cases[] = {
      {good, u"REF-1", true, ""},
      {good, u"REF-2", false, "Error: communicationreference does not match"},
      {good, u"ref-1", false, "Error: communicationreference does not match"},
      {std::u16string(kHead) + u"<fdt:CommunicationError communicationError=\"noConnection\" tag=\"t\"/></FDT>",
       u"REF-1", false, "Error: noConnection"},
      {std::u16string(kHead) + kConnectResponse + u"</FDT>", u"REF-1", false,
       "Error: invalid DisconnectResponse document"},
      {u"<<", u"REF-1", false, "Error loading ConnectResponse Xml Document"},
  };
  for (const Case& c : cases) {
    const Result r = Disconnect(c.text, c.expected);
    EXPECT_EQ(r.hr, S_OK) << c.error;
    EXPECT_EQ(r.ok, c.ok) << c.error;
    EXPECT_EQ(r.error, c.error);
  }
}

TEST_F(ConnectResponseTest, ParsersNeedTheirArgumentsAndTheDtm) {
  const vkr::Bstr response(std::u16string(kHead) + kConnectResponse + u"</FDT>");
  vkr::Bstr ref, error;
  VARIANT_BOOL ok = VARIANT_TRUE;
  EXPECT_EQ(protocol.ParseConnectResponse(response, nullptr, &ok, error.Put()), E_INVALIDARG);
  EXPECT_EQ(protocol.ParseConnectResponse(response, ref.Put(), nullptr, error.Put()), E_INVALIDARG);
  EXPECT_EQ(protocol.ParseDisconnectResponse(reference, response, &ok, nullptr), E_INVALIDARG);
  dtm->offerBaseDtm = false;
  EXPECT_EQ(protocol.ParseConnectResponse(response, ref.Put(), &ok, error.Put()), E_NOINTERFACE);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_EQ(protocol.ParseDisconnectResponse(reference, response, &ok, error.Put()), E_NOINTERFACE);
  MyHartProtocol detached;
  EXPECT_EQ(detached.ParseConnectResponse(response, ref.Put(), &ok, error.Put()), E_UNEXPECTED);
  CovFDT_BaseProtocolImpl base;
  EXPECT_EQ(base.ParseConnectResponse(response, ref.Put(), &ok, error.Put()), E_NOTIMPL);
}

}  // namespace
