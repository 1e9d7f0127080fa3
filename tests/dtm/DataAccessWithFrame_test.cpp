// Single device data access end to end: the DTM as its module makes it, with its thread, the
// stand-in frame's container and HART channel and the simulated transmitter behind it. The item
// documents are loaded as the frame loads them, with its schema set. The frame reaches the
// synchronous data-set access through QueryInterface; the asynchronous device requests this device
// class does not answer there, so they are reached through the class itself, and their answers come
// back through the frame's data-access callback.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "communication/CMyConnection.h"
#include "frame/FrameChannel.h"
#include "frame/FrameContainer.h"
#include "frame/FrameDocuments.h"
#include "frame/Quiet.h"
#include "include/DtmMessages.h"
#include "parameters/CovVAPacker.h"
#include "module/CDtmThread.h"
#include "module/CVornExampleDtm.h"
#include "module/VornExampleDtmModule.h"
#include "tests/support/module_classes.h"
#include "tests/support/dtm_fakes.h"
#include "tests/support/threading.h"

namespace {

using vkr::frame::Bytes;
using vkr::frame::FrameChannel;
using vkr::frame::FrameContainer;
using vkr::frame::SimulatedDevice;
namespace wire = vkr::frame::wire;

constexpr char16_t kHead[] =
    u"<?xml version=\"1.0\"?><FDT xmlns=\"x-schema:DTMItemListSchema.xml\" "
    u"xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">";
constexpr char16_t kTail[] = u"</FDT>";
constexpr ULONG kDeviceValue = 0x200000;

std::string Utf8(const vkr::Bstr& s) { return vkr::Utf16ToUtf8(s.View()); }

vkr::Variant R4(float f) {
  vkr::Variant v;
  v.vt = VT_R4;
  v.fltVal = f;
  return v;
}
vkr::Variant UI1(BYTE b) {
  vkr::Variant v;
  v.vt = VT_UI1;
  v.bVal = b;
  return v;
}
vkr::Variant Text(const char16_t* s) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}
vkr::Variant Labels(std::initializer_list<const char16_t*> entries) {
  vkr::Variant v;
  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(entries.size()));
  LONG i = 0;
  for (const char16_t* e : entries) {
    vkr::Bstr b(e);
    SafeArrayPutElement(v.parray, &i, b.Get());
    ++i;
  }
  return v;
}

// One DtmItem of an answer: its element text, from "<DtmItem fdt:id=\"ID\"" to its end tag; empty
// when the answer has none.
std::string ItemOf(const std::string& document, const std::string& id) {
  const std::size_t at = document.find("<DtmItem fdt:id=\"" + id + "\"");
  if (at == std::string::npos) return "";
  return document.substr(at, document.find("</DtmItem>", at) - at);
}
std::string InfoOf(const std::string& document, const std::string& id) {
  const std::size_t at = document.find("<DtmItemInfo fdt:id=\"" + id + "\"");
  if (at == std::string::npos) return "";
  return document.substr(at, document.find("</DtmItemInfo>", at) - at);
}
std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

