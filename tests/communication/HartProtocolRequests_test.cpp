// The protocol objects' requests against the VKR device table: list reduction to transaction
// groups, read and write transactions, request data carrying a whole group, connect and
// disconnect requests, and the direct-access records.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/protocol_fixture.h"

namespace {

using vkr::test::ProtocolTest;
using vkr::test::Text;
using vkr::test::Utf8;

constexpr const char* kHart = "036D1498-387B-11D4-86E1-00E0987270B9";

std::string Address(int readCommand, const char* readData, int readOffset, int writeCommand, int writeBits,
                    const char* writeData, int writeOffset, int bits) {
  std::string s = std::string("<AddressInformation><Protocol id=\"") + kHart + "\">";
  s += "<HARTAddress service=\"read\" command=\"" + std::to_string(readCommand) + "\"";
  if (readData) s += std::string(" requestData=\"") + readData + "\"";
  s += "><PduPosition bitOffset=\"" + std::to_string(readOffset) + "\" wBitLength=\"" + std::to_string(bits) +
       "\"/></HARTAddress>";
  s += "<HARTAddress service=\"write\" command=\"" + std::to_string(writeCommand) + "\" commandBitLength=\"" +
       std::to_string(writeBits) + "\"";
  if (writeData) s += std::string(" requestData=\"") + writeData + "\"";
  s += "><PduPosition bitOffset=\"" + std::to_string(writeOffset) + "\" wBitLength=\"" + std::to_string(bits) +
       "\"/></HARTAddress></Protocol></AddressInformation>";
  return s;
}

// The transaction record a request carries, unpacked.
struct Request {
  bool ok = false;
  ULONG id = 0;
  LONG kind = 0;
  int command = -1;
  bool hasData = false;
  std::string data;
  std::string reference;
  vkr::Variant value;
};

Request Unpack(const VARIANT& packed) {
  Request r;
  HARTTransactRequestInfo info;
  if (!info.Unpack(packed)) return r;
  r.ok = true;
  VariantToULong(&info.parameterId, &r.id);
  r.kind = info.nKind;
  r.reference = Utf8(info.m_bstrCommunicationReference.Get());
  r.value = info.value;
  if (info.pPayload) {
    r.command = info.pPayload->byCommandNumber;
    r.hasData = info.pPayload->bHasRequestData;
    r.data = Utf8(info.pPayload->bstrRequestData.Get());
  }
  return r;
}

std::vector<ULONG> Ids(const VARIANT& array) {
  std::vector<ULONG> out;
  if (array.vt != (VT_ARRAY | VT_VARIANT)) return {0xDEAD};
  LONG hi = -1;
  SafeArrayGetUBound(array.parray, 1, &hi);
  for (LONG i = 0; i <= hi; ++i) {
    vkr::Variant v;
    SafeArrayGetElement(array.parray, &i, &v);
    ULONG n = 0;
    VariantToULong(&v, &n);
    out.push_back(n);
  }
  return out;
}

// Documents (null BSTRs as "<null>") and records of a list transfer.
struct Transactions {
  HRESULT hr = E_FAIL;
  std::vector<std::string> documents;
  std::vector<Request> records;
  std::vector<bool> emptyRecords;
};

class RequestTest : public ProtocolTest {
 protected:
  void AddExtraParameters() override {
    // A device-specific command with a selector byte in front of its data: two members.
    AddParameter(5001, VT_UI1, vkr::test::UI1(0x33), Address(200, "0A", 8, 201, 32, "0A", 8, 8));
    AddParameter(5002, VT_UI1, vkr::test::UI1(0x22), Address(200, "0A", 16, 201, 32, "0A", 16, 8));
    // A text that travels as Packed ASCII, alone in its group.
    AddParameter(5010, VT_BSTR, Text(u""), Address(210, nullptr, 0, 211, 48, nullptr, 0, 48), 0x71, 4);
  }

