// The engineer's commands of the frame host.
#include "frame/EngineeringHost.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
#include "frame/FrameProject.h"
#include "frame/TransferSession.h"

namespace vkr::frame {
namespace {

constexpr char16_t kDtmProgId[] = u"Vorn.ExampleDtm";
constexpr char kDefaultProject[] = "C:\\VKR\\project.vkr";
constexpr DWORD kHartBitsPerSecond = 1200;

struct Options {
  std::string project = kDefaultProject;
  std::string device;
  DWORD wireBitsPerSecond = 0;
  std::string with;  // compare: the partner project
  std::vector<std::string> rest;
};

int Fail(const std::string& what) {
  std::fprintf(stderr, "vkr-frame: %s\n", what.c_str());
  return 1;
}

HRESULT ReadFileText(const std::string& path, std::string* out) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  out->clear();
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) out->append(buffer, read);
  CloseHandle(file);
  return S_OK;
}

HRESULT WriteFileText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size() ? S_OK : E_FAIL;
}

// Makes the folder a file is to be written in (one level, as the default project needs).
void MakeFolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && slash > 0) CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
}

// ---- The simulated transmitter's own memory ----------------------------------------------

Bytes FloatBytes(float value) {
  Bytes b(4);
  wire::PutFloat(&b, 0, value);
  return b;
}

// The configuration as "name hex" lines; what a write command changes, and the counters.
std::string DeviceText(const SimulatedDevice::Configuration& c) {
  std::map<std::string, Bytes> fields{
      {"message", c.message},
      {"tagDescriptorDate", c.tagDescriptorDate},
      {"finalAssembly", c.finalAssembly},
      {"longTag", c.longTag},
      {"pvUnit", Bytes{c.pvUnit}},
      {"rangeUnit", Bytes{c.rangeUnit}},
      {"upperRange", FloatBytes(c.upperRange)},
      {"lowerRange", FloatBytes(c.lowerRange)},
      {"damping", FloatBytes(c.damping)},
      {"pollingAddress", Bytes{c.pollingAddress}},
      {"loopCurrentMode", Bytes{c.loopCurrentMode}},
      {"alarmSelect", Bytes{c.alarmSelect}},
      {"transferFunction", Bytes{c.transferFunction}},
      {"writeProtect", Bytes{c.writeProtect}},
      {"displaySettings", c.displaySettings},
      {"echoSettings", c.echoSettings},
      {"configChangeCounter", Bytes{static_cast<std::uint8_t>(c.configChangeCounter >> 8),
                                    static_cast<std::uint8_t>(c.configChangeCounter)}},
      {"configChanged", Bytes{static_cast<std::uint8_t>(c.configChanged ? 1 : 0)}},
  };
  std::string text;
  for (const auto& [name, bytes] : fields) text += name + " " + wire::ToHex(bytes) + "\n";
  return text;
}

bool ApplyDeviceText(const std::string& text, SimulatedDevice::Configuration* c) {
  std::istringstream lines(text);
  std::string name, hex;
  while (lines >> name) {
    hex.clear();
    std::getline(lines, hex);
    while (!hex.empty() && (hex.front() == ' ')) hex.erase(0, 1);
    Bytes b;
    if (!wire::FromHex(hex, &b)) return false;
    auto byte = [&](std::uint8_t* field) {
      if (b.size() == 1) *field = b[0];
    };
    auto real = [&](float* field) {
      if (b.size() == 4) *field = wire::GetFloat(b, 0);
    };
    if (name == "message") c->message = b;
    else if (name == "tagDescriptorDate") c->tagDescriptorDate = b;
    else if (name == "finalAssembly") c->finalAssembly = b;
    else if (name == "longTag") c->longTag = b;
    else if (name == "pvUnit") byte(&c->pvUnit);
    else if (name == "rangeUnit") byte(&c->rangeUnit);
    else if (name == "upperRange") real(&c->upperRange);
    else if (name == "lowerRange") real(&c->lowerRange);
    else if (name == "damping") real(&c->damping);
    else if (name == "pollingAddress") byte(&c->pollingAddress);
    else if (name == "loopCurrentMode") byte(&c->loopCurrentMode);
    else if (name == "alarmSelect") byte(&c->alarmSelect);
    else if (name == "transferFunction") byte(&c->transferFunction);
    else if (name == "writeProtect") byte(&c->writeProtect);
    else if (name == "displaySettings") c->displaySettings = b;
    else if (name == "echoSettings") c->echoSettings = b;
    else if (name == "configChangeCounter" && b.size() == 2) c->configChangeCounter = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
    else if (name == "configChanged" && b.size() == 1) c->configChanged = b[0] != 0;
  }
  return true;
}

