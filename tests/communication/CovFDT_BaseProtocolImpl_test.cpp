// The protocol object's tables on the real parameter handler: the VKR device table's groups and
// bit positions, the address keys, bit lengths derived from the parameter model, TypeInformation
// reading and reordering, the decode type, the bus address and the messages to the DTM.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "communication/MyHartProtocol.h"
#include "include/DtmInterfaces.h"
#include "parameters/DeviceParameterTable.h"
#include "tests/support/definition_fixture.h"
#include "tests/support/stub_dispatch.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::test::Text;

constexpr char16_t kHart[] = u"036D1498-387B-11D4-86E1-00E0987270B9";

std::u16string U(const std::string& s) { return vkr::Utf8ToUtf16(s); }

// A HART AddressInformation text; `read` and `write` are the HARTAddress elements' inner parts.
std::string Address(const std::string& read, const std::string& write, const char* protocol = nullptr) {
  std::string s = "<AddressInformation><Protocol id=\"" +
                  std::string(protocol ? protocol : "036D1498-387B-11D4-86E1-00E0987270B9") + "\">";
  if (!read.empty()) s += "<HARTAddress service=\"read\" " + read + "</HARTAddress>";
  if (!write.empty()) s += "<HARTAddress service=\"write\" " + write + "</HARTAddress>";
  return s + "</Protocol></AddressInformation>";
}

// The Protocol element alone, as the protocol object hands it to GetAddressKey.
std::string ProtocolOnly(const std::string& read, const std::string& write) {
  std::string s = Address(read, write);
  s = s.substr(std::strlen("<AddressInformation>"));
  return s.substr(0, s.size() - std::strlen("</AddressInformation>"));
}

// Records the DTM messages the protocol object sends.
class EventsRecorder : public IovFdtDtmEvents {
 public:
  std::vector<std::pair<LONG, std::u16string>> messages;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown || riid == IovFdtDtmEvents::iid ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  VKR_NO_DISPATCH
  HRESULT DtmMessage(VARIANT id, VARIANT argument) override {
    messages.emplace_back(id.vt == VT_I4 ? id.lVal : -1,
                          argument.vt == VT_BSTR ? std::u16string(vkr::View(argument.bstrVal)) : u"<not a text>");
    return S_OK;
  }
};

// The parameter handler as the DTM object carries it, offering the DTM's events when asked to.
class TestDtm : public vkr::test::StackParameterHandler {
 public:
  using StackParameterHandler::StackParameterHandler;
  bool offerEvents = false;
  bool offerInfo = true;
  EventsRecorder events;

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IovFdtDtmEvents::iid) {
      *ppv = offerEvents ? static_cast<IovFdtDtmEvents*>(&events) : nullptr;
      return *ppv ? S_OK : E_NOINTERFACE;
    }
    if (riid == IovFdtParameterInfo::iid && !offerInfo) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    return StackParameterHandler::QueryInterface(riid, ppv);
  }
  IUnknown* Unknown() { return static_cast<IovFdtParameterHandler4*>(this); }

  // Adds an addressed parameter with the fields the protocol object reads.
  void Add(ULONG id, VARTYPE vt, const std::string& address, const VARIANT& minimum = vkr::EmptyVariant(),
           const VARIANT& maximum = vkr::EmptyVariant(), const char* typeInformation = nullptr, ULONG addressed = 1) {
    ParInfo record;
    record.m_nId = id;
    record.m_vt = vt;
    record.m_dwAddressed = addressed;
    record.m_vAddress.vt = VT_BSTR;
    record.m_vAddress.bstrVal = SysAllocString(U(address).c_str());
    VariantCopy(&record.m_vMin, &minimum);
    VariantCopy(&record.m_vMax, &maximum);
    if (typeInformation) {
      record.m_vTypeInformation.vt = VT_BSTR;
      record.m_vTypeInformation.bstrVal = SysAllocString(U(typeInformation).c_str());
    }
    ASSERT_EQ(AddParInfo(record), S_OK) << id;
  }
};

// A protocol of another id, to see the framework base's own reading of addresses.
class OtherProtocol : public CovFDT_BaseProtocolImpl {
 public:
  OtherProtocol() { m_bstrProtocolId = vkr::Bstr(u"ABC"); }
};

class ProtocolTest : public ::testing::Test {
 protected:
  vkr::test::FakeParameterSite site{vkr::test::kSiteAlone};
  TestDtm dtm{&site};
  MyHartProtocol protocol;

  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override {
    protocol.DetachDtm();
    CoUninitialize();
  }

  void LoadDeviceTable() { ASSERT_EQ(InitDeviceParameterTable(dtm, &dtm.Collection(), nullptr), S_OK); }

  const SovFDT_ParameterEntry* EntryOf(ULONG id) { return protocol.FindParameterEntry(vkr::UI4(id)); }
  const SovFDT_TransactionGroup* GroupOf(ULONG id) {
    const SovFDT_ParameterEntry* e = EntryOf(id);
    return e ? protocol.FindTransactionGroup(e->nGroup) : nullptr;
  }
  std::vector<ULONG> MembersOf(ULONG id) {
    std::vector<ULONG> out;
    if (const SovFDT_TransactionGroup* g = GroupOf(id))
      for (const vkr::Variant& m : g->members) out.push_back(m.ulVal);
    return out;
  }
  static std::string KeyText(const VARIANT& key) {
    if (key.vt == VT_UI4) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "0x%X", static_cast<unsigned>(key.ulVal));
      return buf;
    }
    return key.vt == VT_BSTR ? Text(key.bstrVal) : "<vt " + std::to_string(key.vt) + ">";
  }
};

VARIANT Number(double d) {
  VARIANT v = vkr::EmptyVariant();
  v.vt = VT_R8;
  v.dblVal = d;
  return v;
}

// ---- The device table. ----

