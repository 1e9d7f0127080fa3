// Fuzzes the documents a frame hands the DTM, read the way the DTM reads them: loaded with the
// schema set the frame names (the DTM's own XML handler, schemas found in the frame's directory),
// then taken apart by the DTM's readers. One DTM is taken once through environment, device type
// and configuration with the stand-in frame's container; each input is then one document for one
// reader, in the state that admits the call:
//   0 the frame version (IDtm2::Environment2),  1 the device type (IDtm::InitNew),
//   2 the user information (IDtm::Config),     3 a function call (IDtm::InvokeFunctionRequest and
//     a user interface opened with it),        4 the operation phase (IDtm::GetFunctions),
//   5 a parameter document (IDtmParameter::SetParameters), 6 the system GUI label,
//   7 a device type for IDtmInformation2::GetDeviceIdentificationInformation.
// No input may crash, hang or leak, and every document the DTM sends the frame meanwhile must
// validate with the frame's schema set. Round trips: parameters taken from a document write a
// parameter document that sets the same parameters and writes the same text again; the id read
// from a function call writes a function call that validates and reads back to the same id; the
// answers of GetFunctions and GetDeviceIdentificationInformation validate, and so does the
// parameter document once a device type the schema set checked is taken.
//
// Input: one byte choosing the reader, then the document (UTF-8).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "frame/FrameContainer.h"
#include "platform/platform.h"
#include "tests/support/fuzz_input.h"
#include "tests/support/headless_dtm.h"
#include "tests/support/activex_defaults.h"
#include "tests/support/stub_dispatch.h"
#include "include/ActiveXInterfaces.h"
#include "xml/XmlHelpers.h"

namespace {

using vkr::frame::FrameContainer;
using vkr::fuzz::Check;
using vkr::test::HeadlessDtm;

constexpr std::size_t kMaxDocument = 8192;
constexpr char16_t kTag[] = u"LT-101";
constexpr char16_t kHartProtocol[] = u"036D1498-387B-11D4-86E1-00E0987270B9";

enum Reader {
  kFrameVersion,
  kDeviceType,
  kUserInformation,
  kFunctionCall,
  kOperationPhase,
  kParameters,
  kGuiLabel,
  kIdentification,
  kReaders
};

// A user interface the frame opened with a function call: it hands the call out as its item 1.
class OpenedUserInterface : public vkr::Implements<IovFdtActiveX4, IovFdtActiveXInfo> {
 public:
  VKR_ACTIVEX4_NOT_IMPLEMENTED
  vkr::Bstr functionCall;