// ---- The session of one command ----------------------------------------------------------

class Command {
 public:
  explicit Command(const Options& options) : m_options(options) {}
  ~Command() {
    m_session.reset();
    CoFreeUnusedLibraries();
    if (m_comInitialized) CoUninitialize();
  }

  // Loads the device, creates the DTM on the project's data set and gives it the channel.
  bool Open() {
    if (FAILED(CoInitialize(nullptr))) return Failed("the frame's apartment could not be made");
    m_comInitialized = true;
    m_device = std::make_shared<SimulatedDevice>();
    std::string text;
    if (SUCCEEDED(ReadFileText(m_options.device, &text)) && !ApplyDeviceText(text, &m_device->config))
      return Failed("the device file " + m_options.device + " is damaged");
    m_session = std::make_unique<TransferSession>();
    const HRESULT hr = m_session->Open(kDtmProgId, m_device, m_options.project);
    if (FAILED(hr)) return Failed("the DTM could not be opened on " + m_options.project + ": " + ResultText(hr));
    m_session->Channel()->wireBitsPerSecond = m_options.wireBitsPerSecond;
    return true;
  }
  bool SaveProject() {
    MakeFolderOf(m_options.project);
    const HRESULT hr = m_session->Save(m_options.project);
    return SUCCEEDED(hr) || Failed("the data set could not be saved to " + m_options.project + ": " + ResultText(hr));
  }
  bool SaveDevice() {
    MakeFolderOf(m_options.device);
    const HRESULT hr = WriteFileText(m_options.device, DeviceText(m_device->config));
    return SUCCEEDED(hr) || Failed("the device could not be saved to " + m_options.device + ": " + ResultText(hr));
  }
  bool Transfer(bool upload) {
    const char* what = upload ? "upload" : "download";
    int shown = 0;
    m_session->onProgress = [what, &shown](int percent) {
      if (percent <= shown) return;  // the closing report says 0: the end is printed below
      shown = percent;
      std::fprintf(stderr, "%s: %d%%\n", what, percent);
    };
    bool success = false;
    const HRESULT hr = upload ? m_session->Upload(&success) : m_session->Download(&success);
    if (hr == S_FALSE) return Failed(std::string("the DTM refused the ") + what);
    if (FAILED(hr)) return Failed(std::string("the ") + what + " did not end: " + ResultText(hr));
    if (!success) {
      std::string why;
      for (const std::string& line : m_session->Frame()->notifications)
        if (line.rfind("error ", 0) == 0) why = line.substr(line.find(": ") + 2);
      return Failed(std::string("the ") + what + " failed" + (why.empty() ? "" : ": " + why));
    }
    std::fprintf(stderr, "%s: 100%%\n", what);
    return true;
  }
  template <class Q>
  ComPtr<Q> Dtm() {
    ComPtr<Q> q;
    m_session->Dtm()->QueryInterface(Q::iid, q.PutVoid());
    return q;
  }
  bool Failed(const std::string& what) {
    Fail(what);
    return false;
  }
  bool Close() {
    const HRESULT hr = m_session->Close();
    return SUCCEEDED(hr) || Failed("the DTM did not end its communication: " + ResultText(hr));
  }

  const Options& m_options;
  std::shared_ptr<SimulatedDevice> m_device;
  std::unique_ptr<TransferSession> m_session;
  bool m_comInitialized = false;
};

// The value of an attribute in the element text (empty when absent), entities decoded.
std::string Attribute(const std::string& element, const std::string& name) {
  const std::string key = " " + name + "=\"";
  std::size_t at = element.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  const std::size_t end = element.find('"', at);
  std::string value = element.substr(at, end == std::string::npos ? std::string::npos : end - at);
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, text] : kEntities)
    for (std::size_t p = 0; (p = value.find(entity, p)) != std::string::npos; p += std::strlen(text))
      value.replace(p, std::strlen(entity), text);
  return value;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char ch : text) {
    switch (ch) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += ch;
    }
  }
  return out;
}

// One parameter of the parameter document.
struct DocumentVariable {
  std::string name;
  std::string value;   // the display text
  std::string unit;
  std::size_t begin = 0;  // the element's place in the document
  std::size_t end = 0;
};