TEST_F(ProtocolTest, DeviceTableFormsItsTransactionGroups) {
  LoadDeviceTable();
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  EXPECT_EQ(protocol.GetParameterEntries().size(), 53u);
  EXPECT_EQ(protocol.GetTransactionGroups().size(), 24u);

  struct Row {
    ULONG id;
    const char* key;
    ULONG readOffset, writeOffset, bitLength;
  } rows[] = {
      {1031, "0x303", 0, 0, 192},     {1049, "0x303", 40, 40, 32},   {1050, "0x303", 80, 80, 32},
      {1054, "0x120D", 0, 0, 48},     {1055, "0x120D", 48, 48, 96},  {1058, "0x120D", 160, 160, 8},
      {1018, "0xF0F", 120, 0, 16},    {1022, "0x220F", 88, 0, 32},   {1023, "0x230F", 16, 0, 72},
      {1024, "0x2C01", 0, 0, 8},
      {1034, "0x2929", 0, 0, 0},      {1035, "0x2A2A", 0, 0, 0},     {1036, "0x3030", 0, 0, 192},
      {1108, "0x607", 8, 8, 8},       {1090, "0x8887", 48, 48, 32},  {1098, "0x1614", 0, 0, 256},
  };
  for (const Row& r : rows) {
    const SovFDT_ParameterEntry* e = EntryOf(r.id);
    ASSERT_NE(e, nullptr) << r.id;
    EXPECT_EQ(e->nReadBitOffset, r.readOffset) << r.id;
    EXPECT_EQ(e->nWriteBitOffset, r.writeOffset) << r.id;
    EXPECT_EQ(e->nBitLength, r.bitLength) << r.id;
    ASSERT_NE(GroupOf(r.id), nullptr) << r.id;
    EXPECT_EQ(KeyText(GroupOf(r.id)->key), r.key) << r.id;
  }
  EXPECT_EQ(MembersOf(1049), (std::vector<ULONG>{1031, 1048, 1049, 1050}));
  EXPECT_EQ(MembersOf(1054), (std::vector<ULONG>{1017, 1052, 1053, 1054, 1055, 1056, 1057, 1058, 1092, 1094}));
  // Parameters without a device address are not in the table.
  EXPECT_EQ(EntryOf(121), nullptr);
  EXPECT_EQ(EntryOf(1), nullptr);
  // The group's address is the Protocol element of the parameter that made it.
  const SovFDT_TransactionGroup* g = GroupOf(1049);
  ASSERT_EQ(g->address.vt, VT_BSTR);
  EXPECT_EQ(Text(g->address.bstrVal).rfind("<Protocol id=\"036D1498-387B-11D4-86E1-00E0987270B9\">", 0), 0u)
      << Text(g->address.bstrVal);
}

// Every entry and group of a protocol object's table, as text.
std::string TableText(const CovFDT_BaseProtocolImpl& p) {
  std::string out;
  for (const auto& e : p.GetParameterEntries())
    out += std::to_string(e->id.ulVal) + " g" + std::to_string(e->nGroup) + " " + std::to_string(e->nReadBitOffset) +
           "/" + std::to_string(e->nWriteBitOffset) + "/" + std::to_string(e->nBitLength) + "\n";
  for (const auto& g : p.GetTransactionGroups()) {
    out += "group " + std::to_string(g->nNumber) + " " + Text(g->address.bstrVal) + " key ";
    out += g->key.vt == VT_UI4 ? std::to_string(g->key.ulVal) : Text(g->key.bstrVal);
    out += ':';
    for (const vkr::Variant& m : g->members) out.append(" ").append(std::to_string(m.ulVal));
    out += "\n";
  }
  return out;
}

// The same class derived once more: it builds every table itself.
class OwnTablesProtocol : public MyHartProtocol {};

// Objects of the device's protocol class share the table built from the same addresses; a model
// whose addresses, words or derived lengths differ gets the table a build of its own gives.
TEST_F(ProtocolTest, TablesOfTheSameAddressesAreSharedAndOthersBuiltAsTheirOwn) {
  LoadDeviceTable();
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  const std::string device = TableText(protocol);
  ASSERT_EQ(protocol.GetParameterEntries().size(), 53u);

  auto check = [&](TestDtm& model, const char* what) {
    OwnTablesProtocol own;
    MyHartProtocol shared;
    ASSERT_TRUE(own.AttachDtm(model.Unknown())) << what;
    ASSERT_TRUE(shared.AttachDtm(model.Unknown())) << what;
    EXPECT_EQ(TableText(shared), TableText(own)) << what;
    own.DetachDtm();
    shared.DetachDtm();
  };
  TestDtm same{&site};
  ASSERT_EQ(InitDeviceParameterTable(same, &same.Collection(), nullptr), S_OK);
  check(same, "the same table");
  {
    MyHartProtocol again;
    ASSERT_TRUE(again.AttachDtm(same.Unknown()));
    EXPECT_EQ(TableText(again), device);
    again.DetachDtm();
  }

  TestDtm moved{&site};
  ASSERT_EQ(InitDeviceParameterTable(moved, &moved.Collection(), nullptr), S_OK);
  ParInfo address;
  address.m_vAddress.vt = VT_BSTR;
  address.m_vAddress.bstrVal = SysAllocString(
      vkr::Utf8ToUtf16(Address("command=\"3\"><PduPosition bitOffset=\"48\" wBitLength=\"32\"/>", "")).c_str());
  ASSERT_EQ(moved.SetParInfoFields(1049, PIF_ADDRESS, address), S_OK);
  check(moved, "one address moved");
  ParInfo unaddressed;
  unaddressed.m_dwAddressed = 0;
  ASSERT_EQ(moved.SetParInfoFields(1050, PIF_ADDRESSED, unaddressed), S_OK);
  check(moved, "one word cleared");

  // Lengths the addresses leave to the model: the same addresses, other types.
  for (VARTYPE vt : {VT_UI1, VT_UI2, VT_UI1}) {
    TestDtm derived{&site};
    derived.Add(10, vt, Address("command=\"1\"><PduPosition bitOffset=\"8\"/>", ""));
    derived.Add(11, VT_R4, Address("command=\"1\"><PduPosition bitOffset=\"16\" wBitLength=\"32\"/>", ""));
    check(derived, "a derived length");
  }
}

