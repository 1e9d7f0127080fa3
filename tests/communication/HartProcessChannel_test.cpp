// The process channel document: written from a channel parameter's fields, handed back from a
// stored record, read back from the frame's version, and valid against the frame's schema.
#include <gtest/gtest.h>

#include <map>

#include "communication/HartRecords.h"
#include "communication/MyHartProtocol.h"
#include "tests/support/communication_helpers.h"
#include "tests/support/definition_fixture.h"
#include "tests/support/stub_dispatch.h"

namespace {

using namespace vkr::test;
using vkr::Bstr;
using vkr::ComPtr;
using vkr::Variant;

// A DTM whose parameter fields are scripted; the parameter handler interface is a real handler's
// (only its presence matters to the channel document).
class ChannelDtm : public vkr::Implements<IovFdtParameterInfo> {
 public:
  VKR_TEST_DISPATCH
  IUnknown* handler = nullptr;  // answers IovFdtParameterHandler4 when set
  bool offersInfo = true;
  std::map<ULONG, Variant> fields;  // by mask; a missing mask fails with E_FAIL
  std::vector<ULONG> asked;

  HRESULT GetParameterCount(VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetParameterIdAt(VARIANT, VARIANT*) override { return E_NOTIMPL; }
  HRESULT GetParameterField(VARIANT, VARIANT field, VARIANT* result) override {
    asked.push_back(field.ulVal);
    auto it = fields.find(field.ulVal);
    if (it == fields.end()) return E_FAIL;
    return VariantCopy(result, &it->second);
  }
  HRESULT SetParameterField(VARIANT, VARIANT, VARIANT) override { return E_NOTIMPL; }

 protected:
  void* FindInterface(REFIID riid) override {
    if (riid == IovFdtParameterInfo::iid && !offersInfo) return nullptr;
    return vkr::Implements<IovFdtParameterInfo>::FindInterface(riid);
  }
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (riid != IovFdtParameterHandler4::iid || !handler) return E_NOINTERFACE;
    return handler->QueryInterface(riid, ppv);
  }
};

Variant VarType(VARTYPE vt) {
  Variant v;
  v.vt = VT_UI2;
  v.uiVal = vt;
  return v;
}

const char16_t kPrivateOutput[] =
    u"<PrivateProperties><Property name=\"PrivateProperties\"><Property name=\"varType\" value=\"outputVar\"/>"
    u"</Property></PrivateProperties>";
const char16_t kAddressReadWrite[] =
    u"<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress service=\"read\" "
    u"command=\"1\"><PduPosition bitOffset=\"8\" wBitLength=\"32\"/></HARTAddress><HARTAddress service=\"write\" "
    u"command=\"35\" commandBitLength=\"40\"><PduPosition bitOffset=\"8\" wBitLength=\"32\"/></HARTAddress>"
    u"</Protocol></AddressInformation>";

std::u16string PrivateProperties(const char16_t* varType) {
  return std::u16string(u"<PrivateProperties><Property name=\"PrivateProperties\"><Property name=\"varType\" "
                        u"value=\"") +
         varType + u"\"/></Property></PrivateProperties>";
}

std::string Document(const std::string& tag, const std::string& id, int protectedValue, const std::string& type,
                     unsigned bytes, const std::string& signal, const std::string& commands) {
  return "<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:FDTHARTChannelParameterSchema.xml\" "
         "xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">  <FDTChannelType>    <fdt:VersionInformation\n"
         "      name=\"HART Process Channel\"\n      vendor=\"Osgrove\"\n      version=\"1.0\"\n"
         "      date=\"2009-07-27\"/>\n  </FDTChannelType>\n  <FDTChannel fdt:tag=\"" +
         tag + "\" fdt:id=\"" + id + "\"\n        protectedByChannelAssignment=\"" + std::to_string(protectedValue) +
         "\"\n        fdt:dataType=\"" + type + "\"\n        byteLength=\"" + std::to_string(bytes) +
         "\"\n        fdt:signalType=\"" + signal + "\">\n    " + commands + "  </FDTChannel></FDT>";
}

class HartProcessChannel : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(vkr::MakeObject<ChannelDtm>(&dtm), S_OK);
    Script();
  }
  // A float output channel read by command 1 and written by command 35.
  void Script() {
    dtm->handler = static_cast<IovFdtParameterHandler4*>(&handler);
    dtm->offersInfo = true;
    dtm->fields.clear();
    dtm->fields[0x80000000] = Bool(true);
    dtm->fields[0x10] = VarType(VT_R4);
    dtm->fields[0x4] = TextVar(u"Level");
    dtm->fields[0x800000] = TextVar(kPrivateOutput);
    dtm->fields[0x2] = TextVar(kAddressReadWrite);
  }
  void TearDown() override {
    dtm = nullptr;
    CoUninitialize();
  }

  HRESULT Get(const char16_t* channelId, const char16_t* keepId, const VARIANT& stored) {
    document.Reset();
    record.Clear();
    return protocol.GetChannelParameters(static_cast<IovFdtParameterInfo*>(dtm.Get()), UI4(5), Bstr(channelId),
                                         Bstr(keepId), document.Put(), stored, record.Ptr());
  }

  FakeParameterSite site{kSiteAlone};
  StackParameterHandler handler{&site};
  ComPtr<vkr::ComObject<ChannelDtm>> dtm;
  CovFDT_HartProtocolImpl protocol;
  Bstr document;
  Variant record;
};

