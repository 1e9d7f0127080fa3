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
#include "frame/ParameterDocument.h"
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

// ---- Progress ------------------------------------------------------------------------------

// Whether standard error is a terminal, where progress may be redrawn in place.
bool ErrorIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

// Prints the progress of a transfer: a bar redrawn in place on a terminal, else a line for each
// new percentage.
class Progress {
 public:
  explicit Progress(const char* what) : m_what(what), m_console(ErrorIsConsole()) {}
  ~Progress() { End(); }
  void Show(int percent) {
    if (percent <= m_shown || percent > 100) return;  // the closing report says 0
    m_shown = percent;
    if (!m_console) {
      std::fprintf(stderr, "%s: %d%%\n", m_what, percent);
      return;
    }
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\r%s: [%s%s] %3d%%", m_what, std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), percent);
    std::fflush(stderr);
    m_open = true;
  }
  void Done() { Show(100); }
  // Ends the line a bar is drawn on, so that what follows starts on a line of its own.
  void End() {
    if (!m_open) return;
    std::fputc('\n', stderr);
    m_open = false;
  }

 private:
  const char* m_what;
  bool m_console;
  int m_shown = 0;
  bool m_open = false;
};

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
    Progress progress(what);
    m_session->onProgress = [&progress](int percent) { progress.Show(percent); };
    bool success = false;
    const HRESULT hr = upload ? m_session->Upload(&success) : m_session->Download(&success);
    m_session->onProgress = nullptr;
    if (hr == S_OK && success) {
      progress.Done();
      return true;
    }
    progress.End();
    if (hr == S_FALSE) return Failed(std::string("the DTM refused the ") + what);
    if (FAILED(hr)) return Failed(std::string("the ") + what + " did not end: " + ResultText(hr));
    std::string why;
    for (const std::string& line : m_session->Frame()->notifications)
      if (line.rfind("error ", 0) == 0) why = line.substr(line.find(": ") + 2);
    return Failed(std::string("the ") + what + " failed" + (why.empty() ? "" : ": " + why));
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

// ---- What the project remembers of the device ----------------------------------------------

// The parameters of the data set as the device held them when the frame last knew (after an
// upload, or a comparison that found them equal), kept beside the project file. "show" tells from
// it whether a value differs from the device.
struct DeviceRecord {
  enum class Verdict { None, Uploaded, Equal, NotEqual };
  Verdict verdict = Verdict::None;
  std::map<std::string, std::string> values;  // by parameter name
};

std::string RecordPath(const Options& o) { return o.project + ".compared"; }

std::string Hex(const std::string& text) { return wire::ToHex(Bytes(text.begin(), text.end())); }

DeviceRecord ReadRecord(const Options& o) {
  DeviceRecord r;
  std::string text;
  if (FAILED(ReadFileText(RecordPath(o), &text))) return r;
  std::istringstream lines(text);
  std::string word, name, value;
  while (lines >> word) {
    if (word == "verdict" && lines >> value) {
      r.verdict = value == "uploaded"   ? DeviceRecord::Verdict::Uploaded
                  : value == "equal"    ? DeviceRecord::Verdict::Equal
                  : value == "notEqual" ? DeviceRecord::Verdict::NotEqual
                                        : DeviceRecord::Verdict::None;
    } else if (word == "value" && lines >> name) {
      // An empty value is written as "-".
      lines >> value;
      Bytes n, v;
      if (wire::FromHex(name, &n) && (value == "-" || wire::FromHex(value, &v)))
        r.values[std::string(n.begin(), n.end())] = std::string(v.begin(), v.end());
    }
  }
  return r;
}