// A build that fails for the moment (here: a thread that has not set up COM, so no XML can be
// read) fails, and leaves no empty table or failed address behind for the DTMs built after it.
TEST_F(ProtocolTest, ABuildThatFailsForTheMomentSpoilsNoLaterTable) {
  TestDtm model{&site};
  // Addresses no other test or earlier round reads, so nothing is kept for them yet.
  static int round = 0;
  const std::string first = std::to_string(8 * (++round));
  model.Add(10, VT_UI1, Address("command=\"211\"><PduPosition bitOffset=\"" + first + "\" wBitLength=\"8\"/>", ""));
  model.Add(11, VT_R4, Address("command=\"211\"><PduPosition bitOffset=\"0\" wBitLength=\"32\"/>", ""));
  HRESULT withoutCom = S_OK;
  std::thread([&] {
    MyHartProtocol early;
    early.AttachDtm(model.Unknown());
    withoutCom = early.InitParameterTable();
    early.DetachDtm();
  }).join();
  EXPECT_EQ(withoutCom, CO_E_NOTINITIALIZED);

  MyHartProtocol later;
  OwnTablesProtocol own;
  ASSERT_TRUE(later.AttachDtm(model.Unknown()));
  ASSERT_TRUE(own.AttachDtm(model.Unknown()));
  EXPECT_EQ(later.GetParameterEntries().size(), 2u);
  EXPECT_EQ(TableText(later), TableText(own));
  later.DetachDtm();
  own.DetachDtm();
}

TEST_F(ProtocolTest, RebuildingStartsTheNumbersAgain) {
  LoadDeviceTable();
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  const ULONG firstGroup = EntryOf(1009)->nGroup;
  const ULONG lastGroup = EntryOf(1121)->nGroup;
  EXPECT_EQ(firstGroup, 1u) << "the lowest addressed id makes the first group";
  EXPECT_EQ(protocol.InitParameterTable(), S_OK);
  EXPECT_EQ(protocol.GetParameterEntries().size(), 53u);
  EXPECT_EQ(protocol.GetTransactionGroups().size(), 24u);
  EXPECT_EQ(EntryOf(1009)->nGroup, firstGroup);
  EXPECT_EQ(EntryOf(1121)->nGroup, lastGroup);
  EXPECT_EQ(MembersOf(1049).size(), 4u) << "no member twice after a rebuild";
}

TEST_F(ProtocolTest, AttachingTwiceKeepsTheTablesAndDetachingKeepsTheProtocol) {
  dtm.Add(10, VT_UI1, Address("command=\"3\">", ""));
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  dtm.Add(11, VT_UI1, Address("command=\"4\">", ""));
  EXPECT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  EXPECT_EQ(protocol.GetParameterEntries().size(), 1u) << "an attached protocol does not rebuild";

  EXPECT_TRUE(protocol.DetachDtm());
  EXPECT_EQ(protocol.GetParameterHandler(), nullptr);
  EXPECT_EQ(protocol.GetParameterEntries().size(), 1u) << "the tables stay";
  ASSERT_NE(protocol.GetProtocolId(), nullptr);
  EXPECT_EQ(std::u16string(protocol.GetProtocolId()), kHart);
  // A channel set again after a release attaches the same protocol.
  EXPECT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  EXPECT_EQ(protocol.GetParameterEntries().size(), 2u);
}

TEST_F(ProtocolTest, AttachingNeedsTheParameterHandler) {
  EventsRecorder notADtm;
  EXPECT_FALSE(protocol.AttachDtm(&notADtm));
  EXPECT_FALSE(protocol.AttachDtm(nullptr));
  EXPECT_EQ(protocol.InitParameterTable(), E_NOINTERFACE);
  dtm.offerInfo = false;
  EXPECT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  EXPECT_EQ(protocol.InitParameterTable(), E_NOINTERFACE);
}

TEST_F(ProtocolTest, OnlyAddressedParametersOfThisProtocolAreRegistered) {
  dtm.Add(10, VT_UI1, Address("command=\"3\">", ""));
  dtm.Add(11, VT_UI1, Address("command=\"3\">", ""), vkr::EmptyVariant(), vkr::EmptyVariant(), nullptr, 0);
  dtm.Add(12, VT_UI1, Address("command=\"3\">", "", "ABC"));
  dtm.Add(13, VT_UI1, "not markup");
  dtm.Add(14, VT_UI1, "<broken");
  dtm.Add(15, VT_UI1, "");
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  EXPECT_NE(EntryOf(10), nullptr);
  for (ULONG id : {11u, 12u, 13u, 14u, 15u}) EXPECT_EQ(EntryOf(id), nullptr) << id;
}

// ---- Keys and groups. ----

TEST_F(ProtocolTest, HartKeysJoinParametersOfTheSameCommands) {
  struct Case {
    std::string read, write;
    HRESULT hr;
    const char* key;
  } cases[] = {
      {"command=\"3\">", "command=\"3\" commandBitLength=\"8\">", S_OK, "0x303"},
      {"command=\"3\">", "", S_OK, "0x1000003"},
      {"", "command=\"3\" commandBitLength=\"8\">", S_OK, "0x10300"},
      {"", "", S_OK, "0x1010000"},
      {"requestData=\"01\">", "", S_OK, "0x01010000, rr: 01"},
      {"command=\"13\" requestData=\"0102\">", "command=\"13\" commandBitLength=\"8\">", S_OK, "0x00000D0D, rr: 0102"},
      {"command=\"13\" requestData=\"01\">", "command=\"13\" requestData=\"02\" commandBitLength=\"8\">", S_OK,
       "0x00000D0D, rr: 01wr: 02"},
      {"command=\"255\" requestData=\"\">", "command=\"255\" commandBitLength=\"8\">", S_OK, "0xFFFF"},
      {"command=\"256\">", "", DISP_E_OVERFLOW, nullptr},
      {"command=\"x\">", "", DISP_E_TYPEMISMATCH, nullptr},
  };
  for (const Case& c : cases) {
    vkr::Variant key;
    const vkr::Bstr address(U(ProtocolOnly(c.read, c.write)));
    EXPECT_EQ(protocol.GetAddressKey(address, key.Put()), c.hr) << c.read << c.write;
    if (c.key) {
      EXPECT_EQ(KeyText(key), c.key) << c.read << c.write;
    }
  }
  vkr::Variant key;
  EXPECT_TRUE(FAILED(protocol.GetAddressKey(vkr::Bstr(u"<not closed"), key.Put())));
  EXPECT_EQ(protocol.GetAddressKey(vkr::Bstr(u"<Protocol/>"), nullptr), E_INVALIDARG);
}