  Transactions Run(bool read, const std::u16string& list, VARIANT_BOOL useDataSetValues = VARIANT_TRUE) {
    Transactions t;
    vkr::Variant documents, records;
    vkr::Variant key = ListId(list.c_str());
    t.hr = read ? protocol.CreateReadTransactions(key, reference, &documents, &records)
                : protocol.CreateWriteTransactions(key, reference, useDataSetValues, &documents, &records);
    if (FAILED(t.hr)) return t;
    EXPECT_EQ(documents.vt, VT_ARRAY | VT_BSTR);
    EXPECT_EQ(records.vt, VT_ARRAY | VT_VARIANT);
    LONG hi = -1;
    SafeArrayGetUBound(documents.parray, 1, &hi);
    for (LONG i = 0; i <= hi; ++i) {
      BSTR text = nullptr;
      SafeArrayGetElement(documents.parray, &i, &text);
      t.documents.push_back(text ? Utf8(text) : "<null>");
      SysFreeString(text);
      vkr::Variant record;
      SafeArrayGetElement(records.parray, &i, &record);
      t.emptyRecords.push_back(record.vt == VT_EMPTY);
      t.records.push_back(Unpack(record));
    }
    return t;
  }

  // The request data of a single write request (or the failure as "hr 0x...").
  std::string WriteData(CovFDT_HartProtocolImpl& p, ULONG id, const vkr::Variant& value,
                        VARIANT_BOOL useDataSetValues = VARIANT_TRUE) {
    VARIANT_BOOL created = VARIANT_FALSE;
    vkr::Bstr document;
    vkr::Variant record;
    const HRESULT hr = p.CreateWriteRequest(vkr::UI4(id), value, reference, useDataSetValues, &created,
                                            document.Put(), &record);
    if (FAILED(hr)) {
      char b[32];
      std::snprintf(b, sizeof b, "hr 0x%08X", static_cast<unsigned>(hr));
      EXPECT_EQ(created, VARIANT_FALSE);
      return b;
    }
    EXPECT_EQ(created, VARIANT_TRUE);
    const Request r = Unpack(record);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.id, id);
    return r.data;
  }
};

TEST_F(RequestTest, ListsReduceToOneRepresentativePerGroup) {
  struct Case {
    std::vector<ULONG> list;
    std::vector<ULONG> representatives;
  } cases[] = {
      // The command 3 group: the current, PV and SV values and the whole answer.
      {{1048, 1049, 1050, 1031}, {1048}},
      {{1050, 1031}, {1050}},
      // An id the protocol does not know is dropped; order of first appearance holds.
      {{1024, 9999, 1049, 1048, 1064, 1088}, {1024, 1049, 1064}},
      // Parameters without a HART address are not transferred.
      {{990, 1, 2}, {}},
      // Duplicates count once.
      {{1024, 1024, 1024}, {1024}},
  };
  for (const Case& c : cases) {
    SetList(u"L", c.list);
    vkr::Variant ids;
    ASSERT_EQ(protocol.ReduceToTransactionGroups(ListId(u"L"), &ids, vkr::EmptyVariant()), S_OK);
    EXPECT_EQ(Ids(ids), c.representatives) << "list starting " << c.list.front();
  }
}

TEST_F(RequestTest, ReductionRefusesWhatIsNotAList) {
  vkr::Variant ids;
  EXPECT_EQ(protocol.ReduceToTransactionGroups(ListId(u"L"), nullptr, vkr::EmptyVariant()), E_INVALIDARG);
  EXPECT_EQ(protocol.ReduceToTransactionGroups(ListId(u"missing"), &ids, vkr::EmptyVariant()), E_FAIL);
  dtm->offerLists = false;
  EXPECT_EQ(protocol.ReduceToTransactionGroups(ListId(u"L"), &ids, vkr::EmptyVariant()), E_NOINTERFACE);
}

