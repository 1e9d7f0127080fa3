// The project's files as the host's commands share them.
#include "frame/ProjectFiles.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "frame/FileRoles.h"
#include "frame/FrameHost.h"
#include "frame/HostPaths.h"
#include "frame/HostUsage.h"

namespace vkr::frame {
namespace {

Bytes FloatBytes(float value) {
  Bytes b(4);
  wire::PutFloat(&b, 0, value);
  return b;
}

// One line of the device file: its name, the lengths its value may have, and how it is written
// and read. Fields of a byte string keep their wire form.
struct Field {
  const char* name;
  std::vector<std::size_t> sizes;  // empty: any whole number of `record` bytes
  std::function<Bytes(const SimulatedDevice::Configuration&)> get;
  std::function<void(const Bytes&, SimulatedDevice::Configuration*)> set;
  bool optional = false;  // kept only since a later version: older files load without it
  std::size_t record = 0;
  // What is wrong with a value of a right length ("" when nothing is).
  std::function<std::string(const Bytes&)> check = [](const Bytes&) { return std::string(); };
};

Field ByteField(const char* name, std::uint8_t SimulatedDevice::Configuration::*member) {
  return {name, {1}, [member](const auto& c) { return Bytes{c.*member}; },
          [member](const Bytes& b, auto* c) { c->*member = b[0]; }};
}

Field FloatField(const char* name, float SimulatedDevice::Configuration::*member) {
  return {name, {4}, [member](const auto& c) { return FloatBytes(c.*member); },
          [member](const Bytes& b, auto* c) { c->*member = wire::GetFloat(b, 0); }};
}

Field TextField(const char* name, std::size_t size, Bytes SimulatedDevice::Configuration::*member) {
  return {name, {size}, [member](const auto& c) { return c.*member; },
          [member](const Bytes& b, auto* c) { c->*member = b; }};
}

// A trim is absent (no value) until the master gave one.
Field TrimField(const char* name, std::optional<float> SimulatedDevice::Configuration::*member) {
  return {name,
          {0, 4},
          [member](const auto& c) { return c.*member ? FloatBytes(*(c.*member)) : Bytes{}; },
          [member](const Bytes& b, auto* c) {
            c->*member = b.empty() ? std::nullopt : std::optional<float>(wire::GetFloat(b, 0));
          }};
}

// The device memory of commands 131 and 134: each word as its address and value (two bytes each,
// most significant first), in rising address order.
Field MemoryField() {
  using C = SimulatedDevice::Configuration;
  Field f{"memory",
          {},
          [](const C& c) {
            Bytes b;
            for (const auto& [address, word] : c.memory) {
              wire::PutU16(&b, b.size(), address);
              wire::PutU16(&b, b.size(), word);
            }
            return b;
          },
          [](const Bytes& b, C* c) {
            c->memory.clear();
            for (std::size_t i = 0; i + 4 <= b.size(); i += 4)
              c->memory[static_cast<std::uint16_t>(b[i] << 8 | b[i + 1])] =
                  static_cast<std::uint16_t>(b[i + 2] << 8 | b[i + 3]);
          }};
  f.record = 4;
  f.check = [](const Bytes& b) {
    for (std::size_t i = 4; i + 4 <= b.size(); i += 4)
      if ((b[i] << 8 | b[i + 1]) <= (b[i - 4] << 8 | b[i - 3]))
        return std::string("\"memory\" does not hold its words in rising address order");
    return std::string();
  };
  return f;
}

// What the device keeps for each master (its status bits): one value of `size` bytes while both
// masters have the same, as in the files written before it was kept for each, else the primary's
// and then the secondary's.
template <class T, class Put, class Take>
Field PerMasterField(const char* name, std::size_t size, std::array<T, 2> SimulatedDevice::Configuration::*member,
                     Put put, Take take) {
  constexpr std::size_t primary = SimulatedDevice::kPrimary, secondary = SimulatedDevice::kSecondary;
  return {name,
          {size, 2 * size},
          [=](const auto& c) {
            const std::array<T, 2>& each = c.*member;
            Bytes b = put(each[primary]);
            if (each[primary] != each[secondary]) {
              const Bytes other = put(each[secondary]);
              b.insert(b.end(), other.begin(), other.end());
            }
            return b;
          },
          [=](const Bytes& b, auto* c) {
            const Bytes first(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(size));
            (c->*member)[primary] = take(first);
            (c->*member)[secondary] = b.size() > size ? take(Bytes(b.begin() + static_cast<std::ptrdiff_t>(size), b.end()))
                                                      : take(first);
          }};
}

Field PerMasterFlag(const char* name, std::array<bool, 2> SimulatedDevice::Configuration::*member) {
  return PerMasterField(
      name, 1, member, [](bool on) { return Bytes{static_cast<std::uint8_t>(on ? 1 : 0)}; },
      [](const Bytes& b) { return b[0] != 0; });
}

Field Optional(Field field) {
  field.optional = true;
  return field;
}

// In name order, as the file lists them.
const std::vector<Field>& Fields() {
  using C = SimulatedDevice::Configuration;
  static const std::vector<Field> fields{
      // Command 48's status bytes each master last acknowledged.
      Optional(PerMasterField(
          "acknowledgedStatus", SimulatedDevice().config.additionalStatus.size(), &C::acknowledgedStatus,
          [](const Bytes& b) { return b; }, [](const Bytes& b) { return b; })),
      ByteField("alarmSelect", &C::alarmSelect),
      // A device reset not yet told to a master.
      Optional(PerMasterFlag("coldStart", &C::coldStart)),
      {"configChangeCounter",
       {2},
       [](const C& c) {
         return Bytes{static_cast<std::uint8_t>(c.configChangeCounter >> 8),
                      static_cast<std::uint8_t>(c.configChangeCounter)};
       },
       [](const Bytes& b, C* c) { c->configChangeCounter = static_cast<std::uint16_t>(b[0] << 8 | b[1]); }},
      PerMasterFlag("configChanged", &C::configChanged),
      FloatField("damping", &C::damping),
      TextField("displaySettings", 10, &C::displaySettings),
      TextField("echoSettings", 10, &C::echoSettings),
      TextField("finalAssembly", 3, &C::finalAssembly),
      Optional(FloatField("fixedCurrent", &C::fixedCurrent)),
      Optional(TrimField("gainTrim", &C::gainTrim)),
      // The sensor limits follow the PV unit (command 44).
      Optional(ByteField("limitsUnit", &C::limitsUnit)),
      ByteField("loopCurrentMode", &C::loopCurrentMode),
      TextField("longTag", 32, &C::longTag),
      FloatField("lowerRange", &C::lowerRange),
      Optional(FloatField("lowerSensorLimit", &C::lowerSensorLimit)),
      // A fault the transmitter found in itself (field device malfunction in every answer).
      Optional({"malfunction",
                {1},
                [](const C& c) { return Bytes{static_cast<std::uint8_t>(c.malfunction ? 1 : 0)}; },
                [](const Bytes& b, C* c) { c->malfunction = b[0] != 0; }}),
      Optional(MemoryField()),
      TextField("message", 24, &C::message),
      Optional(FloatField("minimumSpan", &C::minimumSpan)),
      ByteField("pollingAddress", &C::pollingAddress),
      ByteField("pvUnit", &C::pvUnit),
      ByteField("rangeUnit", &C::rangeUnit),
      TextField("tagDescriptorDate", 21, &C::tagDescriptorDate),
      ByteField("transferFunction", &C::transferFunction),
      FloatField("upperRange", &C::upperRange),
      Optional(FloatField("upperSensorLimit", &C::upperSensorLimit)),
      ByteField("writeProtect", &C::writeProtect),
      Optional(TrimField("zeroTrim", &C::zeroTrim)),
  };
  return fields;
}

std::string Sizes(const std::vector<std::size_t>& sizes) {
  std::string text;
  for (std::size_t i = 0; i < sizes.size(); ++i)
    text += (i == 0 ? "" : " or ") + std::to_string(sizes[i]);
  return text;
}

}  // namespace

std::string DeviceFileText(const SimulatedDevice::Configuration& c) {
  std::string text;
  for (const Field& field : Fields()) text += std::string(field.name) + " " + wire::ToHex(field.get(c)) + "\n";
  return text;
}

std::string DeviceFileTextLike(const SimulatedDevice::Configuration& c, const std::string& shape,
                               const std::string& held) {
  std::map<std::string, std::string> lines;
  for (const Field& field : Fields()) lines[field.name] = std::string(field.name) + " " + wire::ToHex(field.get(c));
  // A line the file lacks stood for the value `held` gives it: it is added only when its setting
  // changed from that.
  std::set<std::string> unchanged;
  std::istringstream heldLines(held);
  for (std::string line; std::getline(heldLines, line);)
    if (const auto now = lines.find(line.substr(0, line.find(' '))); now != lines.end() && now->second == line)
      unchanged.insert(now->first);
  std::string text, end = "\n";
  for (std::size_t at = 0; at < shape.size();) {
    std::size_t next = shape.find('\n', at);
    next = next == std::string::npos ? shape.size() : next + 1;
    std::string line = shape.substr(at, next - at);
    at = next;
    std::string ending;
    if (!line.empty() && line.back() == '\n') ending = line.ends_with("\r\n") ? "\r\n" : "\n";
    if (text.empty() && !ending.empty()) end = ending;
    const std::string body = line.substr(0, line.size() - ending.size());
    const auto kept = lines.find(body.substr(0, body.find(' ')));
    if (kept == lines.end() || body.find_first_not_of(' ') == std::string::npos) {
      text += line;
      continue;
    }
    text += kept->second + ending;
    lines.erase(kept);
  }
  std::erase_if(lines, [&](const auto& left) { return unchanged.count(left.first) != 0; });
  if (!text.empty() && text.back() != '\n' && !lines.empty()) text += end;
  for (const Field& field : Fields())
    if (const auto left = lines.find(field.name); left != lines.end()) text += left->second + end;
  return text;
}

bool ParseDeviceFile(const std::string& text, SimulatedDevice::Configuration* c, std::string* why) {
  std::map<std::string, Bytes> values;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    // A name is the line's start: a line that starts with a space is named whole.
    if (line.front() == ' ') {
      *why = "a line \"" + line + "\" it does not keep";
      return false;
    }
    const std::size_t space = line.find(' ');
    const std::string name = line.substr(0, space);
    const std::string hex = space == std::string::npos ? std::string() : line.substr(space + 1);
    const auto field = std::find_if(Fields().begin(), Fields().end(),
                                    [&](const Field& f) { return name == f.name; });
    Bytes value;
    if (field == Fields().end()) {
      *why = "a line \"" + name + "\" it does not keep";
      return false;
    }
    if (values.count(name)) {
      *why = "\"" + name + "\" twice";
      return false;
    }
    if (!wire::FromHex(hex, &value)) {
      *why = "\"" + name + "\" is not hex";
      return false;
    }
    const bool sized = field->sizes.empty()
                           ? value.size() % field->record == 0
                           : std::find(field->sizes.begin(), field->sizes.end(), value.size()) != field->sizes.end();
    if (!sized) {
      *why = "\"" + name + "\" holds " + std::to_string(value.size()) + " bytes, not " +
             (field->sizes.empty() ? "a multiple of " + std::to_string(field->record) : Sizes(field->sizes));
      return false;
    }
    if (const std::string wrong = field->check(value); !wrong.empty()) {
      *why = wrong;
      return false;
    }
    values[name] = value;
  }
  for (const Field& field : Fields())
    if (!field.optional && !values.count(field.name)) {
      *why = "no line \"" + std::string(field.name) + "\"";
      return false;
    }
  // The level is measured, not kept: it stays the same distance in the PV unit the file gives.
  const float level = c->pv;
  const std::uint8_t levelUnit = c->pvUnit;
  for (const Field& field : Fields())
    if (const auto value = values.find(field.name); value != values.end()) field.set(value->second, c);
  c->pv = SimulatedDevice::ConvertLength(level, levelUnit, c->pvUnit);
  return true;
}