TEST_F(ProtocolTest, SameCommandsShareAGroupAndRequestDataSeparates) {
  const std::string write = "command=\"13\" commandBitLength=\"16\"><PduPosition bitOffset=\"0\" wBitLength=\"8\"/>";
  dtm.Add(20, VT_UI1, Address("command=\"13\"><PduPosition bitOffset=\"0\" wBitLength=\"8\"/>", write));
  dtm.Add(21, VT_UI1, Address("command=\"13\"><PduPosition bitOffset=\"8\" wBitLength=\"8\"/>", write));
  dtm.Add(22, VT_UI1, Address("command=\"13\" requestData=\"01\"><PduPosition bitOffset=\"8\" wBitLength=\"8\"/>", write));
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  EXPECT_EQ(MembersOf(20), (std::vector<ULONG>{20, 21}));
  EXPECT_EQ(MembersOf(22), (std::vector<ULONG>{22}));
  EXPECT_EQ(GroupOf(20)->nNumber, 1u);
  EXPECT_EQ(GroupOf(22)->nNumber, 2u);

  // A parameter registered twice is listed twice in its group, with one entry.
  const vkr::Bstr address(U(ProtocolOnly("command=\"13\"><PduPosition bitOffset=\"8\" wBitLength=\"8\"/>", write)));
  EXPECT_EQ(protocol.RegisterParameter(vkr::UI4(21), address), S_OK);
  EXPECT_EQ(MembersOf(20), (std::vector<ULONG>{20, 21, 21}));
  EXPECT_EQ(protocol.GetParameterEntries().size(), 3u);
  // An id handed in as another integer type finds the same entry.
  EXPECT_EQ(protocol.FindParameterEntry(vkr::I4(21)), EntryOf(21));
  EXPECT_EQ(protocol.FindParameterEntry(vkr::EmptyVariant()), nullptr) << "an empty id is no parameter 0";
  EXPECT_EQ(protocol.FindTransactionGroup(0), nullptr);
  EXPECT_EQ(protocol.FindTransactionGroup(3), nullptr);
}

TEST_F(ProtocolTest, AnAddressWithoutAKeyRegistersNothing) {
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  EXPECT_TRUE(FAILED(protocol.RegisterParameter(vkr::UI4(5), vkr::Bstr(u"<Protocol"))));
  EXPECT_EQ(protocol.GetParameterEntries().size(), 0u);
  EXPECT_EQ(protocol.GetTransactionGroups().size(), 0u);
}

// ---- Bit positions and lengths. ----

TEST_F(ProtocolTest, BitLengthsComeFromTheAddressOrTheParameterModel) {
  struct Case {
    VARTYPE vt;
    std::string read, write;
    VARIANT minimum, maximum;
    const char* typeInformation;
    HRESULT hr;
    ULONG readOffset, writeOffset, bitLength;
  } cases[] = {
      {VT_R4, "command=\"1\"><PduPosition bitOffset=\"40\"/>", "", {}, {}, nullptr, S_OK, 40, 0, 32},
      {VT_BOOL, "command=\"1\"><PduPosition bitOffset=\"8\"/>", "", {}, {}, nullptr, S_OK, 8, 0, 16},
      {VT_DATE, "command=\"1\">", "", {}, {}, nullptr, S_OK, 0, 0, 48},
      {VT_DECIMAL, "command=\"1\">", "", {}, {}, nullptr, S_OK, 0, 0, 96},
      {VT_UI8, "command=\"1\">", "", {}, {}, nullptr, S_OK, 0, 0, 64},
      {VT_CY, "command=\"1\">", "", {}, {}, nullptr, E_FAIL, 0, 0, 0},
      {VT_BSTR, "command=\"1\">", "", Number(2), Number(10), nullptr, S_OK, 0, 0, 64},
      {VT_BSTR, "command=\"1\">", "", Number(10), Number(2), nullptr, S_OK, 0, 0, 64},
      {VT_BSTR, "command=\"1\">", "", Number(0), Number(8),
       "<TypeInformation><Simple type=\"VT_BSTR\" iecType=\"WSTRING\"/></TypeInformation>", S_OK, 0, 0, 128},
      {VT_BSTR, "command=\"1\">", "", {}, {}, nullptr, E_FAIL, 0, 0, 0},
      {VT_ARRAY | VT_UI1, "command=\"1\">", "", Number(4), Number(4), nullptr, S_OK, 0, 0, 32},
      {VT_ARRAY | VT_UI1, "command=\"1\">", "", Number(2), Number(4), nullptr, E_UNEXPECTED, 0, 0, 0},
      // A length the address gives, 0 included, is kept.
      {VT_ARRAY | VT_UI1, "command=\"41\"><PduPosition bitOffset=\"0\" wBitLength=\"0\"/>", "", {}, {}, nullptr, S_OK,
       0, 0, 0},
      // Without a write address the write offset is 0 and the read length holds.
      {VT_UI2, "command=\"15\"><PduPosition bitOffset=\"120\" wBitLength=\"16\"/>", "", {}, {}, nullptr, S_OK, 120, 0,
       16},
      // The write address's length wins.
      {VT_UI4, "command=\"15\"><PduPosition bitOffset=\"8\" wBitLength=\"16\"/>",
       "command=\"16\" commandBitLength=\"32\"><PduPosition bitOffset=\"0\" wBitLength=\"24\"/>", {}, {}, nullptr, S_OK, 8,
       0, 24},
      {VT_UI4, "command=\"15\">", "command=\"16\" commandBitLength=\"32\"><PduPosition bitOffset=\"16\"/>", {}, {},
       nullptr, S_OK, 0, 16, 32},
  };
  ULONG id = 100;
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  for (const Case& c : cases) {
    ++id;
    dtm.Add(id, c.vt, Address(c.read, c.write), c.minimum, c.maximum, c.typeInformation);
    const vkr::Bstr address(U(ProtocolOnly(c.read, c.write)));
    EXPECT_EQ(protocol.RegisterParameter(vkr::UI4(id), address), c.hr) << c.read << c.write << " vt " << c.vt;
    if (c.hr != S_OK) continue;
    const SovFDT_ParameterEntry* e = EntryOf(id);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->nReadBitOffset, c.readOffset) << c.read << c.write;
    EXPECT_EQ(e->nWriteBitOffset, c.writeOffset) << c.read << c.write;
    EXPECT_EQ(e->nBitLength, c.bitLength) << c.read << c.write << " vt " << c.vt;
  }
}