class DataAccessWithFrame : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(classes.Register(), S_OK);
    vkr::ComPtr<IClassFactory> dtmFactory;
    ASSERT_EQ(DllGetClassObject(CLSID_VornExampleDtm, IID_IClassFactory, dtmFactory.PutVoid()), S_OK);
    ASSERT_EQ(dtmFactory->CreateInstance(nullptr, IID_IUnknown, dtm.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IDtm::iid, idtm.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFdtBaseDTM::iid, base.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterHandler4::iid, handler.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IovFdtParameterInfo::iid, info.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IDtmSingleInstanceDataAccess::iid, instance.PutVoid()), S_OK);
    // This device class keeps the device requests out of its interface map: the class has them.
    vkr::ComPtr<IUnknown> none;
    EXPECT_EQ(dtm->QueryInterface(IDtmSingleDeviceDataAccess::iid, none.PutVoid()), E_NOINTERFACE);
    deviceAccess = static_cast<CVornExampleDtm*>(idtm.Get());

    ASSERT_EQ(vkr::MakeObject<FrameContainer>(&frame), S_OK);
    ASSERT_EQ(vkr::MakeObject<FrameChannel>(&channel), S_OK);
    channel->fdt121 = true;
    device = channel->devices.front();
    vkr::ComPtr<IDtm2> idtm2;
    vkr::ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(dtm->QueryInterface(IDtm2::iid, idtm2.PutVoid()), S_OK);
    ASSERT_EQ(dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid()), S_OK);
    VARIANT_BOOL result = VARIANT_FALSE;
    ASSERT_EQ(persist->InitNew(), S_OK);
    ASSERT_EQ(idtm2->Environment2(vkr::Bstr(vkr::frame::kSystemTag), frame.Get(), vkr::Bstr(vkr::frame::kFrameVersion),
                                  &result),
              S_OK);
    ASSERT_EQ(idtm->InitNew(vkr::Bstr(vkr::frame::kDeviceType), &result), S_OK);
    ASSERT_EQ(idtm->Config(vkr::Bstr(vkr::frame::kUserInformation), &result), S_OK);
    ASSERT_EQ(State(), dsCONFIGURED);
  }

  void TearDown() override {
    for (const std::string& reason : frame ? frame->invalidDocuments : std::vector<std::string>())
      ADD_FAILURE() << "the frame got an invalid document: " << reason;
    if (idtm) {
      VARIANT_BOOL result = VARIANT_FALSE;
      // As a frame does: the communication goes back once the DTM said it may.
      const std::size_t seen = frame->notifications.size();
      if (State() == dsONLINE && idtm->PrepareToReleaseCommunication(&result) == S_OK)
        frame->WaitForNotification("prepared to release communication", seen, 20000);
      if (State() == dsCOMMUNICATIONSET) idtm->ReleaseCommunication(&result);
      idtm->PrepareToRelease(&result);
    }
    deviceAccess = nullptr;
    instance = nullptr;
    info = nullptr;
    handler = nullptr;
    base = nullptr;
    idtm = nullptr;
    dtm = nullptr;
    classes.Revoke();
    channel = nullptr;
    frame = nullptr;
    vkr::test::DrainQueue();
    CoUninitialize();
  }

  EDtmState State() {
    EDtmState state = dsUNDEFINED;
    if (base) base->GetDTMState(&state);
    return state;
  }
  bool Pump(const std::function<bool()>& until) { return vkr::test::PumpUntil(until, 20000); }
  void SetCommunication() {
    VARIANT_BOOL result = VARIANT_FALSE;
    ASSERT_EQ(idtm->SetCommunication(channel.Get(), &result), S_OK);
    ASSERT_EQ(State(), dsCOMMUNICATIONSET);
  }
  // Offers the parameter as an item (bit 0x2000 of its fifth word).
  void List(ULONG id) { ASSERT_EQ(info->SetParameterField(vkr::UI4(id), vkr::UI4(PIF_EXPORT_KIND), vkr::UI4(0x2000)), S_OK) << id; }
  void SetField(ULONG id, ULONG field, const VARIANT& value) {
    ASSERT_EQ(info->SetParameterField(vkr::UI4(id), vkr::UI4(field), value), S_OK) << id << " field " << field;
  }
  vkr::Variant DataSet(ULONG id) {
    vkr::Variant v;
    EXPECT_EQ(handler->GetValueById(id, v.Ptr()), S_OK) << id;
    return v;
  }
  // The frame's answer to the invoke id, once it came.
  std::string AnswerTo(const std::string& invokeId) {
    EXPECT_TRUE(Pump([&] { return frame->DataAccessAnswerTo(invokeId) != nullptr; })) << "no answer to " << invokeId;
    const FrameContainer::DataAccessAnswer* answer = frame->DataAccessAnswerTo(invokeId);
    if (!answer) return "";
    EXPECT_TRUE(answer->valid) << answer->document;
    return answer->document;
  }
  // Loads a document the DTM gave as the frame does, with its schema set.
  void ExpectValid(const vkr::Bstr& document) {
    std::string reason;
    EXPECT_EQ(FrameContainer::Validate(document.Get(), &reason), S_OK) << reason << "\n" << Utf8(document);
  }

  vkr::test::ModuleClasses classes;
  vkr::ComPtr<IUnknown> dtm;
  vkr::ComPtr<IDtm> idtm;
  vkr::ComPtr<IovFdtBaseDTM> base;
  vkr::ComPtr<IovFdtParameterHandler4> handler;
  vkr::ComPtr<IovFdtParameterInfo> info;
  vkr::ComPtr<IDtmSingleInstanceDataAccess> instance;
  IDtmSingleDeviceDataAccess* deviceAccess = nullptr;
  vkr::ComPtr<vkr::ComObject<FrameContainer>> frame;
  vkr::ComPtr<vkr::ComObject<FrameChannel>> channel;
  std::shared_ptr<SimulatedDevice> device;
};