bool DeviceFile::Load(SimulatedDevice* device, std::string* why, bool absentIsDefault) {
  const HRESULT hr = m_file.Read();
  if (m_file.IsFolder()) {
    *why = "the device file " + Path() + " is not a file (a folder of that name is there); nothing was changed";
    return false;
  }
  if (FAILED(hr)) {
    *why = "the device file " + Path() + " cannot be read: " + ResultText(hr) + "; nothing was changed";
    return false;
  }
  if (!m_file.Present() && !absentIsDefault) {
    *why = NoTransmitter(Path());
    return false;
  }
  if (m_file.Present()) {
    std::string damage;
    if (!ParseDeviceFile(m_file.Bytes(), &device->config, &damage)) {
      *why = "the device file " + Path() + " is damaged (" + damage + "); nothing was changed";
      return false;
    }
  }
  m_loaded = DeviceFileText(device->config);
  return true;
}

bool DeviceFile::Holds(const SimulatedDevice& device) const {
  const std::string held = m_loaded           ? *m_loaded
                           : m_file.Present() ? m_file.Bytes()
                                              : DeviceFileText(SimulatedDevice().config);
  return DeviceFileText(device.config) == held;
}

bool DeviceFile::HoldsAllButToldColdStart(const SimulatedDevice& device) const {
  const std::string held = m_loaded           ? *m_loaded
                           : m_file.Present() ? m_file.Bytes()
                                              : DeviceFileText(SimulatedDevice().config);
  SimulatedDevice::Configuration kept = device.config;
  std::string why;
  if (!ParseDeviceFile(held, &kept, &why)) return false;
  // A reset (a cold start still to tell where the file has none) is no read.
  for (std::size_t m : {SimulatedDevice::kPrimary, SimulatedDevice::kSecondary})
    if (device.config.coldStart[m] && !kept.coldStart[m]) return false;
  SimulatedDevice::Configuration told = device.config;
  told.coldStart = kept.coldStart;
  return DeviceFileText(told) == held;
}