TEST_F(HartProcessChannel, WritesTheDocumentOfAChannelParameter) {
  ASSERT_EQ(Get(u"CH1", u"KEEP", Variant()), S_OK);
  EXPECT_EQ(U8(document), Document("Level", "CH1", 0, "float", 4, "output",
                                   "<ReadCommand commandNumber=\"1\" /><WriteCommand commandNumber=\"35\" />"));
  HartProcessChannelData data;
  ASSERT_TRUE(data.Unpack(record));
  EXPECT_EQ(data.nProtectedByChannelAssignment, 0);
  EXPECT_EQ(U8(data.bstrDocument), U8(document));
  EXPECT_EQ(U8(data.bstrChannelId), "KEEP");
}

TEST_F(HartProcessChannel, CommandsAndLengthFollowTheAddress) {
  struct Case {
    const char* name;
    std::u16string address;
    unsigned bytes;
    std::string commands;
  } cases[] = {
      {"read only, 12 bits round up",
       u"<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress service=\"read\" "
       u"command=\"3\"><PduPosition bitOffset=\"40\" wBitLength=\"12\"/></HARTAddress></Protocol></AddressInformation>",
       2, "<ReadCommand commandNumber=\"3\" /> "},
      {"write only, length from the write address",
       u"<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress service=\"write\" "
       u"command=\"18\" commandBitLength=\"168\"><PduPosition bitOffset=\"48\" wBitLength=\"96\"/></HARTAddress>"
       u"</Protocol></AddressInformation>",
       12, " <WriteCommand commandNumber=\"18\" />"},
      {"the first PduPosition gives the length, another protocol is ignored",
       u"<AddressInformation><Protocol id=\"OTHER\"><HARTAddress service=\"read\" command=\"9\"><PduPosition "
       u"wBitLength=\"64\"/></HARTAddress></Protocol><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\">"
       u"<HARTAddress service=\"read\" command=\"13\"><PduPosition bitOffset=\"0\" wBitLength=\"8\"/></HARTAddress>"
       u"<HARTAddress service=\"write\" command=\"18\"><PduPosition bitOffset=\"0\" wBitLength=\"16\"/>"
       u"</HARTAddress></Protocol></AddressInformation>",
       1, "<ReadCommand commandNumber=\"13\" /><WriteCommand commandNumber=\"18\" />"},
      {"largest bit length",
       u"<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress service=\"read\" "
       u"command=\"0\"><PduPosition wBitLength=\"4294967295\"/></HARTAddress></Protocol></AddressInformation>",
       536870912u, "<ReadCommand commandNumber=\"0\" /> "},
  };
  for (const Case& c : cases) {
    dtm->fields[0x2] = TextVar(c.address);
    ASSERT_EQ(Get(u"C", u"K", Variant()), S_OK) << c.name;
    EXPECT_EQ(U8(document), Document("Level", "C", 0, "float", c.bytes, "output", c.commands)) << c.name;
  }
}