TEST_F(ProtocolTest, ReadingAnAddressNeedsTheEntrysGroupAndTheHandler) {
  SovFDT_ParameterEntry loose;
  loose.id = vkr::Variant(vkr::UI4(1));
  loose.nGroup = 7;
  const vkr::Bstr address(U(ProtocolOnly("command=\"1\">", "")));
  EXPECT_EQ(protocol.ReadParameterAddress(nullptr, address), E_INVALIDARG);
  EXPECT_EQ(protocol.ReadParameterAddress(&loose, address), E_INVALIDARG);
  ULONG offset = 0, length = 0;
  EXPECT_EQ(protocol.ReadProtocolPduPosition(address, &offset, &length), E_NOTIMPL);
}

TEST_F(ProtocolTest, TheFrameworkBaseReadsOnePositionForBothDirections) {
  OtherProtocol other;
  dtm.Add(30, VT_UI2, "<AddressInformation><Protocol id=\"ABC\"><PduPosition bitOffset=\"16\" wBitLength=\"8\"/>"
                      "</Protocol></AddressInformation>");
  dtm.Add(31, VT_R4, "<AddressInformation><Protocol id=\"ABC\"><PduPosition bitOffset=\"24\"/></Protocol>"
                     "</AddressInformation>");
  ASSERT_TRUE(other.AttachDtm(dtm.Unknown()));
  const SovFDT_ParameterEntry* e = other.FindParameterEntry(vkr::UI4(30));
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->nReadBitOffset, 16u);
  EXPECT_EQ(e->nWriteBitOffset, 16u);
  EXPECT_EQ(e->nBitLength, 8u);
  EXPECT_EQ(other.FindParameterEntry(vkr::UI4(31))->nBitLength, 32u);
  // The base's key is the address text itself: every address its own group.
  EXPECT_EQ(other.GetTransactionGroups().size(), 2u);
  EXPECT_EQ(KeyText(other.GetTransactionGroups()[0]->key).rfind("<Protocol id=\"ABC\">", 0), 0u);
  other.DetachDtm();
}

// ---- Values and TypeInformation. ----

TEST_F(ProtocolTest, DecodingTakesTheTypeInformationsSimpleType) {
  const char* bitString =
      "<TypeInformation><Array iecType=\"BITSTRING\" name=\"x\" startIndex=\"0\" elementCount=\"16\" bitPosition=\"0\">"
      "<Simple type=\"VT_BOOL\" bitLength=\"1\" iecType=\"BOOL\"/></Array></TypeInformation>";
  dtm.Add(40, VT_R4, Address("command=\"1\"><PduPosition bitOffset=\"8\" wBitLength=\"32\"/>", ""));
  dtm.Add(41, VT_ARRAY | VT_UI1, Address("command=\"1\"><PduPosition bitOffset=\"0\" wBitLength=\"16\"/>", ""),
          vkr::EmptyVariant(), vkr::EmptyVariant(), "<TypeInformation><Simple type=\"VT_UI2\" bitLength=\"16\"/></TypeInformation>");
  dtm.Add(42, VT_ARRAY | VT_UI1, Address("command=\"1\"><PduPosition bitOffset=\"0\" wBitLength=\"16\"/>", ""),
          vkr::EmptyVariant(), vkr::EmptyVariant(), bitString);
  dtm.Add(43, VT_UI1, Address("command=\"1\"><PduPosition bitOffset=\"0\" wBitLength=\"8\"/>", ""),
          vkr::EmptyVariant(), vkr::EmptyVariant(), "<T/>");
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  const BYTE data[] = {0x12, 0x42, 0xF6, 0xE6, 0x66};

  vkr::Variant value;
  ASSERT_EQ(protocol.DecodeParameterValue(EntryOf(40), 5, data, value.Put(), 0), S_OK);
  ASSERT_EQ(value.vt, VT_R4);
  EXPECT_NEAR(value.fltVal, 123.45f, 1e-4);
  ASSERT_EQ(protocol.DecodeParameterValue(EntryOf(41), 5, data, value.Put(), 0), S_OK);
  ASSERT_EQ(value.vt, VT_UI2) << "the Simple element's type wins";
  EXPECT_EQ(value.uiVal, 0x1242);
  ASSERT_EQ(protocol.DecodeParameterValue(EntryOf(42), 5, data, value.Put(), 0), S_OK);
  EXPECT_EQ(value.vt, VT_ARRAY | VT_UI1) << "an Array's element type is not the value's";
  ASSERT_EQ(protocol.DecodeParameterValue(EntryOf(43), 5, data, value.Put(), 0), S_OK);
  EXPECT_EQ(value.vt, VT_UI1);
  EXPECT_EQ(protocol.DecodeParameterValue(nullptr, 5, data, value.Put(), 0), E_INVALIDARG);
  EXPECT_EQ(protocol.DecodeParameterValue(EntryOf(40), 4, data, value.Put(), 0), E_INVALIDARG);

  BYTE buffer[5] = {};
  vkr::Variant r4;
  r4.vt = VT_R4;
  r4.fltVal = 123.45f;
  EXPECT_EQ(protocol.EncodeParameterValue(r4, EntryOf(40), 5, buffer, 0), S_OK);
  EXPECT_EQ(std::memcmp(buffer, data + 1, 4), 0) << "no write address: written at offset 0";
}