namespace {

// The device file's text of the settings alone: what the status has still to tell a master left
// as a new transmitter has it.
std::string SettingsText(SimulatedDevice::Configuration c) {
  const SimulatedDevice::Configuration fresh = SimulatedDevice().config;
  c.coldStart = fresh.coldStart;
  c.configChanged = fresh.configChanged;
  c.acknowledgedStatus = fresh.acknowledgedStatus;
  return DeviceFileText(c);
}

}  // namespace

bool DeviceFile::HoldsSettings(const SimulatedDevice& device) const {
  SimulatedDevice::Configuration held = SimulatedDevice().config;
  std::string why;
  const std::string text = m_loaded ? *m_loaded : m_file.Present() ? m_file.Bytes() : DeviceFileText(held);
  return ParseDeviceFile(text, &held, &why) && SettingsText(held) == SettingsText(device.config);
}

HRESULT DeviceFile::SettingsUnchanged(std::string* why) const {
  const auto settings = SettingsText;
  KnownFile now(Path());
  // A file that cannot be read again tells nothing of another command: its own error is the reason.
  if (const HRESULT hr = now.Read(); FAILED(hr)) {
    *why = "the device file " + Path() + " could not be read again to check that no other command changed the " +
           "transmitter: " + (now.IsFolder() ? std::string("a folder of that name is there") : ResultText(hr));
    return hr;
  }
  // A file that went away is not the transmitter this command knew; one never saved stands for
  // the default transmitter, which the command then holds.
  if (!now.Present() && m_file.Present()) return kDeviceChangedMeanwhile;
  SimulatedDevice::Configuration there = SimulatedDevice().config, known = there;
  std::string damage;
  if (now.Present() && !ParseDeviceFile(now.Bytes(), &there, &damage)) return kDeviceChangedMeanwhile;
  if (m_loaded && !ParseDeviceFile(*m_loaded, &known, &damage)) return kDeviceChangedMeanwhile;
  return settings(there) == settings(known) ? S_OK : kDeviceChangedMeanwhile;
}

