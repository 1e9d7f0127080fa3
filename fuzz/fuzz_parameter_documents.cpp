// Fuzzes the parameter documents: arbitrary text into the reader of the document the frame sets
// (tag, bus information, exported variables), into the "<PARAMETERS>" import, into the FDT variant
// reader and into the name splitter. No input may crash, hang or leak; a refused document changes
// no value; whatever an import leaves, its export imports into a fresh handler and exports again
// to the same text; a variant read is written, read and written again as the same element.
//
// The first byte picks the reader; the rest is the text (UTF-8), at most 64 KiB.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "module/CVornExampleDtm.h"
#include "parameters/CFdtVariant.h"
#include "parameters/CovFDT_ParameterHandlerImpl.h"
#include "parameters/ParameterDocuments.h"
#include "frame/FrameContainer.h"
#include "platform/platform.h"
#include "tests/support/headless_dtm.h"
#include "tests/support/fake_parameter_site.h"
#include "tests/support/fuzz_input.h"
#include "xml/XmlHelpers.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

vkr::Variant Text(const char16_t* s) {
  vkr::Variant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(s);
  return v;
}

// Records of each type, every one listed and exported as a display (odd ids) or a variant.
void AddRecords(CovFDT_ParameterHandlerImpl* h) {
  const VARTYPE types[] = {VT_UI1, VT_I4, VT_R4, VT_R8, VT_BSTR, VT_BOOL, VT_ARRAY | VT_UI1};
  const char16_t* names[] = {u"U1", u"I4", u"R4", u"R8", u"Text", u"Flag", u"Bytes"};
  ULONG id = 9001;
  for (size_t i = 0; i < sizeof types / sizeof types[0]; ++i) {
    ParInfo r;
    r.m_nId = id++;
    r.m_vt = types[i];
    r.m_dwFlags = 0x71 | PFL_EXPORT;
    r.m_dwExportKind = 1 + (i % 2);
    r.m_bstrStrId = vkr::Bstr(names[i]);
    vkr::Variant one = Text(u"1");
    if (types[i] == (VT_ARRAY | VT_UI1)) one = Text(u"00FF");
    if (FAILED(ChangeVariantType(&r.m_vValue, &one, types[i]))) abort();
    if (FAILED(h->AddParInfo(r))) abort();
  }
}

std::u16string Values(CovFDT_ParameterHandlerImpl* h) {
  std::u16string s;
  ULONG count = 0;
  if (FAILED(h->GetCollectionCount(&count))) abort();
  for (ULONG i = 0; i < count; ++i) {
    ParInfo r;
    if (FAILED(h->GetParInfoAt(static_cast<LONG>(i), &r))) abort();
    vkr::Bstr text;
    VariantToText(r.m_vValue.Ptr(), text.Put());
    s += text.View();
    s += u'\n';
  }
  return s;
}

vkr::Bstr Export(vkr::test::StackParameterHandler* h) {
  vkr::Bstr text;
  if (h->ExportParametersXml(nullptr, FALSE, FALSE, text.Put()) != S_OK) abort();
  return text;
}

