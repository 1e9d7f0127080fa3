// The engineer's commands of the frame host.
#include "frame/EngineeringHost.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
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
    } else if (a.rfind("--", 0) == 0) {
      return Fail("unknown option " + a), 2;
    } else {
      o.rest.push_back(a);
    }
  }
  if (o.device.empty()) o.device = o.project + ".device";
  if (command == "upload") return Upload(o);
  return Fail("unknown command " + command), 2;
}

}  // namespace vkr::frame