TEST_F(RequestTest, ReadListGivesOneDocumentPerGroup) {
  SetList(u"UploadList", {1048, 1049, 1050, 1031, 9999, 1024, 5002, 5001});
  const Transactions t = Run(true, u"UploadList");
  ASSERT_EQ(t.hr, S_OK);
  ASSERT_EQ(t.records.size(), 3u);
  EXPECT_EQ(t.records[0].id, 1048u);
  EXPECT_EQ(t.records[0].command, 3);
  EXPECT_EQ(t.records[0].kind, kHartDataExchangeRequest);
  EXPECT_FALSE(t.records[0].hasData);
  EXPECT_EQ(t.records[0].reference, Utf8(reference.Get()));
  // The read answers every member of the group the list names: they travel with the record.
  EXPECT_EQ(Ids(t.records[0].value), (std::vector<ULONG>{1048, 1031, 1049, 1050}));
  EXPECT_EQ(t.records[1].id, 1024u);
  EXPECT_EQ(t.records[1].value.vt, VT_EMPTY) << "a group the list names once";
  EXPECT_EQ(t.records[1].command, 1);
  // The read of the selector command sends its request data unchanged.
  EXPECT_EQ(t.records[2].id, 5002u);
  EXPECT_EQ(t.records[2].command, 200);
  EXPECT_TRUE(t.records[2].hasData);
  EXPECT_EQ(t.records[2].data, "0A");
  EXPECT_EQ(t.documents[0],
            "<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n"
            "<DataExchangeRequest commandNumber=\"3\" communicationReference=\"7F3C2D10-1A2B-4C5D-8E9F-0A1B2C3D4E5F\">\n"
            " \n</DataExchangeRequest>\n</FDT>");
  EXPECT_NE(t.documents[2].find("<fdt:CommunicationData byteArray=\"0A\" />"), std::string::npos) << t.documents[2];
}

TEST_F(RequestTest, ListOfUnknownIdsGivesEmptyArrays) {
  SetList(u"L", {9999, 8888});
  for (bool read : {true, false}) {
    const Transactions t = Run(read, u"L");
    EXPECT_EQ(t.hr, S_OK) << read;
    EXPECT_TRUE(t.documents.empty()) << read;
  }
}

TEST_F(RequestTest, ParametersThatMayNotTravelLeaveAGap) {
  // 1048 is read-only (flags 0x50), 1031 too; 1024 may be written (the data set holds a value).
  SetDataSetValue(1024, vkr::test::UI1(45));
  SetList(u"DownloadList", {1048, 1024, 1021});
  const Transactions write = Run(false, u"DownloadList");
  ASSERT_EQ(write.hr, S_OK);
  ASSERT_EQ(write.documents.size(), 3u);
  EXPECT_EQ(write.documents[0], "<null>");
  EXPECT_TRUE(write.emptyRecords[0]);
  EXPECT_EQ(write.records[1].id, 1024u);
  EXPECT_EQ(write.records[1].command, 44);
  // 1021 is written (flags 0x60) but not read.
  EXPECT_EQ(write.records[2].command, 40);
  const Transactions read = Run(true, u"DownloadList");
  ASSERT_EQ(read.hr, S_OK);
  EXPECT_EQ(read.records[0].command, 3);
  EXPECT_EQ(read.documents[2], "<null>");

  // A parameter that is not a device parameter (any more) is skipped the same way.
  ParInfo record;
  record.m_dwAddressed = 0;
  ASSERT_EQ(dtm->SetParInfoFields(1024, PIF_ADDRESSED, record), S_OK);
  const Transactions again = Run(false, u"DownloadList");
  ASSERT_EQ(again.hr, S_OK);
  EXPECT_EQ(again.documents[1], "<null>");
}

