// Fuzzes the HART response on its way to the parameters: the VKR DTM's connection, connected
// through a scripted frame channel, reads one of the DTM's parameters, and the frame answers with
// the input as its transaction response; the connection and the protocol read it, decode the
// status bytes and spread the response bytes over the parameter's transaction group into the
// DTM's parameter handler. No input may crash, hang or leak; no device value outside the group
// changes (the raw command and a refused answer change none); the connection is left with nothing
// pending.
//
// Besides the VKR table, the DTM holds one group of dates read by a command of their own (the three
// date layouts a HART field can have), so that the date decoder meets the answers too. On the
// upload road a response also reaches the data set's parameters of other groups that the same read
// answers (its read siblings), and those may change as well.
//
// Input: one byte choosing the parameter, one byte choosing the road (answered inside the frame's
// call or after it, blocking, direct read, write, raw command, read during an upload), then the
// response document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "communication/CMyConnection.h"
#include "parameters/DeviceParameterTable.h"
#include "parameters/CFdtVariant.h"
#include "platform/platform.h"
#include "tests/support/fuzz_input.h"
#include "tests/support/headless_dtm.h"
#include "tests/support/scripted_channel.h"

namespace {

using vkr::fuzz::Check;
using vkr::test::HeadlessDtm;
using vkr::test::ScriptedChannel;

constexpr std::size_t kMaxDocument = 8192;
constexpr char16_t kReference[] = u"7F3C2D10-1A2B-4C5D-8E9F-0A1B2C3D4E5F";
// An answer that takes a request off the pending list and changes nothing.
constexpr char16_t kCleanUp[] =
    u"<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
    u"<fdt:CommunicationError communicationError=\"abort\" tag=\"LT-101\"/></FDT>";
// The status parameters every DataExchangeResponse writes.
const std::set<ULONG> kStatusParameters = {kParDeviceStatus, kParCommandResponse, kParCommand41Response,
                                           kParCommand42Response};

enum Road { kInCall, kAfterCall, kBlocking, kDirect, kWrite, kRawCommand, kUpload, kRoads };

// The dates' group: read by command 200, written by command 201, a seven-byte date, a six-byte one
// and a four-byte time of day, one after the other.
constexpr ULONG kDateCommand = 200;
struct DateField {
  ULONG id;
  ULONG bitOffset;
  ULONG bitLength;
};
constexpr DateField kDates[] = {{9101, 0, 56}, {9102, 56, 48}, {9103, 104, 32}};

void AddDates(HeadlessDtm& dtm) {
  for (const DateField& field : kDates) {
    ParInfo record;
    record.m_nId = field.id;
    record.m_vt = VT_DATE;
    record.m_dwAddressed = 1;
    const std::string address = vkr::MakeHartAddressInformation(
        {kDateCommand, field.bitOffset, field.bitLength, kDateCommand + 1, 136, field.bitOffset, field.bitLength});
    record.m_vAddress.vt = VT_BSTR;
    record.m_vAddress.bstrVal = SysAllocString(vkr::Utf8ToUtf16(address).c_str());
    record.m_vValue.vt = VT_DATE;
    record.m_vValue.date = 45000.5;
    Check(SUCCEEDED(dtm.AddParInfo(record)));
  }
}

struct Setup {
  vkr::ComPtr<vkr::ComObject<HeadlessDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<ScriptedChannel>> channel;
  vkr::ComPtr<vkr::ComObject<CMyConnection>> connection;
  std::vector<ULONG> ids;  // the parameters the protocol can read
  std::vector<ULONG> all;  // every parameter of the DTM