bool DeviceFile::Save(const SimulatedDevice& device, std::string* why, bool createAbsent) {
  // The file stays byte for byte as it is (its line ends and order included) while the
  // transmitter holds what it last held.
  if (Holds(device) && (m_file.Present() || !createAbsent)) return true;
  const std::string text = DeviceFileText(device.config);
  MakeFolderOf(Path());
  bool replaced = false;
  const std::string held = m_loaded ? *m_loaded : DeviceFileText(SimulatedDevice().config);
  const HRESULT hr =
      m_file.Replace(m_file.Present() ? DeviceFileTextLike(device.config, m_file.Bytes(), held) : text, &replaced);
  if (SUCCEEDED(hr)) {
    m_loaded = text;
    return true;
  }
  *why = SaveFailure("the device", Path(), hr, replaced);
  return false;
}

bool DeviceChanges::Keep(const SimulatedDevice& device, std::string* problem) {
  if (m_device->Holds(device)) return true;
  if (!m_recordFailure.empty()) return false;
  if (m_device->HoldsSettings(device)) {
    if (!m_device->Save(device, problem)) return m_device->Holds(device);
    return true;
  }
  if (beforeChange) beforeChange();
  const std::size_t slash = m_record->Path().find_last_of("\\/");
  if (slash != std::string::npos && slash > 0) CreateDirectoryA(m_record->Path().substr(0, slash).c_str(), nullptr);
  for (int attempt = 0;; ++attempt) {
    if (!m_marked || attempt > 0) {
      if (attempt > 0 && FAILED(m_record->Read())) *m_record = KnownFile(m_record->Path());
      bool replaced = false;
      if (const HRESULT hr = m_record->Replace(kUnknownRecord, &replaced); FAILED(hr)) {
        *problem = m_recordFailure = SaveFailure("the comparison with the device", m_record->Path(), hr, replaced);
        return false;
      }
      if (!m_marked && afterMark) afterMark();
      m_marked = true;
    }
    bool saved = false;
    const HRESULT hr = m_record->WhileUnchanged([&] {
      saved = m_device->Save(device, problem);
      return S_OK;
    });
    if (hr == kChangedMeanwhile && m_changed && attempt < 2) continue;
    if (FAILED(hr)) {
      *problem = m_recordFailure = SaveFailure("the comparison with the device", m_record->Path(), hr, false);
      return false;
    }
    // A file whose new bytes are in place holds the write, though its folder was not written
    // through.
    const bool holds = saved || m_device->Holds(device);
    m_changed = m_changed || holds;
    return holds;
  }
}