TEST_F(RequestTest, WriteOfOneMemberCarriesTheWholeGroup) {
  // Command 136 writes display mode, tracking mode, dielectric, fail option, fail time, digitize
  // command (bytes 0..5) and the digitized distance (float, bytes 6..9) together.
  SetDataSetValue(1064, vkr::test::UI1(3));
  SetDataSetValue(1066, vkr::test::UI1(1));
  SetDataSetValue(1068, vkr::test::UI1(2));
  SetDataSetValue(1070, vkr::test::UI1(4));
  SetDataSetValue(1071, vkr::test::UI1(5));
  SetDataSetValue(1088, vkr::test::UI1(6));
  SetDataSetValue(1090, vkr::test::R4(1.0f));
  SetDataSetValue(1059, vkr::test::Bytes({}));
  SetDataSetValue(1082, vkr::test::Bytes({}));
  EXPECT_EQ(WriteData(protocol, 1066, vkr::test::UI1(7)), "0307020405063F800000");
  // The value given wins over the stored one only for the parameter written.
  EXPECT_EQ(WriteData(protocol, 1090, vkr::test::R4(-2.0f)), "030102040506C0000000");

  // From the device values, falling back on the data set where the device gave nothing yet.
  SetDeviceValue(1064, vkr::test::UI1(9));
  SetDeviceValue(1068, vkr::test::UI1(8));
  SetDeviceValue(1070, vkr::Variant());
  SetDeviceValue(1071, vkr::test::UI1(10));
  SetDeviceValue(1088, vkr::test::UI1(11));
  SetDeviceValue(1090, vkr::test::R4(2.0f));
  for (ULONG id : {1059u, 1082u}) SetDeviceValue(id, vkr::test::Bytes({}));
  EXPECT_EQ(WriteData(protocol, 1066, vkr::test::UI1(7), VARIANT_FALSE), "090708040A0B40000000");
  EXPECT_EQ(WriteData(protocol, 1066, vkr::test::UI1(7), VARIANT_TRUE), "0307020405063F800000");
  // An empty value takes the parameter's own stored value.
  EXPECT_EQ(WriteData(protocol, 1066, vkr::Variant()), "0301020405063F800000");
}

TEST_F(RequestTest, WriteRequestDataFollowsItsTemplate) {
  // The selector byte of the template stays in front; the template is padded to the command's
  // 32 bits before the members are packed in.
  EXPECT_EQ(WriteData(protocol, 5001, vkr::test::UI1(0x11)), "0A112200");
  EXPECT_EQ(WriteData(hart, 5002, vkr::test::UI1(0x44)), "0A334400");
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document;
  vkr::Variant record;
  ASSERT_EQ(protocol.CreateWriteRequest(vkr::UI4(5001), vkr::test::UI1(0x11), reference, VARIANT_TRUE, &created,
                                        document.Put(), &record),
            S_OK);
  const Request r = Unpack(record);
  EXPECT_EQ(r.command, 201);
  EXPECT_EQ(r.value.vt, VT_UI1);
  EXPECT_EQ(r.value.bVal, 0x11);
  EXPECT_NE(Utf8(document.Get()).find("commandNumber=\"201\""), std::string::npos);
  EXPECT_NE(Utf8(document.Get()).find("byteArray=\"0A112200\""), std::string::npos);
}

TEST_F(RequestTest, GroupWithoutBitsDiffersBetweenTheClasses) {
  // Command 41 (self test) carries no data: the device class sends an empty request, the framework
  // class cannot make a buffer of 0 bytes.
  EXPECT_EQ(WriteData(protocol, 1034, vkr::Variant()), "");
  EXPECT_EQ(WriteData(hart, 1034, vkr::Variant()), "hr 0x8007000E");
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document;
  vkr::Variant record;
  ASSERT_EQ(protocol.CreateWriteRequest(vkr::UI4(1034), vkr::Variant(), reference, VARIANT_TRUE, &created,
                                        document.Put(), &record),
            S_OK);
  EXPECT_NE(Utf8(document.Get()).find("commandNumber=\"41\""), std::string::npos);
  EXPECT_FALSE(Unpack(record).hasData);
}

TEST_F(RequestTest, PackedAsciiTextsByClass) {
  // Six bytes: eight characters. "AB" is padded with blanks (0x20 -> code 0x20).
  EXPECT_EQ(WriteData(protocol, 5010, Text(u"ab")), "042820820820");
  EXPECT_EQ(WriteData(hart, 5010, Text(u"ABCD")), "0420C4820820");
  // The device class refuses a text longer than the field; the framework class cuts it.
  EXPECT_EQ(WriteData(protocol, 5010, Text(u"ABCDEFGHI")), "hr 0x8007000E");
  EXPECT_EQ(WriteData(hart, 5010, Text(u"ABCDEFGHI")).size(), 12u);
  // An empty text is the device's blank (spaces), whatever the field held, in the device class.
  EXPECT_EQ(WriteData(protocol, 5010, Text(u"")), "820820820820");
}