  Setup() {
    vkr::fuzz::Scratch::Directory();
    Check(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    Check(SUCCEEDED(vkr::MakeObject<HeadlessDtm>(&dtm)));
    dtm->StopCollectInitError();
    dtm->ForceState(dsONLINE);
    AddDates(*dtm);
    Check(SUCCEEDED(vkr::MakeObject<ScriptedChannel>(&channel)));
    Check(SUCCEEDED(vkr::MakeObject<CMyConnection>(&connection)));
    // Answers that never come end a blocking wait quickly.
    connection->SetTimeouts(1, 1);
    vkr::Bstr id;
    Check(connection->InitConnection(vkr::Bstr(kHartProtocolId), static_cast<IDtm*>(dtm.Get()),
                                     static_cast<IFdtCommunication*>(channel.Get()),
                                     vkr::Bstr(vkr::Utf8ToUtf16(vkr::test::FrameSchemas().string())),
                                     id.Put()) == S_OK);
    channel->connectAnswer =
        u"<FDT xmlns=\"x-schema:FDTHARTCommunicationSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
        u"<ConnectResponse fdt:tag=\"LT-101\" preambleCount=\"5\" primaryMaster=\"1\" communicationReference=\"" +
        std::u16string(kReference) + u"\"><ShortAddress shortAddress=\"0\"/></ConnectResponse></FDT>";
    VARIANT_BOOL connected = VARIANT_FALSE;
    Check(connection->Connect(&connected) == S_OK && connected);
    vkr::Bstr connectionId, protocolId;
    VARIANT_BOOL online = VARIANT_FALSE;
    Check(connection->GetConnectionIds(connectionId.Put(), protocolId.Put(), &online) == S_OK && online);
    for (const auto& entry : connection->GetProtocol()->GetParameterEntries())
      if (entry && entry->id.vt == VT_UI4) ids.push_back(entry->id.ulVal);
    Check(!ids.empty());
    ULONG count = 0;
    Check(SUCCEEDED(dtm->GetCollectionCount(&count)));
    for (ULONG i = 0; i < count; ++i) {
      ParInfo record;
      Check(SUCCEEDED(dtm->GetParInfoAt(static_cast<LONG>(i), &record)));
      all.push_back(record.m_nId);
    }
  }
  // The channel lets go of the connection's events, as a frame does when the channel goes: the
  // two would otherwise hold each other.
  ~Setup() { channel->events = nullptr; }
};

// Every parameter's device value, in the order of the ids.
std::vector<vkr::Variant> DeviceValues(HeadlessDtm& dtm, const std::vector<ULONG>& ids) {
  std::vector<vkr::Variant> out(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    ParInfo record;
    Check(SUCCEEDED(dtm.GetParInfoFields(ids[i], PIF_DEV_VALUE, &record)));
    Check(SUCCEEDED(VariantCopy(out[i].Ptr(), record.m_vDevValue.Ptr())));
  }
  return out;
}

bool Same(const vkr::Variant& a, const vkr::Variant& b) {
  if (a.vt != b.vt) return false;
  if (a.vt == VT_BSTR) return vkr::View(a.bstrVal) == vkr::View(b.bstrVal);
  // Equal bits are the same scalar; otherwise (unused bytes may differ) the texts decide.
  if (!(a.vt & VT_ARRAY) && a.ullVal == b.ullVal) return true;
  vkr::Bstr x, y;
  VariantToText(a.Ptr(), x.Put());
  VariantToText(b.Ptr(), y.Put());
  return x.View() == y.View();
}

// The read command of a group's address text; 0 when it names none.
ULONG ReadCommand(const SovFDT_TransactionGroup& group) {
  if (group.address.vt != VT_BSTR) return 0;
  const std::string text = vkr::Utf16ToUtf8(vkr::View(group.address.bstrVal));
  const std::string marker = "service=\"read\" command=\"";
  const std::size_t at = text.find(marker);
  return at == std::string::npos ? 0 : std::strtoul(text.c_str() + at + marker.size(), nullptr, 10);
}

// The members of the transaction group of id (empty when it has none); with siblings, also those
// of every group read by the same command.
std::set<ULONG> Group(CovFDT_BaseProtocolImpl& protocol, ULONG id, bool siblings) {
  std::set<ULONG> members;
  const SovFDT_ParameterEntry* entry = protocol.FindParameterEntry(vkr::UI4(id));
  const SovFDT_TransactionGroup* own = entry ? protocol.FindTransactionGroup(entry->nGroup) : nullptr;
  if (!own) return members;
  for (const auto& group : protocol.GetTransactionGroups()) {
    if (group.get() != own && (!siblings || ReadCommand(*group) == 0 || ReadCommand(*group) != ReadCommand(*own)))
      continue;
    for (const vkr::Variant& member : group->members)
      if (member.vt == VT_UI4) members.insert(member.ulVal);
  }
  return members;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > kMaxDocument + 2) return 0;
  static Setup setup;
  HeadlessDtm& dtm = *setup.dtm;
  ScriptedChannel& channel = *setup.channel;
  CMyConnection& connection = *setup.connection;
  vkr::fuzz::Input in(data, size);
  const ULONG id = setup.ids[in.Byte() % setup.ids.size()];
  const Road road = static_cast<Road>(in.Byte() % kRoads);
  const vkr::Bstr response = vkr::fuzz::Text(in.Rest());