// The item list holds the offered parameters in id order with their access, kinds, units and
// ranges; the synchronous list and the one the frame asked for are the same document.
TEST_F(DataAccessWithFrame, TheItemListDescribesEveryOfferedParameter) {
  // Nothing of this device is offered until something is.
  vkr::Bstr list;
  ASSERT_EQ(instance->GetItemList(list.Put()), S_OK);
  EXPECT_EQ(Utf8(list), "<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMItemListSchema.xml\" "
                        "xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n\t<DtmItemInfoList>\n"
                        "\t</DtmItemInfoList>\n</FDT>\n");
  ExpectValid(list);

  // A level whose unit is the PV unit item, with item kinds, a description and a name with markup.
  ParInfo level;
  level.m_nId = 5001;
  level.m_vt = VT_R4;
  level.m_bstrName = vkr::Bstr(u"Level & <range>");
  level.m_bstrDescription = vkr::Bstr(u"Primary \"level\"");
  VariantCopy(&level.m_vMin, R4(-10.5f).Ptr());
  VariantCopy(&level.m_vMax, R4(100).Ptr());
  VariantCopy(&level.m_vValue, R4(2.5f).Ptr());
  VARIANT pvUnitId = vkr::UI4(1024);
  VariantCopy(&level.m_vFurther, &pvUnitId);
  level.m_dwExportKind = 0x2000;
  level.m_dwItemKinds = 0x5 | (1u << 26);  // alarm, analogOutput; bit 26 has no word
  ASSERT_EQ(handler->AddParInfo(level), S_OK);
  // A unit parameter that is not offered: an enumeration whose value names the unit.
  ParInfo unit;
  unit.m_nId = 5002;
  unit.m_vt = VT_UI1;
  unit.m_nKind = PK_ENUMERATION;
  unit.m_bstrName = vkr::Bstr(u"Distance unit");
  VariantCopy(&unit.m_vEnumList, Labels({u"45;m", u"47;cm & more"}).Ptr());
  VariantCopy(&unit.m_vValue, UI1(47).Ptr());
  ASSERT_EQ(handler->AddParInfo(unit), S_OK);
  ParInfo distance;
  distance.m_nId = 5003;
  distance.m_vt = VT_R4;
  distance.m_bstrName = vkr::Bstr(u"Distance");
  VariantCopy(&distance.m_vMin, R4(1).Ptr());
  VariantCopy(&distance.m_vMax, R4(1).Ptr());  // no range where both limits are one
  VARIANT unitId = vkr::UI4(5002);
  VariantCopy(&distance.m_vFurther, &unitId);
  distance.m_dwFlags = PFL_READABLE;  // neither settable nor writable
  distance.m_dwExportKind = 0x2000;
  ASSERT_EQ(handler->AddParInfo(distance), S_OK);
  // PV unit 1024 (0..48) is offered, with a unit text; Damping (1022) is offered but disabled.
  List(1024);
  SetField(1024, PIF_FURTHER, Text(u"code & <unit>"));
  List(1022);
  SetField(1022, PIF_FLAGS, vkr::UI4(PFL_DEFAULT | PFL_DISABLED));
  // An enumeration, settable in the data set but not readable from the device, gets no range.
  ParInfo choice;
  choice.m_nId = 5004;
  choice.m_vt = VT_UI1;
  choice.m_nKind = PK_ENUMERATION;
  choice.m_bstrName = vkr::Bstr(u"Alarm");
  VariantCopy(&choice.m_vMin, UI1(0).Ptr());
  VariantCopy(&choice.m_vMax, UI1(1).Ptr());
  VariantCopy(&choice.m_vEnumList, Labels({u"0;high", u"1;low"}).Ptr());
  choice.m_dwExportKind = 0x2000;
  choice.m_dwFlags = PFL_SETTABLE;
  ASSERT_EQ(handler->AddParInfo(choice), S_OK);

  ASSERT_EQ(instance->GetItemList(list.Put()), S_OK);
  ExpectValid(list);
  const std::string text = Utf8(list);
  EXPECT_EQ(Count(text, "<DtmItemInfo "), 4u) << text;
  EXPECT_LT(text.find("fdt:id=\"1024\""), text.find("fdt:id=\"5001\"")) << "collection order";
  EXPECT_EQ(InfoOf(text, "1022"), "") << "a disabled parameter is no item";

  const std::string pvUnit = InfoOf(text, "1024");
  EXPECT_NE(pvUnit.find("fdt:dataType=\"byte\" itemType=\"specific\"  fdt:writeAccess=\"1\">\n <ItemKind itemKind=\"others\" />\n"), std::string::npos) << pvUnit;
  EXPECT_NE(pvUnit.find("<fdt:EnumeratorEntry index=\"0\" name=\"code &amp; &lt;unit&gt;\"/>"), std::string::npos) << pvUnit;
  EXPECT_NE(pvUnit.find("<fdt:NumberData number=\"0\" />"), std::string::npos) << pvUnit;
  // Up to millimetres (49), the last length unit the transmitter takes.
  EXPECT_NE(pvUnit.find("<fdt:NumberData number=\"49\" />"), std::string::npos) << pvUnit;

  const std::string levelItem = InfoOf(text, "5001");
  EXPECT_NE(levelItem.find("fdt:name=\"Level &amp; &lt;range&gt;\" fdt:dataType=\"float\""), std::string::npos) << levelItem;
  EXPECT_NE(levelItem.find(" fdt:descriptor=\"Primary &quot;level&quot;\" fdt:writeAccess=\"1\">"), std::string::npos) << levelItem;
  EXPECT_NE(levelItem.find("<ItemKind itemKind=\"alarm\" />\n<ItemKind itemKind=\"analogOutput\" />\n\t<UnitDescription>"), std::string::npos) << levelItem;
  EXPECT_NE(levelItem.find("<ItemReference fdt:idref=\"1024\"/>"), std::string::npos) << "the unit is an item itself\n" << levelItem;
  EXPECT_NE(levelItem.find("<fdt:NumberData number=\"-10.5\" />"), std::string::npos) << levelItem;

  const std::string distanceItem = InfoOf(text, "5003");
  EXPECT_EQ(distanceItem.find("fdt:readAccess"), std::string::npos) << distanceItem;
  EXPECT_EQ(distanceItem.find("fdt:writeAccess"), std::string::npos) << distanceItem;
  EXPECT_NE(distanceItem.find("<fdt:EnumeratorEntry index=\"1\" name=\"cm &amp; more\"/>"), std::string::npos) << distanceItem;
  EXPECT_EQ(distanceItem.find("RangeDescriptions"), std::string::npos) << distanceItem;
  const std::string choiceItem = InfoOf(text, "5004");
  EXPECT_EQ(choiceItem.find("RangeDescriptions"), std::string::npos) << "an enumeration has no range";
  EXPECT_NE(choiceItem.find("itemType=\"specific\"  fdt:readAccess=\"0\">"), std::string::npos) << choiceItem;

  // The same list through the frame's asynchronous request, answered on its callback.
  ASSERT_EQ(deviceAccess->ItemListRequest(vkr::Bstr(u"items-1")), S_OK);
  EXPECT_EQ(AnswerTo("items-1"), text);
}