TEST_F(RequestTest, TagWriteOfTheDevice) {
  // Command 18 writes tag, descriptor and date; the byte-array views of the same bytes are empty
  // here so that only the texts and the date fill it.
  for (ULONG id : {1017u, 1052u, 1053u, 1092u, 1094u}) SetDataSetValue(id, vkr::test::Bytes({}));
  SetDataSetValue(1055, Text(u""));
  SetDataSetValue(1056, vkr::test::UI1(7));
  SetDataSetValue(1057, vkr::test::UI1(12));
  SetDataSetValue(1058, vkr::test::UI1(126));
  const std::string data = WriteData(protocol, 1054, Text(u"LT101"));
  ASSERT_EQ(data.size(), 42u) << data;
  EXPECT_EQ(data.substr(0, 12), "314C70C60820") << data;  // "LT101   "
  EXPECT_EQ(data.substr(12, 24), "820820820820820820820820") << data;  // the empty descriptor: blanks
  EXPECT_EQ(data.substr(36), "070C7E") << data;
}

TEST_F(RequestTest, UnknownParametersAreRefused) {
  VARIANT_BOOL created = VARIANT_TRUE;
  vkr::Bstr document;
  vkr::Variant record;
  EXPECT_EQ(protocol.CreateReadRequest(vkr::UI4(9999), reference, VARIANT_FALSE, &created, document.Put(), &record),
            E_POINTER);
  EXPECT_EQ(created, VARIANT_FALSE);
  EXPECT_EQ(protocol.CreateWriteRequest(vkr::UI4(990), vkr::test::UI1(1), reference, VARIANT_FALSE, &created,
                                        document.Put(), &record),
            E_POINTER);
  EXPECT_EQ(record.vt, VT_EMPTY);
  EXPECT_EQ(protocol.CreateReadRequest(vkr::UI4(1024), reference, VARIANT_FALSE, nullptr, document.Put(), &record),
            E_INVALIDARG);

  // The request-data builder tells the parameter handler what went wrong.
  BSTR data = nullptr;
  BSTR noTemplate = nullptr;
  EXPECT_EQ(protocol.BuildHartRequestData(vkr::UI4(9999), vkr::test::UI1(1), VARIANT_TRUE, &noTemplate, &data, 0),
            E_INVALIDARG);
  EXPECT_EQ(data, nullptr);
  ASSERT_EQ(dtm->answers.size(), 1u);
  EXPECT_FALSE(dtm->answers[0].success);
  EXPECT_EQ(dtm->answers[0].id, 9999u);
  EXPECT_EQ(dtm->answers[0].text, "unknown parameter ID!");
  EXPECT_EQ(protocol.BuildHartRequestData(vkr::UI4(1024), vkr::test::UI1(1), VARIANT_TRUE, &noTemplate, nullptr, 0),
            E_INVALIDARG);
}

TEST_F(RequestTest, WithoutHandlerNothingIsBuilt) {
  MyHartProtocol detached;
  VARIANT_BOOL created = VARIANT_TRUE;
  vkr::Bstr document, protocolId;
  vkr::Variant record, documents, records;
  EXPECT_EQ(detached.CreateReadRequest(vkr::UI4(1024), reference, VARIANT_FALSE, &created, document.Put(), &record),
            E_POINTER);
  EXPECT_EQ(created, VARIANT_FALSE);
  EXPECT_EQ(detached.CreateConnectRequest(&created, document.Put(), protocolId.Put(), &record), E_POINTER);
  EXPECT_EQ(detached.CreateReadTransactions(ListId(u"L"), reference, &documents, &records), E_UNEXPECTED);
  EXPECT_EQ(detached.GetReadCommand(vkr::UI4(1024), reference, &record), E_POINTER);
  // The protocol-neutral base builds no HART requests.
  CovFDT_BaseProtocolImpl base;
  EXPECT_EQ(base.CreateReadRequest(vkr::UI4(1024), reference, VARIANT_FALSE, &created, document.Put(), &record),
            E_NOTIMPL);
  EXPECT_EQ(base.CreateDataExchangeRequest(record, reference, document.Put()), E_NOTIMPL);
}

