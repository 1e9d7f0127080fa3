// The engineer's commands of the frame host.
#include "frame/EngineeringHost.h"

#include <cstdio>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <utility>

#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
#include "frame/FrameProject.h"
#include "frame/FrameStorage.h"
#include "frame/HostPaths.h"
#include "frame/HostUsage.h"
#include "frame/HostUtilities.h"
#include "frame/ParameterDocument.h"
#include "frame/ProjectFiles.h"
#include "frame/TransferSession.h"

namespace vkr::frame {
namespace {

constexpr char16_t kDtmProgId[] = u"Vorn.ExampleDtm";
constexpr char kDefaultProject[] = "C:\\VKR\\project.vkr";
// The highest polling address the DTM's short address holds: the line is scanned up to it.
constexpr std::uint8_t kHighestPollingAddress = 15;

struct Options {
  std::string project = kDefaultProject;
  std::string device;
  DWORD wireBitsPerSecond = 0;
  std::string with;  // compare: the partner project
  std::vector<std::string> rest;
};

int Fail(const std::string& what) {
  std::fflush(stdout);  // what was printed before comes before the failure
  std::fprintf(stderr, "vkr-frame: %s\n", what.c_str());
  return 1;
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

// ---- What the project remembers of the device ----------------------------------------------

// The parameters of the data set as the device held them when the frame last knew (after an
// upload, or a comparison that found them equal), kept beside the project file. "show" tells from
// it whether a value differs from the device.
struct DeviceRecord {
  enum class Verdict { None, Uploaded, Equal, NotEqual };
  Verdict verdict = Verdict::None;
  std::map<std::string, std::string> values;  // by parameter name
};

std::string Hex(const std::string& text) { return wire::ToHex(Bytes(text.begin(), text.end())); }

std::string RecordText(DeviceRecord::Verdict verdict, const ParameterDocument* held) {
  static const char* const kVerdicts[] = {"none", "uploaded", "equal", "notEqual"};
  std::string text = std::string("verdict ") + kVerdicts[static_cast<int>(verdict)] + "\n";
  if (held)
    for (const DocumentParameter& p : held->parameters)
      text += "value " + Hex(p.name) + " " + (p.value.empty() ? std::string("-") : Hex(p.value)) + "\n";
  return text == kUnknownRecord ? text : CheckedRecord(text);
}

// What the record says; nothing (not compared) but for a record whose check holds, *form saying
// which it was.
DeviceRecord ParseRecord(const std::string& file, RecordForm* form = nullptr) {
  DeviceRecord r;
  std::string text;
  const RecordForm read = ReadRecordForm(file, &text);
  if (form) *form = read;
  if (read != RecordForm::Checked) return r;
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

// ---- The session of one command ----------------------------------------------------------

class Command {
 public:
  explicit Command(const Options& options)
      : m_options(options), m_project(options.project), m_record(options.project + ".compared"),
        m_deviceFile(options.device) {}
  ~Command() {
    if (m_device) m_device->keepMemory = nullptr;
    m_session.reset();
    CoFreeUnusedLibraries();
    if (m_comInitialized) CoUninitialize();
  }

  // Reads the project's files, loads the device, creates the DTM on the project's data set (or on
  // `dataSet`) and gives it the channel. Only an upload may start without a project file, and
  // only an upload puts a transmitter in place; the commands that do not go online (show, set)
  // need none.
  bool Open(const std::string* dataSet = nullptr, bool projectMayBeAbsent = false, bool deviceMayBeAbsent = false) {
    if (FAILED(CoInitialize(nullptr))) return Failed("the frame's apartment could not be made");
    m_comInitialized = true;
    std::string stream, why;
    if (!ReadProject(&m_project, &stream, &why, projectMayBeAbsent)) return Failed(why);
    m_device = std::make_shared<SimulatedDevice>();
    if (!m_deviceFile.Load(m_device.get(), &why, deviceMayBeAbsent)) return Failed(why);
    // The device file is the transmitter's memory: it takes each write before the transmitter
    // confirms it, whatever becomes of the command afterwards.
    m_device->keepMemory = [this] { return KeepDevice(); };
    // A record that cannot be read is one that says nothing; a save over it says why.
    m_record.Read();
    m_changes.beforeChange = [] { HoldForTesting("change"); };
    m_changes.afterMark = [] { HoldForTesting("marked"); };
    m_session = std::make_unique<TransferSession>();
    const std::string* loaded = dataSet ? dataSet : m_project.Present() ? &stream : nullptr;
    const HRESULT hr = m_session->Open(kDtmProgId, m_device, std::string(), loaded);
    if (FAILED(hr)) return Failed(OpenFailure(m_options.project, hr, m_session->DataSetRefused()));
    m_session->Channel()->wireBitsPerSecond = m_options.wireBitsPerSecond;
    return true;
  }
  bool SaveProject() {
    MakeFolderOf(m_options.project);
    bool replaced = false;
    const HRESULT hr = SaveDataSet(m_session->Dtm(), &m_project, &replaced);
    return SUCCEEDED(hr) || Failed(SaveFailure("the data set", m_options.project, hr, replaced));
  }
  // What the transmitter is about to confirm goes into its device file now; false when the file
  // does not take it (the transmitter then refuses the command). A failure here is told when the
  // command ends.
  bool KeepDevice() {
    if (m_deviceFile.Holds(*m_device)) return true;
    // A read that told this master of a cold start changed nothing but the transmitter's memory of
    // having told it: its answer confirms no write, so it goes out even when that memory cannot be
    // kept (the command says so once it has told what it read).
    const bool onlyTold = m_deviceFile.HoldsAllButToldColdStart(*m_device);
    if (onlyTold && !m_toldFailure.empty()) return true;
    std::string why;
    bool kept = false;
    if (m_forgetRecord) {
      kept = m_changes.Keep(*m_device, &why);
    } else {
      HoldForTesting("change");
      kept = m_deviceFile.Save(*m_device, &why) || m_deviceFile.Holds(*m_device);
    }
    if (!kept && onlyTold) {
      m_toldFailure = why;
      return true;
    }
    if (!why.empty() && m_deviceFailure.empty() && m_changes.RecordFailure().empty()) m_deviceFailure = why;
    return kept;
  }
  // Makes the record unknown before the project is replaced: at no moment does it describe a
  // data set the project no longer holds. A record that says nothing stays as it is.
  bool ForgetRecord() {
    if (!m_record.Present() || m_record.Bytes() == kUnknownRecord) return true;
    return WriteRecord(RecordText(DeviceRecord::Verdict::None, nullptr));
  }
  bool WriteRecord(const std::string& text) {
    MakeFolderOf(m_record.Path());
    bool replaced = false;
    const HRESULT hr = m_record.Replace(text, &replaced);
    return SUCCEEDED(hr) || Failed(SaveFailure("the comparison with the device", m_record.Path(), hr, replaced));
  }
  // What a comparison found (or an upload read) replaces the record only while it holds what this
  // command read or wrote there and the transmitter's settings are still the ones this command
  // knew, checked in the step that renames it: a change another command makes in the transmitter
  // waits for it, or comes first and keeps it out.
  bool WriteVerdict(const std::string& text) {
    HoldForTesting("verdict");
    MakeFolderOf(m_record.Path());
    bool replaced = false;
    std::string unread;  // why the device file could not be read again
    const HRESULT hr = m_record.Replace(text, &replaced, [this, &unread] { return m_deviceFile.SettingsUnchanged(&unread); });
    if (SUCCEEDED(hr)) return true;
    const std::string failure = unread.empty()
                                    ? SaveFailure("the comparison with the device", m_record.Path(), hr, replaced)
                                    : "the comparison with the device was not saved to " + m_record.Path() + ": " + unread;
    // Another command's work: what the device holds is told even by a command that did not change it.
    if (m_deviceHolds.empty() && (hr == kChangedMeanwhile || hr == kDeviceChangedMeanwhile))
      return Failed(failure + "; this command changed nothing in the device");
    return Failed(failure);
  }
  // An upload's data set replaces the project only while the transmitter's settings are the ones
  // it read, checked in one step with the device file's changes (which a download makes while
  // the record holds its mark): the data set of a transmitter another command changed meanwhile
  // is not kept as its project.
  bool SaveUploadedProject() {
    MakeFolderOf(m_options.project);
    bool replaced = false;
    HRESULT hr = S_OK;
    bool ran = false;
    std::string unread;  // why the device file could not be read again
    // The record as it is now is only held for that step (what another command wrote there
    // meanwhile is for the verdict to find); one that changed between its read and its hold is
    // read again.
    for (int attempt = 0; attempt < 3 && !ran; ++attempt) {
      KnownFile record(m_record.Path());
      if (FAILED(hr = record.Read())) break;
      hr = record.WhileUnchanged([&] {
        ran = true;
        const HRESULT unchanged = m_deviceFile.SettingsUnchanged(&unread);
        return unchanged == S_OK ? SaveDataSet(m_session->Dtm(), &m_project, &replaced) : unchanged;
      });
    }
    if (!unread.empty()) return Failed("the data set was not saved to " + m_options.project + ": " + unread);
    return SUCCEEDED(hr) || Failed(SaveFailure("the data set", m_options.project, hr, replaced));
  }
  // Whether the command can write each file it will replace or create, before anything reaches the device:
  // a project that cannot be saved would leave the device changed and the project not knowing it.
  // Each file needs its folder and the room for its new file beside the old one: twice what it
  // would hold now (a data set or record that an upload fills grows), in whole blocks of 4 KiB,
  // the least a file takes on a disk. Only the project's and the record's folders are made.
  bool CheckFilesWritable(bool project, bool record, bool device) {
    // The DTM gives its data set now, as it must after the transfer.
    std::string dataSet;
    ComPtr<IPersistStreamInit> persist = Dtm<IPersistStreamInit>();
    HRESULT hr = persist ? StreamBytes(persist.Get(), &dataSet) : E_NOINTERFACE;
    if (FAILED(hr)) return Failed("nothing was done: the DTM does not give its data set to be saved: " + ResultText(hr));
    ParameterDocument document;
    std::string why;
    GetParameterDocument(m_session->Dtm(), &document, &why);
    const std::pair<const std::string*, std::size_t> files[] = {
        {project ? &m_options.project : nullptr, std::max(m_project.Bytes().size(), WrapDataSet(dataSet).size())},
        {record ? &m_record.Path() : nullptr,
         std::max(m_record.Bytes().size(), RecordText(DeviceRecord::Verdict::Equal, &document).size())},
        {device ? &m_options.device : nullptr, DeviceFileText(m_device->config).size()},
    };
    constexpr std::size_t kBlock = 4096;
    // The room of each stays taken while the next is checked: the files a command creates (a
    // first upload's project, device file and record) need it all at once.
    RoomHeld room;
    for (const auto& [path, size] : files) {
      if (!path) continue;
      MakeFolderOf(*path);
      hr = CheckReplaceable(path->c_str(), (2 * size + kBlock - 1) / kBlock * kBlock, &room);
      if (FAILED(hr)) return Failed("nothing was done: " + *path + " cannot be written: " + FileErrorText(*path, hr));
    }
    return true;
  }
  // Shows the DTM's progress while `work` runs; the work's success.
  template <class Work>
  bool WithProgress(const char* what, Work work) {
    Progress progress(what);
    m_session->onProgress = [&progress](int percent) { progress.Show(percent); };
    const bool done = work();
    m_session->onProgress = nullptr;
    if (done) progress.Done();
    return done;
  }
  bool Transfer(bool upload) {
    const char* what = upload ? "upload" : "download";
    bool success = false;
    HRESULT hr = S_OK;
    // Every write the transmitter takes counts: a download that stops tells what it left behind.
    const std::uint16_t changes = m_device->config.configChangeCounter;
    if (WithProgress(what, [&] {
          hr = upload ? m_session->Upload(&success) : m_session->Download(&success);
          return hr == S_OK && success;
        }))
      return true;
    const std::string absent = m_session->Channel()->NoDeviceAnswered();
    if (hr == S_FALSE)
      return Failed(std::string("the DTM refused the ") + what + (absent.empty() ? "" : ": " + absent));
    if (FAILED(hr)) return Failed(std::string("the ") + what + " did not end: " + ResultText(hr));
    // The DTM's word on what failed (the parameter the device refused) may come after the end it
    // reports: it is told once the DTM let go of the communication, after all it had to say.
    m_tellFailure = [this, upload, what, absent, changes] {
      const std::vector<std::string>& notes = m_session->Frame()->notifications;
      if (!upload && absent.empty())
        if (const std::string told = DownloadFailureText(notes, 0, m_device->config.configChangeCounter != changes);
            !told.empty())
          return Fail(told);
      std::string why = absent;
      for (const std::string& line : notes)
        if (line.rfind("error ", 0) == 0 && !IsWarningNote(line)) why = line.substr(line.find(": ") + 2);
      return Fail(std::string("the ") + what + " failed" + (why.empty() ? "" : ": " + why));
    };
    return false;
  }
  // Scans the line as a frame does for the transmitter, at every polling address the DTM's short
  // address can hold; when it answers elsewhere than the project looks, the project takes that
  // address (the DTM's bus address, through its parameter document).
  bool FindTransmitter() {
    const std::optional<std::uint8_t> found = m_session->Channel()->Scan(kHighestPollingAddress);
    if (!found)
      return Failed("nothing was done: no device answered at any polling address from 0 to " +
                    std::to_string(kHighestPollingAddress));
    ParameterDocument document;
    std::string why;
    HRESULT hr = GetParameterDocument(m_session->Dtm(), &document, &why);
    if (hr == S_OK && document.busAddress == std::to_string(*found)) return true;
    if (hr == S_OK) hr = SetBusAddress(*m_session, *found, &why);
    if (hr != S_OK)
      return Failed("nothing was done: the DTM did not take the polling address " + std::to_string(*found) +
                    " its transmitter answers at: " + (why.empty() ? ResultText(hr) : why));
    m_movedTo = found;
    return true;
  }
  template <class Q>
  ComPtr<Q> Dtm() {
    ComPtr<Q> q;
    m_session->Dtm()->QueryInterface(Q::iid, q.PutVoid());
    return q;
  }
  // Tells a failure in one line, with what the transmitter holds when the command changed it.
  bool Failed(const std::string& what) {
    // The status the transmitter told before comes first: the failure is the last line.
    TellStatus();
    Fail(m_deviceHolds.empty() ? what : what + "; " + m_deviceHolds);
    return false;
  }
  bool Close() {
    const HRESULT hr = m_session->Close();
    return SUCCEEDED(hr) || Failed("the DTM did not end its communication: " + ResultText(hr));
  }
  // Ends a command that went online, `done` saying whether its work succeeded: the DTM goes
  // offline and the device file takes what the transmitter now holds, on every road out, since
  // whatever reached the transmitter stays there. A failure of the work was reported already, but
  // a transfer's, which is told now that the DTM has said all it had to.
  bool Finish(bool done) {
    const HRESULT hr = m_session->Close();
    // What the transmitter's answers told comes before any failure: a failed command loses no
    // status bit.
    if (m_tellStatusAtFinish) TellStatus();
    // What the transmitter refused to confirm because its device file did not take it, and a
    // record that could not be made unknown, come before the transfer's own word. A record that
    // could not be made unknown before the first change is the whole story: nothing reached the
    // transmitter.
    const std::string& recordFailure = m_changes.RecordFailure();
    if (!m_deviceFailure.empty()) Fail(m_deviceFailure);
    if (!recordFailure.empty() && !m_changes.Changed()) {
      Fail(recordFailure + "; nothing was written to the device");
      m_tellFailure = nullptr;
    } else if (!recordFailure.empty()) {
      Fail(recordFailure);
    }
    if (!m_deviceFailure.empty() || !recordFailure.empty()) done = false;
    if (m_tellFailure) std::exchange(m_tellFailure, nullptr)();
    if (done && FAILED(hr)) done = Failed("the DTM did not end its communication: " + ResultText(hr));
    std::string why;
    // A command that succeeded gives a transmitter that had no file yet its file. (A device file
    // that did not take the transmitter's memory is told as it is: what the transmitter holds is
    // then what its file does not.)
    if (!m_deviceFile.Save(*m_device, &why, done)) {
      if (m_toldFailure.empty() || !m_deviceFile.HoldsAllButToldColdStart(*m_device)) {
        Fail(why);
        return false;
      }
    }
    if (!m_toldFailure.empty() && m_tellStatusAtFinish) return TellToldFailure();
    return done;
  }
  // Tells, once, the status bits the transmitter's answers carried in this command, and any value
  // they gave that is not a finite number.
  void TellStatus() {
    if (m_statusTold || !m_device || m_device->received.empty()) return;
    m_statusTold = true;
    if (const std::string told = ToldStatus(); !told.empty()) std::printf("transmitter: %s\n", told.c_str());
    if (const std::string wrong = m_device->NonFiniteAnswered(); !wrong.empty())
      std::printf("transmitter: gave values that are not finite numbers: %s\n", wrong.c_str());
  }
  // The conditions the answers carried; a cold start is told to a master once, and the
  // transmitter then no longer tells it to this one, when its memory keeps that.
  std::string ToldStatus() const {
    // A fixed current told on its own line, with its value, is not told twice.
    const std::uint8_t told =
        m_device->StatusAnswered() & static_cast<std::uint8_t>(m_fixedToldApart ? ~hart::kStatusCurrentFixed : 0xFF);
    std::string text = hart::StatusConditions(told);
    if ((told & hart::kStatusColdStart) && m_toldFailure.empty()) {
      const std::string name = "cold start";
      text.insert(text.find(name) + name.size(), " (told once: cleared for this master)");
    }
    return text;
  }
  // A cold start told to this master that the device file could not keep as told: the next
  // command is told it again.
  bool TellToldFailure() {
    if (m_toldFailure.empty()) return true;
    return Failed("the transmitter's memory of having told this master its cold start could not be kept (" +
                  m_toldFailure + "): the next command is told it again");
  }

  const Options& m_options;
  KnownFile m_project;
  KnownFile m_record;
  DeviceFile m_deviceFile;
  std::shared_ptr<SimulatedDevice> m_device;
  std::unique_ptr<TransferSession> m_session;
  bool m_comInitialized = false;
  bool m_forgetRecord = false;    // each change of the transmitter makes the record unknown first
  DeviceChanges m_changes{&m_deviceFile, &m_record};
  std::string m_deviceFailure;    // why the device file did not take what the transmitter held
  std::string m_toldFailure;      // why the device file did not keep a cold start as told
  bool m_tellStatusAtFinish = true;  // false: the command tells the status itself
  bool m_statusTold = false;
  bool m_fixedToldApart = false;  // the fixed loop current has a line of its own
  std::string m_deviceHolds;      // what the transmitter holds, told with a failure
  std::optional<std::uint8_t> m_movedTo;  // the polling address the project took from a scan
  std::function<int()> m_tellFailure;     // the failure of a transfer, told when it is over
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

// The statusFlag of a diagnosis document, or the communication error.
std::string StatusFlag(const std::string& document, const char* element) {
  const std::size_t at = document.find(element);
  if (at == std::string::npos) return "";
  return Attribute(document.substr(at, document.find('>', at) - at), "statusFlag");
}

bool Compare(Command& c, bool* equal, const char* what) {
  ComPtr<IDtmOnlineDiagnosis> diagnosis = c.Dtm<IDtmOnlineDiagnosis>();
  if (!diagnosis) return c.Failed("the DTM offers no online diagnosis");
  Bstr document;
  HRESULT hr = S_OK;
  c.WithProgress(what, [&] {
    hr = diagnosis->Compare(document.Put());
    return hr == S_OK;
  });
  if (hr != S_OK) return c.Failed("the DTM did not compare: " + ResultText(hr));
  const std::string flag = StatusFlag(Utf16ToUtf8(document.View()), "<CompareResult");
  if (flag.empty()) {
    const std::string absent = c.m_session->Channel()->NoDeviceAnswered();
    return c.Failed("the device could not be compared" + (absent.empty() ? "" : ": " + absent));
  }
  *equal = flag == "equal";
  return true;
}

bool Document(Command& c, ParameterDocument* document) {
  std::string why;
  const HRESULT hr = GetParameterDocument(c.m_session->Dtm(), document, &why);
  if (hr == S_OK) return true;
  return c.Failed(why.empty() ? "the DTM gave no parameter document: " + ResultText(hr) : why);
}

// The comparison's outcome as the project keeps it: an equal data set is what the device holds.
// Taken while the DTM is open, written once the other files are (the record last).
struct Comparison {
  DeviceRecord::Verdict verdict = DeviceRecord::Verdict::NotEqual;
  ParameterDocument held;
};

bool TakeComparison(Command& c, bool equal, Comparison* out) {
  out->verdict = equal ? DeviceRecord::Verdict::Equal : DeviceRecord::Verdict::NotEqual;
  return !equal || Document(c, &out->held);
}

bool WriteComparison(Command& c, const Comparison& comparison) {
  return c.WriteVerdict(RecordText(comparison.verdict,
                                   comparison.verdict == DeviceRecord::Verdict::NotEqual ? nullptr : &comparison.held));
}

// Prints what the DTM told the frame since notification `from` whose text holds `marker`; whether
// it told any.
bool PrintDtmTexts(Command& c, std::size_t from, const char* marker) {
  const std::vector<std::string>& lines = c.m_session->Frame()->notifications;
  bool told = false;
  for (std::size_t i = from; i < lines.size(); ++i)
    if (lines[i].rfind("error ", 0) == 0 && lines[i].find(marker) != std::string::npos) {
      std::printf("%s\n", lines[i].substr(lines[i].find(": ") + 2).c_str());
      told = true;
    }
  return told;
}

// The DTM's messages (what a download left out, what a comparison found different) reach the
// frame on their own road, after the call that caused them.
void AwaitDtmTexts(Command& c) { c.m_session->Frame()->AwaitQuiet(); }

int Show(const Options& o) {
  Command c(o);
  ParameterDocument document;
  if (!c.Open(nullptr, false, true) || !Document(c, &document)) return 1;
  // A record that is not there says nothing; one that is damaged says nothing either, and is named.
  RecordForm form = RecordForm::Unknown;
  const DeviceRecord record = c.m_record.Present() ? ParseRecord(c.m_record.Bytes(), &form) : DeviceRecord();
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
  if (const std::string notTaken = RecordNotTaken(c.m_record.Path(), form); !notTaken.empty())
    std::printf("%s\n", notTaken.c_str());
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
  std::vector<std::pair<std::string, std::string>> values;
  for (const std::string& assignment : o.rest) {
    const std::size_t equals = assignment.find('=');
    values.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
  }
  // The project file changes only when every value is kept: the data set is checked in memory
  // first, by a second DTM that loads it as the next command will.
  ParameterDocument taken;
  std::string dataSet;
  KnownFile project;
  {
    Command c(o);
    if (!c.Open(nullptr, false, true)) return 1;
    project = c.m_project;
    std::string why;
    const HRESULT hr = SetDocumentParameters(*c.m_session, values, &why);
    if (FAILED(hr)) return Fail("the values could not be set: " + ResultText(hr) + "; the project was not changed");
    if (hr != S_OK) return Fail(why);
    if (!Document(c, &taken)) return 1;
    ComPtr<IPersistStreamInit> persist = c.Dtm<IPersistStreamInit>();
    const HRESULT saved = persist ? StreamBytes(persist.Get(), &dataSet) : E_NOINTERFACE;
    if (FAILED(saved)) return Fail("the DTM did not give its data set: " + ResultText(saved) + "; the project was not changed");
    if (!c.Close()) return 1;
  }
  Command again(o);
  ParameterDocument kept;
  if (!again.Open(&dataSet, false, true) || !Document(again, &kept) || !again.Close()) return 1;
  for (const auto& [name, value] : values) {
    const DocumentParameter* now = taken.Find(name);
    const DocumentParameter* later = kept.Find(name);
    if (now && (!later || later->value != now->value))
      return Fail("the DTM took " + name + "=" + value + " but its data set does not keep it: the project still holds " +
                  (later ? "\"" + later->value + "\"" : "no " + name) + " and was not changed");
  }
  bool replaced = false;
  const HRESULT hr = project.Replace(WrapDataSet(dataSet), &replaced);
  if (FAILED(hr)) return Fail(SaveFailure("the data set", o.project, hr, replaced));
  std::printf("set; data set saved to %s\n", o.project.c_str());
  return 0;
}

int CompareCommand(const Options& o) {
  if (!o.with.empty()) return ComparePartner(o.project, o.with);
  Command c(o);
  bool equal = false;
  Comparison comparison;
  if (!c.Open() || !c.CheckFilesWritable(false, true, false)) return 1;
  const bool compared = Compare(c, &equal, "compare");
  if (compared) AwaitDtmTexts(c);
  if (!c.Finish(compared && TakeComparison(c, equal, &comparison)) || !WriteComparison(c, comparison)) return 1;
  std::printf("%s\n", equal ? "the data set equals the device" : "the data set differs from the device");
  if (!equal) PrintDtmTexts(c, 0, "differs from the device");
  return 0;
}

int Status(const Options& o) {
  Command c(o);
  if (!c.Open()) return 1;
  c.m_tellStatusAtFinish = false;
  ComPtr<IDtmOnlineDiagnosis> diagnosis = c.Dtm<IDtmOnlineDiagnosis>();
  if (!diagnosis) return Fail("the DTM offers no online diagnosis");
  Bstr document;
  HRESULT hr = S_OK;
  c.WithProgress("status", [&] {
    hr = diagnosis->GetDeviceStatus(document.Put());
    return hr == S_OK;
  });
  const std::string flag = hr == S_OK ? Attribute(Utf16ToUtf8(document.View()), "fdt:statusFlag") : std::string();
  const bool read = hr != S_OK ? c.Failed("the DTM gave no device status: " + ResultText(hr))
                               : !flag.empty() || c.Failed("the device status could not be read");
  // The status comes first, then what did not go well: a status that was read is shown, though
  // the transmitter's memory of having told it could not be kept.
  const bool finished = c.Finish(read);
  if (!read) {
    c.TellStatus();
    c.TellToldFailure();
    return 1;
  }
  const std::string absent = c.m_session->Channel()->NoDeviceAnswered();
  std::printf("device status: %s%s\n", flag.c_str(), absent.empty() ? "" : (" (" + absent + ")").c_str());
  // A status nobody answered for is no status of the transmitter.
  if (!absent.empty()) return Fail("the device status could not be read: " + absent);
  // What a frame cannot see in the status: a loop current the transmitter holds fixed.
  if (const float fixed = c.m_device->config.fixedCurrent; fixed != 0.0f) {
    c.m_fixedToldApart = true;
    if (std::isfinite(fixed))
      std::printf("transmitter: loop current fixed at %.3f mA\n", static_cast<double>(fixed));
    else
      std::printf("transmitter: loop current fixed at a current that is not a finite number\n");
  }
  // The conditions behind the DTM's word, as the transmitter's answers carried them.
  c.TellStatus();
  if (!c.TellToldFailure() || !finished) return 1;
  // Values that are not numbers are no status of the transmitter either.
  if (!c.m_device->NonFiniteAnswered().empty()) return Fail("the transmitter gave values that are not finite numbers (named above)");
  return 0;
}

// The device file takes each write as the transmitter confirms it; the record of what the project
// knows of the device is made unknown just before the first one, so that at no moment does it
// describe a device the device file does not hold; the project and the record follow when the
// download and its read back are done. A download that does not reach the transmitter changes no
// file. The whole project is checked before the device is (its parameter document, as show reads
// it): a data set the DTM cannot describe is not written into the transmitter.
int Download(const Options& o) {
  Command c(o);
  ParameterDocument whole;
  if (!c.Open() || !Document(c, &whole) || !c.CheckFilesWritable(true, true, true)) return 1;
  c.m_forgetRecord = true;
  const std::size_t transferred = c.m_session->Frame()->notifications.size();
  if (!c.Transfer(false)) {
    c.Finish(false);
    return 1;
  }
  // Whatever fails from here leaves the transmitter holding the data set.
  c.m_deviceHolds = "the device holds the downloaded data set";
  // Read back: the DTM reads every parameter of its data set it can compare from the device again.
  bool equal = false;
  Comparison comparison;
  const bool compared = Compare(c, &equal, "read back");
  if (compared) AwaitDtmTexts(c);
  if (!c.Finish(compared && TakeComparison(c, equal, &comparison) && c.SaveProject()) ||
      !WriteComparison(c, comparison))
    return 1;
  // What the data set holds no value for was not sent; the DTM names it. A value the device took
  // with a warning was written; the DTM names it and the warning.
  PrintDtmTexts(c, transferred, "left out");
  const bool warned = PrintDtmTexts(c, transferred, " was written; the device warns: ");
  const char* written = warned ? "downloaded, the device warns as above" : "downloaded";
  if (equal) {
    std::printf("%s; read back: the device holds the data set\n", written);
    return 0;
  }
  std::printf("%s; read back: the device differs from the data set\n", written);
  PrintDtmTexts(c, transferred, "differs from the device");
  return 1;
}

// An upload leaves the device as it was: the record, which describes the device, stays true until
// it is replaced last. A frame that does not know where its device is scans the line for it: the
// project takes the polling address the transmitter answers at.
int Upload(const Options& o) {
  Command c(o);
  ParameterDocument held;
  if (!c.Open(nullptr, true, true) || !c.CheckFilesWritable(true, true, true) || !c.FindTransmitter()) return 1;
  const std::size_t transferred = c.m_session->Frame()->notifications.size();
  const bool uploaded = c.Transfer(true);
  if (uploaded) AwaitDtmTexts(c);
  // Whatever keeps the data set or the record out from here, the transmitter is as it was.
  if (uploaded) c.m_deviceHolds = "the upload changed nothing in the device";
  HoldForTesting("uploaded");
  if (!c.Finish(uploaded && Document(c, &held) && c.ForgetRecord() && (HoldForTesting("interim"), true) &&
                c.SaveUploadedProject()))
    return 1;
  c.m_deviceHolds = "the data set was saved to " + o.project + "; the upload changed nothing in the device";
  if (!c.WriteVerdict(RecordText(DeviceRecord::Verdict::Uploaded, &held))) return 1;
  if (c.m_movedTo) std::printf("found the transmitter at polling address %u\n", unsigned{*c.m_movedTo});
  // A device value the data set cannot hold (a float that is not a number) is not passed off as
  // uploaded: the DTM names it, and the data set keeps what it held there.
  if (PrintDtmTexts(c, transferred, "Upload left out "))
    return Fail("uploaded but for the values named above, which the data set does not hold; data set saved to " +
                o.project);
  std::printf("uploaded; data set saved to %s\n", o.project.c_str());
  return 0;
}

}  // namespace

// Tests: VKR_FRAME_TEST_HOLD=POINT[#N] with VKR_FRAME_TEST_HOLD_IN=FOLDER stops the command the
// Nth time (the first without #N) it comes to POINT: it writes a line into FOLDER/POINT.reached,
// then reads FOLDER/POINT.go to its end before it goes on. Made fifos, they hold the command at
// that moment until the test lets it go. The points: "uploaded" (an upload's transfer done, no
// file written yet), "interim" (an upload's record made unknown,
// its project not yet saved), "verdict" (a comparison's outcome about to replace the record),
// "change" (a change of the transmitter about to go into its device file; for a download, before
// the record is made unknown for it).
void HoldForTesting(const char* point) {
  const char* hold = std::getenv("VKR_FRAME_TEST_HOLD");
  const char* in = std::getenv("VKR_FRAME_TEST_HOLD_IN");
  if (!hold || !in) return;
  static std::map<std::string, int> reached;
  const std::string spec = hold;
  const std::size_t hash = spec.find('#');
  const int nth = hash == std::string::npos ? 1 : std::atoi(spec.c_str() + hash + 1);
  if (spec.substr(0, hash) != point || ++reached[point] != nth) return;
  const std::string at = std::string(in) + "/" + point;
  std::ofstream(at + ".reached") << point << "\n";
  std::ifstream go(at + ".go");
  for (std::string line; std::getline(go, line);) {
  }
}

bool IsEngineeringCommand(const std::string& command) {
  return command == "upload" || command == "download" || command == "show" || command == "set" ||
         command == "compare" || command == "status";
}

int RunEngineeringCommand(const std::string& command, const std::vector<std::string>& arguments) {
  Options o;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    const bool takesValue = a == "--project" || a == "--device" || a == "--wire-delay" || a == "--with";
    if (takesValue && ValueMissing(arguments, i))
      return UsageError(command + ": " + a + " needs a value");
    if (a == "--project") {
      o.project = arguments[++i];
    } else if (a == "--device") {
      o.device = arguments[++i];
    } else if (a == "--wire-delay") {
      const std::string& v = arguments[++i];
      if (v == "0") o.wireBitsPerSecond = 0;
      else if (v == "hart") o.wireBitsPerSecond = kHartBitsPerSecond;
      else return UsageError(command + ": --wire-delay takes 0 or hart, not " + v);
    } else if (a == "--with" && command == "compare") {
      o.with = arguments[++i];
    } else if (a.rfind("-", 0) == 0 && a.size() > 1) {
      return UsageError(command + ": unknown option " + a);
    } else if (command == "set") {
      o.rest.push_back(a);
    } else {
      return UsageError(command + " takes no argument " + a + " (a project is given with --project FILE)");
    }
  }
  const std::pair<const char*, std::string*> files[] = {{"--project", &o.project}, {"--device", &o.device}, {"--with", &o.with}};
  for (const auto& [option, path] : files)
    if (const std::string why = path->empty() ? "" : FullWindowsPath(*path, path); !why.empty())
      return UsageError(command + ": " + PathOptionRefused(option, *path, why));
  const bool deviceGiven = !o.device.empty();
  if (o.device.empty()) o.device = o.project + ".device";
  if (command == "set" && o.rest.empty()) return UsageError("set needs NAME=VALUE");
  for (const std::string& assignment : o.rest)
    if (assignment.find('=') == std::string::npos || assignment.front() == '=')
      return UsageError("set takes NAME=VALUE, not " + assignment);
  // Only an upload starts a project: any other command on a file that is not there would work on
  // a data set of defaults (and a download would write them into the device).
  bool usage = false;
  std::string why;
  if (!CheckCommandFiles({o.project, o.device, deviceGiven, o.with, ""}, command != "upload", &usage, &why))
    return usage ? UsageError(command + ": " + why) : Fail(why);
  if (command != "upload")
    if (const std::string problem = ProjectProblem(o.project); !problem.empty()) return Fail(problem);
  if (command == "upload") return Upload(o);
  if (command == "download") return Download(o);
  if (command == "show") return Show(o);
  if (command == "set") return Set(o);
  if (command == "compare") return CompareCommand(o);
  if (command == "status") return Status(o);
  return UsageError("unknown command " + command);
}

}  // namespace vkr::frame