// Reads and writes of item values in the data set, with ids and time stamps that carry markup.
TEST_F(DataAccessWithFrame, ReadAndWriteTheDataSet) {
  ASSERT_EQ(handler->SetParameterValue(vkr::UI4(1022), R4(0.75f)), S_OK);
  const std::u16string selection = std::u16string(kHead) +
                                   u"<DtmItemSelection fdt:id=\"1022\"/><DtmItemSelection/>"
                                   u"<DtmItemSelection fdt:id=\"99999\"/>"
                                   u"<DtmItemSelection fdt:id=\"a&quot;&lt;b&amp;\"/>" +
                                   kTail;
  vkr::Bstr answer;
  ASSERT_EQ(instance->Read(vkr::Bstr(selection), answer.Put()), S_OK);
  ExpectValid(answer);
  std::string text = Utf8(answer);
  EXPECT_EQ(Count(text, "<DtmItem "), 3u) << "an entry without id is left out\n" << text;
  EXPECT_NE(ItemOf(text, "1022").find("<Quality  qualityBits=\"good\"/>\n\t\t<fdt:Variant xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" dataType=\"float\"> <fdt:NumberData number=\"0.75\" /></fdt:Variant>"), std::string::npos) << text;
  EXPECT_NE(ItemOf(text, "99999").find("qualityBits=\"good\"/>\n\t\t\t<ItemError>\n\t\t<ItemErrorDescription itemErrorDescription=\"invalidValue\"/>"), std::string::npos) << text;
  EXPECT_NE(ItemOf(text, "a&quot;&lt;b&amp;").find("invalidValue"), std::string::npos) << text;

  // Writes: a value, a text, a value the validation refuses, an item without a value (its own
  // time stamp comes back, escaped), a byte string that does not read (no entry), an unknown id.
  const std::u16string write = std::u16string(kHead) +
      u"<DtmItemList>"
      u"<DtmItem fdt:id=\"1022\"><fdt:Variant dataType=\"float\"><fdt:NumberData number=\"1.25\"/></fdt:Variant></DtmItem>"
      u"<DtmItem fdt:id=\"1054\"><fdt:Variant dataType=\"ascii\"><fdt:StringData string=\"LT&amp;7\"/></fdt:Variant></DtmItem>"
      u"<DtmItem fdt:id=\"1024\"><fdt:Variant dataType=\"byte\"><fdt:NumberData number=\"200\"/></fdt:Variant></DtmItem>"
      u"<DtmItem fdt:id=\"1055\"><TimeStamp fdt:time=\"x&quot;&lt;&amp;\"/></DtmItem>"
      u"<DtmItem fdt:id=\"1051\"><fdt:Variant dataType=\"hexString\"><fdt:StringData string=\"ABC\"/></fdt:Variant></DtmItem>"
      u"<DtmItem fdt:id=\"77777\"><TimeStamp fdt:time=\"2016-06-21T10:11:12\"/>"
      u"<fdt:Variant dataType=\"int\"><fdt:NumberData number=\"1\"/></fdt:Variant></DtmItem>"
      u"</DtmItemList>" + kTail;
  const int locksBefore = frame->lockRequests;
  ASSERT_EQ(instance->Write(vkr::Bstr(write), answer.Put()), S_OK);
  ExpectValid(answer);
  text = Utf8(answer);
  EXPECT_EQ(frame->lockRequests, locksBefore + 1) << "the write holds the frame's lock";
  EXPECT_EQ(Count(text, "<DtmItem "), 5u) << text;
  EXPECT_NE(ItemOf(text, "1022").find("good\"/>\n\t\t<fdt:Variant xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\" dataType=\"float\"> <fdt:NumberData number=\"1.25\" />"), std::string::npos) << text;
  EXPECT_NE(ItemOf(text, "1054").find("<fdt:StringData string=\"LT&amp;7\" />"), std::string::npos) << text;
  EXPECT_NE(ItemOf(text, "1024").find("bad\"/>\n\t\t\t<ItemError>\n\t\t<ItemErrorDescription itemErrorDescription=\"invalidValue\"/>"), std::string::npos) << text;
  EXPECT_NE(ItemOf(text, "1055").find("<TimeStamp fdt:time=\"x&quot;&lt;&amp;\"/>"), std::string::npos) << text;
  EXPECT_NE(ItemOf(text, "1055").find("invalidValue"), std::string::npos) << text;
  EXPECT_EQ(ItemOf(text, "1051"), "") << text;
  EXPECT_NE(ItemOf(text, "77777").find("<TimeStamp fdt:time=\"2016-06-21T10:11:12\"/>\n\t\t<Quality  qualityBits=\"bad\"/>"), std::string::npos) << text;
  EXPECT_EQ(DataSet(1022).fltVal, 1.25f);
  EXPECT_EQ(vkr::Utf16ToUtf8(DataSet(1054).bstrVal), "LT&7");
  EXPECT_EQ(DataSet(1024).bVal, 45) << "a refused value is not stored";

  // A parameter the data set takes but nobody reads back (settable, not readable) is written.
  ParInfo writeOnly;
  writeOnly.m_nId = 5010;
  writeOnly.m_vt = VT_UI1;
  writeOnly.m_bstrName = vkr::Bstr(u"Write only");
  VariantCopy(&writeOnly.m_vValue, UI1(1).Ptr());
  writeOnly.m_dwFlags = PFL_SETTABLE;
  ASSERT_EQ(handler->AddParInfo(writeOnly), S_OK);
  ASSERT_EQ(instance->Write(vkr::Bstr(std::u16string(kHead) +
                                      u"<DtmItemList><DtmItem fdt:id=\"5010\"><fdt:Variant dataType=\"byte\">"
                                      u"<fdt:NumberData number=\"3\"/></fdt:Variant></DtmItem></DtmItemList>" +
                                      kTail),
                            answer.Put()),
            S_OK);
  EXPECT_NE(ItemOf(Utf8(answer), "5010").find("qualityBits=\"good\""), std::string::npos) << Utf8(answer);
  EXPECT_EQ(DataSet(5010).bVal, 3);

  // A frame that refuses its lock gets every item back with noLock and nothing changes.
  frame->grantLock = false;
  // The frame's lock from the write above is held until the data set is saved: save it.
  vkr::ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid()), S_OK);
  vkr::ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
  ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
  ASSERT_FALSE(frame->locked);
  ASSERT_EQ(instance->Write(vkr::Bstr(write), answer.Put()), S_OK);
  ExpectValid(answer);
  text = Utf8(answer);
  EXPECT_EQ(Count(text, "itemErrorDescription=\"noLock\""), 6u) << text;
  EXPECT_EQ(DataSet(1022).fltVal, 1.25f);

  // An empty selection reads nothing.
  EXPECT_EQ(instance->Read(nullptr, answer.Put()), S_FALSE);
}