TEST_F(ProtocolTest, TypeInformationTextAndItsValues) {
  dtm.Add(50, VT_UI1, Address("command=\"1\">", ""), vkr::EmptyVariant(), vkr::EmptyVariant(),
          "<TypeInformation><Simple type=\"VT_UI1\" iecType=\"USINT\" bitLength=\"8\"/></TypeInformation>");
  dtm.Add(51, VT_UI1, Address("command=\"1\">", ""), vkr::EmptyVariant(), vkr::EmptyVariant(), "<T/>");
  dtm.Add(52, VT_UI1, Address("command=\"1\">", ""));
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));

  vkr::Bstr text;
  EXPECT_EQ(protocol.GetTypeInformationXml(vkr::UI4(50), text.Put()), S_OK);
  EXPECT_EQ(protocol.GetTypeInformationXml(vkr::UI4(51), text.Put()), S_FALSE) << "15 characters or fewer";
  EXPECT_EQ(Text(text), "<T/>");
  EXPECT_EQ(protocol.GetTypeInformationXml(vkr::UI4(52), text.Put()), E_UNEXPECTED) << "no text at all";
  EXPECT_EQ(protocol.GetTypeInformationXml(vkr::UI4(50), nullptr), E_INVALIDARG);

  struct Case {
    ULONG id;
    const char16_t* xpath;
    HRESULT hr;
    const char* value;
  } cases[] = {
      {50, u"TypeInformation/Simple/@iecType", S_OK, "USINT"},
      {50, u"TypeInformation/Struct/@iecType", S_FALSE, nullptr},
      {51, u"T", S_FALSE, nullptr},
      {52, u"TypeInformation", E_FAIL, nullptr},
  };
  for (const Case& c : cases) {
    vkr::Bstr value;
    EXPECT_EQ(protocol.QueryTypeInformation(vkr::UI4(c.id), vkr::Bstr(c.xpath), value.Put()), c.hr) << c.id;
    if (c.value) {
      EXPECT_EQ(Text(value), c.value);
    }
  }
}

// ---- Reordering. ----

class ReorderTest : public ProtocolTest {
 protected:
  // Reorders 0 1 2 ... n-1 by the TypeInformation text of a fresh parameter; the hex of the result.
  std::string Reorder(const std::string& typeInformation, ULONG n, HRESULT* hr) {
    static ULONG id = 500;
    ++id;
    if (!protocol.GetParameterHandler()) {
      EXPECT_TRUE(protocol.AttachDtm(dtm.Unknown()));
    }
    dtm.Add(id, VT_ARRAY | VT_UI1, Address("command=\"1\">", ""), Number(n), Number(n), typeInformation.c_str());
    std::vector<BYTE> bytes(n);
    for (ULONG i = 0; i < n; ++i) bytes[i] = static_cast<BYTE>(i);
    *hr = protocol.ReorderByTypeInformation(vkr::UI4(id), bytes.data(), n);
    std::string s;
    char buf[4];
    for (BYTE b : bytes) {
      std::snprintf(buf, sizeof buf, "%02X", b);
      s += buf;
    }
    return s;
  }
};

TEST_F(ReorderTest, TurnsEveryElementIntoHostOrder) {
  struct Case {
    const char* what;
    std::string typeInformation;
    ULONG bytes;
    HRESULT hr;
    const char* result;
  } cases[] = {
      {"bit string unchanged",
       "<TypeInformation><Array elementCount=\"192\" bitPosition=\"0\"><Simple type=\"VT_BOOL\" bitLength=\"1\"/>"
       "</Array></TypeInformation>",
       24, S_OK, "000102030405060708090A0B0C0D0E0F1011121314151617"},
      {"32-bit Simple at bit 40: bytes 5 to 8",
       "<TypeInformation><Simple type=\"VT_R4\" bitLength=\"32\" bitPosition=\"40\"/></TypeInformation>", 10, S_OK,
       "00010203040807060509"},
      {"Struct members at their positions",
       "<TypeInformation><Struct bitPosition=\"8\"><Simple bitLength=\"16\" bitPosition=\"0\"/>"
       "<Simple bitLength=\"32\" bitPosition=\"16\"/><Simple bitLength=\"8\" bitPosition=\"48\"/><Other bitLength=\"16\"/>"
       "</Struct></TypeInformation>",
       8, S_OK, "0002010605040307"},
      {"Array of 16-bit elements",
       "<TypeInformation><Array elementCount=\"3\" bitPosition=\"0\"><Simple bitLength=\"16\"/></Array></TypeInformation>",
       6, S_OK, "010003020504"},
      {"Array of Structs takes the Struct's span",
       "<TypeInformation><Array elementCount=\"2\"><Struct><Simple bitLength=\"8\" bitPosition=\"0\"/>"
       "<Simple bitLength=\"16\" bitPosition=\"8\"/></Struct></Array></TypeInformation>",
       6, S_OK, "000201030504"},
      {"Array with two children: nothing",
       "<TypeInformation><Array elementCount=\"2\"><Simple bitLength=\"16\"/><Simple bitLength=\"16\"/></Array>"
       "</TypeInformation>",
       4, S_OK, "00010203"},
      {"12-bit Simple untouched", "<TypeInformation><Simple bitLength=\"12\"/></TypeInformation>", 2, S_OK, "0001"},
      {"8-bit Simple untouched", "<TypeInformation><Simple bitLength=\"8\"/></TypeInformation>", 2, S_OK, "0001"},
      {"Simple without a length", "<TypeInformation><Simple type=\"VT_UI2\"/></TypeInformation>", 2, E_UNEXPECTED,
       "0001"},
      {"Struct without members", "<TypeInformation><Struct/></TypeInformation>", 2, E_POINTER, "0001"},
      {"no layout", "<TypeInformation/>", 2, E_POINTER, "0001"},
      {"element beyond the bytes",
       "<TypeInformation><Simple bitLength=\"32\" bitPosition=\"8\"/></TypeInformation>", 4, E_INVALIDARG, "00010203"},
      {"endless array stops at the bytes",
       "<TypeInformation><Array elementCount=\"4294967295\"><Simple bitLength=\"16\"/></Array></TypeInformation>", 4,
       S_OK, "01000302"},
  };
  for (const Case& c : cases) {
    HRESULT hr = S_OK;
    EXPECT_EQ(Reorder(c.typeInformation, c.bytes, &hr), c.result) << c.what;
    EXPECT_EQ(hr, c.hr) << c.what;
  }
}