namespace {

constexpr char kCheckWord[] = "check ";

std::string Hex8(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return text;
}

bool IsHexText(const std::string& text) {
  return !text.empty() && text.size() % 2 == 0 && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// Whether the text is whole record lines: a verdict line first, then value lines.
bool RecordLines(const std::string& text) {
  if (text.empty() || text.back() != '\n') return false;
  std::istringstream lines(text);
  std::string line;
  bool first = true;
  while (std::getline(lines, line)) {
    if (first) {
      if (line != "verdict none" && line != "verdict uploaded" && line != "verdict equal" && line != "verdict notEqual")
        return false;
      first = false;
      continue;
    }
    if (line.rfind("value ", 0) != 0) return false;
    const std::string rest = line.substr(6);
    const std::size_t space = rest.find(' ');
    if (space == std::string::npos || !IsHexText(rest.substr(0, space))) return false;
    const std::string value = rest.substr(space + 1);
    if (value != "-" && !IsHexText(value)) return false;
  }
  return !first;
}

}  // namespace

std::string CheckedRecord(const std::string& lines) { return lines + kCheckWord + Hex8(Crc32(lines)) + "\n"; }

RecordForm ReadRecordForm(const std::string& text, std::string* lines) {
  lines->clear();
  if (text == kUnknownRecord) {
    *lines = text;
    return RecordForm::Unknown;
  }
  const std::size_t checkLength = sizeof kCheckWord - 1 + 8 + 1;
  const std::size_t at = text.size() >= checkLength ? text.size() - checkLength : std::string::npos;
  if (at != std::string::npos && (at == 0 || text[at - 1] == '\n') && text.compare(at, sizeof kCheckWord - 1, kCheckWord) == 0) {
    const std::string body = text.substr(0, at);
    if (text.back() != '\n' || CheckedRecord(body) != text || !RecordLines(body)) return RecordForm::Damaged;
    *lines = body;
    return RecordForm::Checked;
  }
  // No check line: whole lines an earlier version wrote are read as not compared; anything else
  // (a line cut, a word changed) is damage.
  return RecordLines(text) && text.find(kCheckWord) == std::string::npos ? RecordForm::Unchecked : RecordForm::Damaged;
}

std::string RecordNotTaken(const std::string& path, RecordForm form) {
  if (form == RecordForm::Damaged) return "the record " + path + " is damaged; taken as not compared";
  if (form == RecordForm::Unchecked)
    return "the record " + path + " has no check (one an earlier version wrote, or one cut short); taken as not compared";
  return "";
}

HRESULT SaveDataSet(IUnknown* dtm, KnownFile* project, bool* replaced) {
  *replaced = false;
  ComPtr<IPersistStreamInit> persist;
  if (!dtm || FAILED(dtm->QueryInterface(IPersistStreamInit::iid, persist.PutVoid())) || !persist)
    return E_NOINTERFACE;
  std::string stream;
  const HRESULT hr = StreamBytes(persist.Get(), &stream);
  if (FAILED(hr)) return hr;
  return project->Replace(WrapDataSet(stream), replaced);
}

std::string NoTransmitter(const std::string& deviceFile) {
  return "there is no transmitter: the device file " + deviceFile +
         " is not there (an upload puts one in place); nothing was changed";
}

bool CheckCommandFiles(const CommandFiles& files, bool projectMustExist, bool* usage, std::string* why) {
  *usage = false;
  const std::string record = files.project + ".compared";
  // The options first, then the files the command names after the project.
  std::vector<FileRole> roles{{"--project", files.project}};
  if (!files.device.empty() && files.deviceGiven) roles.push_back({"--device", files.device});
  if (!files.with.empty()) roles.push_back({"--with", files.with});
  if (!files.picture.empty()) roles.push_back({"--png", files.picture, true});
  roles.push_back({"the record of --project", record});
  if (!files.device.empty() && !files.deviceGiven) roles.push_back({"the device file of --project", files.device});
  if (const std::string conflict = RolesOnOneFile(roles); !conflict.empty()) {
    *usage = true;
    *why = conflict;
    return false;
  }
  // Nothing is made for a project that is not there: the drive's folder neither.
  if (projectMustExist && !PlaceOf(files.project).exists && PlaceOf(files.project).missingTarget.empty()) {
    *why = MissingProject(files.project);
    return false;
  }
  std::vector<std::string> paths;
  for (const FileRole& role : roles)
    if (!role.native) paths.push_back(role.path);
  if (std::string outside = LinkOutOfDriveRoot(paths); !outside.empty()) {
    *why = std::move(outside);
    return false;
  }
  // A link to nothing is no file that is not there yet: writing through it, or over it, is not
  // what its maker meant.
  for (const std::string& path : paths)
    if (const FilePlace place = PlaceOf(path); !place.missingTarget.empty()) {
      *why = "the file " + path + " is a link to " + place.missingTarget +
             ", where there is no file (the link's target is missing); nothing was changed";
      return false;
    }
  return true;
}

std::string ProjectProblem(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return MissingProject(path);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return "the project file " + path + " is not a file (a folder of that name is there); nothing was changed";
  return "";
}

void TidyProject(const std::string& project) {
  for (const char* suffix : {"", ".device", ".compared"}) RemoveLeftovers(project + suffix);
}

bool ReadProject(KnownFile* project, std::string* stream, std::string* why, bool mayBeAbsent) {
  stream->clear();
  TidyProject(project->Path());
  const HRESULT hr = project->Read();
  if (project->IsFolder() || (!project->Present() && SUCCEEDED(hr) && !mayBeAbsent)) {
    *why = ProjectProblem(project->Path());
    return false;
  }
  if (FAILED(hr)) {
    *why = OpenFailure(project->Path(), hr, true);
    return false;
  }
  if (!project->Present()) return true;
  const HRESULT unwrapped = UnwrapDataSet(project->Bytes(), stream);
  if (FAILED(unwrapped)) {
    *why = OpenFailure(project->Path(), unwrapped, true);
    return false;
  }
  return true;
}

std::string FileErrorText(const std::string& path, HRESULT hr) {
  std::string text = ResultText(hr);
  if (hr != HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) return text;
  for (std::size_t at = path.find_first_of("\\/", 3); at != std::string::npos; at = path.find_first_of("\\/", at + 1))
    if (!PlaceOf(path.substr(0, at)).exists) return text + " (the folder " + path.substr(0, at) + " is not there)";
  return text;
}

std::string SaveFailure(const std::string& what, const std::string& path, HRESULT hr, bool replaced) {
  if (hr == kChangedMeanwhile)
    return what + " was not saved to " + path +
           ": another command changed that file while this one ran (its work is kept; run this command again)";
  if (hr == kHeldByThisCommand)
    return what + " was not saved to " + path + ": this command holds that file already in another of its roles";
  if (hr == kDeviceChangedMeanwhile)
    return what + " was not saved to " + path +
           ": another command changed the transmitter while this one ran (run this command again)";
  if (replaced)
    return what + " was saved to " + path + ", but its folder could not be written through to the disk: " +
           ResultText(hr);
  return what + " could not be saved to " + path + ": " + FileErrorText(path, hr);
}

}  // namespace vkr::frame