TEST_F(HartProcessChannel, RefusesParametersItCannotDescribe) {
  struct Case {
    const char* name;
    ULONG mask;
    Variant value;  // VT_ERROR: the field read fails
    HRESULT expected;
  };
  Variant failing;
  failing.vt = VT_ERROR;
  Case cases[] = {
      {"not a channel", 0x80000000, Bool(false), E_FAIL},
      {"channel answer not a flag", 0x80000000, I4(1), E_FAIL},
      {"channel question fails", 0x80000000, failing, E_FAIL},
      {"VARTYPE not VT_UI2", 0x10, I4(VT_R4), E_UNEXPECTED},
      {"VARTYPE empty", 0x10, VarType(VT_EMPTY), E_FAIL},
      {"VARTYPE read fails", 0x10, failing, E_FAIL},
      {"name read fails", 0x4, failing, E_FAIL},
      {"private properties empty", 0x800000, TextVar(u""), E_UNEXPECTED},
      {"private properties missing", 0x800000, Variant(), E_UNEXPECTED},
      {"varType in and out", 0x800000, TextVar(PrivateProperties(u"inoutVar")), E_INVALIDARG},
      {"varType wrong case", 0x800000, TextVar(PrivateProperties(u"InputVar")), E_INVALIDARG},
      {"private properties not XML", 0x800000, TextVar(u"varType=inputVar"), E_INVALIDARG},
      {"address not XML", 0x2, TextVar(u"<AddressInformation>"), E_FAIL},
      {"address not a text", 0x2, UI4(2), E_FAIL},
      {"no AddressInformation", 0x2, TextVar(u"<Address/>"), E_FAIL},
      {"read address without command", 0x2,
       TextVar(u"<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress "
            u"service=\"read\"><PduPosition wBitLength=\"8\"/></HARTAddress></Protocol></AddressInformation>"),
       E_FAIL},
      {"command beyond a byte", 0x2,
       TextVar(u"<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress "
            u"service=\"read\" command=\"256\"><PduPosition wBitLength=\"8\"/></HARTAddress></Protocol>"
            u"</AddressInformation>"),
       DISP_E_OVERFLOW},
      {"no bit length", 0x2,
       TextVar(u"<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress "
            u"service=\"read\" command=\"1\"><PduPosition bitOffset=\"8\"/></HARTAddress></Protocol>"
            u"</AddressInformation>"),
       E_FAIL},
  };
  for (Case& c : cases) {
    Script();
    if (c.value.vt == VT_ERROR)
      dtm->fields.erase(c.mask);
    else
      dtm->fields[c.mask] = c.value;
    EXPECT_EQ(Get(u"C", u"K", Variant()), c.expected) << c.name;
    EXPECT_EQ(document.Get(), nullptr) << c.name;
    EXPECT_EQ(record.vt, VT_EMPTY) << c.name;
  }
}

TEST_F(HartProcessChannel, SignalTypeAndDataTypeWords) {
  dtm->fields[0x800000] = TextVar(PrivateProperties(u"inputVar"));
  // The words the channel's values travel as: a text as ascii, a boolean as a number.
  const std::pair<VARTYPE, const char*> types[] = {
      {VT_I2, "int"},     {VT_R8, "double"},    {VT_UI1, "byte"},         {VT_UI4, "unsigned"},
      {VT_BSTR, "ascii"}, {VT_BOOL, "int"},     {VT_DATE, "dateAndTime"}, {VT_ARRAY | VT_UI1, "hexString"}};
  for (const auto& [vt, word] : types) {
    dtm->fields[0x10] = VarType(vt);
    ASSERT_EQ(Get(u"C", u"K", Variant()), S_OK) << word;
    const std::string text = U8(document);
    EXPECT_NE(text.find(std::string("fdt:dataType=\"") + word + "\""), std::string::npos) << text;
    EXPECT_NE(text.find("fdt:signalType=\"input\""), std::string::npos) << text;
  }
}

TEST_F(HartProcessChannel, NameAndChannelIdAreEscaped) {
  dtm->fields[0x4] = TextVar(u"Level \"A\" & <B>");
  ASSERT_EQ(Get(u"id\"1&", u"K", Variant()), S_OK);
  ComPtr<IXMLDOMDocument2> loaded = Load(document.View());
  ASSERT_TRUE(loaded) << U8(document);
  Bstr tag, id;
  ASSERT_EQ(GetXmlValueBstr(tag.Put(), loaded.Get(), Bstr(u"FDT/FDTChannel/@fdt:tag")), S_OK);
  ASSERT_EQ(GetXmlValueBstr(id.Put(), loaded.Get(), Bstr(u"FDT/FDTChannel/@fdt:id")), S_OK);
  EXPECT_EQ(U8(tag), "Level \"A\" & <B>");
  EXPECT_EQ(U8(id), "id\"1&");
}