bool WriteRecord(const Options& o, DeviceRecord::Verdict verdict, const ParameterDocument* held) {
  static const char* const kVerdicts[] = {"none", "uploaded", "equal", "notEqual"};
  std::string text = std::string("verdict ") + kVerdicts[static_cast<int>(verdict)] + "\n";
  if (held)
    for (const DocumentParameter& p : held->parameters)
      text += "value " + Hex(p.name) + " " + (p.value.empty() ? std::string("-") : Hex(p.value)) + "\n";
  MakeFolderOf(RecordPath(o));
  const HRESULT hr = WriteFileText(RecordPath(o), text);
  if (SUCCEEDED(hr)) return true;
  Fail("the comparison with the device could not be kept in " + RecordPath(o) + ": " + ResultText(hr));
  return false;
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

bool Document(Command& c, ParameterDocument* document) {
  std::string why;
  const HRESULT hr = GetParameterDocument(c.m_session->Dtm(), document, &why);
  if (hr == S_OK) return true;
  return c.Failed(why.empty() ? "the DTM gave no parameter document: " + ResultText(hr) : why);
}

// Keeps the comparison's outcome in the project: an equal data set is what the device holds.
bool RecordComparison(Command& c, bool equal) {
  if (!equal) return WriteRecord(c.m_options, DeviceRecord::Verdict::NotEqual, nullptr);
  ParameterDocument held;
  return Document(c, &held) && WriteRecord(c.m_options, DeviceRecord::Verdict::Equal, &held);
}

// Prints what the DTM told the frame since notification `from` whose text holds `marker`.
void PrintDtmTexts(Command& c, std::size_t from, const char* marker) {
  const std::vector<std::string>& lines = c.m_session->Frame()->notifications;
  for (std::size_t i = from; i < lines.size(); ++i)
    if (lines[i].rfind("error ", 0) == 0 && lines[i].find(marker) != std::string::npos)
      std::printf("%s\n", lines[i].substr(lines[i].find(": ") + 2).c_str());
}

// The DTM's messages (what a download left out, what a comparison found different) reach the
// frame on their own road, after the call that caused them (the DTM thread posts them): the frame
// serves its messages until they stop coming.
void AwaitDtmTexts(Command& c) {
  const std::vector<std::string>& lines = c.m_session->Frame()->notifications;
  std::size_t seen = lines.size();
  for (int quiet = 0, round = 0; quiet < 4 && round < 100; ++round) {
    TransferSession::Pump(50);
    quiet = lines.size() == seen ? quiet + 1 : 0;
    seen = lines.size();
  }
}

int Show(const Options& o) {
  Command c(o);
  ParameterDocument document;
  if (!c.Open() || !Document(c, &document)) return 1;
  const DeviceRecord record = ReadRecord(o);
  std::size_t width = 4;
  for (const DocumentParameter& p : document.parameters) width = std::max(width, p.Label().size());
  const int w = static_cast<int>(width);
  std::printf("%-*s  %-32s  %-8s  %s\n", w, "name", "value", "unit", "differs");
  for (const DocumentParameter& p : document.parameters) {
    const auto held = record.values.find(p.name);
    const char* differs = held == record.values.end() ? "?" : held->second == p.value ? "no" : "yes";
    std::printf("%-*s  %-32s  %-8s  %s\n", w, p.Label().c_str(), p.value.c_str(), p.unit.c_str(), differs);
  }
  std::printf("data set: %s\n", document.dataSetState.c_str());
  switch (record.verdict) {
    case DeviceRecord::Verdict::None:
      std::printf("device: not compared yet (upload, download or compare first)\n");
      break;
    case DeviceRecord::Verdict::Uploaded:
      std::printf("device: as the last upload read it\n");
      break;
    case DeviceRecord::Verdict::Equal:
      std::printf("device: as the last comparison found it\n");
      break;
    case DeviceRecord::Verdict::NotEqual:
      std::printf("device: the last comparison found a difference; the DTM does not say where\n");
      break;
  }
  if (document.parameters.size() == 1)
    std::printf("the DTM's parameter document exports no parameter but the tag\n");
  return c.Close() ? 0 : 1;
}

int Set(const Options& o) {
  if (o.rest.empty()) return Fail("set needs NAME=VALUE"), 2;
  std::vector<std::pair<std::string, std::string>> values;
  for (const std::string& assignment : o.rest) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) return Fail("set takes NAME=VALUE, not " + assignment), 2;
    values.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
  }
  ParameterDocument taken;
  {
    Command c(o);
    if (!c.Open()) return 1;
    std::string why;
    const HRESULT hr = SetDocumentParameters(*c.m_session, values, &why);
    if (FAILED(hr)) return Fail("the values could not be set: " + ResultText(hr));
    if (hr != S_OK) return Fail(why);
    // The values as the DTM holds them now, in its own form.
    if (!Document(c, &taken) || !c.SaveProject() || !c.Close()) return 1;
  }
  // A value the DTM takes but does not keep in its data set is gone once the project is closed:
  // the project is opened again, as the next command will, to see what it holds.
  Command again(o);
  ParameterDocument kept;
  if (!again.Open() || !Document(again, &kept) || !again.Close()) return 1;
  for (const auto& [name, value] : values) {
    const DocumentParameter* now = taken.Find(name);
    const DocumentParameter* later = kept.Find(name);
    if (now && (!later || later->value != now->value))
      return Fail("the DTM took " + name + "=" + value + " but its data set does not keep it: the project still holds " +
                  (later ? "\"" + later->value + "\"" : "no " + name));
  }
  std::printf("set; data set saved to %s\n", o.project.c_str());
  return 0;
}

int CompareCommand(const Options& o) {
  if (!o.with.empty()) return ComparePartner(o.project, o.with);
  Command c(o);
  bool equal = false;
  if (!c.Open() || !Compare(c, &equal)) return 1;
  AwaitDtmTexts(c);
  if (!RecordComparison(c, equal) || !c.Close() || !c.SaveDevice()) return 1;
  std::printf("%s\n", equal ? "the data set equals the device" : "the data set differs from the device");
  if (!equal) PrintDtmTexts(c, 0, "differs from the device");
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
  if (!c.Open()) return 1;
  const std::size_t transferred = c.m_session->Frame()->notifications.size();
  if (!c.Transfer(false)) {
    // Part of the list may have reached the device: what the project knew of it no longer holds.
    WriteRecord(o, DeviceRecord::Verdict::NotEqual, nullptr);
    return 1;
  }
  // Read back: the DTM reads every parameter of its data set it can compare from the device again.
  bool equal = false;
  if (!Compare(c, &equal)) return 1;
  AwaitDtmTexts(c);
  if (!RecordComparison(c, equal) || !c.SaveProject() || !c.Close() || !c.SaveDevice()) return 1;
  // What the data set holds no value for was not sent; the DTM names it.
  PrintDtmTexts(c, transferred, "left out");
  if (equal) {
    std::printf("downloaded; read back: the device holds the data set\n");
    return 0;
  }
  std::printf("downloaded; read back: the device differs from the data set\n");
  PrintDtmTexts(c, transferred, "differs from the device");
  return 1;
}

int Upload(const Options& o) {
  Command c(o);
  ParameterDocument held;
  if (!c.Open() || !c.Transfer(true) || !Document(c, &held) ||
      !WriteRecord(o, DeviceRecord::Verdict::Uploaded, &held) || !c.SaveProject() || !c.Close() || !c.SaveDevice())
    return 1;
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