// Reads and writes on the device: the transmitter holds what was written, each member of a
// command with the value asked for, although every write takes the others from the data set.
TEST_F(DataAccessWithFrame, DeviceRequestsReachTheTransmitterAndAreAnswered) {
  SetCommunication();
  // The transmitter, the data set and the request each hold other values for the five members of
  // commands 13/18: tag, descriptor, day, month, year.
  device->SetTagAndDescriptor("OLDTAG", "OLD DESCRIPTOR");
  device->config.tagDescriptorDate[18] = 3, device->config.tagDescriptorDate[19] = 4,
  device->config.tagDescriptorDate[20] = 101;
  ASSERT_EQ(handler->SetValueById(1054, Text(u"DSETTAG")), S_OK);
  ASSERT_EQ(handler->SetValueById(1055, Text(u"DATASET DESCR")), S_OK);
  ASSERT_EQ(handler->SetValueById(1056, UI1(7)), S_OK);
  ASSERT_EQ(handler->SetValueById(1057, UI1(8)), S_OK);
  ASSERT_EQ(handler->SetValueById(1058, UI1(109)), S_OK);

  const std::u16string write = std::u16string(kHead) +
      u"<DtmItemList>"
      u"<DtmItem fdt:id=\"1054\"><fdt:Variant dataType=\"ascii\"><fdt:StringData string=\"NEWTAG\"/></fdt:Variant></DtmItem>"
      u"<DtmItem fdt:id=\"1055\"><fdt:Variant dataType=\"ascii\"><fdt:StringData string=\"NEW DESCRIPTOR\"/></fdt:Variant></DtmItem>"
      u"<DtmItem fdt:id=\"1056\"><fdt:Variant dataType=\"byte\"><fdt:NumberData number=\"28\"/></fdt:Variant></DtmItem>"
      u"<DtmItem fdt:id=\"1057\"><fdt:Variant dataType=\"byte\"><fdt:NumberData number=\"12\"/></fdt:Variant></DtmItem>"
      u"<DtmItem fdt:id=\"1058\"><fdt:Variant dataType=\"byte\"><fdt:NumberData number=\"124\"/></fdt:Variant></DtmItem>"
      u"<DtmItem fdt:id=\"1018\"><fdt:Variant dataType=\"unsigned\"><fdt:NumberData number=\"1\"/></fdt:Variant></DtmItem>"
      u"</DtmItemList>" + kTail;
  // The request goes online first (the transmitter is verified on the way).
  ASSERT_EQ(deviceAccess->WriteRequest(vkr::Bstr(u"w\"<&1"), vkr::Bstr(write)), S_OK);
  EXPECT_EQ(State(), dsONLINE);
  std::string text = AnswerTo("w\"<&1");
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.find("<DtmItemList>"), std::string::npos) << text;
  Bytes expected = wire::PackAscii("NEWTAG", 6);
  const Bytes descriptor = wire::PackAscii("NEW DESCRIPTOR", 12);
  expected.insert(expected.end(), descriptor.begin(), descriptor.end());
  expected.insert(expected.end(), {28, 12, 124});
  EXPECT_EQ(wire::ToHex(device->config.tagDescriptorDate), wire::ToHex(expected));
  for (const char* id : {"1054", "1055", "1056", "1057", "1058"})
    EXPECT_NE(ItemOf(text, id).find("qualityBits=\"good\"/>\n\t\t<fdt:Variant"), std::string::npos) << id << "\n" << text;
  EXPECT_NE(ItemOf(text, "1055").find("<fdt:StringData string=\"NEW DESCRIPTOR  \" />"), std::string::npos) << text;
  EXPECT_NE(ItemOf(text, "1018").find("bad\"/>\n\t\t\t<ItemError>"), std::string::npos) << "not writable\n" << text;
  // The data set is the frame's offline configuration: a device write leaves it as it was.
  EXPECT_EQ(vkr::Utf16ToUtf8(DataSet(1054).bstrVal), "DSETTAG");
  EXPECT_EQ(DataSet(1058).bVal, 109);

  // Reads come from the transmitter: the primary value and the tag as it holds them now.
  device->config.pv = 4.75f;
  const std::u16string selection = std::u16string(kHead) +
                                   u"<DtmItemSelection fdt:id=\"1049\"/><DtmItemSelection fdt:id=\"1054\"/>"
                                   u"<DtmItemSelection fdt:id=\"x&amp;y\"/>" + kTail;
  ASSERT_EQ(deviceAccess->ReadRequest(vkr::Bstr(u"r-1"), vkr::Bstr(selection)), S_OK);
  text = AnswerTo("r-1");
  EXPECT_NE(ItemOf(text, "1049").find("dataType=\"float\"> <fdt:NumberData number=\"4.75\" />"), std::string::npos) << text;
  EXPECT_NE(ItemOf(text, "1054").find("<fdt:StringData string=\"NEWTAG  \" />"), std::string::npos) << text;
  EXPECT_NE(ItemOf(text, "x&amp;y").find("invalidValue"), std::string::npos) << text;

  VARIANT_BOOL cancelled = VARIANT_FALSE;
  EXPECT_EQ(deviceAccess->CancelRequest(vkr::Bstr(u"r-1"), &cancelled), S_OK);
  EXPECT_EQ(cancelled, VARIANT_TRUE);
  EXPECT_TRUE(channel->failures.empty()) << channel->failures.front();
}