TEST_F(HartProcessChannel, AStoredRecordIsHandedBackWhenItIsKeptOrNoLongerAChannel) {
  HartProcessChannelData stored;
  stored.nProtectedByChannelAssignment = 1;
  stored.bstrDocument = Bstr(u"<stored/>");
  stored.bstrChannelId = Bstr(u"KEEP");
  Variant packed;
  ASSERT_TRUE(stored.Pack(packed.Put()));

  // The id to keep: handed back, the model asked only whether it is a channel.
  dtm->asked.clear();
  ASSERT_EQ(Get(u"CH", u"KEEP", packed), S_OK);
  EXPECT_EQ(U8(document), "<stored/>");
  EXPECT_EQ(DescribePacked(record), "[I4 BSTR BSTR]");
  HartProcessChannelData back;
  ASSERT_TRUE(back.Unpack(record));
  EXPECT_EQ(back.nProtectedByChannelAssignment, 1);
  EXPECT_EQ(U8(back.bstrChannelId), "KEEP");
  EXPECT_EQ(dtm->asked, std::vector<ULONG>{0x80000000});

  // Another id, and no longer a channel: handed back too.
  dtm->fields[0x80000000] = Bool(false);
  ASSERT_EQ(Get(u"CH", u"OTHER", packed), S_OK);
  EXPECT_EQ(U8(document), "<stored/>");

  // Another id of a channel: a new document that keeps the stored protection.
  dtm->fields[0x80000000] = Bool(true);
  ASSERT_EQ(Get(u"CH", u"OTHER", packed), S_OK);
  EXPECT_EQ(U8(document), Document("Level", "CH", 1, "float", 4, "output",
                                   "<ReadCommand commandNumber=\"1\" /><WriteCommand commandNumber=\"35\" />"));
  ASSERT_TRUE(back.Unpack(record));
  EXPECT_EQ(U8(back.bstrChannelId), "OTHER");

  // A stored record without a channel id never short-cuts.
  stored.bstrChannelId = Bstr(u"");
  ASSERT_TRUE(stored.Pack(packed.Put()));
  dtm->fields[0x80000000] = Bool(false);
  EXPECT_EQ(Get(u"CH", u"", packed), E_FAIL);

  // A record that does not unpack.
  EXPECT_EQ(Get(u"CH", u"KEEP", MakeArray({I4(1), TextVar(u"x")})), E_INVALIDARG);
  EXPECT_EQ(Get(u"CH", u"KEEP", TextVar(u"x")), E_INVALIDARG);
}

TEST_F(HartProcessChannel, RefusesMissingArgumentsAndInterfaces) {
  Bstr out;
  Variant outRecord;
  IUnknown* unknown = static_cast<IovFdtParameterInfo*>(dtm.Get());
  EXPECT_EQ(protocol.GetChannelParameters(unknown, UI4(5), nullptr, nullptr, nullptr, Variant(), outRecord.Ptr()),
            E_INVALIDARG);
  EXPECT_EQ(protocol.GetChannelParameters(unknown, UI4(5), nullptr, nullptr, out.Put(), Variant(), nullptr),
            E_INVALIDARG);
  EXPECT_EQ(protocol.GetChannelParameters(nullptr, UI4(5), nullptr, nullptr, out.Put(), Variant(), outRecord.Ptr()),
            E_INVALIDARG);
  dtm->handler = nullptr;
  EXPECT_EQ(protocol.GetChannelParameters(unknown, UI4(5), nullptr, nullptr, out.Put(), Variant(), outRecord.Ptr()),
            E_NOINTERFACE);
  dtm->handler = static_cast<IovFdtParameterHandler4*>(&handler);
  dtm->offersInfo = false;
  EXPECT_EQ(protocol.GetChannelParameters(unknown, UI4(5), nullptr, nullptr, out.Put(), Variant(), outRecord.Ptr()),
            E_NOINTERFACE);

  // The framework's base knows no channels.
  CovFDT_BaseProtocolImpl base;
  EXPECT_EQ(base.GetChannelParameters(unknown, UI4(5), nullptr, nullptr, out.Put(), Variant(), outRecord.Ptr()),
            E_NOTIMPL);
  bool isProtected = false;
  EXPECT_EQ(base.SetChannelParameters(unknown, UI4(5), nullptr, nullptr, nullptr, nullptr, Variant(), outRecord.Ptr(),
                                      &isProtected),
            E_NOTIMPL);
}