std::vector<DocumentVariable> Variables(const std::string& document) {
  std::vector<DocumentVariable> out;
  const std::string open = "<fdt:DtmVariable ", close = "</fdt:DtmVariable>";
  for (std::size_t at = 0; (at = document.find(open, at)) != std::string::npos;) {
    DocumentVariable v;
    v.begin = at;
    v.end = document.find(close, at);
    if (v.end == std::string::npos) break;
    v.end += close.size();
    const std::string element = document.substr(at, v.end - at);
    v.name = Attribute(element.substr(0, element.find('>')), "name");
    const std::size_t display = element.find("<fdt:Display ");
    if (display != std::string::npos) v.value = Attribute(element.substr(display), "string");
    const std::size_t unit = element.find("<fdt:Unit");
    if (unit != std::string::npos) v.unit = Attribute(element.substr(unit), "label");
    if (v.unit.empty() && unit != std::string::npos) v.unit = Attribute(element.substr(unit), "name");
    out.push_back(v);
    at = v.end;
  }
  return out;
}

// The device's tag in the parameter document.
std::string DeviceTag(const std::string& document) {
  const std::size_t at = document.find("<DtmDevice");
  if (at == std::string::npos) return "";
  return Attribute(document.substr(at, document.find('>', at) - at), "fdt:tag");
}

// The DTM's parameter document (IDtmParameter::GetParameters).
bool ParameterDocument(Command& c, std::string* text) {
  ComPtr<IDtmParameter> parameters = c.Dtm<IDtmParameter>();
  if (!parameters) return c.Failed("the DTM offers no parameter interface");
  Bstr document;
  const HRESULT hr = parameters->GetParameters(nullptr, document.Put());
  if (hr != S_OK || document.Empty()) return c.Failed("the DTM gave no parameter document: " + ResultText(hr));
  *text = Utf16ToUtf8(document.View());
  return true;
}

int Show(const Options& o) {
  Command c(o);
  std::string document;
  if (!c.Open() || !ParameterDocument(c, &document)) return 1;
  std::vector<DocumentVariable> variables = Variables(document);
  variables.insert(variables.begin(), DocumentVariable{"Tag", DeviceTag(document), "", 0, 0});
  std::size_t width = 4;
  for (const DocumentVariable& v : variables) width = std::max(width, v.name.size());
  std::printf("%-*s  %-32s  %s\n", static_cast<int>(width), "name", "value", "unit");
  for (const DocumentVariable& v : variables)
    std::printf("%-*s  %-32s  %s\n", static_cast<int>(width), v.name.c_str(), v.value.c_str(), v.unit.c_str());
  return c.Close() ? 0 : 1;
}

// Sets the value of the named variable in the parameter document's text; the tag is the device
// element's.
bool SetInDocument(std::string* document, const std::string& name, const std::string& value, std::string* why) {
  if (name == "Tag") {
    const std::string key = "fdt:tag=\"";
    const std::size_t at = document->find(key, document->find("<DtmDevice"));
    if (at == std::string::npos) {
      *why = "the parameter document has no tag";
      return false;
    }
    const std::size_t start = at + key.size();
    document->replace(start, document->find('"', start) - start, Escape(value));
    return true;
  }
  for (const DocumentVariable& v : Variables(*document)) {
    if (v.name != name) continue;
    std::string element = document->substr(v.begin, v.end - v.begin);
    bool set = false;
    for (const char* attribute : {" string=\"", " number=\""}) {
      const std::size_t variant = element.find("<fdt:Variant");
      if (variant == std::string::npos) break;
      const std::size_t at = element.find(attribute, variant);
      if (at == std::string::npos) continue;
      const std::size_t start = at + std::strlen(attribute);
      const std::size_t end = element.find('"', start);
      element.replace(start, end - start, Escape(value));
      set = true;
      break;
    }
    if (!set) {
      *why = "the parameter " + name + " cannot be written";
      return false;
    }
    document->replace(v.begin, v.end - v.begin, element);
    return true;
  }
  *why = "there is no parameter " + name;
  return false;
}

int Set(const Options& o) {
  if (o.rest.empty()) return Fail("set needs NAME=VALUE"), 2;
  Command c(o);
  std::string document;
  if (!c.Open() || !ParameterDocument(c, &document)) return 1;
  for (const std::string& assignment : o.rest) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) return Fail("set takes NAME=VALUE, not " + assignment), 2;
    std::string why;
    if (!SetInDocument(&document, assignment.substr(0, equals), assignment.substr(equals + 1), &why)) return Fail(why);
  }
  ComPtr<IDtmParameter> parameters = c.Dtm<IDtmParameter>();
  const std::size_t errorsBefore = c.m_session->Frame()->notifications.size();
  VARIANT_BOOL done = VARIANT_FALSE;
  Bstr text(Utf8ToUtf16(document));
  const HRESULT hr = parameters->SetParameters(nullptr, text, &done);
  if (hr != S_OK || !done) {
    std::string why = "the DTM refused the values";
    const auto& notes = c.m_session->Frame()->notifications;
    for (std::size_t i = errorsBefore; i < notes.size(); ++i)
      if (notes[i].rfind("error ", 0) == 0) why = notes[i].substr(notes[i].find(": ") + 2);
    return Fail(why);
  }
  if (!c.SaveProject() || !c.Close()) return 1;
  std::printf("set; data set saved to %s\n", o.project.c_str());
  return 0;
}

