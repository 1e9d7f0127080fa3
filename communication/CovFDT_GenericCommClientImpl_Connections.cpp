// The communication client's choice of protocol and connection class, the making and managing of
// its connection objects, the device's bus information and the information requests. See
// CovFDT_GenericCommClientImpl.h.
#include <string>
#include <utility>
#include <vector>

#include "communication/CovFDT_GenericCommClientImpl.h"
#include "include/CommunicationInterfaces.h"
#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"
#include "xml/XmlHelpers.h"

namespace {

// The frame's list of supported protocols names each as a bus category.
constexpr OLECHAR kBusCategoryPath[] = u"FDT/fdt:BusCategories/fdt:BusCategory";
constexpr OLECHAR kBusCategoryAttribute[] = u"@busCategory";

}  // namespace

// ---- Protocol choice ----------------------------------------------------------------------

HRESULT CovFDT_GenericCommClientCore::ChooseProtocolByBusCategory(IUnknown* deviceDocument) {
  if (m_currentProtocol) return E_UNEXPECTED;
  if (m_protocols.size() == 1) {
    if (!m_protocols.front()) return E_POINTER;
    m_currentProtocol = m_protocols.front();
    AttachProtocol(m_currentProtocol);
    return S_OK;
  }
  if (deviceDocument) {
    // A copy: a protocol object may reach back into the DTM while it reads the document.
    const std::vector<CovFDT_BaseProtocolImpl*> protocols = m_protocols;
    CovFDT_BaseProtocolImpl* accepted = nullptr;
    int acceptedCount = 0;
    for (CovFDT_BaseProtocolImpl* protocol : protocols) {
      if (!protocol) continue;
      AttachProtocol(protocol);
      VARIANT_BOOL ok = VARIANT_FALSE;
      if (SUCCEEDED(protocol->SetBusAddressFromXml(&ok, deviceDocument)) && ok) {
        accepted = protocol;
        ++acceptedCount;
      }
    }
    if (acceptedCount == 1) {
      m_currentProtocol = accepted;
      return S_OK;
    }
  }
  if (m_protocols.empty()) return E_UNEXPECTED;
  if (!m_channel) return E_POINTER;
  vkr::Bstr supported;
  HRESULT hr = m_channel->GetSupportedProtocols(supported.Put());
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = LoadXmlFromString(supported, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!document) return E_POINTER;
  vkr::ComPtr<IXMLDOMNodeList> categories;
  const vkr::Bstr path(kBusCategoryPath);
  if (FAILED(document->selectNodes(path, categories.Put())) || !categories) return E_POINTER;
  LONG count = 0;
  categories->get_length(&count);
  const vkr::Bstr attribute(kBusCategoryAttribute);
  for (LONG i = 0; i < count; ++i) {
    vkr::ComPtr<IXMLDOMNode> node;
    if (FAILED(categories->get_item(i, node.Put())) || !node) continue;
    vkr::Bstr category;
    if (FAILED(GetXmlValueBstr(category.Put(), node.Get(), attribute))) continue;
    for (CovFDT_BaseProtocolImpl* protocol : m_protocols) {
      if (!protocol || !vkr::commclient::SameProtocol(protocol->GetProtocolId(), category)) continue;
      m_currentProtocol = protocol;
      AttachProtocol(protocol);
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT CovFDT_GenericCommClientCore::SelectProtocol(BSTR supportedProtocols, VARIANT_BOOL* done) {
  if (!done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = LoadXmlFromString(supportedProtocols, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!document) return E_POINTER;
  vkr::ComPtr<IXMLDOMNodeList> categories;
  const vkr::Bstr path(kBusCategoryPath);
  hr = document->selectNodes(path, categories.Put());
  if (FAILED(hr)) return hr;
  if (!categories) return E_POINTER;
  LONG count = 0;
  categories->get_length(&count);
  const vkr::Bstr attribute(kBusCategoryAttribute);
  for (LONG i = 0; i < count; ++i) {
    vkr::ComPtr<IXMLDOMNode> node;
    if (FAILED(categories->get_item(i, node.Put())) || !node) continue;
    vkr::Bstr category;
    hr = GetXmlValueBstr(category.Put(), node.Get(), attribute);
    if (FAILED(hr)) return hr;
    // Copied: making a connection adds to nothing here, but a class list of the DTM class may.
    std::vector<ConnectionClassEntry> classes;
    try {
      for (const ConnectionClassEntry& c : m_connectionClasses)
        if (vkr::commclient::SameProtocol(c.protocolId, category)) classes.push_back(c);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    for (const ConnectionClassEntry& connectionClass : classes) {
      // Listed connections of the category first, so that one that went offline is reused. The
      // references are taken before any is asked: asking pumps messages, which may change the list.
      std::vector<vkr::ComPtr<IovFdtCommClientOnlineState>> listed;
      bool anyListed = false;
      try {
        for (const ConnectionEntry& e : m_connections) {
          if (!vkr::commclient::SameProtocol(e.protocolId, category)) continue;
          anyListed = true;
          vkr::ComPtr<IovFdtCommClientOnlineState> online;
          if (e.connection && SUCCEEDED(e.connection->QueryInterface(IovFdtCommClientOnlineState::iid,
                                                                     online.PutVoid())) && online)
            listed.push_back(online);
        }
      } catch (...) {
        return E_OUTOFMEMORY;
      }
      for (const vkr::ComPtr<IovFdtCommClientOnlineState>& online : listed) {
        *done = VARIANT_FALSE;
        if (SUCCEEDED(online->GoOnline(done)) && *done) return S_OK;
      }
      // A connection that did not come online stays listed and is asked again next time; a new
      // one is made only when the category has none, or every failed attempt would leave one
      // more idle connection behind.
      if (anyListed) continue;
      ConnectionEntry created;
      hr = CreateConnectionObject(connectionClass, &created);
      if (FAILED(hr)) return hr;
      if (!created.connection) return E_POINTER;
      vkr::ComPtr<IovFdtCommClientOnlineState> online;
      if (FAILED(created.connection->QueryInterface(IovFdtCommClientOnlineState::iid, online.PutVoid())) || !online)
        return E_NOINTERFACE;
      *done = VARIANT_FALSE;
      if (SUCCEEDED(online->GoOnline(done)) && *done) return S_OK;
    }
  }
  *done = VARIANT_FALSE;
  return E_FAIL;
}

// ---- Connection objects -------------------------------------------------------------------

HRESULT CovFDT_GenericCommClientCore::CopyEntry(const ConnectionEntry& from, ConnectionEntry* to) {
  to->connection = from.connection;
  to->online = from.online;
  HRESULT hr = vkr::commclient::CopyText(from.protocolId, &to->protocolId);
  if (SUCCEEDED(hr)) hr = vkr::commclient::CopyText(from.connectionId, &to->connectionId);
  return hr;
}

HRESULT CovFDT_GenericCommClientCore::CreateConnectionObject(const ConnectionClassEntry& connectionClass,
                                                             ConnectionEntry* created) {
  ConnectionEntry entry;
  HRESULT hr = vkr::commclient::CopyText(connectionClass.protocolId, &entry.protocolId);
  if (FAILED(hr)) return hr;
  vkr::ComPtr<IUnknown> object;
  hr = CoCreateInstance(connectionClass.clsid, nullptr,
                        CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                        IID_IUnknown, object.PutVoid());
  if (FAILED(hr)) return hr;
  if (!object) return E_POINTER;
  vkr::ComPtr<IovFDTConnectionObject> init;
  if (FAILED(object->QueryInterface(IovFDTConnectionObject::iid, init.PutVoid())) || !init) return E_NOINTERFACE;
  vkr::Bstr schemaDirectory;
  hr = vkr::commclient::CopyText(OwnerSchemaPath(), &schemaDirectory);
  if (FAILED(hr)) return hr;
  vkr::Bstr protocolId;
  hr = vkr::commclient::CopyText(entry.protocolId, &protocolId);
  if (FAILED(hr)) return hr;
  hr = init->InitConnection(protocolId, GetClientOwner(), m_channel.Get(), schemaDirectory,
                            entry.connectionId.Put());
  if (FAILED(hr)) return hr;
  entry.connection = object;
  ConnectionEntry copy;
  if (created) {
    hr = CopyEntry(entry, &copy);
    if (FAILED(hr)) return hr;
  }
  try {
    m_connections.push_back(std::move(entry));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (created) *created = std::move(copy);
  return S_OK;
}

HRESULT CovFDT_GenericCommClientCore::GetConnectionCount(LONG* count) {
  if (!count) return E_INVALIDARG;
  *count = static_cast<LONG>(m_connections.size());
  return S_OK;
}

HRESULT CovFDT_GenericCommClientCore::GetConnection(LONG index, IUnknown** connection) {
  if (index < 0 || !connection) return E_INVALIDARG;
  *connection = nullptr;
  if (static_cast<std::size_t>(index) >= m_connections.size()) return DISP_E_BADINDEX;
  const ConnectionEntry& e = m_connections[static_cast<std::size_t>(index)];
  if (!e.connection) return E_POINTER;
  *connection = e.connection.Get();
  (*connection)->AddRef();
  return S_OK;
}

HRESULT CovFDT_GenericCommClientCore::GetConnectionById(BSTR connectionId, IUnknown** connection) {
  if (!connection) return E_INVALIDARG;
  *connection = nullptr;
  const LONG index = FindConnectionIndex(connectionId);
  if (index < 0) return E_FAIL;
  const ConnectionEntry& e = m_connections[static_cast<std::size_t>(index)];
  if (!e.connection) return E_POINTER;
  *connection = e.connection.Get();
  (*connection)->AddRef();
  return S_OK;
}

template <class Pred>
HRESULT CovFDT_GenericCommClientCore::CollectConnectionIds(VARIANT* ids, Pred select) {
  VariantClear(ids);
  ULONG count = 0;
  for (const ConnectionEntry& e : m_connections)
    if (select(e)) ++count;
  if (count == 0) return S_FALSE;
  vkr::SafeArrayHolder array(SafeArrayCreateVector(VT_VARIANT, 0, count));
  if (!array.Get()) return E_OUTOFMEMORY;
  LONG index = 0;
  for (const ConnectionEntry& e : m_connections) {
    if (!select(e)) continue;
    vkr::Variant id;
    id.vt = VT_BSTR;
    id.bstrVal = SysAllocStringLen(e.connectionId, e.connectionId.Length());
    if (!id.bstrVal) return E_OUTOFMEMORY;
    const HRESULT hr = SafeArrayPutElement(array.Get(), &index, id.Ptr());
    if (FAILED(hr)) return hr;
    ++index;
  }
  ids->vt = VT_ARRAY | VT_VARIANT;
  ids->parray = array.Detach();
  return S_OK;
}

HRESULT CovFDT_GenericCommClientCore::GetConnectionsOfProtocol(BSTR protocolId, VARIANT* ids) {
  if (!ids) return E_INVALIDARG;
  return CollectConnectionIds(ids, [&](const ConnectionEntry& e) {
    return vkr::commclient::SameProtocol(e.protocolId, protocolId);
  });
}

HRESULT CovFDT_GenericCommClientCore::GetOnlineConnections(VARIANT* ids) {
  if (!ids) return E_INVALIDARG;
  return CollectConnectionIds(ids, [](const ConnectionEntry& e) { return e.online; });
}

HRESULT CovFDT_GenericCommClientCore::CreateConnection(BSTR protocolId, BSTR* connectionId) {
  if (!connectionId) return E_INVALIDARG;
  *connectionId = nullptr;
  if (!m_channel) return E_POINTER;
  if (m_connectionClasses.empty()) return E_UNEXPECTED;
  const ConnectionClassEntry* match = nullptr;
  for (const ConnectionClassEntry& c : m_connectionClasses)
    if (vkr::commclient::SameProtocol(c.protocolId, protocolId)) {
      match = &c;
      break;
    }
  if (!match) return E_FAIL;
  const ConnectionClassEntry connectionClass = *match;  // the list may change while the object is made
  ConnectionEntry created;
  const HRESULT hr = CreateConnectionObject(connectionClass, &created);
  if (FAILED(hr)) return hr;
  return created.connectionId.CopyTo(connectionId);
}

HRESULT CovFDT_GenericCommClientCore::ReleaseConnection(BSTR connectionId) {
  const LONG index = FindConnectionIndex(connectionId);
  if (index < 0) return E_INVALIDARG;
  const ConnectionEntry& e = m_connections[static_cast<std::size_t>(index)];
  if (!e.online) return RemoveConnectionEntry(connectionId);
  // Online: the entry goes when the connection reports its disconnection.
  vkr::ComPtr<IovFdtCommClientOnlineState> online;
  if (!e.connection || FAILED(e.connection->QueryInterface(IovFdtCommClientOnlineState::iid, online.PutVoid())) ||
      !online)
    return E_NOINTERFACE;
  VARIANT_BOOL done = VARIANT_FALSE;
  return online->GoOffline(&done);
}

// ---- Bus information ----------------------------------------------------------------------

HRESULT CovFDT_GenericCommClientCore::GetBusInformation(BSTR* text, VARIANT_BOOL* done) {
  if (!done || !text) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (m_protocols.empty() && m_currentProtocol) m_protocols.push_back(m_currentProtocol);
  if (OwnerExtendedBusInformation()) {
    std::u16string all;
    for (CovFDT_BaseProtocolImpl* protocol : m_protocols) {
      if (!protocol) continue;
      AttachProtocol(protocol);
      VARIANT_BOOL ok = VARIANT_FALSE;
      vkr::Bstr address;
      if (FAILED(protocol->GetBusAddressXml(&ok, address.Put())) || !ok || address.Length() <= 1) continue;
      all += u"<BusInformation fdt:busCategory=\"";
      all += vkr::View(protocol->GetProtocolId());
      all += u"\">";
      all += address.View();
      all += u"</BusInformation>";
    }
    *text = nullptr;
    if (!all.empty()) {
      *text = SysAllocStringLen(all.data(), static_cast<UINT>(all.size()));
      if (!*text) return E_OUTOFMEMORY;
    }
    *done = VARIANT_TRUE;
    return S_OK;
  }
  CovFDT_BaseProtocolImpl* protocol = m_currentProtocol;
  if (!protocol) {
    if (m_protocols.empty()) {
      *done = VARIANT_TRUE;
      return S_OK;
    }
    protocol = m_protocols.front();
    if (!protocol) return E_POINTER;
    AttachProtocol(protocol);
  }
  vkr::Bstr address;
  const HRESULT hr = protocol->GetBusAddressXml(done, address.Put());
  if (FAILED(hr)) return hr;
  if (!*done) return S_FALSE;
  const std::u16string whole = u"<BusInformation>" + address.Str() + u"</BusInformation>";
  *text = SysAllocStringLen(whole.data(), static_cast<UINT>(whole.size()));
  if (!*text) {
    *done = VARIANT_FALSE;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CovFDT_GenericCommClientCore::SetBusInformation(IUnknown* deviceDocument, VARIANT_BOOL* done) {
  if (!deviceDocument || !done) return E_INVALIDARG;
  *done = VARIANT_FALSE;
  if (!m_currentProtocol) {
    if (m_protocols.empty()) return E_UNEXPECTED;
    ChooseProtocolByBusCategory(deviceDocument);
    if (!m_currentProtocol) {
      *done = VARIANT_TRUE;
      return S_OK;
    }
  }
  const HRESULT hr = m_currentProtocol->SetBusAddressFromXml(done, deviceDocument);
  if (FAILED(hr)) return hr;
  return *done ? S_OK : S_FALSE;
}

HRESULT CovFDT_GenericCommClientCore::GetParameterProtocolInfo(VARIANT id, BSTR* text) {
  if (!text) return E_INVALIDARG;
  if (!OwnerExtendedBusInformation()) return S_FALSE;
  auto answer = [text](const std::u16string& s) {
    *text = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return *text ? S_OK : E_OUTOFMEMORY;
  };
  vkr::ComPtr<IovFdtParameterHandler4> handler = QueryOwner<IovFdtParameterHandler4>();
  if (!handler) return answer(u"");
  vkr::Variant addressed;
  HRESULT hr = handler->GetAddressedWord(id, addressed.Ptr());
  if (FAILED(hr)) return hr;
  if (addressed.vt != VT_UI4) return E_UNEXPECTED;
  if (addressed.ulVal != 1) return answer(u"");
  vkr::Variant address;
  hr = handler->GetParameterAddress(id, address.Ptr());
  if (FAILED(hr)) return hr;
  if (address.vt != VT_BSTR) return E_UNEXPECTED;
  vkr::ComPtr<IXMLDOMDocument2> document;
  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = LoadXmlFromString(address.bstrVal, document.Put(), &loaded);
  if (FAILED(hr)) return hr;
  if (!loaded) return E_FAIL;
  if (!document) return E_POINTER;
  std::u16string all;
  for (CovFDT_BaseProtocolImpl* protocol : m_protocols) {
    if (!protocol) continue;
    AttachProtocol(protocol);
    vkr::Bstr own;
    if (protocol->CheckTransferArguments(document.Get(), id, own.Put()) == S_OK && own.Length() > 1)
      all += own.View();
  }
  return answer(all);
}

// ---- Information requests -----------------------------------------------------------------

HRESULT CovFDT_GenericCommClientCore::InfoRequest(VARIANT kind, VARIANT argument, VARIANT* result) {
  if (!result) return E_INVALIDARG;
  // The kind is a number; a kind of another type is the protocol's to judge.
  bool numeric = true;
  ULONG word = 0;
  switch (kind.vt) {
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: word = kind.ulVal; break;
    case VT_I2: word = static_cast<ULONG>(static_cast<LONG>(kind.iVal)); break;
    case VT_UI2: word = kind.uiVal; break;
    case VT_I1: word = static_cast<ULONG>(static_cast<LONG>(kind.cVal)); break;
    case VT_UI1: word = kind.bVal; break;
    default: numeric = false; break;
  }
  if (numeric && (word == 1 || word == 2)) {
    if (argument.vt != VT_UI4) return E_INVALIDARG;
    // The argument's eight hex digits cut into groups of eight: one big-endian word, itself.
    vkr::SafeArrayHolder array(SafeArrayCreateVector(VT_UI4, 0, 1));
    if (!array.Get()) return E_FAIL;
    LONG index = 0;
    ULONG value = argument.ulVal;
    if (FAILED(SafeArrayPutElement(array.Get(), &index, &value))) return E_FAIL;
    VariantClear(result);
    result->vt = VT_ARRAY | VT_UI4;
    result->parray = array.Detach();
    return S_OK;
  }
  if (!m_currentProtocol) return S_OK;
  return m_currentProtocol->InfoRequest(kind, argument, result);
}

HRESULT CovFDT_GenericCommClientCore::InfoRequestEx(ULONG a1, ULONG a2, ULONG a3, ULONG a4, ULONG a5, ULONG a6,
                                                    ULONG a7, ULONG a8, ULONG a9, ULONG a10, ULONG a11,
                                                    ULONG a12) {
  if (!m_currentProtocol) return S_OK;
  return m_currentProtocol->InfoRequestEx(a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12);
}