// ---- Reading the frame's version back ----

class HartProcessChannelReadBack : public HartProcessChannel {
 protected:
  HRESULT Set(const std::u16string& text, const char16_t* expected, const char16_t* channelId, bool* isProtected) {
    ComPtr<IXMLDOMDocument2> loaded = Load(text);
    if (!loaded) return E_UNEXPECTED;
    return protocol.SetChannelParameters(static_cast<IovFdtParameterInfo*>(dtm.Get()), UI4(5), Bstr(expected),
                                         Bstr(channelId), Bstr(text), loaded.Get(), Variant(), record.Ptr(),
                                         isProtected);
  }
};

TEST_F(HartProcessChannelReadBack, StoresProtectionDocumentAndChannelId) {
  const std::pair<const char16_t*, bool> cases[] = {{u"0", false}, {u"1", true}, {u"-3", true}};
  for (const auto& [value, expectProtected] : cases) {
    const std::u16string text = u"<FDT xmlns:fdt=\"x\"><FDTChannel fdt:id=\"CH\" protectedByChannelAssignment=\"" +
                                std::u16string(value) + u"\"/></FDT>";
    bool isProtected = !expectProtected;
    record.Clear();
    ASSERT_EQ(Set(text, u"CH", u"NEW", &isProtected), S_OK) << vkr::Utf16ToUtf8(value);
    EXPECT_EQ(isProtected, expectProtected);
    HartProcessChannelData data;
    ASSERT_TRUE(data.Unpack(record));
    EXPECT_EQ(data.nProtectedByChannelAssignment, std::stol(vkr::Utf16ToUtf8(value)));
    EXPECT_EQ(vkr::Utf16ToUtf8(data.bstrDocument.View()), vkr::Utf16ToUtf8(text));
    EXPECT_EQ(U8(data.bstrChannelId), "NEW");
  }
  // The flag is optional.
  record.Clear();
  EXPECT_EQ(Set(u"<FDT xmlns:fdt=\"x\"><FDTChannel fdt:id=\"CH\" protectedByChannelAssignment=\"1\"/></FDT>", u"CH",
                u"NEW", nullptr),
            S_OK);
}

