// Small classes for the tests of objects in streams: a text object that persists through
// IPersistStream, one that persists through IPersistStreamInit only, and one that persists in
// neither way, all registered in the process while a PersistableClasses lives. A text object's
// own bytes are a 32-bit count and the text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "tests/support/stub_dispatch.h"

namespace vkr::test {

struct ITextObject : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("5A0C3E71-2B44-4C1D-9F60-0D2E8A7B1C01");
  using Base = IUnknown;
  virtual std::string& Text() = 0;
};

inline constexpr CLSID kStreamTextClass = vkr::MakeGuid("5A0C3E71-2B44-4C1D-9F60-0D2E8A7B1CA1");
inline constexpr CLSID kInitTextClass = vkr::MakeGuid("5A0C3E71-2B44-4C1D-9F60-0D2E8A7B1CA2");
inline constexpr CLSID kPlainTextClass = vkr::MakeGuid("5A0C3E71-2B44-4C1D-9F60-0D2E8A7B1CA3");

// Persist is IPersistStream or IPersistStreamInit. Created() counts the objects made.
template <class Persist, const CLSID& clsid>
class TextObject : public vkr::Implements<ITextObject, Persist, IDispatch> {
 public:
  TextObject() { ++Created(); }
  static int& Created() {
    static int count = 0;
    return count;
  }
  std::string& Text() override { return m_text; }

  HRESULT GetClassID(CLSID* out) override { return *out = clsid, S_OK; }
  HRESULT IsDirty() override { return S_OK; }
  HRESULT Load(IStream* stream) override {
    ULONG count = 0, got = 0;
    if (FAILED(stream->Read(&count, 4, &got)) || got != 4 || count > 4096) return E_FAIL;
    std::string text(count, '\0');
    if (FAILED(stream->Read(text.data(), count, &got)) || got != count) return E_FAIL;
    m_text = std::move(text);
    return S_OK;
  }
  HRESULT Save(IStream* stream, BOOL) override {
    const ULONG count = static_cast<ULONG>(m_text.size());
    const HRESULT hr = stream->Write(&count, 4, nullptr);
    return FAILED(hr) ? hr : stream->Write(m_text.data(), count, nullptr);
  }
  HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  VKR_TEST_DISPATCH

 private:
  std::string m_text;
};

using StreamTextObject = TextObject<IPersistStream, kStreamTextClass>;
class InitTextObject : public TextObject<IPersistStreamInit, kInitTextClass> {
 public:
  HRESULT InitNew() override { return S_OK; }
};
class PlainTextObject : public vkr::Implements<ITextObject> {
 public:
  std::string& Text() override { return m_text; }

 private:
  std::string m_text;
};

// A new T holding text.
template <class T>
vkr::ComPtr<IUnknown> MakeTextObject(const std::string& text) {
  vkr::ComPtr<vkr::ComObject<T>> object;
  vkr::MakeObject<T>(&object);
  object->Text() = text;
  return vkr::ComPtr<IUnknown>(static_cast<ITextObject*>(object.Get()));
}

// The text of a text object, "<none>" for anything else.
inline std::string TextOf(IUnknown* object) {
  vkr::ComPtr<ITextObject> text;
  if (!object || FAILED(object->QueryInterface(ITextObject::iid, text.PutVoid()))) return "<none>";
  return text->Text();
}

// A class id as a stream holds it (Data1, Data2, Data3 little-endian, then Data4), and a text
// object's own bytes.
inline std::vector<BYTE> ClassIdBytes(REFCLSID id) {
  const unsigned long long head = id.Data1 | static_cast<unsigned long long>(id.Data2) << 32 |
                                  static_cast<unsigned long long>(id.Data3) << 48;
  std::vector<BYTE> b;
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<BYTE>(head >> (8 * i)));
  b.insert(b.end(), id.Data4, id.Data4 + 8);
  return b;
}
inline std::vector<BYTE> TextObjectBytes(std::string_view text) {
  std::vector<BYTE> b;
  for (std::size_t i = 0; i < 4; ++i) b.push_back(static_cast<BYTE>(text.size() >> (8 * i)));
  for (char c : text) b.push_back(static_cast<BYTE>(c));
  return b;
}

// Registers the three classes, the calling thread in an apartment meanwhile.
class PersistableClasses {
 public:
  PersistableClasses() {
    CoInitialize(nullptr);
    Register<StreamTextObject>(kStreamTextClass, &m_cookies[0]);
    Register<InitTextObject>(kInitTextClass, &m_cookies[1]);
    Register<PlainTextObject>(kPlainTextClass, &m_cookies[2]);
  }
  ~PersistableClasses() {
    for (DWORD cookie : m_cookies) CoRevokeClassObject(cookie);
    CoUninitialize();
  }
  PersistableClasses(const PersistableClasses&) = delete;
  PersistableClasses& operator=(const PersistableClasses&) = delete;

 private:
  template <class T>
  static void Register(REFCLSID clsid, DWORD* cookie) {
    vkr::ComPtr<IClassFactory> factory;
    vkr::CreateObject<vkr::ClassFactory<T>>(nullptr, IID_IClassFactory, factory.PutVoid());
    CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, cookie);
  }
  DWORD m_cookies[3] = {};
};

}  // namespace vkr::test