TEST_F(ReorderTest, WordSwapExchangesPairsFirst) {
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(LoadXmlFromString(vkr::Bstr(u"<Simple bitLength=\"32\"/>"), document.Put(), &loaded), S_OK);
  vkr::ComPtr<IXMLDOMNode> node;
  ASSERT_EQ(document->selectSingleNode(vkr::Bstr(u"Simple"), node.Put()), S_OK);
  BYTE bytes[] = {1, 2, 3, 4};
  EXPECT_EQ(protocol.ReorderSimpleElement(node.Get(), bytes, 4, 0, true), S_OK);
  EXPECT_EQ(std::vector<BYTE>(bytes, bytes + 4), (std::vector<BYTE>{3, 4, 1, 2}));
  EXPECT_EQ(protocol.ReorderSimpleElement(nullptr, bytes, 4, 0, true), E_INVALIDARG);
  EXPECT_EQ(protocol.ReorderArrayElements(node.Get(), nullptr, 4, 0), E_INVALIDARG);
  EXPECT_EQ(protocol.ReorderStructElements(nullptr, bytes, 4, 0), E_INVALIDARG);
}

TEST_F(ReorderTest, DeviceTableBitStringsStayAsTheyCame) {
  LoadDeviceTable();
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  for (ULONG id : {1031u, 1036u, 1028u, 1098u}) {
    std::vector<BYTE> bytes(32);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 7);
    const std::vector<BYTE> before = bytes;
    EXPECT_EQ(protocol.ReorderByTypeInformation(vkr::UI4(id), bytes.data(), 32), S_OK) << id;
    EXPECT_EQ(bytes, before) << id;
  }
}

// ---- The bus address. ----

TEST_F(ProtocolTest, BusAddressGoesIntoTheShortAddress) {
  LoadDeviceTable();
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  auto device = [](const char* slaveAddress) {
    vkr::ComPtr<IXMLDOMDocument2> document;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const std::string text = std::string("<FDT><DtmDevice><BusInformation><SlaveAddress ") + slaveAddress +
                             "/></BusInformation></DtmDevice></FDT>";
    EXPECT_EQ(LoadXmlFromString(vkr::Bstr(U(text)), document.Put(), &loaded), S_OK);
    return document;
  };
  VARIANT_BOOL changed = VARIANT_TRUE;
  EXPECT_EQ(protocol.SetBusAddressFromXml(&changed, device("slaveAddress=\"7\"").Get()), S_OK);
  EXPECT_EQ(changed, VARIANT_TRUE);
  VARIANT_BOOL done = VARIANT_FALSE;
  vkr::Bstr text;
  EXPECT_EQ(protocol.GetBusAddressXml(&done, text.Put()), S_OK);
  EXPECT_EQ(done, VARIANT_TRUE);
  EXPECT_EQ(Text(text), "<SlaveAddress slaveAddress=\"7\" />");

  struct Bad {
    const char* attribute;
    HRESULT hr;
  } bad[] = {{"slaveAddress=\"300\"", DISP_E_OVERFLOW}, {"slaveAddress=\"x\"", DISP_E_TYPEMISMATCH}, {"", E_FAIL}};
  for (const Bad& b : bad) {
    changed = VARIANT_TRUE;
    EXPECT_EQ(protocol.SetBusAddressFromXml(&changed, device(b.attribute).Get()), b.hr) << b.attribute;
    EXPECT_EQ(changed, VARIANT_FALSE) << b.attribute;
  }
  EXPECT_EQ(protocol.SetBusAddressFromXml(&changed, nullptr), E_INVALIDARG);
  EventsRecorder notADocument;
  EXPECT_EQ(protocol.SetBusAddressFromXml(&changed, &notADocument), E_NOINTERFACE);
  EXPECT_EQ(protocol.SetBusAddressFromXml(nullptr, device("slaveAddress=\"3\"").Get()), E_INVALIDARG);

  // A short address that may not be set in the data set stays.
  ULONG status = 0;
  ASSERT_EQ(dtm.GetParameterInfoById(121, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &status), S_OK);
  status &= ~ULONG{PFL_SETTABLE};
  ASSERT_EQ(dtm.SetValueAndStatusById(121, nullptr, &status), S_OK);
  EXPECT_EQ(protocol.SetBusAddressFromXml(&changed, device("slaveAddress=\"9\"").Get()), E_ACCESSDENIED);
  EXPECT_EQ(changed, VARIANT_FALSE);
  EXPECT_EQ(protocol.GetBusAddressXml(&done, text.Put()), S_OK);
  EXPECT_EQ(Text(text), "<SlaveAddress slaveAddress=\"7\" />");

  // A short address of another type has no text.
  vkr::Variant wrong;
  wrong.vt = VT_I4;
  wrong.lVal = 3;
  ASSERT_EQ(dtm.SetValueById(121, wrong), S_OK);
  EXPECT_EQ(protocol.GetBusAddressXml(&done, text.Put()), E_FAIL);
  EXPECT_EQ(done, VARIANT_FALSE);
}

