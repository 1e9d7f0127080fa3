// Registers the DOM document and schema collection classes in process when the library loads.
#include "platform/com/classes.h"
#include "platform/xml/dom_objects.h"
#include "platform/xml/msxml.h"
#include "platform/xml/xdr.h"

#include <mutex>

namespace vkr::platform {

namespace {

// A class factory over a creation function.
class XmlClassFactory : public Implements<IClassFactory> {
 public:
  using Create = HRESULT (*)(IUnknown*, REFIID, void**);
  explicit XmlClassFactory(Create create) : m_create(create) {}
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override { return m_create(outer, riid, ppv); }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  Create m_create;
};

HRESULT RegisterOne(REFCLSID clsid, XmlClassFactory::Create create) {
  ComPtr<IClassFactory> factory;
  HRESULT hr = CreateObject<XmlClassFactory>(nullptr, IID_IClassFactory, factory.PutVoid(), create);
  if (FAILED(hr)) return hr;
  DWORD cookie = 0;
  // The registration lives as long as the process: the classes are part of the platform.
  return CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
}

const bool kRegisteredAtLoad = SUCCEEDED(RegisterXmlClasses());

}  // namespace

HRESULT RegisterXmlClasses() {
  static std::once_flag once;
  static HRESULT result = S_OK;
  std::call_once(once, [] {
    result = RegisterOne(CLSID_DOMDocument, vkr::xml::CreateDocument);
    if (SUCCEEDED(result)) result = RegisterOne(CLSID_XMLSchemaCache, vkr::xml::CreateSchemaCache);
  });
  return result;
}

}  // namespace vkr::platform