// Every request the frame was told to expect an answer to gets one, also when the DTM cannot
// serve it: an empty or unreadable document gives an empty list, a request the DTM thread runs
// after the DTM went offline gives every item noConnection.
TEST_F(DataAccessWithFrame, ARequestTheDtmCannotServeIsStillAnswered) {
  SetCommunication();
  ASSERT_EQ(deviceAccess->WriteRequest(vkr::Bstr(u"empty"), vkr::Bstr(u"")), S_OK);
  EXPECT_EQ(AnswerTo("empty"), "<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:DTMItemListSchema.xml\" "
                               "xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n\t<DtmItemList>\n"
                               "\t</DtmItemList>\n</FDT>");
  const std::u16string unknown = std::u16string(kHead) + u"<Selection/>" + kTail;
  ASSERT_EQ(deviceAccess->ReadRequest(vkr::Bstr(u"unknown"), vkr::Bstr(unknown)), S_OK);
  EXPECT_NE(AnswerTo("unknown").find("<DtmItemList>\n\t</DtmItemList>"), std::string::npos);

  // The DTM thread serves a request after the DTM has gone offline: as the handler meets it then.
  VARIANT_BOOL result = VARIANT_FALSE;
  ASSERT_EQ(idtm->PrepareToReleaseCommunication(&result), S_OK);
  ASSERT_TRUE(Pump([&] { return State() == dsCOMMUNICATIONSET; })) << State();
  SovFDT_InstanceDataRequest request;
  request.bstrInvokeId = vkr::Bstr(u"late");
  request.bstrDocument = vkr::Bstr(std::u16string(kHead) + u"<DtmItemSelection fdt:id=\"1049\"/>" + kTail);
  vkr::Variant packed;
  ASSERT_TRUE(request.Pack(&packed));
  vkr::ComPtr<IovSdaHandler> sda;
  ASSERT_EQ(dtm->QueryInterface(IovSdaHandler::iid, sda.PutVoid()), S_OK);
  sda->HandleReadRequest(packed);
  const std::string late = AnswerTo("late");
  EXPECT_NE(ItemOf(late, "1049").find("bad\"/>\n\t\t\t<ItemError>\n\t\t<fdt:CommunicationError communicationError=\"noConnection\" tag=\"0\"/>"), std::string::npos) << late;

  // Requests the DTM refuses at once are not queued: no invoke id, an empty selection, an
  // observer, a configured DTM without communication.
  EXPECT_EQ(deviceAccess->ReadRequest(vkr::Bstr(u""), vkr::Bstr(unknown)), S_FALSE);
  EXPECT_EQ(deviceAccess->ReadRequest(vkr::Bstr(u"x"), vkr::Bstr(u"")), S_FALSE);
  EXPECT_EQ(deviceAccess->ItemListRequest(nullptr), S_FALSE);
  ASSERT_EQ(idtm->ReleaseCommunication(&result), S_OK);
  EXPECT_EQ(deviceAccess->WriteRequest(vkr::Bstr(u"offline"), vkr::Bstr(unknown)), S_FALSE);
  EXPECT_EQ(deviceAccess->CancelRequest(vkr::Bstr(u"offline"), &result), S_FALSE);
  EXPECT_EQ(result, VARIANT_FALSE);
  EXPECT_EQ(frame->DataAccessAnswerTo("offline"), nullptr);
}