// The statusFlag of a diagnosis document, or the communication error.
std::string StatusFlag(const std::string& document, const char* element) {
  const std::size_t at = document.find(element);
  if (at == std::string::npos) return "";
  return Attribute(document.substr(at, document.find('>', at) - at), "statusFlag");
}

bool Compare(Command& c, bool* equal) {
  ComPtr<IDtmOnlineDiagnosis> diagnosis = c.Dtm<IDtmOnlineDiagnosis>();
  if (!diagnosis) return c.Failed("the DTM offers no online diagnosis");
  Bstr document;
  const HRESULT hr = diagnosis->Compare(document.Put());
  if (hr != S_OK) return c.Failed("the DTM did not compare: " + ResultText(hr));
  const std::string flag = StatusFlag(Utf16ToUtf8(document.View()), "<CompareResult");
  if (flag.empty()) return c.Failed("the device could not be compared");
  *equal = flag == "equal";
  return true;
}

int CompareCommand(const Options& o) {
  if (!o.with.empty()) return ComparePartner(o.project, o.with);
  Command c(o);
  bool equal = false;
  if (!c.Open() || !Compare(c, &equal) || !c.Close() || !c.SaveDevice()) return 1;
  std::printf("%s\n", equal ? "the data set equals the device" : "the data set differs from the device");
  return 0;
}

int Status(const Options& o) {
  Command c(o);
  if (!c.Open()) return 1;
  ComPtr<IDtmOnlineDiagnosis> diagnosis = c.Dtm<IDtmOnlineDiagnosis>();
  if (!diagnosis) return Fail("the DTM offers no online diagnosis");
  Bstr document;
  const HRESULT hr = diagnosis->GetDeviceStatus(document.Put());
  if (hr != S_OK) return Fail("the DTM gave no device status: " + ResultText(hr));
  const std::string flag = Attribute(Utf16ToUtf8(document.View()), "fdt:statusFlag");
  if (flag.empty()) return Fail("the device status could not be read");
  if (!c.Close() || !c.SaveDevice()) return 1;
  std::printf("device status: %s\n", flag.c_str());
  return 0;
}

int Download(const Options& o) {
  Command c(o);
  if (!c.Open() || !c.Transfer(false)) return 1;
  // Read back: the device must now hold the data set.
  bool equal = false;
  if (!Compare(c, &equal) || !c.SaveProject() || !c.Close() || !c.SaveDevice()) return 1;
  // The comparison covers every readable parameter of the data set, more than the download list.
  std::printf("downloaded; read back: %s\n",
              equal ? "the device holds the data set" : "the device differs from the data set (see compare)");
  return 0;
}

int Upload(const Options& o) {
  Command c(o);
  if (!c.Open() || !c.Transfer(true) || !c.SaveProject() || !c.Close() || !c.SaveDevice()) return 1;
  std::printf("uploaded; data set saved to %s\n", o.project.c_str());
  return 0;
}

}  // namespace

bool IsEngineeringCommand(const std::string& command) {
  return command == "upload" || command == "download" || command == "show" || command == "set" ||
         command == "compare" || command == "status";
}

int RunEngineeringCommand(const std::string& command, const std::vector<std::string>& arguments) {
  Options o;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (a == "--project" && hasValue) {
      o.project = arguments[++i];
    } else if (a == "--device" && hasValue) {
      o.device = arguments[++i];
    } else if (a == "--wire-delay" && hasValue) {
      const std::string& v = arguments[++i];
      if (v == "0") o.wireBitsPerSecond = 0;
      else if (v == "hart") o.wireBitsPerSecond = kHartBitsPerSecond;
      else return Fail("--wire-delay takes 0 or hart, not " + v), 2;
    } else if (a == "--with" && hasValue && command == "compare") {
      o.with = arguments[++i];
    } else if (a.rfind("--", 0) == 0) {
      return Fail("unknown option " + a), 2;
    } else {
      o.rest.push_back(a);
    }
  }
  if (o.device.empty()) o.device = o.project + ".device";
  if (command == "upload") return Upload(o);
  if (command == "download") return Download(o);
  if (command == "show") return Show(o);
  if (command == "set") return Set(o);
  if (command == "compare") return CompareCommand(o);
  if (command == "status") return Status(o);
  return Fail("unknown command " + command), 2;
}

}  // namespace vkr::frame