TEST_F(RequestTest, ConnectRequestFromTheDeviceParameters) {
  SetDataSetValue(1, Text(u"LT-101"));
  SetDataSetValue(121, vkr::test::UI1(5));
  SetDataSetValue(120, vkr::test::Bool(false));
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document, protocolId;
  vkr::Variant record;
  ASSERT_EQ(protocol.CreateConnectRequest(&created, document.Put(), protocolId.Put(), &record), S_OK);
  EXPECT_EQ(created, VARIANT_TRUE);
  EXPECT_EQ(Utf8(protocolId.Get()), kHart);
  std::string text = Utf8(document.Get());
  EXPECT_NE(text.find("<ConnectRequest fdt:tag=\"LT-101\"    >"), std::string::npos) << text;
  EXPECT_NE(text.find("<ShortAddress shortAddress=\"5\" />"), std::string::npos) << text;
  EXPECT_EQ(text.find("LongAddress"), std::string::npos) << text;
  HARTConnectRequestInfo info;
  ASSERT_TRUE(info.Unpack(record));
  EXPECT_EQ(info.byShortAddress, 5);
  EXPECT_FALSE(info.bLongAddressPresent);

  // Long-frame addressing adds the unique id and keeps the polling address.
  SetDataSetValue(120, vkr::test::Bool(true));
  const BYTE longAddress[] = {0x60, 0x11, 1, 2, 250};
  for (ULONG i = 0; i < 5; ++i) SetDataSetValue(122 + i, vkr::test::UI1(longAddress[i]));
  ASSERT_EQ(protocol.CreateConnectRequest(&created, document.Put(), protocolId.Put(), &record), S_OK);
  text = Utf8(document.Get());
  const auto at = text.find("<LongAddress manufacturerId=\"96\" deviceTypeId=\"17\" address1=\"1\" address2=\"2\" "
                            "address3=\"250\" />");
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_GT(text.find("<ShortAddress shortAddress=\"5\" />"), at) << text;
  HARTConnectRequestInfo withLong;
  ASSERT_TRUE(withLong.Unpack(record));
  EXPECT_TRUE(withLong.bLongAddressPresent);
  EXPECT_EQ(withLong.longAddress.byAddress3, 250);
}

TEST_F(RequestTest, ConnectRequestRefusesValuesOfTheWrongType) {
  struct Case {
    ULONG id;
    vkr::Variant value;
  } cases[] = {
      {121, vkr::test::I4(5)},
      {1, vkr::test::UI1(1)},
      {120, vkr::test::UI1(1)},
  };
  for (Case& c : cases) {
    vkr::Variant before;
    dtm->GetValueById(c.id, &before);
    SetDataSetValue(c.id, c.value);
    VARIANT_BOOL created = VARIANT_TRUE;
    vkr::Bstr document, protocolId;
    vkr::Variant record;
    EXPECT_EQ(protocol.CreateConnectRequest(&created, document.Put(), protocolId.Put(), &record), E_FAIL) << c.id;
    EXPECT_EQ(created, VARIANT_FALSE) << c.id;
    EXPECT_EQ(record.vt, VT_EMPTY) << c.id;
    SetDataSetValue(c.id, before);
  }
  // A long-address byte of another type fails only when long addressing is on.
  SetDataSetValue(120, vkr::test::Bool(true));
  SetDataSetValue(124, vkr::test::UI2(1));
  VARIANT_BOOL created = VARIANT_TRUE;
  vkr::Bstr document, protocolId;
  vkr::Variant record;
  EXPECT_EQ(protocol.CreateConnectRequest(&created, document.Put(), protocolId.Put(), &record), E_FAIL);
  EXPECT_EQ(protocol.CreateConnectRequest(&created, nullptr, protocolId.Put(), &record), E_INVALIDARG);
}