TEST_F(HartProcessChannelReadBack, RefusalsLeaveTheOutRecordAsItWas) {
  struct Case {
    const char* name;
    std::u16string text;
    HRESULT expected;
  } cases[] = {
      {"another channel id",
       u"<FDT xmlns:fdt=\"x\"><FDTChannel fdt:id=\"OTHER\" protectedByChannelAssignment=\"1\"/></FDT>", E_INVALIDARG},
      {"channel id differs in case",
       u"<FDT xmlns:fdt=\"x\"><FDTChannel fdt:id=\"ch\" protectedByChannelAssignment=\"1\"/></FDT>", E_INVALIDARG},
      {"no channel id", u"<FDT><FDTChannel protectedByChannelAssignment=\"1\"/></FDT>", E_FAIL},
      {"no protection", u"<FDT xmlns:fdt=\"x\"><FDTChannel fdt:id=\"CH\"/></FDT>", E_FAIL},
      {"protection not a number",
       u"<FDT xmlns:fdt=\"x\"><FDTChannel fdt:id=\"CH\" protectedByChannelAssignment=\"yes\"/></FDT>",
       DISP_E_TYPEMISMATCH},
  };
  for (const Case& c : cases) {
    HartProcessChannelData previous;
    previous.bstrChannelId = Bstr(u"PREVIOUS");
    ASSERT_TRUE(previous.Pack(record.Put()));
    bool isProtected = false;
    EXPECT_EQ(Set(c.text, u"CH", u"NEW", &isProtected), c.expected) << c.name;
    EXPECT_FALSE(isProtected) << c.name;
    HartProcessChannelData after;
    ASSERT_TRUE(after.Unpack(record)) << c.name;
    EXPECT_EQ(U8(after.bstrChannelId), "PREVIOUS") << c.name;
  }

  // Missing arguments and interfaces.
  ComPtr<IXMLDOMDocument2> loaded = Load(u"<FDT/>");
  IUnknown* unknown = static_cast<IovFdtParameterInfo*>(dtm.Get());
  bool isProtected = false;
  EXPECT_EQ(protocol.SetChannelParameters(unknown, UI4(5), nullptr, nullptr, nullptr, loaded.Get(), Variant(), nullptr,
                                          &isProtected),
            E_INVALIDARG);
  EXPECT_EQ(protocol.SetChannelParameters(unknown, UI4(5), nullptr, nullptr, nullptr, nullptr, Variant(), record.Ptr(),
                                          &isProtected),
            E_INVALIDARG);
  EXPECT_EQ(protocol.SetChannelParameters(nullptr, UI4(5), nullptr, nullptr, nullptr, loaded.Get(), Variant(),
                                          record.Ptr(), &isProtected),
            E_INVALIDARG);
  dtm->handler = nullptr;
  EXPECT_EQ(protocol.SetChannelParameters(unknown, UI4(5), nullptr, nullptr, nullptr, loaded.Get(), Variant(),
                                          record.Ptr(), &isProtected),
            E_INVALIDARG);
  dtm->handler = static_cast<IovFdtParameterHandler4*>(&handler);
  // An out record that holds a value makes the given record count: it must unpack.
  EXPECT_EQ(protocol.SetChannelParameters(unknown, UI4(5), nullptr, nullptr, nullptr, loaded.Get(), TextVar(u"x"),
                                          record.Ptr(), &isProtected),
            E_INVALIDARG);
}

TEST_F(HartProcessChannelReadBack, TheWrittenDocumentReadsBackAndValidates) {
  ASSERT_EQ(Get(u"CH", u"CH", Variant()), S_OK);
  SchemaValidator validator;
  ASSERT_EQ(validator.Initialize(), S_OK) << validator.errors;
  EXPECT_TRUE(validator.Validates(document)) << U8(document) << "\n" << validator.errors;
  const std::u16string text = document.Str();
  bool isProtected = true;
  ASSERT_EQ(Set(text, u"CH", u"CH", &isProtected), S_OK);
  EXPECT_FALSE(isProtected);

  // A read-only parameter's document too (a blank instead of the write command).
  dtm->fields[0x2] = TextVar(
      u"<AddressInformation><Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\"><HARTAddress service=\"read\" "
      u"command=\"3\"><PduPosition bitOffset=\"40\" wBitLength=\"32\"/></HARTAddress></Protocol></AddressInformation>");
  ASSERT_EQ(Get(u"CH", u"CH", Variant()), S_OK);
  EXPECT_TRUE(validator.Validates(document)) << U8(document) << "\n" << validator.errors;
}

// The real parameter handler as the DTM: its field 0x80000000 answers whether the parameter exists,
// so every parameter it holds counts as a channel.
TEST_F(HartProcessChannel, WorksWithTheParameterHandlerItself) {
  ParInfo p;
  p.m_nId = 5;
  p.m_vt = VT_R4;
  p.m_bstrName = Bstr(u"Distance");
  p.m_vAddress = TextVar(kAddressReadWrite);
  p.m_vPrivateProperties = TextVar(kPrivateOutput);
  ASSERT_EQ(handler.AddParInfo(p), S_OK);
  ASSERT_EQ(protocol.GetChannelParameters(static_cast<IovFdtParameterHandler4*>(&handler), UI4(5), Bstr(u"C"),
                                          Bstr(u"K"), document.Put(), Variant(), record.Ptr()),
            S_OK);
  EXPECT_EQ(U8(document), Document("Distance", "C", 0, "float", 4, "output",
                                   "<ReadCommand commandNumber=\"1\" /><WriteCommand commandNumber=\"35\" />"));
  // An id the handler does not hold is no channel.
  Bstr other;
  Variant otherRecord;
  EXPECT_EQ(protocol.GetChannelParameters(static_cast<IovFdtParameterHandler4*>(&handler), UI4(6), Bstr(u"C"),
                                          Bstr(u"K"), other.Put(), Variant(), otherRecord.Ptr()),
            E_FAIL);
}

}  // namespace