  VKR_TEST_DISPATCH
  HRESULT OnDtmStateChanged(ULONG) override { return S_OK; }
  HRESULT ReportError(BSTR) override { return S_OK; }
  HRESULT ReportErrorText(LPCWSTR) override { return S_OK; }
  HRESULT ExecuteCommand(VARIANT, VARIANT) override { return S_OK; }
  HRESULT SetInfo(VARIANT id, VARIANT* value) override {
    if (!value) return E_POINTER;
    VariantInit(value);
    if (id.vt != VT_UI4 || id.ulVal != 1) return S_FALSE;
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocStringLen(functionCall.Get(), functionCall.Length());
    return value->bstrVal || !functionCall.Get() ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT IsInfoSupported(VARIANT) override { return S_FALSE; }
  HRESULT SetSchemaSource(IUnknown*) override { return S_OK; }
};

// The stand-in frame, whose schema directory can move: once the DTM's cache holds the whole set,
// an empty directory spares every later Environment2 reading the set again.
class Frame : public FrameContainer {
 public:
  std::u16string schemaPath = vkr::Utf8ToUtf16(vkr::frame::SchemaDirectory());
  HRESULT GetXmlSchemaPath(BSTR* path) override {
    if (!path) return E_POINTER;
    *path = SysAllocStringLen(schemaPath.data(), static_cast<UINT>(schemaPath.size()));
    return *path ? S_OK : E_OUTOFMEMORY;
  }
};

// A seed of the corpus without its reader byte: the documents the setup takes the DTM through.
vkr::Bstr Seed(const char* name) {
  std::ifstream in((vkr::test::SourceTree() / "fuzz/corpus/frame_documents") / name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  const std::string text = bytes.str();
  Check(text.size() > 1);
  return vkr::fuzz::Text(std::string_view(text).substr(1));
}

struct Setup {
  vkr::ComPtr<vkr::ComObject<HeadlessDtm>> dtm;
  vkr::ComPtr<vkr::ComObject<Frame>> frame;
  vkr::ComPtr<IXMLDOMSchemaCollection> schemas;
  vkr::ComPtr<vkr::ComObject<OpenedUserInterface>> ui;
  ULONG userLevel = 0;
  ULONG phase = 0;
  HeadlessDtm::Values values;  // the parameters as the setup left them
  vkr::Bstr frameVersion, deviceType;
  std::u16string deviceTypeText;  // as InitNew keeps it

  Setup() {
    vkr::fuzz::Scratch::Directory();
    Check(SUCCEEDED(CoInitialize(nullptr)));
    Check(SUCCEEDED(vkr::MakeObject<HeadlessDtm>(&dtm)));
    Check(SUCCEEDED(vkr::MakeObject<Frame>(&frame)));
    schemas = vkr::fuzz::MakeFrameSchemaCache();
    Check(SUCCEEDED(vkr::MakeObject<OpenedUserInterface>(&ui)));
    VARIANT_BOOL done = VARIANT_FALSE;
    dtm->ForceState(dsINITNEWPERSIST);
    frameVersion = Seed("frame_version_121");
    Check(Dtm2().Environment2(vkr::Bstr(kTag), frame.Get(), frameVersion, &done) == S_OK && done);
    deviceType = Seed("device_type");
    Check(Dtm().InitNew(deviceType, &done) == S_OK && done);
    Check(Dtm().Config(Seed("user_information"), &done) == S_OK && done);
    Check(dtm->State() == dsCONFIGURED);
    deviceTypeText = dtm->DeviceType();
    userLevel = dtm->UserLevel();
    phase = dtm->OperationPhase();
    for (const auto& e : std::filesystem::directory_iterator(vkr::frame::SchemaDirectory())) {
      BOOL added = FALSE;
      const vkr::Bstr name(vkr::Utf8ToUtf16(e.path().filename().string()));
      Check(dtm->CovFDTXMLHandlerImpl<CVornExampleDtm>::AddSchema(name, &added) == S_OK && added);
    }
    frame->schemaPath = vkr::Utf8ToUtf16((vkr::fuzz::Scratch::Directory() / "no-schemas").string());
    std::filesystem::create_directories(vkr::fuzz::Scratch::Directory() / "no-schemas");
    values = dtm->SaveValues();
    Check(frame->invalidDocuments.empty());
  }
  IDtm& Dtm() { return static_cast<IDtm&>(*dtm); }
  IDtm2& Dtm2() { return static_cast<IDtm2&>(*dtm); }
};

// The document loads with the frame's schema set (else the reason and the document go to stderr).
void Validates(IXMLDOMSchemaCollection* schemas, BSTR document, int line = __builtin_LINE()) {
  vkr::ComPtr<IXMLDOMDocument2> loader = vkr::fuzz::NewDocument(schemas);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (loader->loadXML(document, &loaded) == S_OK && loaded) return;
  vkr::ComPtr<IXMLDOMParseError> error;
  vkr::Bstr reason;
  if (SUCCEEDED(loader->get_parseError(error.Put())) && error) error->get_reason(reason.Put());
  std::fprintf(stderr, "does not validate: %s\n%s\n", vkr::Utf16ToUtf8(reason.View()).c_str(),
               vkr::Utf16ToUtf8(vkr::View(document)).c_str());
  Check(false, __FILE__, line);
}

vkr::ComPtr<IXMLDOMDocument2> Parse(BSTR text) {
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  if (FAILED(LoadXmlFromString(text, document.Put(), &loaded)) || !loaded) return nullptr;
  return document;
}

bool FrameVersion(Setup& s, BSTR document) {
  s.dtm->ForceState(dsINITNEWPERSIST);
  VARIANT_BOOL done = VARIANT_FALSE;
  s.Dtm2().Environment2(vkr::Bstr(kTag), s.frame.Get(), document, &done);
  if (!done) return false;
  // Taken: the document named version 1.2.0 or 1.2.1, and the DTM took the release from it.
  Check(s.dtm->State() == dsENVIRONMENTSET);
  vkr::ComPtr<IXMLDOMDocument2> own = Parse(document);
  Check(static_cast<bool>(own));
  LONG release = -1;
  Check(SUCCEEDED(GetXmlValueI4(&release, own.Get(), vkr::Bstr(u"FDT/FrameVersion/fdtvers:FDTVersion/@release"))));
  Check((release == 1) == s.dtm->Fdt121());
  return true;
}

bool DeviceType(Setup& s, BSTR document) {
  s.dtm->ForceState(dsENVIRONMENTSET);
  VARIANT_BOOL done = VARIANT_FALSE;
  if (s.Dtm().InitNew(document, &done) != S_OK || !done) return false;
  Check(s.dtm->State() == dsINITIALIZED);
  // The device type taken goes into the parameter document, which must still validate when the
  // device type element was one the schema set checked (in the FDT data types' namespace).
  vkr::ComPtr<IXMLDOMDocument2> own = Parse(document);
  vkr::ComPtr<IXMLDOMNode> type;
  vkr::Bstr ns;
  Check(own && own->selectSingleNode(vkr::Bstr(u"FDT/fdt:DtmDeviceType"), type.Put()) == S_OK && type);
  Check(SUCCEEDED(type->get_namespaceURI(ns.Put())));
  if (ns.View() != u"x-schema:FDTDataTypesSchema.xml") return true;
  s.dtm->ForceState(dsCONFIGURED);
  vkr::Bstr parameters;
  IDtmParameter& dtm = *s.dtm;
  Check(dtm.GetParameters(nullptr, parameters.Put()) == S_OK);
  Validates(s.schemas.Get(), parameters);
  return true;
}

void FunctionCall(Setup& s, BSTR document) {
  VARIANT_BOOL invoked = VARIANT_FALSE;
  s.Dtm().InvokeFunctionRequest(vkr::Bstr(u"invoke-1"), document, &invoked);
  // A user interface opened with the call, and closed again.
  s.ui->functionCall = vkr::Bstr(vkr::View(document));
  const vkr::Bstr invokeId(u"ui-1");
  if (SUCCEEDED(s.dtm->StartFunction(invokeId, static_cast<IovFdtActiveX4*>(s.ui.Get()), 0)))
    s.dtm->FunctionFinished(invokeId);
  Check(s.dtm->RunningFunctions() == 0);
  // The id read from the call writes a call that validates and reads back to the same id.
  vkr::ComPtr<IXMLDOMDocument2> own = Parse(document);
  LONG id = 0;
  if (!own || FAILED(GetXmlValueI4(&id, own.Get(), vkr::Bstr(u"FDT/FDTFunctionCall/@func:functionId")))) return;
  vkr::Bstr written;
  Check(s.dtm->GetFunctionCallDocument(id, written.Put()) == S_OK);
  Validates(s.schemas.Get(), written);
  vkr::ComPtr<IXMLDOMDocument2> again = Parse(written);
  LONG back = 0;
  Check(again && SUCCEEDED(GetXmlValueI4(&back, again.Get(), vkr::Bstr(u"FDT/FDTFunctionCall/@func:functionId"))));
  Check(back == id);
}

void Parameters(Setup& s, BSTR document) {
  IDtmParameter& parameters = *s.dtm;
  VARIANT_BOOL done = VARIANT_FALSE;
  parameters.SetParameters(nullptr, document, &done);
  if (!done) return;
  vkr::Bstr first, second;
  Check(parameters.GetParameters(nullptr, first.Put()) == S_OK);
  Validates(s.schemas.Get(), first);
  Check(parameters.SetParameters(nullptr, first, &done) == S_OK && done);
  Check(parameters.GetParameters(nullptr, second.Put()) == S_OK);
  Check(first.View() == second.View());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > kMaxDocument + 1) return 0;
  static Setup setup;
  vkr::fuzz::Input in(data, size);
  const Reader reader = static_cast<Reader>(in.Byte() % kReaders);
  const vkr::Bstr document = vkr::fuzz::Text(in.Rest());
  VARIANT_BOOL done = VARIANT_FALSE;
  switch (reader) {
    case kFrameVersion: done = FrameVersion(setup, document) ? VARIANT_TRUE : VARIANT_FALSE; break;
    case kDeviceType: done = DeviceType(setup, document) ? VARIANT_TRUE : VARIANT_FALSE; break;
    case kUserInformation:
      setup.dtm->ForceState(dsINITIALIZED);
      if (setup.Dtm().Config(document, &done) == S_OK && done) Check(setup.dtm->State() == dsCONFIGURED);
      break;
    case kFunctionCall: FunctionCall(setup, document); break;
    case kOperationPhase: {
      vkr::Bstr functions;
      if (setup.Dtm().GetFunctions(document, functions.Put()) == S_OK) Validates(setup.schemas.Get(), functions);
      break;
    }
    case kParameters: Parameters(setup, document); break;
    case kGuiLabel: setup.Dtm2().SetSystemGuiLabel(document, &done); break;
    case kIdentification: {
      vkr::Bstr identification;
      IDtmInformation2& information = *setup.dtm;
      if (information.GetDeviceIdentificationInformation(document, vkr::Bstr(kHartProtocol), identification.Put()) ==
              S_OK &&
          identification.Get())
        Validates(setup.schemas.Get(), identification);
      break;
    }
    case kReaders: break;
  }
  // Whatever the document was, what the DTM told the frame was valid.
  Check(setup.frame->invalidDocuments.empty());
  setup.frame->notifications.clear();
  setup.frame->stateDocuments.clear();
  setup.frame->userMessages.clear();
  // The next input finds the DTM as the setup left it: environment, state, user level, phase and
  // parameters (so that every failure reproduces from its input alone).
  if (reader == kFrameVersion && (done || !setup.dtm->Fdt121())) {
    setup.dtm->ForceState(dsINITNEWPERSIST);
    Check(setup.Dtm2().Environment2(vkr::Bstr(kTag), setup.frame.Get(), setup.frameVersion, &done) == S_OK && done);
  }
  if (reader == kDeviceType && done) {
    setup.dtm->ForceState(dsENVIRONMENTSET);
    Check(setup.Dtm().InitNew(setup.deviceType, &done) == S_OK && done);
  }
  // A device type refused still leaves its text behind.
  if (reader == kDeviceType) setup.dtm->SetDeviceType(setup.deviceTypeText);
  setup.dtm->ForceState(dsCONFIGURED);
  setup.dtm->SetUserLevel(setup.userLevel);
  setup.dtm->SetOperationPhase(setup.phase);
  if (reader == kDeviceType || reader == kUserInformation || reader == kParameters || reader == kGuiLabel)
    setup.dtm->RestoreValues(setup.values);
  return 0;
}