TEST_F(ProtocolTest, BusAddressNeedsTheHandler) {
  VARIANT_BOOL flag = VARIANT_TRUE;
  vkr::Bstr text;
  EXPECT_EQ(protocol.GetBusAddressXml(&flag, text.Put()), E_POINTER);
  EXPECT_EQ(flag, VARIANT_FALSE);
  EXPECT_EQ(protocol.SetBusAddressFromXml(&flag, nullptr), E_POINTER);
  EXPECT_EQ(protocol.GetBusAddressXml(nullptr, text.Put()), E_INVALIDARG);
  CovFDT_BaseProtocolImpl base;
  EXPECT_EQ(base.GetBusAddressXml(&flag, text.Put()), E_NOTIMPL);
  EXPECT_EQ(base.SetBusAddressFromXml(&flag, nullptr), E_NOTIMPL);
}

// ---- Messages and the fixed answers. ----

TEST_F(ProtocolTest, MessagesGoToTheDtmAsMessage16) {
  protocol.ReportMessage("nobody listens %d", 1);
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  protocol.ReportMessage("no events %d", 2);
  EXPECT_TRUE(dtm.events.messages.empty());
  dtm.offerEvents = true;
  protocol.ReportMessage("command %d: %s", 3, "read");
  ASSERT_EQ(dtm.events.messages.size(), 1u);
  EXPECT_EQ(dtm.events.messages[0].first, 16);
  EXPECT_EQ(dtm.events.messages[0].second, u"command 3: read");
  const std::string tooLong(5000, 'x');
  protocol.ReportMessage("%s", tooLong.c_str());
  ASSERT_EQ(dtm.events.messages.size(), 2u);
  EXPECT_EQ(dtm.events.messages[1].second.size(), 4096u);
}

TEST_F(ProtocolTest, FixedAnswersOfTheReservedOperations) {
  CovFDT_BaseProtocolImpl base;
  vkr::Bstr text;
  EventsRecorder document;
  EXPECT_EQ(base.CheckTransferArguments(&document, vkr::UI4(1), text.Put()), E_UNEXPECTED) << "no protocol id";
  EXPECT_EQ(protocol.CheckTransferArguments(&document, vkr::UI4(1), text.Put()), S_FALSE);
  EXPECT_EQ(text.Get(), nullptr);
  EXPECT_EQ(protocol.CheckTransferArguments(nullptr, vkr::UI4(1), text.Put()), E_INVALIDARG);
  EXPECT_EQ(protocol.CheckTransferArguments(&document, vkr::UI4(1), nullptr), E_INVALIDARG);
  vkr::Variant result;
  EXPECT_EQ(protocol.InfoRequest(vkr::UI4(2), vkr::UI4(5), result.Put()), E_INVALIDARG);
  EXPECT_EQ(protocol.InfoRequestEx(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), E_INVALIDARG);
  EXPECT_EQ(protocol.ReservedHookA(0, 0, 0, 0, 0, 0, 0), E_NOTIMPL);
  EXPECT_EQ(protocol.ReservedHookB(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), E_NOTIMPL);
  EXPECT_EQ(protocol.ReservedHookC(0, 0, 0, 0, 0), E_NOTIMPL);
  EXPECT_EQ(protocol.ReservedHookD(0, 0, 0, 0, 0, 0, 0, 0), E_NOTIMPL);
  vkr::Variant key;
  EXPECT_EQ(base.GetAddressKey(vkr::Bstr(u"<any/>"), key.Put()), S_OK);
  EXPECT_EQ(KeyText(key), "<any/>");
  EXPECT_EQ(base.GetAddressKey(vkr::Bstr(u"<any/>"), nullptr), E_INVALIDARG);
}

}  // namespace

// ---- Allocation faults: the N-th allocation fails, N = 1, 2, ... until the build runs through. A
// table built under a fault is either complete or reported as a failure, never short.

namespace {

TEST_F(ProtocolTest, TablesBuiltUnderAllocationFaultsAreCompleteOrFail) {
  const std::string write = "command=\"18\" commandBitLength=\"24\"><PduPosition bitOffset=\"8\" wBitLength=\"16\"/>";
  dtm.Add(60, VT_UI2, Address("command=\"13\"><PduPosition bitOffset=\"8\" wBitLength=\"16\"/>", write));
  dtm.Add(61, VT_R4, Address("command=\"13\"><PduPosition bitOffset=\"24\"/>", ""));
  dtm.Add(62, VT_UI1, Address("command=\"13\" requestData=\"01\"><PduPosition bitOffset=\"0\"/>", write));
  dtm.Add(63, VT_UI1, Address("command=\"13\">", "", "ABC"));
  ASSERT_TRUE(protocol.AttachDtm(dtm.Unknown()));
  auto snapshot = [&] {
    std::string s;
    for (const auto& e : protocol.GetParameterEntries())
      s += std::to_string(e->id.ulVal) + ":" + std::to_string(e->nGroup) + "," + std::to_string(e->nReadBitOffset) +
           "," + std::to_string(e->nWriteBitOffset) + "," + std::to_string(e->nBitLength) + " ";
    for (const auto& g : protocol.GetTransactionGroups()) s += KeyText(g->key) + "/" + std::to_string(g->members.size()) + " ";
    return s;
  };
  const std::string complete = snapshot();
  ASSERT_EQ(complete, "60:1,8,8,16 61:2,24,0,32 62:3,0,8,16 0x120D/1 0x100000D/1 0x0000120D, rr: 01/1 ");

  unsigned n = 1;
  for (; n < 20000; ++n) {
    vkr::platform::SetAllocationFault(n);
    const HRESULT hr = protocol.InitParameterTable();
    const bool reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    if (SUCCEEDED(hr)) {
      EXPECT_EQ(snapshot(), complete) << "fault " << n;
    }
    if (!reached) {
      EXPECT_EQ(hr, S_OK) << "the run without a fault";
      break;
    }
  }
  EXPECT_GT(n, 1u);
  EXPECT_LT(n, 20000u) << "the sweep did not end";
}

}  // namespace
