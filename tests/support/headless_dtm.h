// The VKR DTM without the threads around it, for fuzz targets and tests that drive its readers:
// the real CVornExampleDtm whose DTM thread is a stand-in that takes the hand-over jobs (34, 35)
// at once and answers every other job with S_OK, whose worker notifications are dropped, and whose
// state and user level can be put where a frame's calls would have put them. Everything runs on
// the calling thread. Free of GoogleTest.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "module/CVornExampleDtm.h"
#include "platform/platform.h"
#include "tests/support/stub_dispatch.h"

namespace vkr::test {

// A DTM thread that does nothing but take what it is handed.
class NullDtmThread : public vkr::Implements<IovFdtDtmThread> {
 public:
  VKR_TEST_DISPATCH

  // The hand-over jobs carry {event, object}: the event says the object was taken.
  HRESULT Execute(VARIANT job, VARIANT argument, VARIANT* result) override {
    if (result) VariantClear(result);
    if (job.vt == VT_UI4 && (job.ulVal == 34 || job.ulVal == 35) && argument.vt == (VT_ARRAY | VT_VARIANT)) {
      vkr::Variant event;
      LONG index = 0;
      if (SUCCEEDED(SafeArrayGetElement(argument.parray, &index, &event)) && event.vt == VT_UI4)
        SetEvent(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(event.ulVal)));
    }
    return S_OK;
  }
  HRESULT Run() override { return S_OK; }
  HRESULT SetUpdateRate(VARIANT) override { return S_OK; }
  HRESULT ExecuteAsync(VARIANT, VARIANT) override { return S_OK; }
  HRESULT OnThreadEvent(VARIANT, VARIANT, BOOL* handled) override {
    if (handled) *handled = FALSE;
    return S_OK;
  }
  HRESULT ProcessDownloadRequest(BSTR, BSTR) override { return S_OK; }
  HRESULT ProcessUploadRequest(BSTR, BSTR) override { return S_OK; }
  HRESULT GoOnline() override { return S_OK; }
  HRESULT GoOffline() override { return S_OK; }
};

class HeadlessDtm : public CVornExampleDtm {
 public:
  HeadlessDtm() {
    if (SUCCEEDED(vkr::MakeObject<NullDtmThread>(&m_thread))) m_pDtmThread = m_thread.Get();
  }

  // No thread object to start: the stand-in is in place already.
  const CLSID& GetDtmThreadClassId() override {
    static const CLSID none{};
    return none;
  }
  HRESULT ExecuteWorkerThread(CWorker* worker) override {
    delete worker;
    return S_OK;
  }

  void ForceState(EDtmState state) { m_eDtmState = state; }
  EDtmState State() const { return m_eDtmState; }
  void SetUserLevel(ULONG level) { m_nUserLevel = level; }
  ULONG UserLevel() const { return m_nUserLevel; }
  bool Fdt121() const { return m_bFdt121Frame; }
  // The user interfaces open now.
  ULONG RunningFunctions() {
    ULONG count = 0;
    GetRunningFunctionCount(&count);
    return count;
  }
  // The frame's container, as Environment keeps it.
  IFdtContainer* Container() const { return m_pContainer.Get(); }
  std::u16string DeviceType() const { return m_bstrDeviceType.Str(); }
  void SetDeviceType(std::u16string_view text) { m_bstrDeviceType = vkr::Bstr(text); }
  ULONG OperationPhase() const { return m_nOperationPhase; }
  void SetOperationPhase(ULONG phase) { m_nOperationPhase = phase; }

  // Every parameter record and the data set's state, to be put back with RestoreValues: the values
  // a reader changed go (with flags, names and descriptions), so that the next input finds the DTM
  // as the last one did.
  struct Values {
    std::vector<ParInfo> records;
    ULONG dataSetState = 0;
  };
  Values SaveValues() {
    Values saved;
    ULONG count = 0;
    GetCollectionCount(&count);
    saved.records.resize(count);
    for (ULONG i = 0; i < count; ++i) GetParInfoAt(static_cast<LONG>(i), &saved.records[i]);
    saved.dataSetState = GetDataSetState();
    return saved;
  }
  void RestoreValues(const Values& saved) {
    for (const ParInfo& record : saved.records)
      SetParInfoFields(record.m_nId, PIF_VALUE | PIF_DEV_VALUE | PIF_FLAGS | PIF_NAME | PIF_DESCRIPTION, record);
    SetDataSetState(saved.dataSetState);
  }

 private:
  vkr::ComPtr<vkr::ComObject<NullDtmThread>> m_thread;
};

}  // namespace vkr::test