TEST_F(RequestTest, DisconnectRequestCarriesTheReference) {
  VARIANT_BOOL created = VARIANT_FALSE;
  vkr::Bstr document;
  vkr::Variant record;
  ASSERT_EQ(protocol.CreateDisconnectRequest(&created, document.Put(), reference, &record), S_OK);
  EXPECT_EQ(created, VARIANT_TRUE);
  EXPECT_NE(Utf8(document.Get()).find("<DisconnectRequest communicationReference =\"7F3C2D10-1A2B-4C5D-8E9F-0A1B2C3D4E5F\" />"),
            std::string::npos)
      << Utf8(document.Get());
  HARTDisconnectRequestInfo info;
  ASSERT_TRUE(info.Unpack(record));
  EXPECT_EQ(info.m_bstrCommunicationReference.View(), reference.View());
  EXPECT_EQ(protocol.CreateDisconnectRequest(nullptr, document.Put(), reference, &record), E_INVALIDARG);
}

TEST_F(RequestTest, DirectAccessRecordsBecomeDocumentsLater) {
  vkr::Variant read;
  ASSERT_EQ(protocol.GetReadCommand(vkr::UI4(1049), nullptr, &read), S_OK);
  Request r = Unpack(read);
  EXPECT_EQ(r.id, 1049u);
  EXPECT_EQ(r.command, 3);
  EXPECT_EQ(r.reference, "");

  vkr::Bstr document;
  ASSERT_EQ(protocol.CreateDataExchangeRequest(read, reference, document.Put()), S_OK);
  EXPECT_NE(Utf8(document.Get()).find("commandNumber=\"3\" communicationReference=\"7F3C2D10"), std::string::npos);

  SetDataSetValue(1064, vkr::test::UI1(3));
  vkr::Variant write;
  ASSERT_EQ(protocol.GetWriteCommand(vkr::UI4(1071), vkr::test::UI1(0x2A), nullptr, &write), S_OK);
  r = Unpack(write);
  EXPECT_EQ(r.command, 136);
  EXPECT_EQ(r.value.bVal, 0x2A);
  EXPECT_EQ(r.data.substr(0, 2), "03");
  EXPECT_EQ(r.data.substr(8, 2), "2A");

  EXPECT_EQ(protocol.GetReadCommand(vkr::UI4(9999), nullptr, &read), E_POINTER);
  // Any integer type names the parameter and the record carries it as VT_UI4; a text does not.
  ASSERT_EQ(protocol.GetReadCommand(vkr::test::I2(1049), nullptr, &read), S_OK);
  HARTTransactRequestInfo info;
  ASSERT_TRUE(info.Unpack(read));
  EXPECT_EQ(info.parameterId.vt, VT_UI4);
  EXPECT_EQ(info.parameterId.ulVal, 1049u);
  EXPECT_EQ(protocol.GetReadCommand(Text(u"1049"), nullptr, &read), E_POINTER);
  EXPECT_EQ(protocol.GetReadCommand(vkr::UI4(1049), nullptr, nullptr), E_INVALIDARG);
  // Only packed records become documents.
  EXPECT_EQ(protocol.CreateDataExchangeRequest(vkr::test::UI4(3), reference, document.Put()), E_FAIL);
  EXPECT_EQ(protocol.CreateDataExchangeRequest(vkr::test::Array(VT_VARIANT, {Text(u"x")}), reference,
                                               document.Put()),
            E_FAIL);
  EXPECT_EQ(protocol.CreateDataExchangeRequest(read, reference, nullptr), E_INVALIDARG);
}

TEST_F(RequestTest, BaseRequestDataPacksEveryMemberPlainly) {
  // No template and no Packed ASCII: a text is packed byte by byte.
  BSTR data = nullptr;
  ASSERT_EQ(protocol.BuildRequestData(vkr::UI4(5010), Text(u"AB"), VARIANT_TRUE, &data, 0), S_OK);
  EXPECT_EQ(Utf8(data), "414200000000");
  SysFreeString(data);
  data = nullptr;
  // With the low-byte-first codec flag a float lands reversed.
  SetDataSetValue(1064, vkr::test::UI1(3));
  ASSERT_EQ(protocol.BuildRequestData(vkr::UI4(1090), vkr::test::R4(1.0f), VARIANT_TRUE, &data, kCodecLowByteFirst),
            S_OK);
  EXPECT_EQ(Utf8(data).substr(12), "0000803F") << Utf8(data);
  SysFreeString(data);
}

}  // namespace