  const auto before = DeviceValues(dtm, setup.all);
  std::set<ULONG> mayChange =
      road == kRawCommand ? std::set<ULONG>() : Group(*connection.GetProtocol(), id, road == kUpload);
  channel.transactionAnswer.reset();
  if (road != kAfterCall) channel.transactionAnswer = std::u16string(response.View());
  VARIANT_BOOL done = VARIANT_FALSE;
  switch (road) {
    case kInCall: connection.ReadParameter(vkr::UI4(id), &done); break;
    case kAfterCall:
      if (connection.ReadParameter(vkr::UI4(id), &done) == S_OK && done) {
        const vkr::Bstr invokeId = channel.lastSent.invokeId;
        channel.Inject(invokeId, std::u16string(response.View()));
        // Taken or not, the request must be gone after an answer to it.
        Check(channel.Inject(invokeId, kCleanUp) == E_FAIL);
      }
      break;
    case kBlocking: connection.ReadParameterSync(vkr::UI4(id), &done); break;
    case kDirect: {
      vkr::Variant value;
      connection.ReadParameterDirect(vkr::UI4(id), value.Put());
      break;
    }
    case kWrite: {
      ParInfo record;
      if (SUCCEEDED(dtm.GetParInfoFields(id, PIF_VALUE, &record)))
        connection.WriteParameter(vkr::UI4(id), record.m_vValue, &done);
      break;
    }
    case kRawCommand: {
      vkr::ComPtr<IovFdtHartServiceInterface> hart;
      Check(setup.connection->GetControllingUnknown()->QueryInterface(IovFdtHartServiceInterface::iid,
                                                                       hart.PutVoid()) == S_OK);
      BYTE deviceStatus = 0, statusByte = 0;
      vkr::Bstr answer, error;
      hart->Transaction(static_cast<BYTE>(id), nullptr, &deviceStatus, &statusByte, answer.Put(), error.Put());
      break;
    }
    case kUpload: {
      // As an upload reads: the protocol keeps the log of what the answers spread.
      CovFDT_BaseProtocolImpl& protocol = *connection.GetProtocol();
      protocol.StartAnswerLog();
      connection.ReadParameter(vkr::UI4(id), &done);
      protocol.TakeAnswerLog();
      break;
    }
    case kRoads: break;
  }
  // An answer inside the call that left its request pending would be taken by this one.
  if (road != kAfterCall && channel.lastSent.kind == "transaction")
    Check(channel.Inject(channel.lastSent.invokeId, kCleanUp) == E_FAIL);

  const auto after = DeviceValues(dtm, setup.all);
  for (std::size_t i = 0; i < after.size(); ++i)
    if (!Same(after[i], before[i]))
      Check(mayChange.count(setup.all[i]) != 0 || kStatusParameters.count(setup.all[i]) != 0);
  return 0;
}