// A seed of the frame's documents without its reader byte.
vkr::Bstr FrameSeed(const char* name) {
  std::ifstream in((vkr::test::SourceTree() / "fuzz/corpus/frame_documents") / name, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  vkr::fuzz::Check(bytes.size() > 1);
  return vkr::fuzz::Text(std::string_view(bytes).substr(1));
}

// The DTM as a frame leaves it configured: its environment (an FDT 1.2.1 frame), its device type
// and a planning engineer, with the records above added.
vkr::ComPtr<vkr::ComObject<vkr::test::HeadlessDtm>> MadeDtm() {
  vkr::ComPtr<vkr::ComObject<vkr::test::HeadlessDtm>> dtm;
  static vkr::ComPtr<vkr::ComObject<vkr::frame::FrameContainer>> frame;
  vkr::fuzz::Check(SUCCEEDED(vkr::MakeObject<vkr::test::HeadlessDtm>(&dtm)));
  vkr::fuzz::Check(SUCCEEDED(vkr::MakeObject<vkr::frame::FrameContainer>(&frame)));
  VARIANT_BOOL done = VARIANT_FALSE;
  dtm->ForceState(dsINITNEWPERSIST);
  vkr::ComPtr<IDtm2> dtm2;
  vkr::ComPtr<IDtm> idtm;
  dtm->QueryInterface(IDtm2::iid, dtm2.PutVoid());
  dtm->QueryInterface(IDtm::iid, idtm.PutVoid());
  vkr::fuzz::Check(dtm2 && idtm);
  vkr::fuzz::Check(dtm2->Environment2(vkr::Bstr(u"LT-101"), frame.Get(), FrameSeed("frame_version_121"), &done) ==
                       S_OK && done);
  vkr::fuzz::Check(idtm->InitNew(FrameSeed("device_type"), &done) == S_OK && done);
  vkr::fuzz::Check(idtm->Config(FrameSeed("user_information_planning"), &done) == S_OK && done);
  AddRecords(dtm.Get());
  return dtm;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  vkr::fuzz::Scratch::Directory();  // a registry and drives of its own
  static const bool initialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (!initialised) abort();
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  vkr::Bstr text(vkr::Utf8ToUtf16(bytes));
  switch (data[0] % 4) {
    case 0: {
      // The document the frame sets, loaded without a schema: the reader sees even what the
      // validation would have refused. The DTM has its environment, device type and user, so its
      // protocol takes the bus information and the values reach the set phase.
      static vkr::ComPtr<vkr::ComObject<vkr::test::HeadlessDtm>> dtm = MadeDtm();
      vkr::ComPtr<IXMLDOMDocument2> document;
      VARIANT_BOOL loaded = VARIANT_FALSE;
      if (FAILED(LoadXmlFromString(text.Get(), document.Put(), &loaded)) || !loaded) break;
      const std::u16string before = Values(dtm.Get());
      if (FAILED(dtm->ImportExportedVariables(document.Get())) && Values(dtm.Get()) != before) abort();
      break;
    }
    case 1: {
      vkr::test::FakeParameterSite site{vkr::test::kSiteQuiet};
      vkr::test::StackParameterHandler a(&site), b(&site);
      AddRecords(&a);
      AddRecords(&b);
      a.ImportParameterValues(text.Get(), nullptr);
      vkr::Bstr first = Export(&a);
      if (b.ImportParameterValues(first.Get(), nullptr) != S_OK) abort();
      if (Export(&b).View() != first.View()) abort();
      break;
    }
    case 2: {
      vkr::ComPtr<IXMLDOMDocument2> document;
      VARIANT_BOOL loaded = VARIANT_FALSE;
      if (FAILED(LoadXmlFromString(text.Get(), document.Put(), &loaded)) || !loaded) break;
      vkr::ComPtr<IXMLDOMElement> root;
      if (FAILED(document->get_documentElement(root.Put())) || !root) break;
      vkr::ComPtr<IXMLDOMNode> node;
      root->QueryInterface(IXMLDOMNode::iid, node.PutVoid());
      vkr::Variant value;
      if (ReadFdtVariantXml(node.Get(), &value) != S_OK) break;
      // What the reader takes, the writer writes; that element reads back to a value the writer
      // writes as the same element.
      vkr::Bstr xml;
      if (WriteFdtVariantXml(&value, xml.Put()) != S_OK) abort();
      vkr::ComPtr<IXMLDOMDocument2> written;
      if (FAILED(LoadXmlFromString(xml.Get(), written.Put(), &loaded)) || !loaded) abort();
      vkr::ComPtr<IXMLDOMElement> element;
      vkr::ComPtr<IXMLDOMNode> again;
      if (FAILED(written->get_documentElement(element.Put())) || !element ||
          FAILED(element->QueryInterface(IXMLDOMNode::iid, again.PutVoid())))
        abort();
      vkr::Variant back;
      vkr::Bstr xmlAgain;
      if (ReadFdtVariantXml(again.Get(), &back) != S_OK || WriteFdtVariantXml(&back, xmlAgain.Put()) != S_OK ||
          xmlAgain.View() != xml.View())
        abort();
      break;
    }
    default: {
      BSTR rest = SysAllocStringLen(text.Get(), text.Length());
      BSTR head = nullptr;
      size_t steps = 0;
      for (BOOL last = FALSE; !last; ++steps) {
        if (FAILED(SplitNameAtSeparator(&rest, kNameSeparators, &head, &last))) abort();
        if (steps > kMaxInput) abort();  // every step uses up at least one character
      }
      SysFreeString(rest);
      SysFreeString(head);
      break;
    }
  }
  return 0;
}