// ---- Cyclic reads through the same frame ----------------------------------------------------

// A cyclic read starts again only once the answer to its last read has reached the DTM thread:
// registered, the primary value is read again and again through the channel, also with the
// frame's own blocking reads in between; removed, nothing more is read.
TEST_F(DataAccessWithFrame, CyclicReadsRepeatWhileRegisteredAndStopWhenRemoved) {
  SetCommunication();
  vkr::ComPtr<IovFdtDtmEvents> events;
  ASSERT_EQ(dtm->QueryInterface(IovFdtDtmEvents::iid, events.PutVoid()), S_OK);
  ASSERT_EQ(events->DtmMessage(vkr::UI4(10), vkr::EmptyVariant()), S_OK);
  ASSERT_TRUE(Pump([&] { return State() == dsONLINE; }));
  auto* core = static_cast<CVornExampleDtm*>(idtm.Get());
  std::size_t exchanges = 0;
  channel->onDataExchange = [&](std::size_t) { ++exchanges; };

  SParamUpdateInfo update(1049, 50);
  vkr::Variant packed;
  ASSERT_TRUE(update.Pack(&packed));
  ASSERT_EQ(core->ExecuteJob(kJobAddCyclicRead, packed), S_OK);
  EXPECT_TRUE(Pump([&] { return exchanges >= 3; })) << exchanges;
  for (int i = 0; i < 3; ++i) {
    VARIANT_BOOL read = VARIANT_FALSE;
    ASSERT_EQ(handler->ReadDeviceParameterEx(vkr::UI4(1049), &read), S_OK);
    EXPECT_EQ(read, VARIANT_TRUE);
  }
  const std::size_t before = exchanges;
  EXPECT_TRUE(Pump([&] { return exchanges >= before + 3; })) << exchanges;

  ASSERT_EQ(core->ExecuteJob(kJobRemoveCyclicRead, packed), S_OK);
  // A read under way when it went still ends.
  ASSERT_TRUE(vkr::frame::WaitUntilQuiet());
  const int pv = channel->requestLog.back().first;
  const auto count = [&](bool of) {
    std::size_t n = 0;
    for (const auto& [command, occurrence] : channel->requestLog) n += (command == pv) == of;
    return n;
  };
  const std::size_t stopped = count(true), others = count(false);
  // Another value read as often meanwhile reads again and again; the removed one does not.
  SParamUpdateInfo command2(1030, 50);
  vkr::Variant other;
  ASSERT_TRUE(command2.Pack(&other));
  ASSERT_EQ(core->ExecuteJob(kJobAddCyclicRead, other), S_OK);
  EXPECT_TRUE(Pump([&] { return count(false) >= others + 3; })) << count(false);
  ASSERT_EQ(core->ExecuteJob(kJobRemoveCyclicRead, other), S_OK);
  ASSERT_TRUE(vkr::frame::WaitUntilQuiet());
  EXPECT_EQ(count(true), stopped);
  channel->onDataExchange = nullptr;
}

}  // namespace
