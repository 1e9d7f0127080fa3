// The module's classes that the DTM creates by class id, its thread object and its connection,
// registered in the test program as the module registers them; revoked again at the end.
#pragma once

#include <utility>

#include "communication/CMyConnection.h"
#include "include/ProgramIds.h"
#include "module/CDtmThread.h"
#include "platform/platform.h"

namespace vkr::test {

class ModuleClasses {
 public:
  ModuleClasses() = default;
  ModuleClasses(const ModuleClasses&) = delete;
  ModuleClasses& operator=(const ModuleClasses&) = delete;
  ~ModuleClasses() { Revoke(); }

  HRESULT Register() {
    HRESULT hr = vkr::MakeObject<vkr::ClassFactory<CMyConnection>>(&m_connection);
    if (SUCCEEDED(hr))
      hr = CoRegisterClassObject(CLSID_MyConnection, static_cast<IClassFactory*>(m_connection.Get()),
                                 CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_connectionCookie);
    if (SUCCEEDED(hr)) hr = vkr::MakeObject<vkr::ClassFactory<CDtmThread>>(&m_thread);
    if (SUCCEEDED(hr))
      hr = CoRegisterClassObject(CLSID_DtmThread, static_cast<IClassFactory*>(m_thread.Get()), CLSCTX_INPROC_SERVER,
                                 REGCLS_MULTIPLEUSE, &m_threadCookie);
    return hr;
  }
  void Revoke() {
    if (m_connectionCookie) CoRevokeClassObject(std::exchange(m_connectionCookie, 0));
    if (m_threadCookie) CoRevokeClassObject(std::exchange(m_threadCookie, 0));
    m_connection = nullptr;
    m_thread = nullptr;
  }

 private:
  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CMyConnection>>> m_connection;
  vkr::ComPtr<vkr::ComObject<vkr::ClassFactory<CDtmThread>>> m_thread;
  DWORD m_connectionCookie = 0;
  DWORD m_threadCookie = 0;
};

}  // namespace vkr::test
