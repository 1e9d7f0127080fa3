// Fuzzes the DTM's data-set load and the import stream: any bytes either load, or are refused with
// the DTM's data set exactly as it was. A data set that loads saves again to bytes that load and
// save to the same bytes. An import is taken, or refused with every parameter as it was.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "module/CVornExampleDtm.h"
#include "parameters/CFdtVariant.h"
#include "platform/platform.h"
#include "tests/support/fuzz_input.h"

namespace {

class FuzzDtm : public CVornExampleDtm {
 public:
  void Force(EDtmState state) { m_eDtmState = state; }
  void SetUserLevel(ULONG level) { m_nUserLevel = level; }
  // Everything a load may change, as text.
  std::string Snapshot() {
    std::string out = m_bstrDeviceType.Get() ? vkr::Utf16ToUtf8(m_bstrDeviceType.View()) : "(null)";
    ULONG count = 0;
    GetCollectionCount(&count);
    for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
      ParInfo r;
      if (FAILED(GetParInfoAt(i, &r))) std::abort();
      vkr::Bstr text;
      VariantToText(&r.m_vValue, text.Put());
      out.append("|").append(std::to_string(r.m_nId)).append(":").append(std::to_string(r.m_vValue.vt));
      out.append("=").append(vkr::Utf16ToUtf8(text.View())).append("/").append(std::to_string(r.m_dwFlags));
    }
    return out + "|dss " + std::to_string(GetDataSetState()) + (m_bDataSetLoaded ? " loaded" : "");
  }
};

vkr::ComPtr<vkr::ComObject<FuzzDtm>>& Dtm() {
  static vkr::ComPtr<vkr::ComObject<FuzzDtm>> dtm = [] {
    vkr::fuzz::Scratch::Directory();  // a registry and drives of its own
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    vkr::ComPtr<vkr::ComObject<FuzzDtm>> made;
    if (FAILED(vkr::MakeObject<FuzzDtm>(&made))) std::abort();
    return made;
  }();
  return dtm;
}

std::vector<BYTE> Saved(FuzzDtm* dtm) {
  vkr::ComPtr<IStream> out;
  CreateStreamOnHGlobal(nullptr, TRUE, out.Put());
  dtm->Force(dsCONFIGURED);
  if (static_cast<IPersistStreamInit*>(dtm)->Save(out.Get(), TRUE) != S_OK) std::abort();
  STATSTG st{};
  out->Stat(&st, STATFLAG_NONAME);
  std::vector<BYTE> bytes(static_cast<std::size_t>(st.cbSize.QuadPart));
  LARGE_INTEGER zero{};
  out->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  out->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
  return bytes;
}

HRESULT LoadBytes(FuzzDtm* dtm, const std::vector<BYTE>& bytes) {
  vkr::ComPtr<IStream> in;
  vkr::CreateMemoryStream(bytes.data(), bytes.size(), in.Put());
  dtm->Force(dsCREATED);
  return static_cast<IPersistStreamInit*>(dtm)->Load(in.Get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;
  FuzzDtm* dtm = Dtm().Get();
  const std::vector<BYTE> bytes(data, data + size);

  const std::string before = dtm->Snapshot();
  const HRESULT hr = LoadBytes(dtm, bytes);
  if (hr != S_OK) {
    if (hr != S_FALSE || dtm->Snapshot() != before) std::abort();
  } else {
    const std::vector<BYTE> first = Saved(dtm);
    if (LoadBytes(dtm, first) != S_OK) std::abort();
    if (Saved(dtm) != first) std::abort();
  }

  // The same bytes as an import stream: taken, or refused with every parameter as it was.
  vkr::ComPtr<IStream> in;
  vkr::CreateMemoryStream(bytes.data(), bytes.size(), in.Put());
  dtm->Force(dsCONFIGURED);
  dtm->SetUserLevel(8);
  const std::string beforeImport = dtm->Snapshot();
  VARIANT_BOOL done = VARIANT_TRUE;
  const HRESULT imported = dtm->Import(in.Get(), &done);
  if (imported != S_OK && (done != VARIANT_FALSE || dtm->Snapshot() != beforeImport)) std::abort();
  return 0;
}
