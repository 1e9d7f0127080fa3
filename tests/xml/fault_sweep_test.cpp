// Allocation fault sweeps: the N-th allocation fails, for N = 1, 2, ... until the scenario runs
// through. After each failure the caller must get an error, its outputs must be untouched or
// empty, and nothing may leak (the sanitizer build checks the last part).
#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <functional>

#include "tests/support/scratch_directory.h"
#include "xml/Conversions.h"
#include "xml/CovFDTXMLHandlerImpl.h"
#include "xml/XmlHelpers.h"
#include "tests/support/source_tree.h"

namespace fs = std::filesystem;

namespace {

using vkr::Bstr;
using vkr::ComPtr;

const fs::path kFrameSchemas = vkr::test::FrameSchemas();

class SweepOwner : public CovFDTXMLHandlerImpl<SweepOwner> {
 public:
  static const char* const* GetSchemaFileList() { return kSchemaFilesConnection; }
  void OnError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatErrorTextV(format, args);
    va_end(args);
    ++errors;
  }
  int errors = 0;
};

// Runs scenario with the N-th allocation failing for N = 1, 2, ...; scenario returns whether it
// succeeded. Stops at the first run that did not reach its fault, which must have succeeded.
void Sweep(const char* name, const std::function<bool()>& scenario) {
  for (unsigned n = 1; n < 5000; ++n) {
    vkr::platform::SetAllocationFault(n);
    const bool succeeded = scenario();
    const bool reached = vkr::platform::AllocationsSinceFaultArmed() >= n;
    vkr::platform::SetAllocationFault(0);
    if (!reached) {
      EXPECT_TRUE(succeeded) << name << ": the run without a fault failed";
      EXPECT_GT(n, 1u) << name << ": no allocation was ever made to fail";
      return;
    }
  }
  ADD_FAILURE() << name << ": the sweep did not end";
}

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override {
    vkr::platform::SetAllocationFault(0);
    CoUninitialize();
  }
};

TEST_F(FaultSweep, Conversions) {
  Sweep("hex to bytes", [] {
    vkr::Variant v;
    v.vt = VT_I4;
    v.lVal = 5;
    HRESULT hr = HexStringToByteArray(&v, Bstr(u"00112233445566778899"), FALSE);
    if (FAILED(hr)) {
      EXPECT_EQ(v.vt, VT_I4);
      return false;
    }
    return v.vt == (VT_ARRAY | VT_UI1);
  });
  Sweep("bytes to hex", [] {
    const BYTE bytes[] = {1, 2, 3};
    BSTR hex = reinterpret_cast<BSTR>(1);
    HRESULT hr = BytesToHexString(bytes, 3, &hex);
    if (FAILED(hr)) {
      EXPECT_EQ(hr, E_OUTOFMEMORY);
      EXPECT_EQ(hex, nullptr);
      return false;
    }
    SysFreeString(hex);
    return true;
  });
  Sweep("format", [] {
    BSTR out = nullptr;
    HRESULT hr = BstrFormat(&out, u"%s-%d", u"text", 42);
    if (FAILED(hr)) return false;
    const bool ok = vkr::View(out) == u"text-42";
    SysFreeString(out);
    return ok;
  });
  Sweep("string array", [] {
    const LPCWSTR list[] = {u"a", u"b", u"c", u""};
    VARIANT v = MakeStringArrayVariant(list);
    const bool ok = v.vt == (VT_ARRAY | VT_BSTR);
    if (!ok) {
      EXPECT_EQ(v.vt, VT_EMPTY);
    }
    VariantClear(&v);
    return ok;
  });
  Sweep("remove characters", [] {
    BSTR text = SysAllocString(u"a-b c");
    if (!text) return false;
    HRESULT hr = RemoveCharacters(&text, u" -");
    const bool ok = SUCCEEDED(hr) && vkr::View(text) == u"abc";
    if (FAILED(hr)) {
      EXPECT_EQ(vkr::View(text), u"a-b c");  // the old text stays
    }
    SysFreeString(text);
    return ok;
  });
}

TEST_F(FaultSweep, LoadWithMissingSchemaRetry) {
  const fs::path dir = vkr::test::TestDirectory() / "sweep";
  fs::create_directories(dir / "sub");
  fs::copy_file(kFrameSchemas / "FDTDataTypesSchema.xml", dir / "FDTDataTypesSchema.xml",
                fs::copy_options::overwrite_existing);
  fs::copy_file(kFrameSchemas / "DTMStateSchema.xml", dir / "sub" / "DTMStateSchema.xml",
                fs::copy_options::overwrite_existing);
  const std::u16string directory = vkr::Utf8ToUtf16(dir.string());
  const std::u16string text =
      u"<FDT xmlns=\"x-schema:DTMStateSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
      u"<DtmStateTransition><PreviousState fdt:dtmStateMachine=\"goingOnline\"/>"
      u"<CurrentState fdt:dtmStateMachine=\"online\"/></DtmStateTransition></FDT>";
  Sweep("load", [&] {
    SweepOwner owner;
    Bstr schemaDirectory(directory), document(text);
    if (!schemaDirectory.Get() || !document.Get()) return false;
    if (FAILED(owner.InitializeSchemaCache(schemaDirectory))) return false;
    IXMLDOMDocument2* doc = nullptr;
    VARIANT_BOOL ok = VARIANT_FALSE;
    HRESULT hr = owner.LoadXMLDocument(document, &doc, &ok);
    if (ok == VARIANT_FALSE) {
      EXPECT_EQ(doc, nullptr);
      return false;
    }
    EXPECT_EQ(hr, S_OK);
    EXPECT_NE(doc, nullptr);
    if (doc) doc->Release();
    return true;
  });
}

TEST_F(FaultSweep, FragmentsAndHelpers) {
  Sweep("fragment after", [] {
    ComPtr<IXMLDOMDocument2> doc;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    Bstr text(u"<root><target/></root>");
    if (!text.Get() || FAILED(LoadXmlFromString(text, doc.Put(), &loaded)) || !loaded) return false;
    ComPtr<IXMLDOMNode> target;
    Bstr path(u"root/target"), fragment(u"<A/><B/>"), ns(u"");
    if (!path.Get() || !fragment.Get() || !ns.Get()) return false;
    doc->selectSingleNode(path, target.Put());
    if (!target) return false;
    ComPtr<IXMLDOMNode> last;
    return SUCCEEDED(InsertXmlFragmentAfter(doc.Get(), target.Get(), fragment, ns, last.Put())) && last;
  });
  Sweep("escape", [] {
    BSTR escaped = nullptr;
    HRESULT hr = XmlEscapeText(Bstr(u"a<b"), &escaped);
    const bool ok = SUCCEEDED(hr) && vkr::View(escaped) == u"a&lt;b";
    SysFreeString(escaped);
    return ok;
  });
}

}  // namespace
