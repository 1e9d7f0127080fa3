// A DTM for the protocol objects: the real parameter handler with the VKR device's parameter table,
// the parameter lists of the fake site, a stand-in for the DTM's toolkit interface, and a record of
// every device answer the protocol hands the handler (which still stores it).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/stub_base_dtm.h"
#include "communication/HartCodecs.h"
#include "communication/HartRecords.h"
#include "communication/MyHartProtocol.h"
#include "include/DtmInterfaces.h"
#include "parameters/DeviceParameterTable.h"
#include "platform/platform.h"
#include "tests/support/variant_values.h"
#include "tests/support/fake_parameter_site.h"
#include "tests/support/stub_dispatch.h"

namespace vkr::test {

// IovFdtBaseDTM only has to be there: the connect-side parsers ask for it.
class StubBaseDtm : public IovFdtBaseDTM {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    *ppv = riid == IID_IUnknown || riid == IID_IDispatch || riid == IovFdtBaseDTM::iid ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  VKR_NO_DISPATCH
  VKR_STUB_BASE_DTM
};

// One HandleDevParResponse call.
struct DeviceAnswer {
  bool success;
  ULONG id;
  vkr::Variant data;
  std::string text;
  bool nullText;
};

class ProtocolDtm : public vkr::Implements<IFakeDtm>, public CovFDT_ParameterHandlerImpl {
 public:
  explicit ProtocolDtm(FakeParameterSite* site) : CovFDT_ParameterHandlerImpl(site), m_site(site) {}

  HRESULT LoadDeviceTable() { return InitDeviceParameterTable(*this, &Collection(), nullptr); }

  std::vector<DeviceAnswer> answers;
  bool offerBaseDtm = true;
  bool offerLists = true;

  HRESULT HandleDevParResponse(VARIANT_BOOL success, VARIANT id, VARIANT data, BSTR errorText) override {
    ULONG n = 0xFFFFFFFF;
    VariantToULong(&id, &n);
    answers.push_back({success == VARIANT_TRUE, n, vkr::Variant(data),
                       vkr::Utf16ToUtf8(vkr::View(errorText)), errorText == nullptr});
    return CovFDT_ParameterHandlerImpl::HandleDevParResponse(success, id, data, errorText);
  }

 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override {
    if (riid == IovFdtBaseDTM::iid && offerBaseDtm) {
      *ppv = static_cast<IovFdtBaseDTM*>(&m_baseDtm);
      return S_OK;
    }
    if (riid == IovFDTParamList::iid && offerLists) {
      *ppv = static_cast<IovFDTParamList*>(m_site);
      return S_OK;
    }
    return QueryHandlerInterface(riid, ppv);
  }

 private:
  FakeParameterSite* m_site;
  StubBaseDtm m_baseDtm;
};

// Hex text of bytes, upper case.
inline std::string Hex(const std::vector<int>& bytes) {
  std::string s;
  char b[3];
  for (int v : bytes) {
    std::snprintf(b, sizeof b, "%02X", v & 0xFF);
    s += b;
  }
  return s;
}

// The protocol attached to a DTM that holds the device table.
class ProtocolTest : public ::testing::Test {
 protected:
  FakeParameterSite site;
  vkr::ComPtr<vkr::ComObject<ProtocolDtm>> dtm;
  MyHartProtocol protocol;
  CovFDT_HartProtocolImpl hart;  // the framework's class, attached to the same DTM
  vkr::Bstr reference{u"7F3C2D10-1A2B-4C5D-8E9F-0A1B2C3D4E5F"};

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    site.state = dsONLINE;
    ASSERT_EQ(vkr::MakeObject<ProtocolDtm>(&dtm, &site), S_OK);
    ASSERT_EQ(dtm->LoadDeviceTable(), S_OK);
    AddExtraParameters();
    ASSERT_TRUE(protocol.AttachDtm(Unknown()));
    ASSERT_TRUE(hart.AttachDtm(Unknown()));
    ASSERT_FALSE(protocol.GetParameterEntries().empty());
  }
  void TearDown() override {
    vkr::platform::SetAllocationFault(0);
    protocol.DetachDtm();
    hart.DetachDtm();
    dtm = nullptr;
    CoUninitialize();
  }
  // Parameters a test adds before the tables are built.
  virtual void AddExtraParameters() {}

  IUnknown* Unknown() { return static_cast<IFakeDtm*>(dtm.Get()); }

  // A parameter of our own with an AddressInformation text.
  void AddParameter(ULONG id, VARTYPE vt, const vkr::Variant& value, const std::string& address,
                    ULONG flags = 0x71, USHORT kind = 0) {
    ParInfo record;
    record.m_nId = id;
    record.m_vt = vt;
    record.m_dwFlags = flags;
    record.m_nKind = kind;
    record.m_dwAddressed = 1;
    record.m_bstrName = vkr::Bstr(u"test");
    VariantCopy(&record.m_vValue, &value);
    record.m_vAddress.vt = VT_BSTR;
    record.m_vAddress.bstrVal = SysAllocString(vkr::Utf8ToUtf16(address).c_str());
    ASSERT_EQ(dtm->AddParInfo(record), S_OK) << id;
  }

  void SetDataSetValue(ULONG id, const vkr::Variant& value) { ASSERT_EQ(dtm->SetValueById(id, value), S_OK) << id; }
  void SetDeviceValue(ULONG id, const vkr::Variant& value) {
    ParInfo record;
    VariantCopy(&record.m_vDevValue, &value);
    ASSERT_EQ(dtm->SetParInfoFields(id, PIF_DEV_VALUE, record), S_OK) << id;
  }
  vkr::Variant DeviceValue(ULONG id) {
    ParInfo record;
    dtm->GetParInfoFields(id, PIF_DEV_VALUE, &record);
    return record.m_vDevValue;
  }
  void SetList(const std::u16string& name, std::vector<ULONG> ids) { site.listEntries[name] = std::move(ids); }
  static vkr::Variant ListId(const char16_t* name) { return Text(name); }

  const SovFDT_ParameterEntry* Entry(CovFDT_BaseProtocolImpl& p, ULONG id) { return p.FindParameterEntry(vkr::UI4(id)); }

  // The answers the handler received, as "id ok" / "id error: text".
  std::vector<std::string> AnswerLines() const {
    std::vector<std::string> out;
    for (const DeviceAnswer& a : dtm->answers)
      out.push_back(std::to_string(a.id) + (a.success ? " ok" : " error: " + a.text));
    return out;
  }

  // A DataExchangeResponse document.
  std::u16string DataExchangeResponse(const char* data, int deviceStatus = 0, int communicationStatus = -1,
                                      int commandResponse = -1, const char* ref = nullptr, int command = 3) {
    std::string body = "<?xml version=\"1.0\"?>\n<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" "
                       "xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">\n<DataExchangeResponse communicationReference=\"";
    body += ref ? ref : vkr::Utf16ToUtf8(reference.View());
    body += "\" commandNumber=\"" + std::to_string(command) + "\">\n";
    if (data) body += std::string("<fdt:CommunicationData byteArray=\"") + data + "\"/>\n";
    body += "<Status deviceStatus=\"" + std::to_string(deviceStatus) + "\">";
    if (communicationStatus >= 0) body += "<CommunicationStatus value=\"" + std::to_string(communicationStatus) + "\"/>";
    if (commandResponse >= 0) body += "<CommandResponse value=\"" + std::to_string(commandResponse) + "\"/>";
    body += "</Status>\n</DataExchangeResponse>\n</FDT>";
    return vkr::Utf8ToUtf16(body);
  }
};

}  // namespace vkr::test