// ---- Allocation faults: the N-th allocation fails, N = 1, 2, ... until the scenario runs through.
// A failed run reports an error and hands out nothing; the sanitizer build checks for leaks.

namespace {

// afterSuccess runs with the fault switched off, after every run that succeeded.
void Sweep(const char* name, const std::function<bool()>& scenario,
           const std::function<void()>& afterSuccess = nullptr) {
  for (unsigned n = 1; n < 20000; ++n) {
    vkr::platform::SetAllocationFault(n);
    const bool succeeded = scenario();
    const bool reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    if (succeeded && afterSuccess) afterSuccess();
    if (!reached) {
      EXPECT_TRUE(succeeded) << name << ": the run without a fault failed";
      EXPECT_GT(n, 1u) << name;
      return;
    }
  }
  ADD_FAILURE() << name << ": the sweep did not end";
}

TEST_F(RequestTest, AllocationFaultsFailCleanly) {
  SetList(u"L", {1048, 1024, 1066, 5001});
  Sweep("read list", [&] {
    vkr::Variant documents, records;
    const HRESULT hr = protocol.CreateReadTransactions(ListId(u"L"), reference, &documents, &records);
    if (FAILED(hr)) {
      EXPECT_EQ(documents.vt, VT_EMPTY);
      EXPECT_EQ(records.vt, VT_EMPTY);
      return false;
    }
    return documents.vt == (VT_ARRAY | VT_BSTR);
  });
  vkr::Variant made;  // the record of the last run that succeeded
  Sweep("write request", [&] {
    VARIANT_BOOL created = VARIANT_TRUE;
    BSTR document = nullptr;
    vkr::Variant record;
    const HRESULT hr = protocol.CreateWriteRequest(vkr::UI4(1066), vkr::test::UI1(7), reference, VARIANT_FALSE,
                                                   &created, &document, &record);
    if (FAILED(hr)) {
      EXPECT_EQ(created, VARIANT_FALSE);
      EXPECT_EQ(document, nullptr);
      EXPECT_EQ(record.vt, VT_EMPTY);
      return false;
    }
    SysFreeString(document);
    made = std::move(record);
    return created == VARIANT_TRUE;
  }, [&] {
    // What succeeds under memory pressure is complete, never silently short.
    const Request r = Unpack(made);
    EXPECT_EQ(r.reference, Utf8(reference.Get()));
    EXPECT_EQ(r.data.size(), 20u) << r.data;
  });
  Sweep("selector read", [&] {
    vkr::Variant record;
    if (FAILED(protocol.GetReadCommand(vkr::UI4(5001), reference, &record))) {
      EXPECT_EQ(record.vt, VT_EMPTY);
      return false;
    }
    made = std::move(record);
    return true;
  }, [&] {
    const Request r = Unpack(made);
    EXPECT_EQ(r.data, "0A");
    EXPECT_EQ(r.reference, Utf8(reference.Get()));
  });
  Sweep("connect request", [&] {
    VARIANT_BOOL created = VARIANT_TRUE;
    BSTR document = nullptr, id = nullptr;
    vkr::Variant record;
    const HRESULT hr = protocol.CreateConnectRequest(&created, &document, &id, &record);
    if (FAILED(hr)) {
      EXPECT_EQ(created, VARIANT_FALSE);
      EXPECT_EQ(document, nullptr);
      EXPECT_EQ(record.vt, VT_EMPTY);
      return false;
    }
    SysFreeString(document);
    SysFreeString(id);
    return true;
  });
  vkr::Variant request;
  ASSERT_EQ(protocol.GetReadCommand(vkr::UI4(1048), reference, &request), S_OK);
  const vkr::Bstr response(DataExchangeResponse("414800002D3FC000002D40000000"));
  Sweep("response", [&] {
    vkr::Variant bytes;
    const HRESULT hr = protocol.ParseTransactionResponse(request, response, reference, VARIANT_TRUE, &bytes);
    return SUCCEEDED(hr);
  });
}

}  // namespace
