// Small persistable classes for the tests of objects in streams: a text object that saves itself
// through IPersistStream, one that persists through IPersistStreamInit only, and one that persists
// in neither way. PersistableClasses registers the three in the process while it lives.
//
// A text object's stream form is a 32-bit byte count and that many bytes of text.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/stub_dispatch.h"

namespace vkr::test {

struct ITextObject : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("5A0C3E71-2B44-4C1D-9F60-0D2E8A7B1C01");
  using Base = IUnknown;
  virtual std::string& Text() = 0;
  // Save writes the count, then fails with E_FAIL.
  virtual bool& FailSave() = 0;
};

inline constexpr CLSID kStreamTextClass = vkr::MakeGuid("5A0C3E71-2B44-4C1D-9F60-0D2E8A7B1CA1");
inline constexpr CLSID kInitTextClass = vkr::MakeGuid("5A0C3E71-2B44-4C1D-9F60-0D2E8A7B1CA2");
inline constexpr CLSID kPlainTextClass = vkr::MakeGuid("5A0C3E71-2B44-4C1D-9F60-0D2E8A7B1CA3");

// Persist is IPersistStream or IPersistStreamInit; clsid is the class it says it is.
template <class Persist, const CLSID& clsid>
class TextObject : public vkr::Implements<ITextObject, Persist, IDispatch> {
 public:
  TextObject() { ++Created(); }
  // The objects of the class made so far: loading a stream that is refused creates none.
  static int& Created() {
    static int count = 0;
    return count;
  }
  std::string& Text() override { return m_text; }
  bool& FailSave() override { return m_failSave; }

  HRESULT GetClassID(CLSID* out) override {
    if (!out) return E_POINTER;
    *out = clsid;
    return S_OK;
  }
  HRESULT IsDirty() override { return m_dirty ? S_OK : S_FALSE; }
  HRESULT Load(IStream* stream) override {
    ULONG count = 0, got = 0;
    HRESULT hr = stream->Read(&count, sizeof count, &got);
    if (FAILED(hr) || got != sizeof count || count > 4096) return E_FAIL;
    std::string text(count, '\0');
    hr = stream->Read(text.data(), count, &got);
    if (FAILED(hr) || got != count) return E_FAIL;
    m_text = std::move(text);
    return S_OK;
  }
  HRESULT Save(IStream* stream, BOOL clearDirty) override {
    const ULONG count = static_cast<ULONG>(m_text.size());
    HRESULT hr = stream->Write(&count, sizeof count, nullptr);
    if (FAILED(hr)) return hr;
    if (m_failSave) return E_FAIL;
    hr = stream->Write(m_text.data(), count, nullptr);
    if (SUCCEEDED(hr) && clearDirty) m_dirty = false;
    return hr;
  }
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override {
    if (!size) return E_POINTER;
    size->QuadPart = sizeof(ULONG) + m_text.size();
    return S_OK;
  }
  VKR_TEST_DISPATCH

 private:
  std::string m_text;
  bool m_failSave = false;
  bool m_dirty = true;
};

using StreamTextObject = TextObject<IPersistStream, kStreamTextClass>;
class InitTextObject : public TextObject<IPersistStreamInit, kInitTextClass> {
 public:
  HRESULT InitNew() override { return S_OK; }
};

// An object with a text and no stream persistence.
class PlainTextObject : public vkr::Implements<ITextObject> {
 public:
  std::string& Text() override { return m_text; }
  bool& FailSave() override { return m_failSave; }

 private:
  std::string m_text;
  bool m_failSave = false;
};

// A new object of T holding text, as the interface asked for.
template <class T, class I = IUnknown>
vkr::ComPtr<I> MakeTextObject(const std::string& text) {
  vkr::ComPtr<ITextObject> object;
  vkr::CreateObject<T>(nullptr, ITextObject::iid, object.PutVoid());
  object->Text() = text;
  vkr::ComPtr<I> out;
  object.As(&out);
  return out;
}

// A class id as a stream holds it: Data1, Data2, Data3 little-endian, then Data4.
inline std::vector<BYTE> ClassIdBytes(REFCLSID clsid) {
  std::vector<BYTE> b;
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<BYTE>(clsid.Data1 >> (8 * i)));
  for (int i = 0; i < 2; ++i) b.push_back(static_cast<BYTE>(clsid.Data2 >> (8 * i)));
  for (int i = 0; i < 2; ++i) b.push_back(static_cast<BYTE>(clsid.Data3 >> (8 * i)));
  b.insert(b.end(), clsid.Data4, clsid.Data4 + 8);
  return b;
}

// A text object's own bytes: the count and the text.
inline std::vector<BYTE> TextObjectBytes(const std::string& text) {
  std::vector<BYTE> b;
  const ULONG count = static_cast<ULONG>(text.size());
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<BYTE>(count >> (8 * i)));
  b.insert(b.end(), text.begin(), text.end());
  return b;
}

// The text of an object made here, or "<none>" for null or another object.
inline std::string TextOf(IUnknown* object) {
  vkr::ComPtr<ITextObject> text;
  if (!object || FAILED(object->QueryInterface(ITextObject::iid, text.PutVoid()))) return "<none>";
  return text->Text();
}

// Registers the three classes for the process, the calling thread in an apartment meanwhile.
class PersistableClasses {
 public:
  PersistableClasses() {
    CoInitialize(nullptr);
    Register<StreamTextObject>(kStreamTextClass, &m_stream);
    Register<InitTextObject>(kInitTextClass, &m_init);
    Register<PlainTextObject>(kPlainTextClass, &m_plain);
  }
  ~PersistableClasses() {
    CoRevokeClassObject(m_stream);
    CoRevokeClassObject(m_init);
    CoRevokeClassObject(m_plain);
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
  DWORD m_stream = 0;
  DWORD m_init = 0;
  DWORD m_plain = 0;
};

}  // namespace vkr::test
